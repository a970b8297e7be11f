#include "textio/run_end.hpp"

#include <cstdio>
#include <string>

#include "textio/status_line.hpp"

namespace textio {
namespace {

void write_console(std::string_view text) { console_write(stderr, text); }

}  // namespace

void stop(std::string_view message, int status) {
  if (!message.empty()) write_console("STOP " + std::string(message) + " statement executed\n");
  throw RunEnd(status, true);
}

void fail(std::string_view text, int status) {
  write_console(text);
  throw RunEnd(status, true);
}

}  // namespace textio

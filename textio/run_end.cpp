#include "textio/run_end.hpp"

#include <cstdio>
#include <string>

#include "textio/channels.hpp"

namespace textio {
namespace {

void write_console(std::string_view text) {
  std::fflush(stdout);
  std::fwrite(text.data(), 1, text.size(), stderr);
}

}  // namespace

void stop(std::string_view message, int status) {
  if (!message.empty()) write_console("STOP " + std::string(message) + " statement executed\n");
  throw RunEnd(status, true);
}

void fail(std::string_view text, int status) {
  write_console(text);
  throw RunEnd(status, true);
}

void pause(Channels& channels) {
  write_console(
      "PAUSE  statement executed\n"
      "To resume execution, type go.  Other input will terminate the job.\n");
  const std::optional<std::string> answer =
      channels.pause_answer ? channels.pause_answer() : std::nullopt;
  if (!answer) fail("s_paus: can't open con!\n", exit_error_stop);
  if (*answer != "go") fail("STOP\n", exit_error_stop);
  write_console("Execution resumes after PAUSE.\n");
}

}  // namespace textio

#include "textio/status_line.hpp"

#include <unistd.h>

namespace textio {

StatusLine& StatusLine::console() {
  static StatusLine line;
  return line;
}

void StatusLine::enable_on_terminal() { enabled_ = ::isatty(STDERR_FILENO) == 1; }

void StatusLine::show(std::string_view text) {
  if (!enabled_) return;
  text_.assign(text);
  hide();
  redraw();
}

void StatusLine::hide() {
  if (!drawn_) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  drawn_ = false;
}

void StatusLine::redraw() {
  if (!enabled_ || drawn_ || text_.empty()) return;
  std::fputs(text_.c_str(), stderr);
  std::fflush(stderr);
  drawn_ = true;
}

void console_write(std::FILE* stream, std::string_view text, bool redraw) {
  StatusLine& status = StatusLine::console();
  status.hide();
  std::fflush(stdout);
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
  if (redraw) status.redraw();
}

}  // namespace textio

#pragma once
// One updating status line on standard error, kept only while standard error
// is a terminal. Every other text written to the console goes through
// console_write, which erases the line first and draws it again afterwards, so
// the status line never mixes with the program's own output.
#include <cstdio>
#include <string>
#include <string_view>

namespace textio {

class StatusLine {
 public:
  // The status line of this process's console.
  static StatusLine& console();
  // Turns the line on when standard error is a terminal; off otherwise.
  void enable_on_terminal();
  bool enabled() const { return enabled_; }
  // Replaces the text of the line and draws it.
  void show(std::string_view text);
  // Erases the line from the terminal (it is drawn again by redraw or show).
  void hide();
  void redraw();

 private:
  bool enabled_ = false;
  bool drawn_ = false;
  std::string text_;
};

// Writes text on a console stream (stdout or stderr) with the status line out
// of the way; `redraw` false leaves it erased (a pause waiting for an answer).
void console_write(std::FILE* stream, std::string_view text, bool redraw = true);

}  // namespace textio

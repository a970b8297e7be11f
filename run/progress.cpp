#include "run/progress.hpp"

#include <cstdio>

#include "textio/status_line.hpp"

namespace bravik {

Progress::Progress() : start_(Clock::now()), last_draw_(start_) {
  textio::StatusLine::console().enable_on_terminal();
}

void Progress::marker(int imark, int nmark) {
  imark_ = imark;
  nmark_ = nmark;
}

void Progress::pass(int ihyp) {
  ihyp_ = ihyp;
  draw();
}

void Progress::evaluated() {
  ++evaluations_;
  if (Clock::now() - last_draw_ >= std::chrono::milliseconds(200)) draw();
}

void Progress::draw() {
  if (!textio::StatusLine::console().enabled()) return;
  last_draw_ = Clock::now();
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(last_draw_ - start_).count();
  char text[160];
  std::snprintf(text, sizeof text, "marker %d of %d, %s pass, evaluations so far: %ld, elapsed %lld:%02lld:%02lld", imark_,
                nmark_, ihyp_ == 1 ? "null" : "alternative", evaluations_, static_cast<long long>(seconds / 3600),
                static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
  textio::StatusLine::console().show(text);
}

}  // namespace bravik

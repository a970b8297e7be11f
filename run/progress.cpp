#include "run/progress.hpp"

#include <cstdio>
#include <cstdlib>

#include "textio/status_line.hpp"

namespace bravik {

Progress::Progress() : start_(Clock::now()), last_draw_(start_) {
  textio::StatusLine::console().enable_on_terminal();
  if (const char* file = std::getenv("BRAVIK_PROGRESS_FILE")) record_file_ = file;
}

// Written whole and renamed into place, so that a reader never sees a part;
// a record that cannot be written is skipped, the run goes on.
void Progress::record() const {
  if (record_file_.empty()) return;
  const std::string temporary = record_file_ + ".new";
  std::FILE* out = std::fopen(temporary.c_str(), "w");
  if (out == nullptr) return;
  const bool written = std::fprintf(out, "done %d of %d\n", imark_ - 1, nmark_) > 0;
  if (std::fclose(out) == 0 && written) std::rename(temporary.c_str(), record_file_.c_str());
}

void Progress::marker(int imark, int nmark) {
  imark_ = imark;
  nmark_ = nmark;
  record();
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

#pragma once
// Shared by the pedigree input tests: a scratch working directory (the input
// file names are fixed), small file helpers, and a way to watch a run end.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "textio/run_end.hpp"

namespace pedigree_test {

namespace fs = std::filesystem;

// Makes a fresh temporary directory the working directory for its lifetime.
class ScratchDir {
 public:
  ScratchDir() : previous_(fs::current_path()) {
    std::string pattern = (fs::temp_directory_path() / "bravik_pedigree_XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create a scratch directory");
    dir_ = pattern;
    fs::current_path(dir_);
  }
  ~ScratchDir() {
    fs::current_path(previous_);
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

 private:
  fs::path previous_;
  fs::path dir_;
};

inline void write_file(const std::string& name, const std::string& text) {
  std::ofstream(name, std::ios::binary) << text;
}

inline std::string read_file(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline fs::path golden_dir(const std::string& run) {
  return fs::path(BRAVIK_SOURCE_DIR) / "tests" / "golden" / run;
}

struct Ended {
  int status = -1;
  bool close_channels = false;
  std::string stderr_text;
};

// Runs an action that must end the run through RunEnd; returns how it ended and
// what it wrote on standard error.
template <class Action>
Ended expect_run_end(Action&& action) {
  testing::internal::CaptureStderr();
  try {
    action();
  } catch (const textio::RunEnd& end) {
    return {end.status, end.close_channels, testing::internal::GetCapturedStderr()};
  }
  Ended none;
  none.stderr_text = testing::internal::GetCapturedStderr();
  ADD_FAILURE() << "the run did not end; standard error: " << none.stderr_text;
  return none;
}

}  // namespace pedigree_test

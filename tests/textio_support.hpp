#pragma once
// Test support for the text-record layer: a scratch working directory and
// the capture of a run's end (its status and its console text).
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "textio/run_end.hpp"

namespace textio_test {

// Runs each test in a fresh empty working directory, so files opened by bare
// name (and fort.N) land there.
class ScratchDir : public testing::Test {
 protected:
  void SetUp() override {
    previous_ = std::filesystem::current_path();
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    dir_ = std::filesystem::temp_directory_path() /
           ("bravik_textio_" + std::to_string(::getpid()) + "_" + info->test_suite_name() + "_" +
            info->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    std::filesystem::current_path(dir_);
  }
  void TearDown() override {
    std::filesystem::current_path(previous_);
    std::filesystem::remove_all(dir_);
  }

  static void write_file(const std::string& name, const std::string& text) {
    std::ofstream(name, std::ios::binary) << text;
  }
  static std::string read_file(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

 private:
  std::filesystem::path previous_;
  std::filesystem::path dir_;
};

struct Ended {
  bool ended = false;
  int status = -1;
  bool close_channels = false;
  std::string console;  // what was written on standard error
};

// Runs `action`, which is expected to end the run, and returns how it ended.
template <class Action>
Ended run_end_of(Action action) {
  Ended result;
  testing::internal::CaptureStderr();
  try {
    action();
  } catch (const textio::RunEnd& end) {
    result.ended = true;
    result.status = end.status;
    result.close_channels = end.close_channels;
  }
  result.console = testing::internal::GetCapturedStderr();
  return result;
}

}  // namespace textio_test

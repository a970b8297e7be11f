#pragma once
// Runs one of the programs on a copy of an input folder, detached from any
// terminal, and collects what it wrote.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "test_support.hpp"

namespace bravik::testing {

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

// A folder name of the running test (and `name`), so that tests running side
// by side, parameterized ones included, never share a working folder.
inline std::string test_folder_name(const std::string& name) {
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  if (test == nullptr) return name;
  std::string folder = std::string(test->test_suite_name()) + "." + test->name() + "." + name;
  for (char& c : folder) c = c == '/' ? '_' : c;
  return folder;
}

// A fresh working folder under the build tree, removed when the object goes.
class WorkFolder {
 public:
  // Named after the running test too: ctest runs tests side by side, and two
  // tests asking for the same name must not share (and remove) one folder.
  explicit WorkFolder(const std::string& name)
      : path_(std::filesystem::path(BRAVIK_BINARY_DIR) / "test-work" / test_folder_name(name)) {
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~WorkFolder() { std::filesystem::remove_all(path_); }
  WorkFolder(const WorkFolder&) = delete;
  WorkFolder& operator=(const WorkFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }
  // Copies the regular files of a folder (not its subfolders) into this one.
  void copy_inputs(const std::filesystem::path& from) const {
    for (const auto& entry : std::filesystem::directory_iterator(from)) {
      if (entry.is_regular_file()) std::filesystem::copy_file(entry.path(), path_ / entry.path().filename());
    }
  }

 private:
  std::filesystem::path path_;
};

// A working folder named after the running test, so that tests run in
// parallel by ctest never share one.
class TestFolder : public WorkFolder {
 public:
  explicit TestFolder(const std::string& prefix)
      : WorkFolder(prefix + "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name()) {}
};

inline int count_lines(const std::string& text) {
  return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

// Where line `index` (from 0) of a text starts.
inline std::size_t line_start(const std::string& text, int index) {
  std::size_t start = 0;
  for (int i = 0; i < index; ++i) start = text.find('\n', start) + 1;
  return start;
}

inline std::string line_of(const std::string& text, int index) {
  const std::size_t start = line_start(text, index);
  return text.substr(start, text.find('\n', start) - start);
}

// Replaces line `index` (from 0) of a file.
inline void replace_line(const std::filesystem::path& path, int index, const std::string& line) {
  std::string text = read_file(path);
  const std::size_t start = line_start(text, index);
  text.replace(start, text.find('\n', start) - start, line);
  write_file(path, text);
}

// Runs a program of the build tree in the folder with no standard input, in a
// session of its own so that a pause can never wait for a person.
inline RunResult run_program(const std::string& program, const std::filesystem::path& folder,
                             const std::string& environment = "", const std::string& arguments = "") {
  const std::filesystem::path exe = std::filesystem::path(BRAVIK_BINARY_DIR) / program;
  const std::string command = "cd '" + folder.string() + "' && " + environment + " setsid '" + exe.string() +
                              "' " + arguments + " < /dev/null > run.stdout 2> run.stderr";
  RunResult result;
  const int raw = std::system(command.c_str());
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  result.out = read_file(folder / "run.stdout");
  result.err = read_file(folder / "run.stderr");
  return result;
}

}  // namespace bravik::testing

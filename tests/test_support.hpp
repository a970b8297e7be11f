#pragma once
// Shared by the tests: the golden run folders, a scratch working directory,
// whole-file reads and writes, and the capture of how an action ended the run.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "textio/run_end.hpp"

namespace bravik::testing {

// The checked-in run folders with their expected outputs.
inline std::filesystem::path golden_dir() {
  return std::filesystem::path(BRAVIK_SOURCE_DIR) / "tests" / "golden";
}

// Makes a fresh temporary directory the working directory for its lifetime,
// so that files opened by bare name (and fort.N) land there. As a fixture
// member it must be declared before the members that hold files open.
class ScratchDir {
 public:
  ScratchDir() : previous_(std::filesystem::current_path()) {
    std::string pattern = (std::filesystem::temp_directory_path() / "bravik_test_XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create a scratch directory");
    path_ = pattern;
    std::filesystem::current_path(path_);
  }
  ~ScratchDir() {
    std::filesystem::current_path(previous_);
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path previous_;
  std::filesystem::path path_;
};

// The whole content of a file, empty when it does not exist.
inline std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The rows of a tab-separated table with a header line, each field by its column's name.
inline std::vector<std::map<std::string, std::string>> read_table_rows(const std::filesystem::path& path) {
  std::istringstream in(read_file(path));
  std::string line;
  std::getline(in, line);
  std::vector<std::string> names;
  std::istringstream header(line);
  for (std::string name; std::getline(header, name, '\t');) names.push_back(name);
  std::vector<std::map<std::string, std::string>> rows;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::map<std::string, std::string> row;
    std::string field;
    for (std::size_t i = 0; std::getline(fields, field, '\t'); ++i) row[i < names.size() ? names[i] : "?"] = field;
    EXPECT_EQ(row.size(), names.size()) << path.string() << ": " << line;
    rows.push_back(std::move(row));
  }
  return rows;
}

inline void write_file(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// How an action ended the run, and what it wrote on standard error meanwhile.
struct Ended {
  bool ended = false;
  int status = -1;
  bool close_channels = false;
  std::string console;
};

// Runs `action`, which may end the run through textio::RunEnd.
template <class Action>
Ended run_end_of(Action&& action) {
  Ended result;
  ::testing::internal::CaptureStderr();
  try {
    action();
  } catch (const textio::RunEnd& end) {
    result.ended = true;
    result.status = end.status;
    result.close_channels = end.close_channels;
  }
  result.console = ::testing::internal::GetCapturedStderr();
  return result;
}

// The same for an action that must end the run: a run that goes on fails the test.
template <class Action>
Ended expect_run_end(Action&& action) {
  Ended result = run_end_of(action);
  if (!result.ended) ADD_FAILURE() << "the run did not end; standard error: " << result.console;
  return result;
}

}  // namespace bravik::testing

#pragma once
// Running bravik_scan and the other built programs from the tests through a
// shell, and taking their text apart.
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "program_runner.hpp"
#include "test_support.hpp"

namespace bravik::testing {

inline std::string quoted(const std::filesystem::path& path) { return "'" + path.string() + "'"; }
inline std::filesystem::path build_program(const std::string& name) { return std::filesystem::path(BRAVIK_BINARY_DIR) / name; }

// Runs a shell command line in a folder and collects its output.
inline RunResult run_in(const std::filesystem::path& folder, const std::string& command) {
  const std::string line = "cd " + quoted(folder) + " && " + command + " < /dev/null > cmd.stdout 2> cmd.stderr";
  const int raw = std::system(line.c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, read_file(folder / "cmd.stdout"), read_file(folder / "cmd.stderr")};
}

inline RunResult scan_command(const std::filesystem::path& folder, const std::string& args) {
  return run_in(folder, quoted(build_program("bravik_scan")) + " " + args);
}

inline std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

inline std::vector<std::string> words_of(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

inline std::vector<std::string> fields_of(const std::string& line) {
  std::vector<std::string> fields;
  std::istringstream in(line);
  for (std::string f; std::getline(in, f, '\t');) fields.push_back(f);
  return fields;
}

}  // namespace bravik::testing

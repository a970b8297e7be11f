#pragma once
// Runs a command line through the shell and collects its standard output.
#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace bravik::testing {

struct Shell {
  int status = -1;
  std::string out;
};

inline Shell shell(const std::string& command) {
  Shell result;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  std::size_t got = 0;
  while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, got);
  const int raw = pclose(pipe);
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return result;
}

inline std::string first_line(const std::string& text) { return text.substr(0, text.find('\n')); }

}  // namespace bravik::testing

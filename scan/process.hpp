#pragma once
// Child processes of the scan: a program started in a folder with its output
// in files, and the way it ended.
#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace bravik::scan {

struct Command {
  std::filesystem::path program;
  std::vector<std::string> arguments;
  std::filesystem::path folder;  // working folder
  std::filesystem::path out;     // standard output, truncated
  std::filesystem::path err;     // standard error, truncated
};

// Starts the command with no standard input. The child is killed when the
// process that started it dies, so that nothing keeps running unseen after an
// interrupted scan. Throws InputError when the fork fails; a program that
// cannot be started ends with status 127 and says why on its standard error.
pid_t start(const Command& command);

struct ProcessEnd {
  bool exited = false;  // false: ended by a signal
  int value = 0;        // exit status or signal number
  double cpu_seconds = 0;  // user and system time of the process and its waited-for children
  bool succeeded() const { return exited && value == 0; }
  std::string text() const { return (exited ? "exit " : "signal ") + std::to_string(value); }
};
ProcessEnd end_of(int wait_status);
ProcessEnd wait_for(pid_t pid);  // with the processor time it used

// The folder of the running executable, where the other programs sit.
std::filesystem::path own_folder();

}  // namespace bravik::scan

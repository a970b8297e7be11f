#pragma once
// Child processes of the scan: a program started in a folder with its output
// in files, and the way it ended.
#include <sys/types.h>

#include <array>
#include <csignal>
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

// This machine's host name.
std::string host_name();
// True when `pid` names no process of this host any more. A process of
// another host is never known to be gone.
bool process_gone(const std::string& host, long pid);

// SIGINT and SIGTERM (Ctrl-C, a scheduler's time limit, a stopped driver),
// caught while the object lives: the first is recorded, and passed on to the
// process set by forward_to, so that the catcher can clean up and then end
// as the signal would have ended it (end_as_stopped).
class StopSignals {
 public:
  StopSignals();
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  static int received();            // the signal caught; 0 when none
  static void forward_to(pid_t pid);  // 0: to nobody
  [[noreturn]] static void end_as_stopped();

 private:
  std::array<struct sigaction, 2> saved_{};  // the handlers of SIGINT and SIGTERM before
};

}  // namespace bravik::scan

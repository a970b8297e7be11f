#include "scan/process.hpp"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "pedfile/input_error.hpp"

namespace bravik::scan {
namespace {

// In the child, between fork and exec: only async-signal-safe calls.
[[noreturn]] void become(const Command& command, const std::vector<char*>& argv, pid_t parent) {
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(127);  // the parent died before the line above
  const int in = open("/dev/null", O_RDONLY);
  const int out = open(command.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int err = open(command.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(127);
  if (chdir(command.folder.c_str()) != 0) _exit(127);
  execv(argv[0], argv.data());
  const char* reason = std::strerror(errno);
  const char* what = "cannot start ";
  (void)!write(2, what, std::strlen(what));
  (void)!write(2, argv[0], std::strlen(argv[0]));
  (void)!write(2, ": ", 2);
  (void)!write(2, reason, std::strlen(reason));
  (void)!write(2, "\n", 1);
  _exit(127);
}

}  // namespace

pid_t start(const Command& command) {
  const std::string program = command.program.string();
  std::vector<std::string> texts{program};
  texts.insert(texts.end(), command.arguments.begin(), command.arguments.end());
  std::vector<char*> argv;
  for (std::string& t : texts) argv.push_back(t.data());
  argv.push_back(nullptr);
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid < 0) throw tools::InputError("cannot start " + program + ": " + std::strerror(errno));
  if (pid == 0) become(command, argv, parent);
  return pid;
}

ProcessEnd end_of(int wait_status) {
  if (WIFEXITED(wait_status)) return {true, WEXITSTATUS(wait_status)};
  return {false, WIFSIGNALED(wait_status) ? WTERMSIG(wait_status) : 0};
}

ProcessEnd wait_for(pid_t pid) {
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0)
    if (errno != EINTR) throw tools::InputError(std::string("waiting for a program failed: ") + std::strerror(errno));
  ProcessEnd end = end_of(status);
  const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + 1e-6 * static_cast<double>(t.tv_usec); };
  end.cpu_seconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
  return end;
}

std::filesystem::path own_folder() {
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) throw tools::InputError("cannot find the folder of this program: " + ec.message());
  return self.parent_path();
}

}  // namespace bravik::scan

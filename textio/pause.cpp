#include "textio/pause.hpp"

#include <cstdio>
#include <optional>
#include <string>

#include "textio/run_end.hpp"
#include "textio/status_line.hpp"

namespace textio {

void pause(Channels& channels) {
  console_write(stderr,
                "PAUSE  statement executed\n"
                "To resume execution, type go.  Other input will terminate the job.\n",
                false);
  const std::optional<std::string> answer = channels.pause_answer ? channels.pause_answer() : std::nullopt;
  if (!answer) fail("s_paus: can't open con!\n", exit_error_stop);
  if (*answer != "go") fail("STOP\n", exit_error_stop);
  console_write(stderr, "Execution resumes after PAUSE.\n");
}

}  // namespace textio

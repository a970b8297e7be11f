#pragma once
// Pause, which asks the operator on the console whether the run goes on.
#include "textio/channels.hpp"

namespace textio {

// Pause(): writes the pause prompt on standard error and reads the operator's
// answer through the channels' pause answer; "go" resumes, anything else writes
// "STOP" and ends the run with exit_error_stop.
void pause(Channels& channels);

}  // namespace textio

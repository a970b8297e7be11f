#pragma once
// How a run ends other than normally: Stop, Pause (textio/pause.hpp), abnormal end. Each writes its
// console text first and then throws RunEnd, which every main catches once; the
// main closes the channels (when asked) and returns the status.
#include <exception>
#include <string>
#include <string_view>
#include <utility>

namespace textio {

// Exit statuses of the programs.
inline constexpr int exit_normal = 0;
inline constexpr int exit_error_stop = 1;        // capacity stops, kernel fatal stops, pause not resumed
inline constexpr int exit_input_error = 2;       // failed read or open, invalid input data
inline constexpr int exit_rejected_start = 3;    // the starting point of a pass was rejected

struct RunEnd : std::exception {
  int status;
  bool close_channels;  // Stop closes (and cuts) every open channel; an abnormal end does not
  std::string missing_input;  // the input file whose open failed because it does not exist
  RunEnd(int status_, bool close_channels_, std::string missing_input_ = {})
      : status(status_), close_channels(close_channels_), missing_input(std::move(missing_input_)) {}
  const char* what() const noexcept override { return "run ended"; }
};

// Stop(message): "STOP <message> statement executed" on standard error when the
// message is not empty, then the run ends with the given status.
[[noreturn]] void stop(std::string_view message, int status = exit_normal);

// Ends the run with an error: writes the text (one or more lines, each ended
// by a line end) on standard error and throws RunEnd{status, true}.
[[noreturn]] void fail(std::string_view text, int status);

}  // namespace textio

#pragma once
// The channel table: numbered text streams 0 to 99. Channels 0, 5 and 6 are the
// console (standard error, standard input, standard output); every other
// channel is bound to a file by open, or to "fort.N" when written unopened.
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace textio {

inline constexpr int max_unit = 99;
inline constexpr int stderr_unit = 0;
inline constexpr int stdin_unit = 5;
inline constexpr int stdout_unit = 6;

// How a file is opened. Input files must exist (a missing one is an open
// failure, and nothing is created); output files are created when missing and
// cut at the position of their first write, never before it.
enum class Access { read, write };

struct Channel;  // defined in channels.cpp

class Channels {
 public:
  Channels();
  ~Channels();
  Channels(const Channels&) = delete;
  Channels& operator=(const Channels&) = delete;

  // Open(channel, name): trailing blanks of the name are removed; an all-blank
  // name fails with "null file name"; a channel already open on the same name
  // is left as it is; one open on another name is closed first.
  void open(int unit, std::string_view name, Access access);
  // Close(channel): a written file is cut at its current position.
  void close(int unit);
  // Cuts a file channel that this run has not written to empty, so that it
  // holds exactly this run's lines: none.
  void empty_if_unwritten(int unit);
  // Closes every open file channel (the end of a run).
  void close_all();

  // Reads the next line of the channel into `line` (without its line end);
  // false at the end of the file. Counts lines for diagnostics.
  bool next_line(int unit, std::string& line);
  // The 1-based number of the line last returned by next_line.
  long line_number(int unit) const;
  // Appends text to the current line of a channel (binding fort.N on first
  // use of an unopened channel); end_line ends it and flushes file channels.
  void put(int unit, std::string_view text);
  void end_line(int unit);
  // The current column of the line being written (0 at a line start).
  int column(int unit) const;
  // The file name bound to a channel, empty for the console or when unbound.
  std::string name(int unit) const;

  // Where Pause reads the operator's answer; the default reads one line from
  // the controlling terminal and returns nullopt when it cannot be opened.
  std::function<std::optional<std::string>()> pause_answer;

 private:
  Channel& bound(int unit);
  std::unique_ptr<Channel> table_[max_unit + 1];
};

// Abnormal end: the diagnostic of a failed read or open on standard error, then
// RunEnd{exit_input_error, false}. `operation` is "list in", "lread" or "open";
// `error` the error text ("invalid integer", "end of file", ...); `detail`, when
// not empty, one more line that shows the file position and offending value.
[[noreturn]] void abnormal_end(const Channels& channels, int unit, std::string_view operation,
                               std::string_view error, bool reading, std::string_view detail = {});
// The same for a failed layout write; the diagnostic also shows the layout.
[[noreturn]] void abnormal_end_layout(const Channels& channels, int unit, std::string_view operation,
                                      std::string_view error, std::string_view layout);

}  // namespace textio

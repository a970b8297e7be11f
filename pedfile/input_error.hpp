#pragma once
// Errors of the data tools: a bad input file or a bad command line. The tools
// collect every message of a stage before they give up, so that one run names
// every problem of a file.
#include <stdexcept>
#include <string>
#include <vector>

namespace bravik::tools {

// Thrown with the full text (one or more lines) when a tool cannot go on.
class InputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Messages of one stage; throw_if_any ends the stage with all of them.
class Diagnostics {
 public:
  // A reader that meets a file of the wrong kind shows only `max_shown` errors.
  explicit Diagnostics(std::size_t max_shown = default_max_shown) : max_shown_(max_shown) {}
  void add(std::string message);
  bool empty() const { return messages_.empty(); }
  const std::vector<std::string>& messages() const { return messages_; }
  // Throws InputError holding every message, one a line (the first
  // `max_shown` of them and a count of the rest).
  void throw_if_any() const;

  static constexpr std::size_t default_max_shown = 50;

 private:
  std::size_t max_shown_;
  std::vector<std::string> messages_;
};

}  // namespace bravik::tools

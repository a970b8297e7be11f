#pragma once
// Command lines of the data tools: each tool declares its options with their
// usage text in one table, and the same table parses and documents them.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "pedfile/structure.hpp"

namespace bravik::tools {

class CommandLine {
 public:
  CommandLine(std::string program, std::string synopsis, std::string description);

  // An option "--name ARG" (or "--name=ARG"); a flag when `argument` is empty,
  // and then `apply` receives an empty value.
  void option(std::string name, std::string argument, std::string help,
              std::function<void(std::string_view)> apply);

  // Applies the options (anywhere on the line) and returns the other
  // arguments in order. Throws InputError, usage included, on an unknown
  // option, a missing value or a value the option rejects.
  std::vector<std::string> parse(const std::vector<std::string>& args);
  bool help_requested() const { return help_requested_; }
  std::string usage() const;

 private:
  struct Option {
    std::string name;
    std::string argument;
    std::string help;
    std::function<void(std::string_view)> apply;
  };
  const Option* find(std::string_view name) const;

  std::string program_;
  std::string synopsis_;
  std::string description_;
  std::vector<Option> options_;
  bool help_requested_ = false;
};

// Value parsers for option handlers and data files; each throws InputError
// naming `what` when the text is not a complete number in range.
int parse_int(std::string_view text, std::string_view what, int lo, int hi);
double parse_real(std::string_view text, std::string_view what);
double parse_real_in(std::string_view text, std::string_view what, double lo, double hi);
// A comma-separated list of reals; an item "v*n" stands for n copies of v.
std::vector<double> parse_real_list(std::string_view text, std::string_view what);

// Runs a tool's body: an InputError is written to standard error after the
// program name and gives exit status 1; the body's own status otherwise.
int run_tool(std::string_view program, const std::function<int()>& body);

// The options that choose the peeling order: --root first|last|random and --seed N.
void add_peeling_options(CommandLine& cl, PeelingOptions& peeling);

}  // namespace bravik::tools

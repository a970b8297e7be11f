#include "pedfile/command_line.hpp"

#include <charconv>
#include <cmath>
#include <iostream>

#include "pedfile/input_error.hpp"
#include "textio/message_text.hpp"

namespace bravik::tools {

CommandLine::CommandLine(std::string program, std::string synopsis, std::string description)
    : program_(std::move(program)), synopsis_(std::move(synopsis)), description_(std::move(description)) {
  option("--help", "", "print this text and stop (also -h)", [this](std::string_view) { help_requested_ = true; });
}

void CommandLine::option(std::string name, std::string argument, std::string help,
                         std::function<void(std::string_view)> apply) {
  options_.push_back({std::move(name), std::move(argument), std::move(help), std::move(apply)});
}

const CommandLine::Option* CommandLine::find(std::string_view name) const {
  for (const Option& o : options_)
    if (o.name == name) return &o;
  return nullptr;
}

std::vector<std::string> CommandLine::parse(const std::vector<std::string>& args) {
  std::vector<std::string> positional;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i] == "-h" ? std::string("--help") : args[i];
    // A lone "-" is a name (standard output); anything else that starts with
    // "-" is an option, so that no file name starting with "-" is written.
    if (arg.size() < 2 || arg[0] != '-') {
      positional.push_back(arg);
      continue;
    }
    const std::size_t eq = arg.find('=');
    const std::string name = arg.substr(0, eq);
    const Option* o = find(name);
    if (o == nullptr) throw InputError("unknown option " + textio::quoted(name) + "\n" + usage());
    std::string value;
    if (o->argument.empty()) {
      if (eq != std::string::npos) throw InputError("option " + name + " takes no value\n" + usage());
    } else if (eq != std::string::npos) {
      value = arg.substr(eq + 1);
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      throw InputError("option " + name + " needs a value " + o->argument + "\n" + usage());
    }
    try {
      o->apply(value);
    } catch (const InputError& e) {
      throw InputError("option " + name + ": " + e.what() + "\n" + usage());
    }
  }
  return positional;
}

std::string CommandLine::usage() const {
  std::string text = "usage: " + program_ + " " + synopsis_ + "\n" + description_ + "\noptions:\n";
  for (const Option& o : options_) {
    std::string head = "  " + o.name + (o.argument.empty() ? "" : " " + o.argument);
    if (head.size() < 26) head.resize(26, ' ');
    else head += "\n" + std::string(26, ' ');
    text += head + o.help + "\n";
  }
  return text;
}

int parse_int(std::string_view text, std::string_view what, int lo, int hi) {
  int value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty())
    throw InputError(std::string(what) + ": " + textio::quoted(text) + " is not an integer");
  if (value < lo || value > hi)
    throw InputError(std::string(what) + ": " + textio::quoted(text) + " is outside " +
                     std::to_string(lo) + " to " + std::to_string(hi));
  return value;
}

double parse_real(std::string_view text, std::string_view what) {
  double value = 0.0;
  const char* first = text.data();
  if (!text.empty() && text.front() == '+') ++first;  // from_chars does not take a plus sign
  const auto [end, ec] = std::from_chars(first, text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty() || !std::isfinite(value))
    throw InputError(std::string(what) + ": " + textio::quoted(text) + " is not a number");
  return value;
}

double parse_real_in(std::string_view text, std::string_view what, double lo, double hi) {
  const double value = parse_real(text, what);
  if (value < lo || value > hi)
    throw InputError(std::string(what) + ": " + textio::quoted(text) + " is outside " +
                     std::to_string(lo) + " to " + std::to_string(hi));
  return value;
}

std::vector<double> parse_real_list(std::string_view text, std::string_view what) {
  std::vector<double> values;
  while (true) {
    const std::size_t comma = text.find(',');
    const std::string_view item = text.substr(0, comma);
    const std::size_t star = item.find('*');
    const double value = parse_real(item.substr(0, star), what);
    const int count = star == std::string_view::npos ? 1 : parse_int(item.substr(star + 1), what, 1, 1'000'000);
    values.insert(values.end(), static_cast<std::size_t>(count), value);
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  return values;
}

int run_tool(std::string_view program, const std::function<int()>& body) {
  try {
    return body();
  } catch (const InputError& e) {
    std::cerr << program << ": " << e.what();
    const std::string_view text = e.what();
    if (text.empty() || text.back() != '\n') std::cerr << '\n';
    return 1;
  }
}

void add_peeling_options(CommandLine& cl, PeelingOptions& peeling) {
  cl.option("--root", "first|last|random",
            "nuclear family peeled last in each connected part (default first; random draws with --seed)",
            [&peeling](std::string_view v) {
              if (v == "first") peeling.root = RootChoice::first;
              else if (v == "last") peeling.root = RootChoice::last;
              else if (v == "random") peeling.root = RootChoice::random;
              else throw InputError(textio::quoted(v) + " is not first, last or random");
            });
  cl.option("--seed", "N", "seed of --root random (default 1)", [&peeling](std::string_view v) {
    peeling.seed = static_cast<std::uint64_t>(parse_int(v, "seed", 0, 2'000'000'000));
  });
}

}  // namespace bravik::tools

#include "run/command_line.hpp"

#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <span>
#include <stdexcept>
#include <string_view>

#include "run/marker_loop.hpp"
#include "run/program_text.hpp"
#include "textio/theta_grid.hpp"
#include "textio/message_text.hpp"
#include "textio/run_end.hpp"

namespace bravik {
namespace {

enum class For { both, maximizing };

int marker_number(std::string_view text) {
  const std::string digits(text);
  char* end = nullptr;
  const long value = std::strtol(digits.c_str(), &end, 10);
  if (digits.empty() || end != digits.c_str() + digits.size() || value < 1 || value > 1'000'000) {
    throw std::invalid_argument("marker number '" + digits + "' is not a whole number from 1");
  }
  return static_cast<int>(value);
}

// One option: its spellings, what it does, which program takes it.
struct OptionEntry {
  std::string_view spellings;  // separated by ", "
  std::string_view help;
  For only;
  void (*apply)(ProgramRequest&, std::string_view value);
  std::string_view value_name = {};  // empty: the option takes no value; else the next argument is its value
};

// Every option of the two programs; a new one is one more line here (and a
// field of ProgramRequest). Mode options of the scan go after help and version,
// marked For::maximizing when only bravik_2point_max takes them; the help text
// lists them in this order.
constexpr OptionEntry option_table[] = {
    {"-h, --help", "print this help and stop", For::both, [](ProgramRequest& r, std::string_view) { r.help = true; }},
    {"--version", "print the version and stop", For::both, [](ProgramRequest& r, std::string_view) { r.version = true; }},
    {"--robust",
     "maximize from several starting points: the null hypothesis once per run from\n"
     "                    seeded starts over the bounds, the alternative from the null optimum and the\n"
     "                    par.inp start (see the README for when to use it)",
     For::maximizing, [](ProgramRequest& r, std::string_view) { r.robust = true; }},
    {"--trait-maxima",
     "with --robust: take the null hypothesis' trait part maxima from FILE (written by\n"
     "                    --save-trait-maxima on the same trait data) instead of maximizing it",
     For::maximizing, [](ProgramRequest& r, std::string_view v) { r.trait_maxima_from = v; }, "FILE"},
    {"--save-trait-maxima",
     "with --robust: write the trait part maxima of the null hypothesis to FILE",
     For::maximizing, [](ProgramRequest& r, std::string_view v) { r.trait_maxima_to = v; }, "FILE"},
    {"--theta-grid",
     "with --robust: the alternative maximized again at each theta of LIST (comma-\n"
     "                    separated, e.g. 0,0.01,0.05,0.1,0.2,0.3,0.4), the maximum over theta, its 1-LOD\n"
     "                    support interval and the heterogeneity LOD, written to the theta table",
     For::maximizing, [](ProgramRequest& r, std::string_view v) { r.theta_grid = textio::parse_theta_grid(v); }, "LIST"},
    {"--theta-table", "the theta table's file (default lod_theta.tsv)", For::maximizing,
     [](ProgramRequest& r, std::string_view v) { r.theta_table = v; }, "FILE"},
    {"--posteriors",
     "with --robust: every person's posterior probabilities of the major-gene genotypes\n"
     "                    and posterior mean polygenic effect at the null maximum, written to FILE",
     For::maximizing, [](ProgramRequest& r, std::string_view v) { r.posteriors = v; }, "FILE"},
    {"--posteriors-marker", "the posteriors at marker K's alternative maximum instead", For::maximizing,
     [](ProgramRequest& r, std::string_view v) { r.posteriors_marker = marker_number(v); }, "K"},
    {"--standard-errors",
     "with --robust: the standard errors of the null's and the alternative's estimates\n"
     "                    (observed information), a line per marker in FILE",
     For::maximizing, [](ProgramRequest& r, std::string_view v) { r.standard_errors = v; }, "FILE"},
};

bool takes(const OptionEntry& entry, Program program) {
  return entry.only == For::both || program == Program::maximizing;
}

bool spelled(const OptionEntry& entry, std::string_view arg) {
  std::string_view rest = entry.spellings;
  while (!rest.empty()) {
    const std::size_t comma = rest.find(", ");
    if (rest.substr(0, comma) == arg) return true;
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 2);
  }
  return false;
}

std::string usage_line(Program program) {
  return "usage: " + std::string(program_name(program)) + " [OPTION]...\n";
}

std::string options_text(Program program) {
  std::string text = "Options:\n";
  for (const OptionEntry& entry : option_table) {
    if (!takes(entry, program)) continue;
    std::string head = "  " + std::string(entry.spellings);
    if (!entry.value_name.empty()) head.append(1, ' ').append(entry.value_name);
    head.resize(std::max<std::size_t>(head.size() + 2, 20), ' ');
    text += head + std::string(entry.help) + "\n";
  }
  return text;
}

std::string files_text(Program program) {
  const bool maximizing = program == Program::maximizing;
  std::string text =
      "Reads from the current folder:\n"
      "  task.inp       names of the phenotype file, the marker file, the LOD result file" +
      std::string(maximizing ? "\n                 and the estimate file, one per line\n" : ", one per line\n") +
      "  par.inp        a heading line, then per parameter: tie target, free flag, value, step,\n"
      "                 lower and upper bound\n";
  if (maximizing) {
    text +=
        "  maxpar.inp     unused integer, step tolerance, iteration limit, shrink factor (0 to 1),\n"
        "                 smallest gain per iteration\n";
  }
  text +=
      "  IWAY.DAT       the pedigree description, in peeling order\n"
      "  the phenotype and marker files named in task.inp\n"
      "Writes:\n"
      "  the LOD result file named in task.inp: marker, null and alternative log-likelihood, LOD\n";
  if (maximizing) {
    text +=
        "  the estimate file named in task.inp: the estimates of each marker under both hypotheses\n"
        "  sigma.DAT      the maximization report of the last marker\n";
  }
  return text +
         "  standard output: the count of measured persons and the starting log-likelihood of each pass;\n"
         "  standard error: warnings, notes on skipped markers and errors (exit status 2 on bad input)\n";
}

std::string environment_text() {
  return "Environment:\n"
         "  BRAVIK_KERNEL=fast|reference   the likelihood kernel (default fast; both give the same bits)\n"
         "  BRAVIK_THREADS=N               threads of the fast kernel, 1 to 256 (default: all cores)\n"
         "  BRAVIK_KERNEL_PATH=avx512|avx2|baseline\n"
         "                                 the fast kernel's machine path (default: the widest the\n"
         "                                 machine runs; all give the same bits)\n";
}

}  // namespace

ProgramRequest parse_command_line(Program program, const std::vector<std::string>& args) {
  ProgramRequest request;
  for (std::size_t a = 0; a < args.size(); ++a) {
    const std::string& arg = args[a];
    const OptionEntry* found = nullptr;
    for (const OptionEntry& entry : option_table) {
      if (takes(entry, program) && spelled(entry, arg)) found = &entry;
    }
    if (found == nullptr) {
      throw std::invalid_argument(arg.starts_with("-") ? "unknown option " + textio::quoted(arg)
                                                       : "unexpected argument " + textio::quoted(arg) +
                                                             " (the input files are read from the current folder)");
    }
    if (found->value_name.empty()) {
      found->apply(request, {});
      continue;
    }
    if (a + 1 == args.size()) throw std::invalid_argument("option " + textio::quoted(arg) + " needs a value");
    found->apply(request, args[++a]);
  }
  if (!request.theta_grid.empty() && !request.robust) throw std::invalid_argument("--theta-grid needs --robust");
  if (!request.posteriors.empty() && !request.robust) throw std::invalid_argument("--posteriors needs --robust");
  if (!request.standard_errors.empty() && !request.robust) {
    throw std::invalid_argument("--standard-errors needs --robust");
  }
  if (request.posteriors_marker != 0 && request.posteriors.empty()) {
    throw std::invalid_argument("--posteriors-marker needs --posteriors");
  }
  const bool trait_maxima = !request.trait_maxima_from.empty() || !request.trait_maxima_to.empty();
  if (trait_maxima && !request.robust) throw std::invalid_argument("--trait-maxima and --save-trait-maxima need --robust");
  return request;
}

std::string help_text(Program program) {
  const std::string summary = program == Program::maximizing
                                  ? "Two-point linkage scan of a quantitative trait that first maximizes the\n"
                                    "likelihood over the free parameters of par.inp, under each hypothesis.\n"
                                  : "Two-point linkage scan of a quantitative trait at the fixed parameters of "
                                    "par.inp.\n";
  return usage_line(program) + summary + "\n" + options_text(program) + "\n" + files_text(program) + "\n" +
         environment_text() +
         "\nbravik_prep PEDIGREE_FILE FOLDER makes every input file from a pedigree file;\n"
         "run the program in FOLDER. The README describes the files in full.\n";
}

int run_from_command_line(Program program, int argc, const char* const* argv) {
  const std::span<const char* const> arguments(argv, static_cast<std::size_t>(argc));
  ProgramRequest request;
  try {
    request = parse_command_line(program, std::vector<std::string>(arguments.begin() + 1, arguments.end()));
  } catch (const std::invalid_argument& error) {
    std::fprintf(stderr, "%s: %s\n%sTry '%s --help' for more information.\n", program_name(program).data(),
                 error.what(), usage_line(program).c_str(), program_name(program).data());
    return textio::exit_input_error;
  }
  if (request.help) {
    std::fputs(help_text(program).c_str(), stdout);
    return textio::exit_normal;
  }
  if (request.version) {
    std::printf("%s %s\n", program_name(program).data(), BRAVIK_VERSION);
    return textio::exit_normal;
  }
  RunOptions options;
  options.robust = request.robust;
  options.trait_maxima_from = request.trait_maxima_from;
  options.trait_maxima_to = request.trait_maxima_to;
  options.theta_grid = request.theta_grid;
  options.theta_table = request.theta_table;
  options.posteriors = request.posteriors;
  options.posteriors_marker = request.posteriors_marker;
  options.standard_errors = request.standard_errors;
  return run_program(program, nullptr, options);
}

}  // namespace bravik

// bravik_scan: a genome-wide scan in chunks of at most 500 markers. `prepare`
// reads and checks the data once and writes the scan folder and its plan;
// `task` runs one chunk; `run` runs the chunks still to do, several at once;
// `status` shows them; `merge` writes the result table and the plot;
// `posteriors` the genotype probabilities of every person.
#include <iostream>
#include <map>

#include "pedfile/input_error.hpp"
#include "scan/commands.hpp"
#include "scan/simulation.hpp"
#include "scan/slurm.hpp"

namespace {

using namespace bravik;

struct Subcommand {
  const char* name;
  int (*body)(const std::vector<std::string>&);
  const char* summary;
};

const Subcommand subcommands[] = {
    {"prepare", scan::prepare_command, "check the data once; write the scan folder and its plan of chunks"},
    {"task", scan::task_command, "run one chunk (the unit of `run` and of a cluster array task)"},
    {"run", scan::run_command, "run the chunks still pending or failed, several at once"},
    {"status", scan::status_command, "show the done, failed and pending chunks"},
    {"merge", scan::merge_command, "write results.tsv and results.svg"},
    {"simulate", scan::simulate_command, "add replicate scans of simulated genotypes for genome-wide significance"},
    {"posteriors", scan::posteriors_command, "who carries the major gene: each person's genotype probabilities"},
    {"slurm", scan::slurm_command, "write (and submit) a SLURM array job of the chunks left and a merge job"},
};

std::string overview() {
  std::string text = "usage: bravik_scan COMMAND [options] ...\ncommands:\n";
  for (const Subcommand& s : subcommands) text += "  " + std::string(s.name) + std::string(10 - std::string(s.name).size(), ' ') + s.summary + "\n";
  return text + "`bravik_scan COMMAND --help` prints the options of a command.\n";
}

int dispatch(const std::vector<std::string>& args) {
  if (args.empty() || args[0] == "--help") {
    (args.empty() ? std::cerr : std::cout) << overview();
    return args.empty() ? scan::exit_bad_input : 0;
  }
  for (const Subcommand& s : subcommands)
    if (args[0] == s.name) return s.body(std::vector<std::string>(args.begin() + 1, args.end()));
  throw tools::InputError("unknown command '" + args[0] + "'\n" + overview());
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return dispatch(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const tools::InputError& e) {
    const std::string text = e.what();
    std::cerr << "bravik_scan: " << text << (text.empty() || text.back() != '\n' ? "\n" : "");
    return scan::exit_bad_input;
  } catch (const std::exception& e) {
    std::cerr << "bravik_scan: " << e.what() << '\n';
    return scan::exit_bad_input;
  }
}

// bravik_sim: simulates pedigree data under the analysis model and writes them
// as a pedigree file, for power studies, examples and benchmark data.
#include <fstream>
#include <iostream>

#include "pedfile/command_line.hpp"
#include "pedfile/input_error.hpp"
#include "tools/sim/simulate.hpp"

namespace {

using namespace bravik::tools;

struct SimSettings {
  SimulationModel model;
  SimulationDesign design;
  std::uint64_t seed = 1;
  std::string truth;  // file of the true genotypes; empty: none
};

CommandLine sim_command_line(SimSettings& s) {
  CommandLine cl("bravik_sim", "[options] OUTPUT_FILE",
                 "Simulates families under a major gene (2 alleles), a polygenic component of 7 classes\n"
                 "and a normal residual, with two-allele markers at given recombination fractions from\n"
                 "the major gene, and writes a pedigree file for bravik_prep (OUTPUT_FILE - = standard output).");
  cl.option("--seed", "N", "seed of the simulation (default 1); the same seed gives the same file",
            [&s](std::string_view v) { s.seed = static_cast<std::uint64_t>(parse_int(v, "seed", 0, 2'000'000'000)); });
  cl.option("--families", "N", "number of families (default 50)",
            [&s](std::string_view v) { s.design.families = parse_int(v, "families", 1, 100'000); });
  cl.option("--structure", "KIND",
            "nuclear (1-6 children), large (8-12), threegen, fourgen (several spouses), disjoint\n"
            "                          (two unrelated parts and a lone person), mixed (default)",
            [&s](std::string_view v) { s.design.structure = parse_structure(v); });
  cl.option("--untyped-grandparents", "", "no trait and no genotypes for the top generation of threegen and fourgen",
            [&s](std::string_view) { s.design.untyped_grandparents = true; });
  cl.option("--gene-freq", "Q", "frequency of major-gene allele 1 (default 0.3)",
            [&s](std::string_view v) { s.model.gene_freq = parse_real_in(v, "gene frequency", 0.0, 1.0); });
  cl.option("--means", "M11,M12,M22", "trait means of the major-gene genotypes (default 2,1,0)", [&s](std::string_view v) {
    const std::vector<double> m = parse_real_list(v, "means");
    if (m.size() != 3) throw InputError("three means are needed, for 11, 12 and 22");
    s.model.means = {m[0], m[1], m[2]};
  });
  cl.option("--variance", "V", "residual variance (default 0.5)",
            [&s](std::string_view v) { s.model.variance = parse_real_in(v, "variance", 1e-12, 1e12); });
  cl.option("--polygenic-step", "A", "trait shift per polygenic class (default 0.15; 0 = none)",
            [&s](std::string_view v) { s.model.polygenic_step = parse_real(v, "polygenic step"); });
  cl.option("--theta", "LIST", "recombination fraction of each marker, comma-separated, v*n = n times v\n"
                               "                          (default 0,0.05,0.1,0.2,0.5)",
            [&s](std::string_view v) { s.model.theta = parse_real_list(v, "theta"); });
  cl.option("--marker-freq", "LIST", "frequency of marker allele 1: one value, or one per marker (default 0.5)",
            [&s](std::string_view v) { s.model.marker_freq = parse_real_list(v, "marker frequency"); });
  cl.option("--untyped", "R", "chance that a genotype is untyped (default 0)",
            [&s](std::string_view v) { s.model.untyped_rate = parse_real_in(v, "untyped rate", 0.0, 1.0); });
  cl.option("--trait-missing", "R", "chance that a trait value is missing (default 0)",
            [&s](std::string_view v) { s.model.trait_missing_rate = parse_real_in(v, "trait missing rate", 0.0, 1.0); });
  cl.option("--truth", "FILE",
            "also write every person's true major-gene genotype, polygenic class and whether its\n"
            "                          family is linked to FILE (tab-separated, header line)",
            [&s](std::string_view v) { s.truth = v; });
  cl.option("--linked-share", "R",
            "share of families whose markers are linked at --theta (default 1); the others' markers\n"
            "                          are unlinked (0.5), families spread evenly (F1, F2, ... by floor(f R))",
            [&s](std::string_view v) { s.model.linked_share = parse_real_in(v, "linked share", 0.0, 1.0); });
  return cl;
}

int sim(const std::vector<std::string>& args) {
  SimSettings settings;
  CommandLine cl = sim_command_line(settings);
  const std::vector<std::string> paths = cl.parse(args);
  if (cl.help_requested()) {
    std::cout << cl.usage();
    return 0;
  }
  if (paths.size() != 1) throw InputError("expected OUTPUT_FILE\n" + cl.usage());
  std::vector<TrueState> truth;
  const PedigreeFile file = simulate(settings.model, settings.design, settings.seed, &truth);
  if (!settings.truth.empty()) {
    std::ofstream out(settings.truth, std::ios::binary | std::ios::trunc);
    out << truth_table(truth);
    out.close();
    if (!out) throw InputError(settings.truth + ": cannot write the file");
  }
  if (paths[0] == "-") {
    write_pedigree_file(std::cout, file);
  } else {
    std::ofstream out(paths[0], std::ios::binary | std::ios::trunc);
    if (!out) throw InputError(paths[0] + ": cannot write the file");
    write_pedigree_file(out, file);
    out.close();
    if (!out) throw InputError(paths[0] + ": writing failed");
  }
  std::cerr << "bravik_sim: " << settings.design.families << " families ("
            << structure_name(settings.design.structure) << "), " << file.rows.size() << " persons, " << file.markers
            << " markers\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return run_tool("bravik_sim", [&] { return sim(args); });
}

#pragma once
// Simulated scans for the maximizing modes: run folders of a chosen family
// structure whose markers are half linked to the major gene (theta 0.05) and
// half unlinked, and the parameter file's lines to vary the starting point.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "pedfile/run_folder.hpp"
#include "pedfile/structure.hpp"
#include "tools/sim/simulate.hpp"

namespace bravik::testing {

struct ScanDesign {
  tools::Structure structure = tools::Structure::threegen;
  int families = 15;
  int markers = 20;
  bool polygenic = true;  // off: no polygenic effect in the data, and its step fixed at 0
  std::uint64_t seed = 1;
};

// One record of par.inp: link, free flag, value, step, bounds.
struct ParLine {
  int link = 0;
  int free = 0;
  double value = 0.0, step = 0.0, low = 0.0, high = 0.0;
};

inline std::vector<ParLine> read_par_lines(const std::filesystem::path& folder) {
  std::ifstream in(folder / "par.inp");
  std::string line;
  std::getline(in, line);  // heading
  std::vector<ParLine> lines;
  while (lines.size() < 7 && std::getline(in, line)) {
    std::istringstream record(line);
    ParLine p;
    record >> p.link >> p.free >> p.value >> p.step >> p.low >> p.high;
    lines.push_back(p);
  }
  return lines;
}

inline void write_par_lines(const std::filesystem::path& folder, const std::vector<ParLine>& lines) {
  std::ofstream out(folder / "par.inp", std::ios::trunc);
  out << " link free value step low high\n";
  out.precision(17);
  for (const ParLine& p : lines)
    out << ' ' << p.link << ' ' << p.free << ' ' << p.value << ' ' << p.step << ' ' << p.low << ' ' << p.high << '\n';
}

inline void write_simulated_scan(const std::filesystem::path& folder, const ScanDesign& d) {
  tools::SimulationModel model;
  model.theta.assign(static_cast<std::size_t>(d.markers), 0.5);
  for (int m = 0; m < d.markers / 2; ++m) model.theta[static_cast<std::size_t>(m)] = 0.05;
  model.untyped_rate = 0.1;
  if (!d.polygenic) model.polygenic_step = 0.0;
  tools::SimulationDesign design;
  design.structure = d.structure;
  design.families = d.families;
  design.untyped_grandparents = d.structure == tools::Structure::threegen;
  const tools::PedigreeFile file = tools::simulate(model, design, d.seed);
  const tools::PreparedPedigree ped = tools::prepare_structure(file, {tools::RootChoice::random, d.seed});
  tools::write_run_folder(folder, file, ped, {});
  if (d.polygenic) return;
  std::vector<ParLine> lines = read_par_lines(folder);
  lines[6].free = 0;
  lines[6].value = 0.0;
  write_par_lines(folder, lines);
}

}  // namespace bravik::testing

#pragma once
// Run folders for kernel comparisons: simulated ones written with the data
// tools (families described with a random root, so that every connector case
// occurs), and any run folder loaded into a Model the way bravik_2point's
// start-up reads it.
#include <cstdint>
#include <filesystem>
#include <string>

#include "model/blocks.hpp"
#include "model/freq.hpp"
#include "model/polygenic.hpp"
#include "pedfile/run_folder.hpp"
#include "pedfile/structure.hpp"
#include "pedigree/iway.hpp"
#include "pedigree/markers.hpp"
#include "run/config.hpp"
#include "textio/channels.hpp"
#include "tools/sim/simulate.hpp"

namespace bravik::testing {

// Simulates `families` families of one structure and writes their run folder.
inline void write_simulated_folder(const std::filesystem::path& folder, tools::Structure structure, int families,
                                   std::uint64_t seed, const tools::SimulationModel& model = {},
                                   bool untyped_grandparents = false) {
  tools::SimulationDesign design;
  design.structure = structure;
  design.families = families;
  design.untyped_grandparents = untyped_grandparents;
  const tools::PedigreeFile file = tools::simulate(model, design, seed);
  const tools::PreparedPedigree ped = tools::prepare_structure(file, {tools::RootChoice::random, seed + 1});
  tools::write_run_folder(folder, file, ped, {});
}

// Works in another directory for the lifetime of the object.
class InDirectory {
 public:
  explicit InDirectory(const std::filesystem::path& folder) : saved_(std::filesystem::current_path()) {
    std::filesystem::current_path(folder);
  }
  ~InDirectory() { std::filesystem::current_path(saved_); }
  InDirectory(const InDirectory&) = delete;
  InDirectory& operator=(const InDirectory&) = delete;

 private:
  std::filesystem::path saved_;
};

// Reads task.inp, the marker file, par.inp, the polygenic tables, IWAY.DAT and
// the phenotypes as the fixed-parameter program does (a Model of that program).
inline void load_run_folder(Model& model, textio::Channels& io, const std::filesystem::path& folder) {
  const InDirectory here(folder);
  model.pg.nhalf = 3;
  model.pg.npol = N_POL;
  model.imax.npar = 7;
  const TaskFiles files = read_task(io, 3, 20);
  io.open(1, files.fnmark, textio::Access::read);
  read_marker_file(model.ped, io);
  read_par(model, io);
  fom_bep(model);
  set_class_weights(model);
  wwdat(model.ped, io, files.fnphen);
  apply_polygenic_switch(model);
}

// Selects marker t and stores its allele frequencies as the null pass does;
// false when the run would skip the marker.
inline bool select_analysed_marker(Model& model, int t) {
  select_marker(model.ped, t);
  double pm1 = 0.0;
  double pm2 = 0.0;
  int notyp = 0;
  freq(model, pm1, pm2, notyp);
  if (notyp == 1) return false;
  model.optpar1.par(8) = pm1;
  model.optpar1.par(9) = pm2;
  const double rare = static_cast<double>(0.001f);
  return pm1 >= rare && pm2 >= rare;
}

}  // namespace bravik::testing

#pragma once
// Replicate scans for genome-wide significance: `simulate` records how many
// replicates of the scan to run, with which seed and in which mode; each
// replicate chunk is then a task like the data's chunks. Task numbers follow
// the plan's chunks: with C chunks, task t = C r + k runs chunk k of
// replicate r (replicate 0 is the data), so the data's chunks keep their
// numbers and more replicates add tasks after the others.
//
//   OUT/simulation/plan.txt          "bravik_scan simulation 1", then
//                                    "replicates R", "seed S", "mode robust|classic|fixed"
//   OUT/simulation/trait_maxima.txt  robust mode: the trait part's maxima of the
//                                    null hypothesis, shared by every replicate
//   OUT/chunks/T/                    a done replicate task: maxima.tsv (per
//                                    chromosome of the chunk: chr, marker row,
//                                    highest LOD), stderr.txt, timing.txt
//   OUT/simulation.tsv               written by merge
//
// A replicate task draws its genotypes from (seed, replicate) by gene
// dropping (gene_drop.hpp), keeps the data's pattern of untyped persons (after
// the data's Mendelian resets), and runs the program of the recorded mode.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "scan/layout.hpp"
#include "scan/marker_table.hpp"
#include "scan/plan.hpp"
#include "scan/chunk_setup.hpp"

namespace bravik::scan {

struct Simulation {
  int replicates = 0;
  std::uint64_t seed = 1;
  AnalysisMode mode = AnalysisMode::robust;
};

inline fs::path simulation_folder(const ScanFolder& folder) { return folder.root / "simulation"; }
inline fs::path trait_maxima_path(const ScanFolder& folder) { return simulation_folder(folder) / "trait_maxima.txt"; }
inline fs::path simulation_table_path(const ScanFolder& folder) { return folder.root / "simulation.tsv"; }

std::string simulation_text(const Simulation& simulation);
// Throws InputError naming the file, line and value of anything amiss.
Simulation parse_simulation(const std::string& text, const std::string& name);
// Empty when no simulation was asked for.
std::optional<Simulation> read_simulation(const ScanFolder& folder);

// Chunk k of replicate r (0: the data).
struct TaskRef {
  int replicate = 0;
  int chunk = 0;
};
int task_count(const Plan& plan, const std::optional<Simulation>& simulation);
int task_number(const Plan& plan, TaskRef ref);
// Throws InputError naming the task when there is no such task.
TaskRef task_ref(const Plan& plan, const std::optional<Simulation>& simulation, int task);


// The program's arguments for a replicate task of the simulation.
std::vector<std::string> replicate_arguments(const ScanFolder& folder, const Simulation& simulation);

// Replaces the codes of a chunk's pedigree file, set up from the data, by
// replicate r's: typed where the data are typed after their Mendelian check.
CodeReplacement replicate_codes(const ScanFolder& folder, const Simulation& simulation, const Chunk& chunk, int replicate);

// The highest LOD of each chromosome of a replicate chunk, from its LOD file.
struct ChromosomeMaximum {
  std::string chromosome;
  long marker = 0;  // row of markers.tsv, from 1
  double lod = 0;
};
std::vector<ChromosomeMaximum> chunk_maxima(const fs::path& lod_file, const std::vector<MarkerRow>& markers,
                                            const Chunk& chunk);
std::string maxima_text(const std::vector<ChromosomeMaximum>& maxima);
std::vector<ChromosomeMaximum> read_maxima(const fs::path& path);

// `simulate OUT --replicates R [--seed S] [--classic|--fixed]`.
int simulate_command(const std::vector<std::string>& args);

}  // namespace bravik::scan

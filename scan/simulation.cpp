#include "scan/simulation.hpp"

#include <unistd.h>

#include <cmath>
#include <iostream>
#include <sstream>

#include "pedfile/command_line.hpp"
#include "pedfile/input_error.hpp"
#include "pedfile/pedigree_file.hpp"
#include "results/lod_file.hpp"
#include "results/text_file.hpp"
#include "scan/gene_drop.hpp"
#include "scan/marker_table.hpp"
#include "scan/mode_options.hpp"
#include "scan/process.hpp"

namespace bravik::scan {
namespace {

const char* const simulation_heading = "bravik_scan simulation 1";

fs::path simulation_plan_path(const ScanFolder& folder) { return simulation_folder(folder) / "plan.txt"; }

const AnalysisMode all_modes[] = {AnalysisMode::robust, AnalysisMode::classic, AnalysisMode::fixed};

// The allele 1 frequency of each marker as the data give it; 0.5 where
// nobody is typed (every replicate leaves such a marker untyped too).
std::vector<double> allele1_frequencies(const std::vector<MarkerRow>& markers) {
  std::vector<double> frequency;
  for (const MarkerRow& m : markers) frequency.push_back(m.frequency.value_or(0.5));
  return frequency;
}

// The first marker that the programs analyse unless its Mendelian check
// untypes it: typed somewhere, neither allele rarer than 0.001.
long first_analysable_marker(const std::vector<MarkerRow>& markers, const fs::path& table) {
  for (std::size_t m = 0; m < markers.size(); ++m) {
    const double p = markers[m].frequency.value_or(0.0);
    if (markers[m].typed > 0 && p >= 0.001 && p <= 0.999) return static_cast<long>(m) + 1;
  }
  throw tools::InputError(table.string() + ": no marker is typed with both alleles at 0.001 or more: nothing to simulate");
}

// The last line of a text (a program's error message ends its standard error).
std::string last_line(const std::string& text) {
  const std::size_t end = text.find_last_not_of('\n');
  if (end == std::string::npos) return "";
  return text.substr(text.rfind('\n', end) + 1, end - text.rfind('\n', end));
}

// The trait part's maxima of the robust null hypothesis, computed once as the
// data's first chunk computes them: at the first analysable marker, from the
// same starts. The program runs on that marker alone in a scratch folder. It
// writes no maxima when par.inp frees no parameter: there is nothing to share.
void maximize_trait_part_once(const ScanFolder& folder, const Plan& plan) {
  const long m = first_analysable_marker(read_marker_table(folder.markers().string()), folder.markers());
  const fs::path dir = fs::absolute(simulation_folder(folder) / (".null." + std::to_string(getpid())));
  fs::create_directories(dir);
  const Chunk one{0, m, m, "", ""};
  set_up_chunk(folder, plan, one, dir);
  const fs::path written = dir / "trait_maxima.txt";
  const Command command{analysis_program(AnalysisMode::robust), {"--robust", "--save-trait-maxima", written.string()},
                        dir, dir / "stdout.txt", dir / "stderr.txt"};
  const ProcessEnd end = wait_for(start(command));
  std::error_code ec;
  if (end.succeeded() && fs::exists(written)) fs::rename(written, trait_maxima_path(folder), ec);
  const std::string error = results::read_text_file((dir / "stderr.txt").string(), "standard error");
  fs::remove_all(dir);
  if (!end.succeeded() || ec)
    throw tools::InputError("the null hypothesis' trait part could not be maximized at marker " + std::to_string(m) +
                            " (" + end.text() + "): " + last_line(error));
}

// Refuses a seed or mode other than those of replicate tasks already done:
// their results would mix two simulations.
void check_done_replicates(const ScanFolder& folder, const Plan& plan, const Simulation& old, const Simulation& wanted) {
  if (old.seed == wanted.seed && old.mode == wanted.mode) return;
  for (int t = task_number(plan, {1, 1}); t <= task_count(plan, old); ++t)
    if (folder.state(t) == ChunkState::done)
      throw tools::InputError(simulation_plan_path(folder).string() + ": replicates were run with seed " +
                              std::to_string(old.seed) + " in the " + mode_name(old.mode) +
                              " mode; remove " + simulation_folder(folder).string() + " and the replicate tasks' folders (" +
                              folder.chunks().string() + "/" + std::to_string(task_number(plan, {1, 1})) +
                              " and after) to simulate anew");
}

}  // namespace

std::string simulation_text(const Simulation& s) {
  return std::string(simulation_heading) + "\nreplicates " + std::to_string(s.replicates) + "\nseed " +
         std::to_string(s.seed) + "\nmode " + mode_name(s.mode) + "\n";
}

Simulation parse_simulation(const std::string& text, const std::string& name) {
  std::istringstream in(text);
  std::string line;
  long number = 0;
  const auto next_words = [&](const char* key) {
    ++number;
    if (!std::getline(in, line)) throw tools::InputError(name + ":" + std::to_string(number) + ": the file ends before '" + key + "'");
    std::vector<std::string_view> words = tools::split_fields(line);
    if (words.size() != 2 || words[0] != key)
      throw tools::InputError(name + ":" + std::to_string(number) + ": expected '" + key + "' and a value, read '" + line + "'");
    return std::string(words[1]);
  };
  ++number;
  if (!std::getline(in, line) || line != simulation_heading)
    throw tools::InputError(name + ":1: expected '" + simulation_heading + "', read '" + line + "'");
  Simulation s;
  s.replicates = tools::parse_int(next_words("replicates"), name + ":2: replicates", 1, 1'000'000);
  s.seed = static_cast<std::uint64_t>(tools::parse_int(next_words("seed"), name + ":3: seed", 0, 2'000'000'000));
  const std::string mode = next_words("mode");
  for (const AnalysisMode m : all_modes)
    if (mode_name(m) == mode) {
      s.mode = m;
      return s;
    }
  throw tools::InputError(name + ":4: mode '" + mode + "' is not robust, classic or fixed");
}

std::optional<Simulation> read_simulation(const ScanFolder& folder) {
  const fs::path path = simulation_plan_path(folder);
  if (!fs::exists(path)) return std::nullopt;
  return parse_simulation(results::read_text_file(path.string(), "simulation plan"), path.string());
}

int task_count(const Plan& plan, const std::optional<Simulation>& simulation) {
  return static_cast<int>(plan.chunks.size()) * (1 + (simulation ? simulation->replicates : 0));
}

int task_number(const Plan& plan, TaskRef ref) { return static_cast<int>(plan.chunks.size()) * ref.replicate + ref.chunk; }

TaskRef task_ref(const Plan& plan, const std::optional<Simulation>& simulation, int task) {
  if (!simulation) return {0, plan.chunk(task).number};
  const int chunks = static_cast<int>(plan.chunks.size());
  if (task < 1 || task > task_count(plan, simulation))
    throw tools::InputError("task " + std::to_string(task) + " is not in the plan (" + std::to_string(chunks) +
                            " chunks and " + std::to_string(simulation->replicates) + " replicates of them: tasks 1 to " +
                            std::to_string(task_count(plan, simulation)) + ")");
  return {(task - 1) / chunks, (task - 1) % chunks + 1};
}

std::vector<std::string> replicate_arguments(const ScanFolder& folder, const Simulation& simulation) {
  if (simulation.mode != AnalysisMode::robust || !fs::exists(trait_maxima_path(folder)))
    return analysis_arguments(simulation.mode);
  return {"--robust", "--trait-maxima", fs::absolute(trait_maxima_path(folder)).string()};
}

CodeReplacement replicate_codes(const ScanFolder& folder, const Simulation& simulation, const Chunk& chunk, int replicate) {
  return [&folder, &simulation, &chunk, replicate](tools::PedigreeFile& file, const tools::PreparedPedigree& ped,
                                                   const std::vector<std::size_t>& order) {
    const std::vector<MarkerRow> markers = read_marker_table(folder.markers().string());
    const GeneticMap map = genetic_map(markers);
    const DropPedigree pedigree = drop_pedigree(ped);
    const std::size_t n = order.size();
    std::vector<std::uint8_t> typed(static_cast<std::size_t>(chunk.size()) * n);
    for (int m = 0; m < file.markers; ++m)
      for (std::size_t i = 0; i < n; ++i) typed[static_cast<std::size_t>(m) * n + i] = file.code(order[i], m) != 0;
    std::vector<std::uint8_t> codes;
    GeneDropper(pedigree, map, allele1_frequencies(markers), {simulation.seed, replicate})
        .drop(chunk.first - 1, chunk.size(), typed, codes);
    for (int m = 0; m < file.markers; ++m)
      for (std::size_t i = 0; i < n; ++i) file.code(order[i], m) = codes[static_cast<std::size_t>(m) * n + i];
  };
}

std::vector<ChromosomeMaximum> chunk_maxima(const fs::path& lod_file, const std::vector<MarkerRow>& markers,
                                            const Chunk& chunk) {
  std::vector<ChromosomeMaximum> maxima;
  for (const results::LodPoint& p :
       results::parse_lod_text(results::read_text_file(lod_file.string(), "LOD file"), lod_file.string())) {
    if (!std::isfinite(p.lod)) continue;
    const long row = chunk.first + p.marker - 1;
    const std::string& chromosome = markers[static_cast<std::size_t>(row - 1)].chromosome;
    if (maxima.empty() || maxima.back().chromosome != chromosome) maxima.push_back({chromosome, row, p.lod});
    else if (p.lod > maxima.back().lod) maxima.back() = {chromosome, row, p.lod};
  }
  return maxima;
}

std::string maxima_text(const std::vector<ChromosomeMaximum>& maxima) {
  std::string text = "chr\tmarker\tlod\n";
  for (const ChromosomeMaximum& m : maxima)
    text += m.chromosome + '\t' + std::to_string(m.marker) + '\t' + full_precision(m.lod) + '\n';
  return text;
}

std::vector<ChromosomeMaximum> read_maxima(const fs::path& path) {
  std::istringstream in(results::read_text_file(path.string(), "chromosome maxima"));
  std::string line;
  std::getline(in, line);
  std::vector<ChromosomeMaximum> maxima;
  for (long number = 2; std::getline(in, line); ++number) {
    const std::vector<std::string_view> w = tools::split_fields(line);
    const std::string where = path.string() + ":" + std::to_string(number) + ": ";
    if (w.size() != 3) throw tools::InputError(where + "expected chr, marker and lod, read '" + line + "'");
    maxima.push_back({std::string(w[0]), tools::parse_int(w[1], where + "marker", 1, 2'000'000'000),
                      tools::parse_real(w[2], where + "lod")});
  }
  return maxima;
}

int simulate_command(const std::vector<std::string>& args) {
  Simulation wanted;
  bool replicates_given = false;
  tools::CommandLine cl(
      "bravik_scan simulate", "[options] OUT",
      "Adds to the scan folder OUT replicate scans for genome-wide significance: each replicate drops\n"
      "new marker genotypes through the pedigrees (founders' alleles from the data's allele frequencies,\n"
      "Mendelian transmission, recombination by Haldane's map function; untyped where the data are) and is\n"
      "scanned like the data. Its chunks are tasks of `run` and `slurm`; `merge` then writes\n"
      "OUT/simulation.tsv, the p_genome column and the empirical thresholds. In the robust mode the null\n"
      "hypothesis' trait part is maximized here, once for every replicate.");
  cl.option("--replicates", "R", "the number of replicates (more later with the same seed adds replicates)",
            [&](std::string_view v) {
              wanted.replicates = tools::parse_int(v, "replicates", 1, 1'000'000);
              replicates_given = true;
            });
  cl.option("--seed", "S", "the seed of the replicates' genotypes (default 1)",
            [&](std::string_view v) { wanted.seed = static_cast<std::uint64_t>(tools::parse_int(v, "seed", 0, 2'000'000'000)); });
  add_mode_options(cl, wanted.mode);
  const std::vector<std::string> positional = cl.parse(args);
  if (cl.help_requested()) {
    std::cout << cl.usage();
    return 0;
  }
  if (positional.size() != 1 || !replicates_given)
    throw tools::InputError("expected the scan folder OUT and --replicates R\n" + cl.usage());
  const ScanFolder folder{positional[0]};
  const Plan plan = read_plan(folder.plan().string());
  if (const std::optional<Simulation> old = read_simulation(folder)) check_done_replicates(folder, plan, *old, wanted);
  fs::create_directories(simulation_folder(folder));
  if (wanted.mode == AnalysisMode::robust && !fs::exists(trait_maxima_path(folder))) maximize_trait_part_once(folder, plan);
  write_file_atomically(simulation_plan_path(folder), simulation_text(wanted));
  std::cout << "simulation: " << wanted.replicates << " replicates of the " << plan.chunks.size() << " chunks ("
            << mode_name(wanted.mode) << " mode, seed " << wanted.seed << "): tasks " << task_number(plan, {1, 1})
            << " to " << task_count(plan, wanted) << "; bravik_scan run or slurm runs them\n";
  return 0;
}

}  // namespace bravik::scan

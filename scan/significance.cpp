#include "scan/significance.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <random>
#include <sstream>

#include "pedfile/input_error.hpp"
#include "results/text_file.hpp"

namespace bravik::scan {
namespace {

constexpr double significant_share = 0.05;
constexpr int resamples = 1000;
constexpr std::uint64_t resampling_seed = 20261209;
const char* const summary_heading = "genome-wide significance";

std::size_t chromosome_index(const std::vector<std::string>& chromosomes, const std::string& name) {
  return static_cast<std::size_t>(std::find(chromosomes.begin(), chromosomes.end(), name) - chromosomes.begin());
}

// Keeps the higher of two maxima; the earlier marker of equals.
void keep_higher(std::optional<ChromosomeMaximum>& kept, const ChromosomeMaximum& m) {
  if (!kept || m.lod > kept->lod || (m.lod == kept->lod && m.marker < kept->marker)) kept = m;
}

std::vector<double> genome_maxima(const ReplicateSet& set) {
  std::vector<double> maxima;
  for (const ReplicateMaxima& r : set.complete) maxima.push_back(r.genome ? r.genome->lod : -INFINITY);
  return maxima;
}

// The k-th highest value (from 1), k at most the count.
double kth_highest(std::vector<double> values, std::size_t k) {
  std::sort(values.begin(), values.end(), std::greater<>());
  return values[std::min(k, values.size()) - 1];
}

// Significant: the ceil(5% R)-th highest genome-wide maximum, which 5% of
// the replicates reach.
double significant_level(const std::vector<const ReplicateMaxima*>& replicates) {
  std::vector<double> maxima;
  for (const ReplicateMaxima* r : replicates) maxima.push_back(r->genome ? r->genome->lod : -INFINITY);
  const auto k = static_cast<std::size_t>(std::ceil(significant_share * static_cast<double>(maxima.size()) - 1e-9));
  return kth_highest(std::move(maxima), std::max<std::size_t>(k, 1));
}

// Suggestive: the R-th highest of all chromosomes' maxima of the R
// replicates, so that on average one chromosome a scan reaches it (a
// chromosome counts once however many markers pass).
double suggestive_level(const std::vector<const ReplicateMaxima*>& replicates) {
  std::vector<double> maxima;
  for (const ReplicateMaxima* r : replicates)
    for (const std::optional<ChromosomeMaximum>& c : r->chromosomes)
      if (c) maxima.push_back(c->lod);
  if (maxima.empty()) return -INFINITY;
  return kth_highest(std::move(maxima), replicates.size());
}

// A level and its standard error over resamplings of the replicates (with
// replacement, from a fixed seed, so that merge always writes the same).
Threshold resampled(const ReplicateSet& set, double (*level)(const std::vector<const ReplicateMaxima*>&)) {
  std::vector<const ReplicateMaxima*> all;
  for (const ReplicateMaxima& r : set.complete) all.push_back(&r);
  Threshold t{level(all), 0.0};
  std::mt19937_64 random(resampling_seed);
  std::uniform_int_distribution<std::size_t> pick(0, all.size() - 1);
  double sum = 0.0, squares = 0.0;
  std::vector<const ReplicateMaxima*> sample(all.size());
  for (int b = 0; b < resamples; ++b) {
    for (const ReplicateMaxima*& s : sample) s = all[pick(random)];
    const double v = level(sample);
    sum += v;
    squares += v * v;
  }
  const double mean = sum / resamples;
  t.standard_error = std::sqrt(std::max(0.0, squares / resamples - mean * mean));
  return t;
}

std::string fixed(double v, int digits) {
  char text[40];
  std::snprintf(text, sizeof text, "%.*f", digits, v);
  return text;
}

std::string id_of(const std::vector<ResultRow>& rows, const std::optional<ChromosomeMaximum>& m) {
  return m ? rows[static_cast<std::size_t>(m->marker - 1)].marker.id : "NA";
}

// summary.txt as prepare wrote it, with the thresholds' section replaced.
std::string summary_with(const std::string& summary, const std::string& section) {
  const std::size_t at = summary.find(std::string("\n") + summary_heading);
  return (at == std::string::npos ? summary : summary.substr(0, at + 1)) + section;
}

}  // namespace

ReplicateSet collect_replicates(const ScanFolder& folder, const Plan& plan, const Simulation& simulation,
                                const std::vector<ResultRow>& rows) {
  ReplicateSet set;
  for (const ResultRow& row : rows)
    if (chromosome_index(set.chromosomes, row.marker.chromosome) == set.chromosomes.size())
      set.chromosomes.push_back(row.marker.chromosome);
  for (int r = 1; r <= simulation.replicates; ++r) {
    ReplicateMaxima maxima{r, std::vector<std::optional<ChromosomeMaximum>>(set.chromosomes.size()), std::nullopt};
    bool complete = true;
    for (const Chunk& chunk : plan.chunks) {
      const int t = task_number(plan, {r, chunk.number});
      complete = complete && folder.state(t) == ChunkState::done;
      if (!complete) break;
      for (const ChromosomeMaximum& m : read_maxima(folder.chunk(t) / "maxima.tsv")) {
        if (m.marker > static_cast<long>(rows.size()))
          throw tools::InputError((folder.chunk(t) / "maxima.tsv").string() + ": marker " + std::to_string(m.marker) +
                                  " is not in the marker table");
        keep_higher(maxima.chromosomes[chromosome_index(set.chromosomes, m.chromosome)], m);
        keep_higher(maxima.genome, m);
      }
    }
    if (complete) set.complete.push_back(std::move(maxima));
    else ++set.incomplete;
  }
  return set;
}

std::string simulation_table_text(const ReplicateSet& set, const std::vector<ResultRow>& rows) {
  std::string text = "replicate\tmax_lod\tmax_chr\tmax_id";
  for (const std::string& c : set.chromosomes) text += "\tmax_lod_" + c;
  text += '\n';
  for (const ReplicateMaxima& r : set.complete) {
    text += std::to_string(r.replicate) + '\t' + (r.genome ? full_precision(r.genome->lod) : "NA") + '\t' +
            (r.genome ? r.genome->chromosome : "NA") + '\t' + id_of(rows, r.genome);
    for (const std::optional<ChromosomeMaximum>& c : r.chromosomes) text += '\t' + (c ? full_precision(c->lod) : "NA");
    text += '\n';
  }
  return text;
}

double genome_p_value(double lod, const std::vector<double>& genome_maxima) {
  const auto k = std::count_if(genome_maxima.begin(), genome_maxima.end(), [lod](double m) { return m >= lod; });
  return (1.0 + static_cast<double>(k)) / (1.0 + static_cast<double>(genome_maxima.size()));
}

Thresholds empirical_thresholds(const ReplicateSet& set) {
  return {static_cast<int>(set.complete.size()), resampled(set, significant_level), resampled(set, suggestive_level)};
}

std::string thresholds_text(const Thresholds& t, const Simulation& simulation) {
  const double share_error = std::sqrt(significant_share * (1 - significant_share) / t.replicates);
  return std::string(summary_heading) + " from " + std::to_string(t.replicates) + " replicates (" +
         mode_name(simulation.mode) + " mode, seed " + std::to_string(simulation.seed) + "):\n" +
         "  significant (reached by the genome-wide maximum in 5% of replicates): LOD " + fixed(t.significant.lod, 3) +
         " (standard error " + fixed(t.significant.standard_error, 3) + "; a share of 5% of " +
         std::to_string(t.replicates) + " replicates has a standard error of " + fixed(100 * share_error, 1) +
         " points)\n" + "  suggestive (reached once per genome scan on average): LOD " +
         fixed(t.suggestive.lod, 3) + " (standard error " + fixed(t.suggestive.standard_error, 3) + ")\n";
}

std::string with_column(const std::string& table, const std::string& name, const std::vector<std::optional<double>>& values) {
  std::istringstream in(table);
  std::string line;
  std::getline(in, line);
  std::string text = line + '\t' + name + '\n';
  for (const std::optional<double>& v : values) {
    std::getline(in, line);
    text += line + '\t' + full_precision(v) + '\n';
  }
  return text;
}

SignificanceOutput write_significance(const ScanFolder& folder, const std::vector<ResultRow>& rows, const std::string& table) {
  const std::optional<Simulation> simulation = read_simulation(folder);
  if (!simulation) return {table, "", {}, 0};
  const ReplicateSet set = collect_replicates(folder, read_plan(folder.plan().string()), *simulation, rows);
  write_file_atomically(simulation_table_path(folder), simulation_table_text(set, rows));
  const std::vector<double> maxima = genome_maxima(set);
  std::vector<std::optional<double>> p(rows.size());
  for (std::size_t m = 0; m < rows.size(); ++m)
    if (rows[m].result && !maxima.empty() && std::isfinite(rows[m].result->lod))
      p[m] = genome_p_value(rows[m].result->lod, maxima);
  SignificanceOutput out{with_column(table, "p_genome", p), "", {}, set.incomplete};
  if (set.complete.empty()) return out;
  const Thresholds t = empirical_thresholds(set);
  out.text = thresholds_text(t, *simulation);
  out.levels = {t.significant.lod, t.suggestive.lod};
  write_file_atomically(folder.summary(), summary_with(results::read_text_file(folder.summary().string(), "summary"), out.text));
  return out;
}

}  // namespace bravik::scan

#pragma once
// Genome-wide significance from the replicate scans: each replicate's
// genome-wide and per-chromosome maxima (OUT/simulation.tsv), the share of
// replicates whose genome-wide maximum reaches each marker's LOD (p_genome),
// and the empirical thresholds.
#include <optional>
#include <string>
#include <vector>

#include "scan/merge.hpp"
#include "scan/simulation.hpp"

namespace bravik::scan {

struct ReplicateMaxima {
  int replicate = 0;
  std::vector<std::optional<ChromosomeMaximum>> chromosomes;  // in the order of the marker table
  std::optional<ChromosomeMaximum> genome;                    // the highest of them (the first of equals)
};

struct ReplicateSet {
  std::vector<std::string> chromosomes;  // of the marker table, in its order
  std::vector<ReplicateMaxima> complete;  // replicates whose every chunk is done
  int incomplete = 0;
};

// The maxima of the replicates of which every task is done.
ReplicateSet collect_replicates(const ScanFolder& folder, const Plan& plan, const Simulation& simulation,
                                const std::vector<ResultRow>& rows);

// One row per complete replicate: replicate, max_lod, max_chr, max_id, then
// one max_lod_CHR column per chromosome; NA where nothing was analysed.
std::string simulation_table_text(const ReplicateSet& set, const std::vector<ResultRow>& rows);

// (1 + k) / (1 + R): k of the R genome-wide maxima at or above `lod`.
double genome_p_value(double lod, const std::vector<double>& genome_maxima);

struct Threshold {
  double lod = 0;
  double standard_error = 0;  // from resampling the replicates
};
struct Thresholds {
  int replicates = 0;
  Threshold significant;  // reached by the genome-wide maximum in 5% of the replicates
  Threshold suggestive;   // reached on average once per scan by a chromosome's maximum
};
// Needs at least one replicate.
Thresholds empirical_thresholds(const ReplicateSet& set);
std::string thresholds_text(const Thresholds& t, const Simulation& simulation);

// The table with one more tab-separated column: `name` in the header line,
// the values (full precision, NA when empty) in the rows after it.
std::string with_column(const std::string& table, const std::string& name, const std::vector<std::optional<double>>& values);

// Writes simulation.tsv, adds p_genome to the table text and the thresholds
// to summary.txt; returns the thresholds' text (empty without replicates) and
// the levels to draw.
struct SignificanceOutput {
  std::string table;  // the result table with p_genome
  std::string text;
  std::vector<double> levels;  // significant, suggestive
  int incomplete = 0;
};
SignificanceOutput write_significance(const ScanFolder& folder, const std::vector<ResultRow>& rows, const std::string& table);

}  // namespace bravik::scan

#pragma once
// `merge`: the result table of a scan (OUT/results.tsv), one row per selected
// marker in the order of the plan, from the plan, the marker table and the
// chunks' result files; also the table of one run folder of the preparation
// tool, from its own files.
#include <array>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "scan/marker_table.hpp"

namespace bravik::scan {

// Parameters 1, 2, 3, 4, 6 and 7 of one pass, as the estimate file gives them.
using Estimates = std::array<double, 6>;

struct MarkerResult {
  double lnl0 = 0, lnl1 = 0, lod = 0;
  std::optional<Estimates> null_estimates, alternative_estimates;
  std::string failure;  // why the marker failed (a log-likelihood not finite); empty when it did not
  std::vector<std::string> extra_values;  // the columns of the run's marker tables, as written
};

// What one run of a program says of its markers (numbered from 1 in the run).
struct RunResults {
  std::map<int, MarkerResult> analysed;
  bool maximized = false;       // an estimate file was written
  bool warnings_known = false;  // the program's standard error was kept
  std::set<int> null_short, alternative_short;  // searches that found no maximum
  std::map<int, std::string> not_finite;         // the program's words on a log-likelihood not finite
  std::vector<std::string> extra_columns;        // of its marker tables (without "marker"); empty: none
};

// Reads the LOD file of a run of `markers` markers, the estimate file when it
// exists and the warnings of the program's standard error text when it was
// kept; a marker whose log-likelihoods or LOD are not finite gets its
// failure, with the family the program named. Throws InputError naming file
// and line of a marker repeated or outside the run, of a value that is not
// finite without the program's warning, or of an estimate not finite.
RunResults read_run_results(const std::filesystem::path& lod, const std::filesystem::path& estimates,
                            const std::optional<std::string>& error_text, long markers);

// Adds the pedigree's family id to every "family N" of the failures, from
// the table of person numbers the preparation wrote (ids.txt: global number,
// family number, local number, family id, person id, line); a table that
// cannot be read leaves the texts as they are.
void name_families(RunResults& run, const std::filesystem::path& id_table);

// "marker N: reason", one per failed marker of a run whose marker 1 is the
// scan's marker `first`.
std::vector<std::string> failed_marker_lines(const RunResults& run, long first);

// Adds the columns of a marker table of a run (the LOD over theta, the
// standard errors: a header line starting with "marker", then a line per
// analysed marker) to its results. Throws InputError naming file and line.
void read_marker_columns(const std::filesystem::path& path, RunResults& run);

// The marker tables a run may leave, in the order their columns are joined.
inline constexpr const char* marker_tables[] = {"lod_theta.tsv", "se.tsv"};

struct ResultRow {
  MarkerRow marker;
  std::optional<int> mendel_reset;
  std::string status;  // analysed, rare, untyped, failed or pending
  std::optional<MarkerResult> result;
  std::optional<bool> null_maximum_found, alternative_maximum_found;
  std::string mode;    // the analysis mode of its chunk; empty when unknown
  std::string reason;  // of a failed marker or chunk; empty otherwise
};

// The rows of a chunk's (or a run folder's) markers: `first` is the row of
// its marker 1, `typed` the persons typed at each of its markers after the
// Mendelian check, `resets` the nuclear families set untyped (empty: unknown).
void fill_results(std::vector<ResultRow>& rows, std::size_t first, const RunResults& run,
                  const std::vector<long>& typed, const std::vector<int>& resets);

// The rows, and the columns of the marker tables that the runs left (the same
// in every run; empty when none left one). A done chunk of a scan whose files
// cannot be read whole has its markers failed, with the file, line and fault
// in their reason and in `damaged_chunks`.
struct DamagedChunk {
  int number = 0;
  std::string reason;  // "chunk K: file:line: fault"
};
struct MergedResults {
  std::vector<ResultRow> rows;
  std::vector<std::string> extra_columns;
  std::vector<DamagedChunk> damaged_chunks;
};
MergedResults scan_results(const std::filesystem::path& scan_folder);
MergedResults run_folder_results(const std::filesystem::path& run_folder);

// Rows without values of the extra columns get NA there.
std::string results_table_text(const std::vector<ResultRow>& rows, const std::vector<std::string>& extra_columns = {});

// The rows with `column` (lod, or an extra column such as lod_max or hlod)
// in place of the LOD, for the plot; a row without it is left out of the plot.
std::vector<ResultRow> rows_plotting(const MergedResults& merged, const std::string& column);

}  // namespace bravik::scan

#include "scan/merge.hpp"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>

#include "pedfile/command_line.hpp"
#include "pedfile/input_error.hpp"
#include "pedfile/pedigree_file.hpp"
#include "results/lod_file.hpp"
#include "results/text_file.hpp"
#include "scan/file_record.hpp"
#include "scan/layout.hpp"
#include "scan/mode.hpp"
#include "scan/plan.hpp"
#include "textio/message_text.hpp"

namespace bravik::scan {
namespace {

bool all_finite(const MarkerResult& r) { return std::isfinite(r.lnl0) && std::isfinite(r.lnl1) && std::isfinite(r.lod); }

[[noreturn]] void refuse_line(const std::filesystem::path& path, long line, const std::string& what) {
  throw tools::InputError(path.string() + ":" + std::to_string(line) + ": " + what);
}

// The LOD file's lines, each naming a marker of the run once; returns the
// line of each marker.
std::map<int, long> read_lod_lines(const std::filesystem::path& lod, long markers, RunResults& run) {
  std::map<int, long> line_of;
  for (const results::LodPoint& p : results::parse_lod_text(results::read_text_file(lod.string(), "LOD file"), lod.string())) {
    const std::string marker = "marker " + std::to_string(p.marker);
    if (p.marker < 1 || p.marker > markers)
      refuse_line(lod, p.line, marker + " is not one of the run's markers 1 to " + std::to_string(markers));
    if (const auto [first, added] = line_of.emplace(p.marker, p.line); !added)
      refuse_line(lod, p.line, marker + " again (first on line " + std::to_string(first->second) + ")");
    run.analysed[p.marker] = MarkerResult{p.null_lnl, p.alt_lnl, p.lod, {}, {}, {}, {}};
  }
  return line_of;
}

// A value that is not finite is the program's own finding only when its
// standard error says so; otherwise the file was damaged.
void refuse_unexplained(const std::filesystem::path& lod, const std::map<int, long>& line_of, const RunResults& run) {
  for (const auto& [marker, result] : run.analysed)
    if (!all_finite(result) && run.not_finite.count(marker) == 0)
      refuse_line(lod, line_of.at(marker), "marker " + std::to_string(marker) +
                                               ": a value is not finite and the program gave no reason for it");
}

// Two lines per analysed marker, null then alternative, in fixed columns
// (I4, then E13.6 per value: a negative value may touch the one before it):
// the marker number and parameters 1, 2, 3, 4, 6 and 7.
void read_estimates(const std::filesystem::path& path, RunResults& run) {
  constexpr std::size_t marker_width = 4;
  constexpr std::size_t value_width = 13;
  std::istringstream in(results::read_text_file(path.string(), "estimate file"));
  std::string line;
  for (long number = 1; std::getline(in, line); ++number) {
    if (tools::split_fields(line).empty()) continue;
    const auto fail = [&](const std::string& what) { refuse_line(path, number, what + ", read '" + line + "'"); };
    if (line.size() != marker_width + 6 * value_width) fail("expected a marker number and 6 estimates");
    const std::vector<std::string_view> marker_words = tools::split_fields(std::string_view(line).substr(0, marker_width));
    const auto marker = run.analysed.find(marker_words.empty() ? 0 : std::atoi(std::string(marker_words[0]).c_str()));
    if (marker == run.analysed.end()) fail("the marker has no LOD line");
    Estimates values{};
    for (std::size_t i = 0; i < values.size(); ++i) {
      const std::vector<std::string_view> field =
          tools::split_fields(std::string_view(line).substr(marker_width + i * value_width, value_width));
      const std::optional<double> v = field.size() == 1 ? results::parse_result_real(field[0]) : std::nullopt;
      if (!v) fail("estimate " + std::to_string(i + 1) + " is not a number");
      values[i] = *v;
    }
    MarkerResult& r = marker->second;
    for (std::size_t i = 0; i < values.size(); ++i)
      if (!std::isfinite(values[i]) && all_finite(r)) fail("estimate " + std::to_string(i + 1) + " is not finite");
    if (!r.null_estimates) r.null_estimates = values;
    else if (!r.alternative_estimates) r.alternative_estimates = values;
    else fail("a third estimate line for the marker");
  }
}

// "warning: marker K, null hypothesis: no maximum within ..." (or
// alternative), and "warning: marker K, null hypothesis: the log-likelihood
// of family F is not finite (...); cause".
void read_warnings(const std::string& error_text, RunResults& run) {
  std::istringstream in(error_text);
  const std::string head = "warning: marker ";
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(head, 0) != 0) continue;
    const std::size_t comma = line.find(", ", head.size());
    if (comma == std::string::npos) continue;
    const int marker = std::atoi(line.c_str() + head.size());
    const std::string rest = line.substr(comma + 2);
    if (rest.rfind("null hypothesis: no maximum", 0) == 0) run.null_short.insert(marker);
    if (rest.rfind("alternative hypothesis: no maximum", 0) == 0) run.alternative_short.insert(marker);
    if (rest.find("is not finite") != std::string::npos) {
      std::string& words = run.not_finite[marker];
      words += (words.empty() ? "" : "; ") + rest;
    }
  }
}

void mark_failures(RunResults& run) {
  for (auto& [marker, result] : run.analysed) {
    if (all_finite(result)) continue;
    const auto words = run.not_finite.find(marker);
    result.failure = words != run.not_finite.end() ? words->second : "a log-likelihood or the LOD is not finite";
  }
}

struct MendelCounts {
  std::vector<long> typed;
  std::vector<int> resets;
};

MendelCounts read_mendel_table(const std::filesystem::path& path, long markers) {
  std::istringstream in(results::read_text_file(path.string(), "Mendel table"));
  std::string line;
  std::getline(in, line);
  MendelCounts counts;
  for (long m = 1; m <= markers; ++m) {
    const std::vector<std::string_view> w =
        std::getline(in, line) ? tools::split_fields(line) : std::vector<std::string_view>{};
    if (w.size() != 3 || w[0] != std::to_string(m))
      throw tools::InputError(path.string() + ":" + std::to_string(m + 1) + ": expected marker " + std::to_string(m) +
                              ", its resets and typed count, read '" + line + "'");
    counts.resets.push_back(tools::parse_int(w[1], "mendel_reset", 0, 2'000'000'000));
    counts.typed.push_back(tools::parse_int(w[2], "typed", 0, 2'000'000'000));
  }
  return counts;
}

void mark_chunk(std::vector<ResultRow>& rows, const Chunk& chunk, const char* status, const std::string& reason) {
  for (long m = chunk.first; m <= chunk.last; ++m) {
    rows[static_cast<std::size_t>(m - 1)].status = status;
    rows[static_cast<std::size_t>(m - 1)].reason = reason;
  }
}

// The mode chunk k was done in, which must be the scan's.
std::string checked_chunk_mode(const ScanFolder& folder, int k, const std::optional<AnalysisMode>& scan_mode) {
  const fs::path record = folder.chunk(k) / mode_file_name;
  const std::optional<AnalysisMode> mode = read_mode(record);
  if (mode == scan_mode) return mode ? mode_name(*mode) : "";
  const auto name = [](const std::optional<AnalysisMode>& m) { return m ? mode_name(*m) + " mode" : "no recorded mode"; };
  throw tools::InputError(folder.chunk(k).string() + ": chunk " + std::to_string(k) + " was done in " + name(mode) +
                          ", the scan runs in " + name(scan_mode) + " (" + folder.mode().string() +
                          "); one table takes the LODs of one mode: remove " + folder.chunk(k).string() +
                          " and run the chunk again");
}

void set_mode(std::vector<ResultRow>& rows, const Chunk& chunk, const std::string& mode) {
  for (long m = chunk.first; m <= chunk.last; ++m) rows[static_cast<std::size_t>(m - 1)].mode = mode;
}

// A reason as one field of the table: its tabs and line ends become blanks.
std::string tab_free(std::string text) {
  std::replace_if(text.begin(), text.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; }, ' ');
  return text;
}

std::string yes_no(std::optional<bool> value) { return value ? (*value ? "yes" : "no") : "NA"; }

void add_estimates(std::string& line, const std::optional<Estimates>& values) {
  for (std::size_t i = 0; i < 6; ++i) line += '\t' + (values ? full_precision((*values)[i]) : "NA");
}

// The task.inp of a run folder: phenotype, marker, LOD and estimate file names.
std::vector<std::string> task_file_names(const std::filesystem::path& folder) {
  std::istringstream in(results::read_text_file((folder / "task.inp").string(), "task file"));
  std::vector<std::string> names;
  for (std::string line; names.size() < 4 && std::getline(in, line);) {
    const std::vector<std::string_view> w = tools::split_fields(line);
    names.push_back(w.empty() ? "" : std::string(w[0]));
  }
  if (names.size() < 3) throw tools::InputError((folder / "task.inp").string() + ": expected at least 3 file names");
  return names;
}

// Marker rows of a marker file: typed counts and allele 1 frequencies.
std::vector<MarkerRow> marker_file_rows(const std::filesystem::path& path) {
  std::istringstream in(results::read_text_file(path.string(), "marker file"));
  std::string token;
  in >> token;
  const int markers = tools::parse_int(token, path.string() + ": marker count", 0, 500);
  std::vector<MarkerRow> rows(static_cast<std::size_t>(markers));
  if (rows.empty()) return rows;
  std::vector<long> allele1(rows.size(), 0);
  for (std::size_t m = 0; m < rows.size(); ++m) rows[m] = MarkerRow{"NA", {}, {}, std::to_string(m + 1), "1", "2", {}, 0};
  for (std::size_t i = 0; in >> token; ++i) {
    const int code = tools::parse_int(token, path.string() + ": marker code", 0, 3);
    MarkerRow& row = rows[i % rows.size()];
    row.typed += code != 0;
    allele1[i % rows.size()] += code == 1 ? 2 : code == 2 ? 1 : 0;
  }
  for (std::size_t m = 0; m < rows.size(); ++m)
    if (rows[m].typed > 0) rows[m].frequency = static_cast<double>(allele1[m]) / static_cast<double>(2 * rows[m].typed);
  return rows;
}

// The run's extra columns must match those of the runs before it.
void join_extra_columns(std::vector<std::string>& columns, const RunResults& run, const std::filesystem::path& where) {
  if (run.extra_columns.empty()) return;
  if (columns.empty()) columns = run.extra_columns;
  if (columns != run.extra_columns)
    throw tools::InputError(where.string() + ": its marker tables' columns differ from those of the chunks before it");
}

void read_marker_tables(const std::filesystem::path& folder, RunResults& run) {
  for (const char* name : marker_tables)
    if (std::filesystem::exists(folder / name)) read_marker_columns(folder / name, run);
}

}  // namespace

void read_marker_columns(const std::filesystem::path& path, RunResults& run) {
  std::istringstream in(results::read_text_file(path.string(), "marker table"));
  std::string line;
  std::getline(in, line);
  const std::vector<std::string_view> header = tools::split_fields(line);
  if (header.size() < 2 || header[0] != "marker")
    throw tools::InputError(path.string() + ":1: expected a header line starting with marker, read '" + line + "'");
  const std::size_t before = run.extra_columns.size();
  run.extra_columns.insert(run.extra_columns.end(), header.begin() + 1, header.end());
  for (long number = 2; std::getline(in, line); ++number) {
    const std::vector<std::string_view> w = tools::split_fields(line);
    const auto fail = [&](const std::string& what) {
      throw tools::InputError(path.string() + ":" + std::to_string(number) + ": " + what + ", read '" + line + "'");
    };
    if (w.size() != header.size()) fail("expected " + std::to_string(header.size()) + " fields");
    const auto marker = run.analysed.find(tools::parse_int(w[0], path.string() + ": marker", 1, 2'000'000'000));
    if (marker == run.analysed.end()) fail("the marker has no LOD line");
    std::vector<std::string>& values = marker->second.extra_values;
    if (values.size() != before) fail("the marker has a line in an earlier table missing");
    values.insert(values.end(), w.begin() + 1, w.end());
  }
}

RunResults read_run_results(const std::filesystem::path& lod, const std::filesystem::path& estimates,
                            const std::optional<std::string>& error_text, long markers) {
  RunResults run;
  const std::map<int, long> line_of = read_lod_lines(lod, markers, run);
  run.maximized = std::filesystem::exists(estimates);
  if (run.maximized) read_estimates(estimates, run);
  run.warnings_known = error_text.has_value();
  if (error_text) {
    read_warnings(*error_text, run);
    refuse_unexplained(lod, line_of, run);
  }
  mark_failures(run);
  return run;
}

void name_families(RunResults& run, const std::filesystem::path& id_table) {
  std::map<std::string, std::string> family_id;  // by family number
  std::istringstream in(text_of_file(id_table));
  for (std::string line; std::getline(in, line);) {
    const std::vector<std::string_view> w = tools::split_fields(line);
    if (w.size() >= 4 && w[0].front() != '#') family_id.emplace(std::string(w[1]), std::string(w[3]));
  }
  const std::string word = "family ";
  for (auto& [marker, result] : run.analysed) {
    std::string& text = result.failure;
    for (std::size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
      const std::size_t number = at + word.size();
      const std::size_t end = text.find_first_not_of("0123456789", number);
      const auto id = family_id.find(text.substr(number, end - number));
      if (end == number || id == family_id.end()) continue;
      text.insert(end, " (" + textio::short_text(id->second) + ")");
    }
  }
}

std::vector<std::string> failed_marker_lines(const RunResults& run, long first) {
  std::vector<std::string> lines;
  for (const auto& [marker, result] : run.analysed)
    if (!result.failure.empty()) lines.push_back("marker " + std::to_string(first + marker - 1) + ": " + result.failure);
  return lines;
}

void fill_results(std::vector<ResultRow>& rows, std::size_t first, const RunResults& run,
                  const std::vector<long>& typed, const std::vector<int>& resets) {
  for (std::size_t m = 0; m < typed.size(); ++m) {
    ResultRow& row = rows[first + m];
    const int number = static_cast<int>(m) + 1;
    if (!resets.empty()) row.mendel_reset = resets[m];
    const auto it = run.analysed.find(number);
    if (it == run.analysed.end()) {
      row.status = typed[m] == 0 ? "untyped" : "rare";
      continue;
    }
    row.status = it->second.failure.empty() ? "analysed" : "failed";
    row.reason = it->second.failure;
    row.result = it->second;
    if (!run.maximized || !run.warnings_known) continue;
    row.null_maximum_found = run.null_short.count(number) == 0;
    row.alternative_maximum_found = run.alternative_short.count(number) == 0;
  }
}

namespace {

// Reads the files of a done chunk; throws before filling when one is damaged.
void fill_chunk_results(MergedResults& merged, const ScanFolder& folder, const Chunk& chunk) {
  const std::filesystem::path dir = folder.chunk(chunk.number);
  const MendelCounts mendel = read_mendel_table(dir / "mendel.tsv", chunk.size());
  RunResults run = read_run_results(dir / "lod.out", dir / "est.out", text_of_file(dir / "stderr.txt"), chunk.size());
  name_families(run, folder.input() / "ids.txt");
  read_marker_tables(dir, run);
  join_extra_columns(merged.extra_columns, run, dir);
  fill_results(merged.rows, static_cast<std::size_t>(chunk.first - 1), run, mendel.typed, mendel.resets);
}

}  // namespace

MergedResults scan_results(const std::filesystem::path& scan_folder) {
  const ScanFolder folder{scan_folder};
  const Plan plan = read_plan(folder.plan().string());
  check_file_records(folder.root, plan.files);
  MergedResults merged;
  std::vector<ResultRow>& rows = merged.rows;
  for (MarkerRow& m : read_marker_table(folder.markers().string())) rows.push_back(ResultRow{std::move(m), {}, "", {}, {}, {}, {}, {}});
  if (static_cast<long>(rows.size()) != plan.markers)
    throw tools::InputError(folder.markers().string() + ": holds " + std::to_string(rows.size()) +
                            " markers, the plan " + std::to_string(plan.markers));
  const std::optional<AnalysisMode> scan_mode = read_mode(folder.mode());
  for (const Chunk& chunk : plan.chunks) {
    const ChunkState state = folder.state(chunk.number);
    if (state == ChunkState::failed) {
      const ChunkFailure failure = read_failure(folder, chunk.number);
      mark_chunk(rows, chunk, "failed", "chunk " + std::to_string(chunk.number) + ": " + failure.ending + ": " +
                                            failure.first_error_line);
    }
    if (state == ChunkState::pending) mark_chunk(rows, chunk, "pending", "");
    if (state != ChunkState::done) continue;
    set_mode(rows, chunk, checked_chunk_mode(folder, chunk.number, scan_mode));
    try {
      fill_chunk_results(merged, folder, chunk);
    } catch (const tools::InputError& e) {
      const std::string reason = "chunk " + std::to_string(chunk.number) + ": " + e.what();
      mark_chunk(rows, chunk, "failed", reason);
      merged.damaged_chunks.push_back({chunk.number, reason});
    }
  }
  return merged;
}

MergedResults run_folder_results(const std::filesystem::path& run_folder) {
  const std::vector<std::string> names = task_file_names(run_folder);
  MergedResults merged;
  std::vector<ResultRow>& rows = merged.rows;
  std::vector<long> typed;
  for (MarkerRow& m : marker_file_rows(run_folder / names[1])) {
    typed.push_back(m.typed);
    rows.push_back(ResultRow{std::move(m), {}, "", {}, {}, {}, {}, {}});
  }
  const std::filesystem::path estimates = names.size() > 3 ? run_folder / names[3] : std::filesystem::path();
  RunResults run = read_run_results(run_folder / names[2], estimates, std::nullopt, static_cast<long>(rows.size()));
  read_marker_tables(run_folder, run);
  merged.extra_columns = run.extra_columns;
  fill_results(rows, 0, run, typed, {});
  return merged;
}

std::string results_table_text(const std::vector<ResultRow>& rows, const std::vector<std::string>& extra_columns) {
  std::string text = std::string(marker_table_header) + "\tmendel_reset\tstatus\tlnl0\tlnl1\tlod";
  for (const char* pass : {"null", "alt"})
    for (const char* name : {"gene_freq", "mean11", "mean12", "mean22", "variance", "polygenic_step"})
      text += std::string("\t") + pass + "_" + name;
  text += "\tnull_maximum_found\talt_maximum_found\tmode\treason";
  for (const std::string& column : extra_columns) text.append("\t").append(column);
  text += '\n';
  for (const ResultRow& row : rows) {
    std::string line = marker_table_line(row.marker);
    line += '\t' + (row.mendel_reset ? std::to_string(*row.mendel_reset) : "NA") + '\t' + row.status;
    const std::optional<MarkerResult>& r = row.result;
    for (const double MarkerResult::*field : {&MarkerResult::lnl0, &MarkerResult::lnl1, &MarkerResult::lod})
      line += '\t' + (r ? full_precision((*r).*field) : "NA");
    add_estimates(line, r ? r->null_estimates : std::nullopt);
    add_estimates(line, r ? r->alternative_estimates : std::nullopt);
    line += '\t' + yes_no(row.null_maximum_found) + '\t' + yes_no(row.alternative_maximum_found);
    line += '\t' + (row.mode.empty() ? "NA" : row.mode) + '\t' + (row.reason.empty() ? "NA" : tab_free(row.reason));
    for (std::size_t i = 0; i < extra_columns.size(); ++i)
      line.append("\t").append(r && i < r->extra_values.size() ? r->extra_values[i] : "NA");
    text += line + '\n';
  }
  return text;
}

std::vector<ResultRow> rows_plotting(const MergedResults& merged, const std::string& column) {
  if (column == "lod") return merged.rows;
  const auto at = std::find(merged.extra_columns.begin(), merged.extra_columns.end(), column);
  if (at == merged.extra_columns.end())
    throw tools::InputError("--plot " + column + ": the results hold no such column (a theta table's column needs "
                            "the robust mode with a theta grid)");
  const auto i = static_cast<std::size_t>(at - merged.extra_columns.begin());
  std::vector<ResultRow> rows = merged.rows;
  for (ResultRow& row : rows) {
    if (!row.result) continue;
    const std::vector<std::string>& values = row.result->extra_values;
    const std::optional<double> value = i < values.size() ? results::parse_result_real(values[i]) : std::nullopt;
    row.result->lod = value ? *value : std::nan("");
  }
  return rows;
}

}  // namespace bravik::scan

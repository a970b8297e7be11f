#include "scan/mode.hpp"

#include <array>
#include <unistd.h>

#include "scan/status.hpp"
#include "textio/message_text.hpp"
#include "tools/pedfile/input_error.hpp"
#include "tools/pedfile/pedigree_file.hpp"
#include "tools/plot/lod_plot.hpp"

namespace bravik::scan {
namespace {

constexpr std::array<AnalysisMode, 3> modes = {AnalysisMode::robust, AnalysisMode::classic, AnalysisMode::fixed};

// Writes the record unless one exists (link fails then): of tasks that start
// together, one records and the others read its record.
void record_once(const fs::path& path, AnalysisMode mode) {
  std::string hidden(1, '.');
  hidden.append(path.filename().string()).append(1, '.').append(std::to_string(getpid()));
  const fs::path temporary = path.parent_path() / hidden;
  write_mode(temporary, mode);
  const int linked = link(temporary.c_str(), path.c_str());
  std::error_code ec;
  fs::remove(temporary, ec);
  if (linked != 0 && !fs::exists(path)) throw tools::InputError(path.string() + ": cannot record the analysis mode");
}

}  // namespace

std::string mode_name(AnalysisMode mode) {
  switch (mode) {
    case AnalysisMode::classic: return "classic";
    case AnalysisMode::fixed: return "fixed";
    case AnalysisMode::robust: break;
  }
  return "robust";
}

std::string mode_option(AnalysisMode mode) { return mode == AnalysisMode::robust ? "" : "--" + mode_name(mode); }

std::optional<AnalysisMode> read_mode(const fs::path& path) {
  if (!fs::exists(path)) return std::nullopt;
  const std::string text = tools::read_text_file(path.string(), "mode record");
  const std::string first_line = text.substr(0, text.find('\n'));
  const std::vector<std::string_view> words = tools::split_fields(first_line);
  for (const AnalysisMode mode : modes)
    if (words.size() == 1 && words[0] == mode_name(mode)) return mode;
  throw tools::InputError(path.string() + ":1: expected robust, classic or fixed, read " + textio::quoted(first_line));
}

void write_mode(const fs::path& path, AnalysisMode mode) { write_file_atomically(path, mode_name(mode) + "\n"); }

void claim_mode(const ScanFolder& folder, const Plan& plan, AnalysisMode mode) {
  record_once(folder.mode(), mode);
  const AnalysisMode recorded = read_mode(folder.mode()).value_or(mode);
  if (recorded == mode) return;
  const std::vector<int> done = count_chunks(folder, plan).done;
  if (done.empty()) {
    write_mode(folder.mode(), mode);
    return;
  }
  const std::string go_on = recorded == AnalysisMode::robust ? "no mode option" : mode_option(recorded);
  throw tools::InputError(folder.root.string() + ": the scan runs in " + mode_name(recorded) + " mode (" +
                          folder.mode().string() + "), in which chunks " + number_ranges(done) +
                          " are done; this command asks " + mode_name(mode) + " mode. Go on with " + go_on +
                          ", or remove " + folder.chunks().string() + " and " + folder.mode().string() +
                          " to start the scan again in " + mode_name(mode) + " mode");
}

}  // namespace bravik::scan

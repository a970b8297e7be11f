#include "scan/mode_claim.hpp"

#include <unistd.h>

#include "pedfile/input_error.hpp"
#include "scan/status.hpp"

namespace bravik::scan {
namespace {

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

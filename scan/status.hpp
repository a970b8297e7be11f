#pragma once
// The state of every chunk of a scan, for people and for the driver.
#include <string>
#include <vector>

#include "scan/layout.hpp"
#include "scan/plan.hpp"

namespace bravik::scan {

// The markers of a done chunk whose log-likelihood is not finite, one line
// each ("marker N: reason"), in the chunk's markers_failed.txt.
inline constexpr const char* failed_markers_name = "markers_failed.txt";
std::vector<std::string> failed_markers_of(const ScanFolder& folder, int k);
// "chunk K: N markers failed, the first marker M: reason"; "" when none did.
std::string failed_markers_summary(const ScanFolder& folder, int k);

struct ChunkCounts {
  std::vector<int> done, failed, pending;
  long markers_done = 0;
  std::vector<std::string> failed_markers;  // of done chunks, "marker N: reason"
};
// Tasks first..last (data chunks, then replicate chunks: simulation.hpp).
ChunkCounts count_tasks(const ScanFolder& folder, const Plan& plan, int first, int last);
// Every task of the scan: the data's chunks and the replicates'.
ChunkCounts count_chunks(const ScanFolder& folder, const Plan& plan);
// The markers of task k, and of every task of the scan.
long task_markers(const Plan& plan, int k);
long all_task_markers(const ScanFolder& folder, const Plan& plan);

// "1-3,7,9-10" for sorted chunk numbers.
std::string number_ranges(const std::vector<int>& numbers);

// Done, failed (with how each ended and its first stderr line) and pending
// chunks, and the first markers of done chunks that failed.
std::string status_text(const ScanFolder& folder, const Plan& plan);

}  // namespace bravik::scan

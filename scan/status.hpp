#pragma once
// The state of every chunk of a scan, for people and for the driver.
#include <string>
#include <vector>

#include "scan/layout.hpp"
#include "scan/plan.hpp"

namespace bravik::scan {

struct ChunkCounts {
  std::vector<int> done, failed, pending;
  long markers_done = 0;
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

// Done, failed (with how each ended and its first stderr line) and pending chunks.
std::string status_text(const ScanFolder& folder, const Plan& plan);

}  // namespace bravik::scan

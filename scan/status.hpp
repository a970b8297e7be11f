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
  std::vector<std::string> failed_markers;  // of done chunks, "marker N: reason"
};
ChunkCounts count_chunks(const ScanFolder& folder, const Plan& plan);

// "1-3,7,9-10" for sorted chunk numbers.
std::string number_ranges(const std::vector<int>& numbers);

// Done, failed (with how each ended and its first stderr line) and pending
// chunks, and the first markers of done chunks that failed.
std::string status_text(const ScanFolder& folder, const Plan& plan);

}  // namespace bravik::scan

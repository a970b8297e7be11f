#include "scan/status.hpp"

#include <algorithm>
#include <sstream>

#include "scan/task.hpp"

namespace bravik::scan {

ChunkCounts count_chunks(const ScanFolder& folder, const Plan& plan) {
  ChunkCounts counts;
  for (const Chunk& c : plan.chunks) {
    switch (folder.state(c.number)) {
      case ChunkState::done:
        counts.done.push_back(c.number);
        counts.markers_done += c.size();
        for (std::string& line : failed_markers_of(folder, c.number)) counts.failed_markers.push_back(std::move(line));
        break;
      case ChunkState::failed: counts.failed.push_back(c.number); break;
      case ChunkState::pending: counts.pending.push_back(c.number); break;
    }
  }
  return counts;
}

std::string number_ranges(const std::vector<int>& numbers) {
  std::string text;
  for (std::size_t i = 0; i < numbers.size();) {
    std::size_t j = i;
    while (j + 1 < numbers.size() && numbers[j + 1] == numbers[j] + 1) ++j;
    if (!text.empty()) text += ',';
    text += std::to_string(numbers[i]);
    if (j > i) text += '-' + std::to_string(numbers[j]);
    i = j + 1;
  }
  return text;
}

std::string status_text(const ScanFolder& folder, const Plan& plan) {
  const ChunkCounts counts = count_chunks(folder, plan);
  std::ostringstream out;
  out << "chunks " << plan.chunks.size() << ", markers " << plan.markers << '\n';
  out << "done " << counts.done.size() << " (" << counts.markers_done << " markers)"
      << (counts.done.empty() ? "" : ": " + number_ranges(counts.done)) << '\n';
  out << "failed " << counts.failed.size() << (counts.failed.empty() ? "" : ": " + number_ranges(counts.failed))
      << '\n';
  for (const int k : counts.failed) {
    const ChunkFailure failure = read_failure(folder, k);
    out << "  chunk " << k << ": " << failure.ending << ": " << failure.first_error_line << '\n';
  }
  out << "pending " << counts.pending.size() << (counts.pending.empty() ? "" : ": " + number_ranges(counts.pending))
      << '\n';
  if (counts.failed_markers.empty()) return out.str();
  constexpr std::size_t shown = 5;
  out << "markers failed " << counts.failed_markers.size() << " (in done chunks; their rows of results.tsv say why)\n";
  for (std::size_t i = 0; i < std::min(shown, counts.failed_markers.size()); ++i)
    out << "  " << counts.failed_markers[i] << '\n';
  if (counts.failed_markers.size() > shown) out << "  ...\n";
  return out.str();
}

}  // namespace bravik::scan

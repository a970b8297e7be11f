#include "scan/status.hpp"

#include <algorithm>
#include <sstream>

#include "scan/process.hpp"
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

namespace {

// "running 2 (130 of 1000 markers done in them): chunk 3 on host 130 of 500, ..."
// from the records of live tasks of chunks not done.
std::string running_text(const ScanFolder& folder, const Plan& plan) {
  std::string chunks;
  long done = 0, markers = 0;
  int count = 0;
  for (const RunningChunk& r : running_chunks(folder)) {
    if (r.chunk > static_cast<int>(plan.chunks.size()) || folder.state(r.chunk) == ChunkState::done ||
        process_gone(r.host, r.pid))
      continue;
    const long size = plan.chunk(r.chunk).size();
    done += r.markers_done;
    markers += size;
    ++count;
    chunks += std::string(chunks.empty() ? "" : ", ") + "chunk " + std::to_string(r.chunk) + " on " + r.host + " " +
              std::to_string(r.markers_done) + " of " + std::to_string(size);
  }
  if (count == 0) return "";
  return "running " + std::to_string(count) + " (" + std::to_string(done) + " of " + std::to_string(markers) +
         " markers done in them): " + chunks + '\n';
}

}  // namespace

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
  out << running_text(folder, plan);
  if (counts.failed_markers.empty()) return out.str();
  constexpr std::size_t shown = 5;
  out << "markers failed " << counts.failed_markers.size() << " (in done chunks; their rows of results.tsv say why)\n";
  for (std::size_t i = 0; i < std::min(shown, counts.failed_markers.size()); ++i)
    out << "  " << counts.failed_markers[i] << '\n';
  if (counts.failed_markers.size() > shown) out << "  ...\n";
  return out.str();
}

}  // namespace bravik::scan

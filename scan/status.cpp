#include "scan/status.hpp"

#include <algorithm>
#include <fstream>
#include <sstream>

#include "scan/process.hpp"
#include "scan/simulation.hpp"

namespace bravik::scan {

ChunkCounts count_tasks(const ScanFolder& folder, const Plan& plan, int first, int last) {
  ChunkCounts counts;
  for (int k = first; k <= last; ++k) {
    switch (folder.state(k)) {
      case ChunkState::done:
        counts.done.push_back(k);
        counts.markers_done += task_markers(plan, k);
        for (std::string& line : failed_markers_of(folder, k)) counts.failed_markers.push_back(std::move(line));
        break;
      case ChunkState::failed: counts.failed.push_back(k); break;
      case ChunkState::pending: counts.pending.push_back(k); break;
    }
  }
  return counts;
}

ChunkCounts count_chunks(const ScanFolder& folder, const Plan& plan) {
  return count_tasks(folder, plan, 1, task_count(plan, read_simulation(folder)));
}

long task_markers(const Plan& plan, int k) {
  return plan.chunks[static_cast<std::size_t>(k - 1) % plan.chunks.size()].size();
}

long all_task_markers(const ScanFolder& folder, const Plan& plan) {
  const std::optional<Simulation> simulation = read_simulation(folder);
  return plan.markers * (1 + (simulation ? simulation->replicates : 0));
}

std::vector<std::string> failed_markers_of(const ScanFolder& folder, int k) {
  const fs::path path = folder.chunk(k) / failed_markers_name;
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string failed_markers_summary(const ScanFolder& folder, int k) {
  const std::vector<std::string> lines = failed_markers_of(folder, k);
  if (lines.empty()) return "";
  return "chunk " + std::to_string(k) + ": " + std::to_string(lines.size()) + " markers failed, the first " +
         lines.front();
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

// The replicate tasks' line: how many of them are done, failed and pending.
std::string replicate_status_text(const ScanFolder& folder, const Plan& plan) {
  const std::optional<Simulation> simulation = read_simulation(folder);
  if (!simulation) return "";
  const int first = task_number(plan, {1, 1});
  const int last = task_count(plan, simulation);
  const ChunkCounts counts = count_tasks(folder, plan, first, last);
  std::ostringstream out;
  out << "replicates " << simulation->replicates << " (" << mode_name(simulation->mode) << " mode, seed "
      << simulation->seed << "): tasks " << first << "-" << last << ", done " << counts.done.size() << ", failed "
      << counts.failed.size() << (counts.failed.empty() ? "" : " (" + number_ranges(counts.failed) + ")") << ", pending "
      << counts.pending.size() << '\n';
  for (const int k : counts.failed) {
    const ChunkFailure failure = read_failure(folder, k);
    const TaskRef ref = task_ref(plan, simulation, k);
    out << "  task " << k << " (replicate " << ref.replicate << ", chunk " << ref.chunk << "): " << failure.ending
        << ": " << failure.first_error_line << '\n';
  }
  return out.str();
}

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
  const ChunkCounts counts = count_tasks(folder, plan, 1, static_cast<int>(plan.chunks.size()));
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
  constexpr std::size_t shown = 5;
  if (!counts.failed_markers.empty())
    out << "markers failed " << counts.failed_markers.size() << " (in done chunks; their rows of results.tsv say why)\n";
  for (std::size_t i = 0; i < std::min(shown, counts.failed_markers.size()); ++i)
    out << "  " << counts.failed_markers[i] << '\n';
  if (counts.failed_markers.size() > shown) out << "  ...\n";
  return out.str() + replicate_status_text(folder, plan);
}

}  // namespace bravik::scan

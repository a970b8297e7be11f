#include "scan/status.hpp"

#include <sstream>

#include "scan/simulation.hpp"

namespace bravik::scan {

ChunkCounts count_tasks(const ScanFolder& folder, const Plan& plan, int first, int last) {
  ChunkCounts counts;
  for (int k = first; k <= last; ++k) {
    switch (folder.state(k)) {
      case ChunkState::done:
        counts.done.push_back(k);
        counts.markers_done += task_markers(plan, k);
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
  return out.str() + replicate_status_text(folder, plan);
}

}  // namespace bravik::scan

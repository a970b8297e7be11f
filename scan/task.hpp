#pragma once
// One chunk of a scan, from its inputs to its results in the scan folder: the
// unit that `run` starts for each chunk and a cluster array task runs alone.
#include <filesystem>
#include <string>
#include <vector>

#include "scan/chunk_setup.hpp"
#include "scan/layout.hpp"
#include "scan/mode.hpp"
#include "scan/plan.hpp"

namespace bravik::scan {

struct TaskOptions {
  AnalysisMode mode = AnalysisMode::robust;
  std::filesystem::path scratch;  // empty: $TMPDIR, else /tmp
};

// Sets BRAVIK_THREADS from SLURM_CPUS_PER_TASK when the scheduler gave one.
void use_cluster_cores();

enum class TaskOutcome { done, markers_failed, already_done, failed };

// Thrown when SIGINT or SIGTERM stopped the task, after its scratch folder
// and running record are gone; the chunk stays to do.
struct TaskStopped {
  int signal = 0;
};

// Runs task k (a chunk of the data or of a replicate, which runs in the
// simulation's mode) unless it is done, after claiming the scan's mode
// (mode.hpp). On status 0 its results, its mode and the markers that failed are moved
// into the scan folder in one rename and any earlier failure record is
// removed; any failure (set-up, start, program, moving the results) is
// recorded. SIGINT and SIGTERM stop the program and the task (TaskStopped).
TaskOutcome run_task(const ScanFolder& folder, int k, const TaskOptions& options);

// Who carries the major gene: runs the maximizing program in its robust mode
// on marker `marker` of the scan alone, in a scratch folder, and copies the
// posterior table it writes (at the null maximum, or with `at_alternative` at
// the marker's alternative maximum) to `to`. Throws InputError when the
// program fails or leaves no table (a marker it skips).
void write_posteriors(const ScanFolder& folder, long marker, bool at_alternative, const std::filesystem::path& to,
                      const TaskOptions& options);

}  // namespace bravik::scan

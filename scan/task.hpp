#pragma once
// One chunk of a scan, from its inputs to its results in the scan folder: the
// unit that `run` starts for each chunk and a cluster array task runs alone.
#include <filesystem>
#include <string>

#include "scan/layout.hpp"
#include "scan/mode.hpp"
#include "scan/plan.hpp"

namespace bravik::scan {

struct TaskOptions {
  AnalysisMode mode = AnalysisMode::robust;
  std::filesystem::path scratch;  // empty: $TMPDIR, else /tmp
};

// The program and its arguments for a mode, from the folder of the scan's own executable.
std::filesystem::path analysis_program(AnalysisMode mode);
std::vector<std::string> analysis_arguments(AnalysisMode mode);

// Copies the files of OUT/input into `dir`.
void copy_shared_inputs(const ScanFolder& folder, const std::filesystem::path& dir);

// Writes chunk k's run folder into `dir` (which exists): the shared inputs,
// the marker file of its markers with every Mendelian inconsistency set
// untyped in its nuclear family, and mendel.tsv (per marker of the chunk: the
// nuclear families set untyped and the persons typed after).
void set_up_chunk(const ScanFolder& folder, const Plan& plan, const Chunk& chunk, const std::filesystem::path& dir);

// Sets BRAVIK_THREADS from SLURM_CPUS_PER_TASK when the scheduler gave one.
void use_cluster_cores();

// The markers of a done chunk whose log-likelihood is not finite, one line
// each ("marker N: reason"), in the chunk's markers_failed.txt.
inline constexpr const char* failed_markers_name = "markers_failed.txt";
std::vector<std::string> failed_markers_of(const ScanFolder& folder, int k);
// "chunk K: N markers failed, the first marker M: reason"; "" when none did.
std::string failed_markers_summary(const ScanFolder& folder, int k);

enum class TaskOutcome { done, markers_failed, already_done, failed };

// Thrown when SIGINT or SIGTERM stopped the task, after its scratch folder
// and running record are gone; the chunk stays to do.
struct TaskStopped {
  int signal = 0;
};

// Runs chunk k unless it is done, after claiming the scan's mode (mode.hpp).
// On status 0 its results, its mode and the markers that failed are moved
// into the scan folder in one rename and any earlier failure record is
// removed; any failure (set-up, start, program, moving the results) is
// recorded. SIGINT and SIGTERM stop the program and the task (TaskStopped).
TaskOutcome run_task(const ScanFolder& folder, int k, const TaskOptions& options);

}  // namespace bravik::scan

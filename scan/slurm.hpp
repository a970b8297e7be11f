#pragma once
// A scan on a SLURM cluster: `bravik_scan slurm` writes the job scripts of the
// chunks still to do into OUT/slurm and submits them when asked, recording the
// job ids in OUT/slurm/jobs.tsv; `status` adds what the last submission left.
//
//   OUT/slurm/scan.sbatch, merge.sbatch   the job scripts (see slurm_scripts.hpp)
//   OUT/slurm/jobs.tsv                    one line per submitted job:
//                                         "array<TAB>ID<TAB>CHUNKS" or "merge<TAB>ID"
//   OUT/slurm/scan_A_K.out, .err          what array task K of job A wrote
//   OUT/slurm/merge_J.out                 what merge job J wrote
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "scan/layout.hpp"
#include "scan/plan.hpp"

namespace bravik::scan {

struct Submission {
  std::string array_id;
  std::string chunks;  // the array's range, as in --array
  std::string merge_id;
};

// The last submission recorded in OUT/slurm/jobs.tsv, if any.
std::optional<Submission> last_submission(const ScanFolder& folder);

// Chunks of the last submission that are not done, with what their array
// task left on standard error; empty when nothing was submitted.
std::string submission_status_text(const ScanFolder& folder, const Plan& plan);

int slurm_command(const std::vector<std::string>& args);

}  // namespace bravik::scan

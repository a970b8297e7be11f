#pragma once
// The two job scripts that run a scan on a SLURM cluster: an array job with one
// task per chunk still to do, and a merge job that follows the whole array.
// Both are plain bash with #SBATCH lines, meant to be read and edited.
#include <filesystem>
#include <string>
#include <vector>

namespace bravik::scan {

struct SlurmJob {
  std::filesystem::path scan_program;       // absolute path of bravik_scan
  std::filesystem::path folder;             // absolute path of the scan folder
  std::vector<int> chunks;                  // chunks the array runs, ascending
  int total_chunks = 0;                     // chunks in the plan, for the scripts' comment
  std::string mode;                         // "", "--classic" or "--fixed", passed to each task
  int max_running = 0;                      // tasks at once; 0: as many as SLURM allows
  std::vector<std::string> sbatch_options;  // the user's, written into both scripts as given
};

// "1-3,5,7-8" for chunks 1 2 3 5 7 8, then "%M" when at most M run at once.
std::string array_range(const std::vector<int>& chunks, int max_running);

// The user's sbatch options as #SBATCH lines: an argument starting with '-'
// begins a line, the arguments after it (an option's value) join that line.
// Throws InputError for an argument that no #SBATCH line can hold.
std::vector<std::string> sbatch_lines(const std::vector<std::string>& options);

std::string array_script(const SlurmJob& job);
std::string merge_script(const SlurmJob& job);

// Text quoted for bash: unchanged when it needs no quotes, else in single quotes.
std::string shell_quoted(const std::string& text);

}  // namespace bravik::scan

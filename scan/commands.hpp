#pragma once
// The commands of bravik_scan, each with its usage beside its options.
// Each returns the exit status; bad input throws InputError (status 2).
#include <string>
#include <vector>

namespace bravik::scan {

inline constexpr int exit_chunks_failed = 1;  // some chunk failed; the others' results are in place
inline constexpr int exit_bad_input = 2;

int chunk_number(const std::string& text);

int prepare_command(const std::vector<std::string>& args);
int task_command(const std::vector<std::string>& args);
int run_command(const std::vector<std::string>& args);
int status_command(const std::vector<std::string>& args);
int merge_command(const std::vector<std::string>& args);
int posteriors_command(const std::vector<std::string>& args);

}  // namespace bravik::scan

#pragma once
// The analysis mode of a scan. One scan's LODs come from one mode: the first
// `run`, `task` or `slurm` records it in OUT/mode.txt (mode_claim.hpp), each
// chunk keeps the mode it was done in (OUT/chunks/K/mode.txt), and `merge`
// refuses chunks of another mode.
#include <optional>
#include <string>
#include <string_view>

#include "scan/layout.hpp"
#include "scan/plan.hpp"

namespace bravik::scan {

// robust: the maximizing program in its robust mode; classic: the same
// program without it; fixed: the program that evaluates at par.inp's values.
enum class AnalysisMode { robust, classic, fixed };

inline constexpr const char* mode_file_name = "mode.txt";

std::string mode_name(AnalysisMode mode);  // "robust", "classic", "fixed"
std::string mode_option(AnalysisMode mode);  // "", "--classic", "--fixed"
// The mode a file records; empty when the file does not exist. Throws
// InputError naming the file and its text when it names no mode.
std::optional<AnalysisMode> read_mode(const fs::path& path);
void write_mode(const fs::path& path, AnalysisMode mode);

}  // namespace bravik::scan

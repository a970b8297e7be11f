#include "scan/slurm_scripts.hpp"

#include <algorithm>
#include <cctype>
#include <sstream>
#include <string_view>

#include "pedfile/input_error.hpp"
#include "scan/status.hpp"

namespace bravik::scan {

namespace {

bool has_space(const std::string& text) {
  return std::any_of(text.begin(), text.end(), [](unsigned char c) { return c == ' ' || c == '\t'; });
}

// One word of an #SBATCH line: sbatch splits those lines at blanks unless the
// word is in double quotes.
std::string sbatch_word(const std::string& text) {
  if (text.find_first_of("\n\r") != std::string::npos || (has_space(text) && text.find('"') != std::string::npos)) {
    throw tools::InputError("sbatch option '" + text + "' cannot be written on an #SBATCH line");
  }
  return has_space(text) ? '"' + text + '"' : text;
}

// A path in a SLURM file name pattern, where '%' starts a replacement.
std::string pattern_path(const std::filesystem::path& path) {
  std::string escaped;
  for (const char c : path.string()) {
    escaped += c;
    if (c == '%') escaped += '%';
  }
  return escaped;
}

std::string user_option_lines(const SlurmJob& job) {
  if (job.sbatch_options.empty()) return "";
  std::string lines = "# Options given to bravik_scan slurm after --:\n";
  for (const std::string& line : sbatch_lines(job.sbatch_options)) lines += "#SBATCH " + line + "\n";
  return lines;
}

std::string log_option(const std::string& option, const SlurmJob& job, const std::string& file_pattern) {
  return "#SBATCH " + sbatch_word(option + "=" + pattern_path(job.folder / "slurm") + "/" + file_pattern) + "\n";
}

std::string scan_command(const SlurmJob& job, const char* subcommand) {
  return shell_quoted(job.scan_program.string()) + " " + subcommand + " " + shell_quoted(job.folder.string());
}

}  // namespace

std::string array_range(const std::vector<int>& chunks, int max_running) {
  return number_ranges(chunks) + (max_running > 0 ? "%" + std::to_string(max_running) : "");
}

std::vector<std::string> sbatch_lines(const std::vector<std::string>& options) {
  std::vector<std::string> lines;
  for (const std::string& option : options) {
    const std::string word = sbatch_word(option);
    if (option.rfind('-', 0) == 0 || lines.empty()) {
      lines.push_back(word);
    } else {
      lines.back() += ' ' + word;
    }
  }
  return lines;
}

std::string shell_quoted(const std::string& text) {
  const bool plain = !text.empty() && std::all_of(text.begin(), text.end(), [](unsigned char c) {
    return std::isalnum(c) || std::string_view("/._-+,:=@").find(static_cast<char>(c)) != std::string_view::npos;
  });
  if (plain) return text;
  std::string quoted = "'";
  for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string array_script(const SlurmJob& job) {
  std::ostringstream s;
  s << "#!/bin/bash\n"
    << "# Chunks of the scan in " << job.folder.string() << ", one array task each: "
    << job.chunks.size() << " of the plan's " << job.total_chunks << " chunks were left to do.\n"
    << "# Task k runs chunk k. A chunk's results reach the scan folder only when its\n"
    << "# program ends well, so a task stopped early leaves its chunk to do.\n"
    << "#SBATCH --job-name=bravik_scan\n"
    << "#SBATCH --array=" << array_range(job.chunks, job.max_running) << "\n"
    << log_option("--output", job, "scan_%A_%a.out") << log_option("--error", job, "scan_%A_%a.err")
    << user_option_lines(job) << "set -euo pipefail\n"
    << "# The task's cores (--cpus-per-task) are its analysis program's threads.\n"
    << "exec " << scan_command(job, "task") << " \"$SLURM_ARRAY_TASK_ID\"" << (job.mode.empty() ? "" : " ")
    << job.mode << "\n";
  return s.str();
}

std::string merge_script(const SlurmJob& job) {
  std::ostringstream s;
  s << "#!/bin/bash\n"
    << "# Merge of the scan in " << job.folder.string() << ", submitted to start once its array\n"
    << "# job has ended whatever the tasks' outcome (--dependency=afterany:ARRAY_JOB_ID).\n"
    << "# Writes results.tsv and results.svg, then lists the chunks that failed.\n"
    << "#SBATCH --job-name=bravik_merge\n"
    << log_option("--output", job, "merge_%j.out") << user_option_lines(job) << "set -euo pipefail\n"
    << scan_command(job, "merge") << "\n"
    << "exec " << scan_command(job, "status") << "\n";
  return s.str();
}

}  // namespace bravik::scan

#include "scan/slurm.hpp"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>

#include "pedfile/command_line.hpp"
#include "pedfile/input_error.hpp"
#include "scan/mode_options.hpp"
#include "scan/process.hpp"
#include "scan/slurm_scripts.hpp"
#include "scan/status.hpp"
#include "scan/task.hpp"

namespace bravik::scan {
namespace {

fs::path slurm_folder(const ScanFolder& folder) { return folder.root / "slurm"; }
fs::path jobs_file(const ScanFolder& folder) { return slurm_folder(folder) / "jobs.tsv"; }

std::string read_text(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string first_line(const std::string& text) { return text.substr(0, text.find('\n')); }

// The first folder of PATH holding an executable of that name.
std::optional<fs::path> find_in_path(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::istringstream folders(path != nullptr ? path : "");
  std::string folder;
  while (std::getline(folders, folder, ':')) {
    const fs::path candidate = fs::path(folder.empty() ? "." : folder) / name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return std::nullopt;
}

struct Captured {
  ProcessEnd end;
  std::string out, err;
};

// Runs a SLURM command found in PATH, its output gathered in files of `folder`;
// nothing when the command is not installed.
std::optional<Captured> run_slurm_command(const std::string& name, const std::vector<std::string>& arguments,
                                          const fs::path& folder) {
  const std::optional<fs::path> program = find_in_path(name);
  if (!program) return std::nullopt;
  const std::string stem = "." + name + "." + std::to_string(getpid());
  const Command command{*program, arguments, folder, folder / (stem + ".out"), folder / (stem + ".err")};
  Captured captured{wait_for(start(command)), "", ""};
  captured.out = read_text(command.out);
  captured.err = read_text(command.err);
  std::error_code ec;
  fs::remove(command.out, ec);
  fs::remove(command.err, ec);
  return captured;
}

// Submits a script and returns its job id (what `sbatch --parsable` prints
// before an optional ";cluster").
std::string submit(const fs::path& script, const std::vector<std::string>& extra) {
  std::vector<std::string> arguments{"--parsable"};
  arguments.insert(arguments.end(), extra.begin(), extra.end());
  arguments.push_back(script.string());
  const std::optional<Captured> sbatch = run_slurm_command("sbatch", arguments, script.parent_path());
  if (!sbatch) throw tools::InputError("sbatch is not installed here: cannot submit " + script.string());
  const std::string id = first_line(sbatch->out).substr(0, first_line(sbatch->out).find(';'));
  const bool numeric = !id.empty() && std::all_of(id.begin(), id.end(), [](unsigned char c) { return std::isdigit(c); });
  if (!sbatch->end.succeeded() || !numeric)
    throw tools::InputError("sbatch " + script.string() + " failed (" + sbatch->end.text() + "): " +
                            first_line(sbatch->err.empty() ? sbatch->out : sbatch->err));
  return id;
}

// Task ids of a job that SLURM still lists as queued or running; nothing when
// squeue cannot tell.
std::optional<std::vector<std::string>> listed_tasks(const ScanFolder& folder, const std::string& job_id) {
  const std::optional<Captured> squeue =
      run_slurm_command("squeue", {"--noheader", "--array", "--jobs=" + job_id, "--format=%i %T"}, slurm_folder(folder));
  if (!squeue || !squeue->end.succeeded()) return std::nullopt;
  std::vector<std::string> tasks;
  std::istringstream lines(squeue->out);
  std::string line;
  while (std::getline(lines, line))
    if (!line.empty()) tasks.push_back(line);
  return tasks;
}

// Refuses to submit while the last array of this scan is still queued or
// running: its chunks would run twice.
void refuse_if_still_queued(const ScanFolder& folder) {
  const std::optional<Submission> last = last_submission(folder);
  if (!last) return;
  const auto tasks = listed_tasks(folder, last->array_id);
  if (tasks && !tasks->empty())
    throw tools::InputError("array job " + last->array_id + " of this scan still has " +
                            std::to_string(tasks->size()) + " task(s) queued or running; wait for it or cancel it (scancel " +
                            last->array_id + ")");
}

void write_script(const fs::path& path, const std::string& text) {
  write_file_atomically(path, text);
  fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                            fs::perms::others_read | fs::perms::others_exec);
}

std::string mode_option(AnalysisMode mode) {
  switch (mode) {
    case AnalysisMode::classic: return "--classic";
    case AnalysisMode::fixed: return "--fixed";
    case AnalysisMode::robust: break;
  }
  return "";
}

struct SlurmSettings {
  AnalysisMode mode = AnalysisMode::robust;
  int max_running = 0;
  bool submit = false;
};

tools::CommandLine slurm_command_line(SlurmSettings& s) {
  tools::CommandLine cl(
      "bravik_scan slurm", "[options] OUT [-- SBATCH_OPTIONS...]",
      "Writes OUT/slurm/scan.sbatch, a SLURM array job with one task per chunk not done yet (task K\n"
      "runs `bravik_scan task OUT K`), and OUT/slurm/merge.sbatch, which merges the results and lists\n"
      "failed chunks once the array has ended. The options after -- (partition, account, time,\n"
      "memory, cores per task) go into both scripts as #SBATCH lines. Without --submit, prints the\n"
      "command that submits them.");
  add_mode_options(cl, s.mode);
  cl.option("--max-running", "M", "at most M array tasks run at once (the array's %M)",
            [&s](std::string_view v) { s.max_running = tools::parse_int(v, "max running", 1, 1'000'000); });
  cl.option("--submit", "", "submit both jobs with sbatch, the merge to start after the array (afterany)",
            [&s](std::string_view) { s.submit = true; });
  return cl;
}

std::vector<int> chunks_to_do(const ScanFolder& folder, const Plan& plan) {
  const ChunkCounts counts = count_chunks(folder, plan);
  std::vector<int> to_do = counts.failed;
  to_do.insert(to_do.end(), counts.pending.begin(), counts.pending.end());
  std::sort(to_do.begin(), to_do.end());
  return to_do;
}

void record_job(const ScanFolder& folder, const std::string& line) {
  std::ofstream out(jobs_file(folder), std::ios::app);
  out << line << '\n';
  out.close();
  if (!out) throw tools::InputError(jobs_file(folder).string() + ": cannot record the submitted job: " + line);
}

void submit_jobs(const ScanFolder& folder, const SlurmJob& job) {
  const std::string array_id = submit(slurm_folder(folder) / "scan.sbatch", {});
  record_job(folder, "array\t" + array_id + "\t" + array_range(job.chunks, job.max_running));
  const std::string merge_id = submit(slurm_folder(folder) / "merge.sbatch", {"--dependency=afterany:" + array_id});
  record_job(folder, "merge\t" + merge_id);
  std::cout << "array job " << array_id << ": chunks " << array_range(job.chunks, job.max_running) << '\n'
            << "merge job " << merge_id << ": after the array\n";
}

void print_submit_command(const ScanFolder& folder) {
  const std::string scripts = shell_quoted(slurm_folder(folder).string());
  std::cout << "submit with:\n  jid=$(sbatch --parsable " << scripts << "/scan.sbatch) && sbatch --dependency=afterany:$jid "
            << scripts << "/merge.sbatch\n";
}

}  // namespace

std::optional<Submission> last_submission(const ScanFolder& folder) {
  std::ifstream in(jobs_file(folder));
  std::optional<Submission> last;
  std::string kind, id, chunks;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    fields >> kind >> id >> chunks;
    if (kind == "array") last = Submission{id, chunks, ""};
    if (kind == "merge" && last) last->merge_id = id;
  }
  return last;
}

std::string submission_status_text(const ScanFolder& folder, const Plan& plan) {
  const std::optional<Submission> last = last_submission(folder);
  if (!last) return "";
  std::ostringstream out;
  out << "last submission: array job " << last->array_id << " (chunks " << last->chunks << ")";
  if (!last->merge_id.empty()) out << ", merge job " << last->merge_id;
  out << '\n';
  if (const auto tasks = listed_tasks(folder, last->array_id)) out << "  queued or running: " << tasks->size() << '\n';
  for (const Chunk& chunk : plan.chunks) {
    if (folder.state(chunk.number) == ChunkState::done) continue;
    const fs::path err = slurm_folder(folder) / ("scan_" + last->array_id + "_" + std::to_string(chunk.number) + ".err");
    const std::string first = first_line(read_text(err));
    if (!first.empty()) out << "  chunk " << chunk.number << ", task " << err.filename().string() << ": " << first << '\n';
  }
  return out.str();
}

int slurm_command(const std::vector<std::string>& args) {
  const auto dashes = std::find(args.begin(), args.end(), "--");
  SlurmSettings settings;
  tools::CommandLine cl = slurm_command_line(settings);
  const std::vector<std::string> positional = cl.parse(std::vector<std::string>(args.begin(), dashes));
  if (cl.help_requested()) {
    std::cout << cl.usage();
    return 0;
  }
  if (positional.size() != 1) throw tools::InputError("expected the scan folder OUT\n" + cl.usage());
  fs::path root = fs::absolute(positional[0]).lexically_normal();
  if (!root.has_filename()) root = root.parent_path();  // "OUT/" names OUT
  const ScanFolder folder{root};
  const Plan plan = read_plan(folder.plan().string());
  SlurmJob job{own_folder() / "bravik_scan", folder.root, chunks_to_do(folder, plan),
               static_cast<int>(plan.chunks.size()), mode_option(settings.mode), settings.max_running,
               std::vector<std::string>(dashes == args.end() ? dashes : dashes + 1, args.end())};
  if (job.chunks.empty()) {
    std::cout << "all " << plan.chunks.size() << " chunks are done: nothing to submit (bravik_scan merge "
              << folder.root.string() << " writes the results)\n";
    return 0;
  }
  if (settings.submit) refuse_if_still_queued(folder);
  fs::create_directories(slurm_folder(folder));
  write_script(slurm_folder(folder) / "scan.sbatch", array_script(job));
  write_script(slurm_folder(folder) / "merge.sbatch", merge_script(job));
  std::cout << "wrote " << (slurm_folder(folder) / "scan.sbatch").string() << " (" << job.chunks.size() << " of "
            << plan.chunks.size() << " chunks: " << array_range(job.chunks, job.max_running) << ") and merge.sbatch\n";
  if (settings.submit) submit_jobs(folder, job);
  else print_submit_command(folder);
  return 0;
}

}  // namespace bravik::scan

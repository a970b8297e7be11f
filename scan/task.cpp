#include "scan/task.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "pedfile/input_error.hpp"
#include "pedfile/mendel.hpp"
#include "pedfile/run_folder.hpp"
#include "pedfile/structure.hpp"
#include "scan/file_record.hpp"
#include "scan/marker_table.hpp"
#include "scan/merge.hpp"
#include "scan/mode_claim.hpp"
#include "scan/packed_genotypes.hpp"
#include "scan/process.hpp"
#include "scan/simulation.hpp"
#include "scan/status.hpp"

namespace bravik::scan {
namespace {

// The files of a finished chunk that are kept; the marker file is not. A
// replicate keeps its chromosomes' maxima only, besides what the program said.
const std::vector<std::string> kept_results = {"lod.out",    "est.out",    "sigma.DAT",    "stdout.txt",
                                               "stderr.txt", "mendel.tsv", "timing.txt",   mode_file_name,
                                               failed_markers_name, "lod_theta.tsv", "se.tsv"};
const std::vector<std::string> kept_replicate_results = {"maxima.tsv", "stderr.txt", "timing.txt", mode_file_name};

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// "bravik-chunk-K-": the start of the names of chunk K's scratch folders.
std::string scratch_prefix(int k) { return "bravik-chunk-" + std::to_string(k) + "-"; }
const char* const owner_file = "owner";  // "HOST PID" of the task that made the folder

// A folder of its own under the scratch base, with its owner named in it,
// removed with the object.
class ScratchFolder {
 public:
  ScratchFolder(const fs::path& base, int k) {
    std::string pattern = (base / (scratch_prefix(k) + "XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr)
      throw tools::InputError(base.string() + ": cannot make a scratch folder there: " + std::strerror(errno));
    path_ = pattern;
    write_text(path_ / owner_file, host_name() + " " + std::to_string(getpid()) + "\n");
  }
  ~ScratchFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// Removes chunk k's scratch folders whose owner, a task on this host, is
// gone (stopped by SIGKILL or a reboot). Folders of tasks on other hosts, and
// of live tasks, stay.
void remove_stale_scratch(const fs::path& base, int k) {
  const std::string prefix = scratch_prefix(k);
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(base, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.size() != prefix.size() + 6 || name.rfind(prefix, 0) != 0) continue;
    std::istringstream owner(text_of_file(entry.path() / owner_file));
    std::string owner_host;
    long pid = 0;
    if (owner >> owner_host >> pid && process_gone(owner_host, pid)) fs::remove_all(entry.path(), ec);
  }
}

fs::path scratch_base(const TaskOptions& options) {
  if (!options.scratch.empty()) return options.scratch;
  const char* tmpdir = std::getenv("TMPDIR");
  return tmpdir != nullptr && *tmpdir != '\0' ? fs::path(tmpdir) : fs::path("/tmp");
}

std::string first_line_of_text(const std::string& text) { return text.substr(0, text.find('\n')); }

std::string first_line_of(const fs::path& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

void record_failure(const ScanFolder& folder, int k, const std::string& ending, const std::string& first_error) {
  std::error_code ec;
  fs::create_directories(folder.failures(), ec);
  write_file_atomically(folder.failure(k), ending + "\n" + first_error + "\n");
}

// ".K.": the start of the names of chunk K's temporary result folders.
std::string gathering_prefix(int k) {
  std::string prefix(1, '.');
  return prefix.append(std::to_string(k)).append(1, '.');
}

// Removes temporary result folders of chunk k left by an interrupted try.
void remove_leftovers(const ScanFolder& folder, int k) {
  const std::string prefix = gathering_prefix(k);
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder.chunks(), ec))
    if (entry.path().filename().string().rfind(prefix, 0) == 0) fs::remove_all(entry.path(), ec);
}

// Flushes a file or folder to the disk, so that a rename after it never
// exposes a file whose content a power cut lost.
void sync_to_disk(const fs::path& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

// Copies the kept results next to their final place, on the disk, then
// renames them into it. Returns false when another try of the chunk got
// there first.
bool move_results_into_place(const ScanFolder& folder, int k, const fs::path& from, const std::vector<std::string>& kept) {
  const fs::path gathering = folder.chunks() / (gathering_prefix(k) + host_name() + "." + std::to_string(getpid()));
  std::error_code ec;
  fs::create_directories(gathering, ec);
  if (ec) throw tools::InputError(gathering.string() + ": cannot make the folder: " + ec.message());
  for (const std::string& name : kept) {
    if (!fs::exists(from / name)) continue;
    fs::copy_file(from / name, gathering / name, fs::copy_options::overwrite_existing);
    sync_to_disk(gathering / name);
  }
  sync_to_disk(gathering);
  fs::rename(gathering, folder.chunk(k), ec);
  if (!ec) {
    sync_to_disk(folder.chunks());
    return true;
  }
  fs::remove_all(gathering);
  if (folder.state(k) == ChunkState::done) return false;
  throw tools::InputError(folder.chunk(k).string() + ": cannot put the results in place: " + ec.message());
}

// A failure of a step of the task, for its record: what the step was.
class TaskStep : public std::runtime_error {
 public:
  TaskStep(const std::string& step, const std::string& what) : std::runtime_error(what), step_(step) {}
  const std::string& step() const { return step_; }

 private:
  std::string step_;
};

// Sets the chunk up in `dir` and returns the seconds it took.
double timed_set_up(const ScanFolder& folder, const Plan& plan, const Chunk& chunk, const fs::path& dir,
                    const CodeReplacement& replace) {
  const auto start = std::chrono::steady_clock::now();
  try {
    set_up_chunk(folder, plan, chunk, dir, replace);
  } catch (const std::exception& e) {
    throw TaskStep("set-up", e.what());
  }
  return seconds_since(start);
}

}  // namespace

void use_cluster_cores() {
  const char* cores = std::getenv("SLURM_CPUS_PER_TASK");
  if (cores != nullptr && *cores != '\0') setenv("BRAVIK_THREADS", cores, 1);
}

namespace {

// OUT/running/K.HOST.PID while the task runs: the markers its program has
// done ("done N of M"), which the program itself keeps up to date
// (BRAVIK_PROGRESS_FILE). Records of tasks gone are removed by the next try.
class RunningRecord {
 public:
  RunningRecord(const ScanFolder& folder, int k, const Chunk& chunk)
      : path_(folder.running() / running_record_name(k, host_name(), getpid())) {
    remove_stale_running_records(folder, k);
    std::error_code ec;
    fs::create_directories(folder.running(), ec);
    write_text(path_, "done 0 of " + std::to_string(chunk.size()) + "\n");
    setenv("BRAVIK_PROGRESS_FILE", path_.c_str(), 1);
  }
  ~RunningRecord() {
    std::error_code ec;
    fs::remove(path_, ec);
    fs::remove(path_.string() + ".new", ec);
  }
  RunningRecord(const RunningRecord&) = delete;
  RunningRecord& operator=(const RunningRecord&) = delete;

 private:
  static void remove_stale_running_records(const ScanFolder& folder, int k) {
    for (const RunningChunk& r : running_chunks(folder))
      if (r.chunk == k && process_gone(r.host, r.pid)) {
        std::error_code ec;
        fs::remove(r.record, ec);
      }
  }
  fs::path path_;
};

// Ends the task as stopped when SIGINT or SIGTERM came.
void stop_if_signalled() {
  if (StopSignals::received() != 0) throw TaskStopped{StopSignals::received()};
}

// Lists the markers whose log-likelihood is not finite in the results of
// `dir`; returns how many.
std::size_t list_failed_markers(const fs::path& dir, const Chunk& chunk) {
  RunResults run = read_run_results(dir / "lod.out", dir / "est.out", text_of_file(dir / "stderr.txt"), chunk.size());
  name_families(run, dir / "ids.txt");
  const std::vector<std::string> lines = failed_marker_lines(run, chunk.first);
  std::string text;
  for (const std::string& line : lines) text += line + '\n';
  if (!lines.empty()) write_text(dir / failed_markers_name, text);
  return lines.size();
}

// Task k: chunk k of the data, or a chunk of a replicate in the simulation's mode.
TaskOutcome run_chunk(const ScanFolder& folder, const Plan& plan, const std::optional<Simulation>& simulation,
                      int k, TaskRef ref, const TaskOptions& options) {
  const Chunk& chunk = plan.chunk(ref.chunk);
  const bool replicate = ref.replicate > 0;
  const AnalysisMode mode = replicate ? simulation->mode : options.mode;
  remove_leftovers(folder, k);
  remove_stale_scratch(scratch_base(options), k);
  const ScratchFolder scratch(scratch_base(options), k);
  const RunningRecord running(folder, k, chunk);
  const Command command{analysis_program(mode),
                        replicate ? replicate_arguments(folder, *simulation) : data_chunk_arguments(mode, folder), scratch.path(),
                        scratch.path() / "stdout.txt", scratch.path() / "stderr.txt"};
  const double set_up_seconds =
      timed_set_up(folder, plan, chunk, scratch.path(),
                   replicate ? replicate_codes(folder, *simulation, chunk, ref.replicate) : CodeReplacement{});
  stop_if_signalled();
  const auto program_start = std::chrono::steady_clock::now();
  const pid_t program = start(command);
  StopSignals::forward_to(program);
  const ProcessEnd end = wait_for(program);
  StopSignals::forward_to(0);
  stop_if_signalled();
  if (!end.succeeded()) {
    record_failure(folder, k, end.text(), first_line_of(command.err));
    return TaskOutcome::failed;
  }
  write_text(scratch.path() / "timing.txt", "setup_seconds " + std::to_string(set_up_seconds) + "\nprogram_seconds " +
                                                std::to_string(seconds_since(program_start)) +
                                                "\nprogram_cpu_seconds " + std::to_string(end.cpu_seconds) + "\n");
  write_mode(scratch.path() / mode_file_name, mode);
  if (replicate)
    write_text(scratch.path() / "maxima.tsv",
               maxima_text(chunk_maxima(scratch.path() / "lod.out", read_marker_table(folder.markers().string()), chunk)));
  const std::size_t failed_markers = replicate ? 0 : list_failed_markers(scratch.path(), chunk);
  if (!move_results_into_place(folder, k, scratch.path(), replicate ? kept_replicate_results : kept_results))
    return TaskOutcome::already_done;
  std::error_code ec;
  fs::remove(folder.failure(k), ec);
  return failed_markers > 0 ? TaskOutcome::markers_failed : TaskOutcome::done;
}

}  // namespace

TaskOutcome run_task(const ScanFolder& folder, int k, const TaskOptions& options) {
  const Plan plan = read_plan(folder.plan().string());
  const std::optional<Simulation> simulation = read_simulation(folder);
  const TaskRef ref = task_ref(plan, simulation, k);  // refuses a task number beyond the plan's tasks
  claim_mode(folder, plan, options.mode);
  if (folder.state(k) == ChunkState::done) return TaskOutcome::already_done;
  // Whatever stops the chunk (no scratch folder, a full disk while the
  // results move into place) is recorded, so that run and status show it; a
  // stop by a signal is not a failure, the chunk stays to do.
  const StopSignals signals;
  try {
    check_file_records(folder.root, plan.files);
    return run_chunk(folder, plan, simulation, k, ref, options);
  } catch (const TaskStopped&) {
    throw;
  } catch (const TaskStep& e) {
    record_failure(folder, k, e.step(), first_line_of_text(e.what()));
    throw tools::InputError(e.what());
  } catch (const std::exception& e) {
    record_failure(folder, k, "task", first_line_of_text(e.what()));
    throw;
  }
}

void write_posteriors(const ScanFolder& folder, long marker, bool at_alternative, const fs::path& to,
                      const TaskOptions& options) {
  const Plan plan = read_plan(folder.plan().string());
  check_file_records(folder.root, plan.files);
  const Chunk alone{0, marker, marker, "", ""};
  const ScratchFolder scratch(scratch_base(options), 0);
  set_up_chunk(folder, plan, alone, scratch.path(), CodeReplacement{});
  std::vector<std::string> arguments{"--robust", "--posteriors", "posteriors.tsv"};
  if (at_alternative) arguments.insert(arguments.end(), {"--posteriors-marker", "1"});
  const Command command{analysis_program(AnalysisMode::robust), arguments, scratch.path(),
                        scratch.path() / "stdout.txt", scratch.path() / "stderr.txt"};
  const ProcessEnd end = wait_for(start(command));
  if (!end.succeeded())
    throw tools::InputError(command.program.string() + " ended with " + end.text() + ": " + first_line_of(command.err));
  if (!fs::exists(scratch.path() / "posteriors.tsv"))
    throw tools::InputError("marker " + std::to_string(marker) + " was not analysed (untyped, or an allele rarer than "
                            "0.001): no posteriors");
  fs::copy_file(scratch.path() / "posteriors.tsv", to, fs::copy_options::overwrite_existing);
}

}  // namespace bravik::scan

#include "scan/task.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "scan/merge.hpp"
#include "scan/packed_genotypes.hpp"
#include "scan/process.hpp"
#include "tools/pedfile/input_error.hpp"
#include "tools/pedfile/mendel.hpp"
#include "tools/pedfile/run_folder.hpp"
#include "tools/pedfile/structure.hpp"

namespace bravik::scan {
namespace {

// The files of a finished chunk that are kept; the marker file is not.
const char* const kept_results[] = {"lod.out",    "est.out",    "sigma.DAT",  "stdout.txt",        "stderr.txt",
                                    "mendel.tsv", "timing.txt", mode_file_name, failed_markers_name};

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void write_text(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) throw tools::InputError(path.string() + ": cannot write the file");
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

void fill_codes(tools::PedigreeFile& file, const std::vector<std::size_t>& order, const PackedGenotypeBlock& block) {
  for (std::size_t i = 0; i < order.size(); ++i)
    for (int m = 0; m < file.markers; ++m) file.code(order[i], m) = block.code(static_cast<std::size_t>(m), i);
}

std::string mendel_table(const tools::PedigreeFile& file, const std::vector<int>& resets) {
  std::ostringstream out;
  out << "marker\tmendel_reset\ttyped\n";
  for (int m = 0; m < file.markers; ++m) {
    long typed = 0;
    for (std::size_t row = 0; row < file.rows.size(); ++row) typed += file.code(row, m) != 0;
    out << m + 1 << '\t' << resets[static_cast<std::size_t>(m)] << '\t' << typed << '\n';
  }
  return out.str();
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
bool move_results_into_place(const ScanFolder& folder, int k, const fs::path& from) {
  const fs::path gathering = folder.chunks() / (gathering_prefix(k) + host_name() + "." + std::to_string(getpid()));
  std::error_code ec;
  fs::create_directories(gathering, ec);
  if (ec) throw tools::InputError(gathering.string() + ": cannot make the folder: " + ec.message());
  for (const char* name : kept_results) {
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
double timed_set_up(const ScanFolder& folder, const Plan& plan, const Chunk& chunk, const fs::path& dir) {
  const auto start = std::chrono::steady_clock::now();
  try {
    set_up_chunk(folder, plan, chunk, dir);
  } catch (const std::exception& e) {
    throw TaskStep("set-up", e.what());
  }
  return seconds_since(start);
}

}  // namespace

void copy_shared_inputs(const ScanFolder& folder, const fs::path& dir) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder.input(), ec)) {
    if (!entry.is_regular_file()) continue;
    fs::copy_file(entry.path(), dir / entry.path().filename(), fs::copy_options::overwrite_existing, ec);
    if (ec) throw tools::InputError(entry.path().string() + ": cannot copy into " + dir.string() + ": " + ec.message());
  }
  if (ec) throw tools::InputError(folder.input().string() + ": cannot read the shared inputs: " + ec.message());
}

fs::path analysis_program(AnalysisMode mode) {
  return own_folder() / (mode == AnalysisMode::fixed ? "bravik_2point" : "bravik_2point_max");
}

std::vector<std::string> analysis_arguments(AnalysisMode mode) {
  if (mode == AnalysisMode::robust) return {"--robust"};
  return {};
}

void set_up_chunk(const ScanFolder& folder, const Plan& plan, const Chunk& chunk, const fs::path& dir) {
  copy_shared_inputs(folder, dir);
  tools::PedigreeFile file = tools::read_pedigree_file(folder.pedigree().string());
  const tools::PreparedPedigree ped = tools::prepare_structure(file, plan.peeling);
  if (static_cast<long>(ped.persons()) != plan.persons)
    throw tools::InputError(folder.pedigree().string() + ": holds " + std::to_string(ped.persons()) +
                            " persons, the plan " + std::to_string(plan.persons));
  file.markers = static_cast<int>(chunk.size());
  file.codes.assign(file.rows.size() * static_cast<std::size_t>(file.markers), 0);
  const std::vector<std::size_t> order = pedigree_order(ped);
  const PackedGenotypeBlock block(folder.genotypes(), order.size(), static_cast<std::size_t>(plan.markers),
                                  static_cast<std::size_t>(chunk.first - 1), static_cast<std::size_t>(chunk.size()));
  fill_codes(file, order, block);
  std::vector<int> resets;
  tools::check_mendelian(file, ped, true, &resets);
  tools::write_marker_file(dir / "mark.dat", file, ped);
  write_text(dir / "mendel.tsv", mendel_table(file, resets));
}

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
  RunningRecord(const ScanFolder& folder, const Chunk& chunk)
      : path_(folder.running() / running_record_name(chunk.number, host_name(), getpid())) {
    remove_stale_running_records(folder, chunk.number);
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
  RunResults run = read_run_results(dir / "lod.out", dir / "est.out", text_of_file(dir / "stderr.txt"));
  name_families(run, dir / "ids.txt");
  const std::vector<std::string> lines = failed_marker_lines(run, chunk.first);
  std::string text;
  for (const std::string& line : lines) text += line + '\n';
  if (!lines.empty()) write_text(dir / failed_markers_name, text);
  return lines.size();
}

TaskOutcome run_chunk(const ScanFolder& folder, const Plan& plan, const Chunk& chunk, const TaskOptions& options) {
  const int k = chunk.number;
  remove_leftovers(folder, k);
  remove_stale_scratch(scratch_base(options), k);
  const ScratchFolder scratch(scratch_base(options), k);
  const RunningRecord running(folder, chunk);
  const Command command{analysis_program(options.mode), analysis_arguments(options.mode), scratch.path(),
                        scratch.path() / "stdout.txt", scratch.path() / "stderr.txt"};
  const double set_up_seconds = timed_set_up(folder, plan, chunk, scratch.path());
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
  write_mode(scratch.path() / mode_file_name, options.mode);
  const std::size_t failed_markers = list_failed_markers(scratch.path(), chunk);
  if (!move_results_into_place(folder, k, scratch.path())) return TaskOutcome::already_done;
  std::error_code ec;
  fs::remove(folder.failure(k), ec);
  return failed_markers > 0 ? TaskOutcome::markers_failed : TaskOutcome::done;
}

}  // namespace

std::vector<std::string> failed_markers_of(const ScanFolder& folder, int k) {
  const fs::path path = folder.chunk(k) / failed_markers_name;
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string failed_markers_summary(const ScanFolder& folder, int k) {
  const std::vector<std::string> lines = failed_markers_of(folder, k);
  if (lines.empty()) return "";
  return "chunk " + std::to_string(k) + ": " + std::to_string(lines.size()) + " markers failed, the first " +
         lines.front();
}

TaskOutcome run_task(const ScanFolder& folder, int k, const TaskOptions& options) {
  const Plan plan = read_plan(folder.plan().string());
  const Chunk& chunk = plan.chunk(k);
  claim_mode(folder, plan, options.mode);
  if (folder.state(k) == ChunkState::done) return TaskOutcome::already_done;
  // Whatever stops the chunk (no scratch folder, a full disk while the
  // results move into place) is recorded, so that run and status show it; a
  // stop by a signal is not a failure, the chunk stays to do.
  const StopSignals signals;
  try {
    return run_chunk(folder, plan, chunk, options);
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

}  // namespace bravik::scan

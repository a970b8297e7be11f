#include "scan/task.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "pedfile/input_error.hpp"
#include "pedfile/mendel.hpp"
#include "pedfile/run_folder.hpp"
#include "pedfile/structure.hpp"
#include "results/text_file.hpp"
#include "scan/packed_genotypes.hpp"
#include "scan/process.hpp"

namespace bravik::scan {
namespace {

// The files of a finished chunk that are kept; the marker file is not.
const char* const kept_results[] = {"lod.out",    "est.out",    "sigma.DAT",     "stdout.txt", "stderr.txt",
                                    "mendel.tsv", "timing.txt", "lod_theta.tsv", "se.tsv"};

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A folder of its own under the scratch base, removed with the object.
class ScratchFolder {
 public:
  ScratchFolder(const fs::path& base, int k) {
    std::string pattern = (base / ("bravik-chunk-" + std::to_string(k) + "-XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr)
      throw tools::InputError(base.string() + ": cannot make a scratch folder there");
    path_ = pattern;
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

fs::path scratch_base(const TaskOptions& options) {
  if (!options.scratch.empty()) return options.scratch;
  const char* tmpdir = std::getenv("TMPDIR");
  return tmpdir != nullptr && *tmpdir != '\0' ? fs::path(tmpdir) : fs::path("/tmp");
}

void copy_shared_inputs(const ScanFolder& folder, const fs::path& dir) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder.input(), ec)) {
    if (!entry.is_regular_file()) continue;
    fs::copy_file(entry.path(), dir / entry.path().filename(), fs::copy_options::overwrite_existing, ec);
    if (ec) throw tools::InputError(entry.path().string() + ": cannot copy into " + dir.string() + ": " + ec.message());
  }
  if (ec) throw tools::InputError(folder.input().string() + ": cannot read the shared inputs: " + ec.message());
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

void write_text(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) throw tools::InputError(path.string() + ": cannot write the file");
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
  char host[256] = "host";
  gethostname(host, sizeof host - 1);
  const fs::path gathering = folder.chunks() / (gathering_prefix(k) + host + "." + std::to_string(getpid()));
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

// Sets the chunk up in `dir` and returns the seconds it took; a failure is
// recorded before it is passed on.
double timed_set_up(const ScanFolder& folder, const Plan& plan, const Chunk& chunk, const fs::path& dir) {
  const auto start = std::chrono::steady_clock::now();
  try {
    set_up_chunk(folder, plan, chunk, dir);
  } catch (const tools::InputError& e) {
    record_failure(folder, chunk.number, "set-up", first_line_of_text(e.what()));
    throw;
  }
  return seconds_since(start);
}

}  // namespace

fs::path analysis_program(AnalysisMode mode) {
  return own_folder() / (mode == AnalysisMode::fixed ? "bravik_2point" : "bravik_2point_max");
}

std::vector<std::string> analysis_arguments(AnalysisMode mode, const ScanFolder& folder) {
  if (mode != AnalysisMode::robust) return {};
  std::vector<std::string> arguments{"--robust", "--standard-errors", "se.tsv"};
  if (!fs::exists(folder.theta_grid())) return arguments;
  std::istringstream grid(results::read_text_file(folder.theta_grid().string(), "theta grid"));
  std::string list;
  grid >> list;
  arguments.insert(arguments.end(), {"--theta-grid", list, "--theta-table", "lod_theta.tsv"});
  return arguments;
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

TaskOutcome run_task(const ScanFolder& folder, int k, const TaskOptions& options) {
  const Plan plan = read_plan(folder.plan().string());
  const Chunk& chunk = plan.chunk(k);
  if (folder.state(k) == ChunkState::done) return TaskOutcome::already_done;
  remove_leftovers(folder, k);
  const ScratchFolder scratch(scratch_base(options), k);
  const Command command{analysis_program(options.mode), analysis_arguments(options.mode, folder), scratch.path(),
                        scratch.path() / "stdout.txt", scratch.path() / "stderr.txt"};
  const double set_up_seconds = timed_set_up(folder, plan, chunk, scratch.path());
  const auto program_start = std::chrono::steady_clock::now();
  const ProcessEnd end = wait_for(start(command));
  if (!end.succeeded()) {
    record_failure(folder, k, end.text(), first_line_of(command.err));
    return TaskOutcome::failed;
  }
  write_text(scratch.path() / "timing.txt", "setup_seconds " + std::to_string(set_up_seconds) + "\nprogram_seconds " +
                                                std::to_string(seconds_since(program_start)) +
                                                "\nprogram_cpu_seconds " + std::to_string(end.cpu_seconds) + "\n");
  if (!move_results_into_place(folder, k, scratch.path())) return TaskOutcome::already_done;
  std::error_code ec;
  fs::remove(folder.failure(k), ec);
  return TaskOutcome::done;
}

void write_posteriors(const ScanFolder& folder, long marker, bool at_alternative, const fs::path& to,
                      const TaskOptions& options) {
  const Plan plan = read_plan(folder.plan().string());
  const Chunk alone{0, marker, marker, "", ""};
  const ScratchFolder scratch(scratch_base(options), 0);
  set_up_chunk(folder, plan, alone, scratch.path());
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

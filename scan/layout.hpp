#pragma once
// The folder of a genome-wide scan and the rules that give each chunk's state.
//
//   OUT/plan.txt          the plan (see plan.hpp): the one source of truth about
//                         chunks; written last by `prepare`, so its presence
//                         means the preparation is complete
//   OUT/markers.tsv       the selected markers in genome order, one row each
//                         (chr pos cm id a1 a2 freq typed), row r = marker r
//   OUT/summary.txt       what `prepare` read, kept and dropped
//   OUT/genotypes.bin     the codes of every selected marker: marker after
//                         marker, ceil(persons / 4) bytes each, person i (in
//                         the order of input/IWAY.DAT) in bits 2(i mod 4) and
//                         2(i mod 4)+1 of byte i / 4, codes 0 untyped, 1 = 11,
//                         2 = 12, 3 = 22
//   OUT/pedigree.txt      the persons (pedigree file without markers), from
//                         which each chunk rebuilds the nuclear families for
//                         its Mendelian check
//   OUT/input/            IWAY.DAT, phen.dat, task.inp, par.inp, maxpar.inp,
//                         ids.txt: the inputs every chunk shares
//   OUT/theta_grid.txt    the thetas of the robust mode's LOD over theta
//                         (comma-separated); absent when it is off
//   OUT/chunks/K/         the results of chunk K: lod.out, est.out and
//                         sigma.DAT (as the program wrote them), stdout.txt,
//                         stderr.txt, mendel.tsv (per marker of the chunk:
//                         nuclear families set untyped, persons typed after),
//                         timing.txt (seconds of the set-up and the program,
//                         and the program's processor seconds), mode.txt (the
//                         analysis mode), markers_failed.txt (when a marker's
//                         log-likelihood is not finite: one line each),
//                         lod_theta.tsv (the LOD over theta, in the robust
//                         mode with a grid)
//   OUT/failed/K          the last failure of chunk K: "exit N" or "signal N",
//                         then the first line of the program's standard error
//   OUT/mode.txt          the analysis mode of the scan (mode.hpp), recorded
//                         by its first run, task or slurm
//   OUT/running/K.HOST.PID   while task PID on HOST runs chunk K: "done N of
//                         M", the markers its program has done
//   OUT/run.lock          held (flock) by a running `run`
//   OUT/results.tsv, OUT/results.svg   written by `merge`
//
// Chunk K is
//   done     when OUT/chunks/K exists: a chunk's results are gathered in a
//            temporary folder OUT/chunks/.K.* and renamed to OUT/chunks/K in
//            one step, only after its program ended with status 0;
//   failed   when it is not done and OUT/failed/K exists (written by rename,
//            removed when the chunk succeeds);
//   pending  otherwise (never run, or stopped before its rename: leftover
//            OUT/chunks/.K.* folders are removed by the next try).
// Chunks are numbered from 1. Any number of tasks may run at once on
// different chunks; two tasks of one chunk leave the first result in place.
#include <filesystem>
#include <string>
#include <vector>

namespace bravik::scan {

namespace fs = std::filesystem;

enum class ChunkState { pending, done, failed };

struct ScanFolder {
  fs::path root;

  fs::path plan() const { return root / "plan.txt"; }
  fs::path markers() const { return root / "markers.tsv"; }
  fs::path summary() const { return root / "summary.txt"; }
  fs::path genotypes() const { return root / "genotypes.bin"; }
  fs::path pedigree() const { return root / "pedigree.txt"; }
  fs::path input() const { return root / "input"; }
  fs::path theta_grid() const { return root / "theta_grid.txt"; }
  fs::path chunks() const { return root / "chunks"; }
  fs::path chunk(int k) const { return chunks() / std::to_string(k); }
  fs::path failures() const { return root / "failed"; }
  fs::path failure(int k) const { return failures() / std::to_string(k); }
  fs::path lock() const { return root / "run.lock"; }
  fs::path mode() const { return root / "mode.txt"; }
  fs::path running() const { return root / "running"; }
  fs::path results_table() const { return root / "results.tsv"; }
  fs::path results_plot() const { return root / "results.svg"; }
  // posteriors.tsv, or posteriors_ID.tsv at marker ID's alternative, with
  // every character of ID but letters, digits and ".-:_" as '_' (an id such
  // as "1/123:A/G" names no other folder).
  fs::path posteriors(const std::string& marker_id) const;

  ChunkState state(int k) const;
};

// A chunk's recorded failure: how its program ended and its first stderr line.
struct ChunkFailure {
  std::string ending;  // "exit 3", "signal 9", or what kept the program from starting
  std::string first_error_line;
};
ChunkFailure read_failure(const ScanFolder& folder, int k);

// The whole content of a file; empty when it cannot be read.
std::string text_of_file(const fs::path& path);

// "K.HOST.PID": the running record of chunk K's task PID on HOST.
std::string running_record_name(int k, const std::string& host, long pid);

// A running record: chunk, owner and the markers its program has done.
struct RunningChunk {
  int chunk = 0;
  std::string host;
  long pid = 0;
  fs::path record;
  long markers_done = 0;
};
// The records under OUT/running whose names are well formed.
std::vector<RunningChunk> running_chunks(const ScanFolder& folder);

// Writes a whole file through a temporary name and a rename, so that readers
// see the old content or the new, never a part.
void write_file_atomically(const fs::path& path, const std::string& content);

}  // namespace bravik::scan

#pragma once
// A chunk's run folder, made from the scan folder: the shared inputs, the
// marker file of the chunk's markers after the Mendelian check, and the
// analysis program of a mode. Used by the tasks of the data and of the
// replicates, and by simulate for the shared null.
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "pedfile/pedigree_file.hpp"
#include "pedfile/structure.hpp"
#include "scan/layout.hpp"
#include "scan/mode.hpp"
#include "scan/plan.hpp"

namespace bravik::scan {

// The program and its arguments for a mode, from the folder of the scan's own executable.
std::filesystem::path analysis_program(AnalysisMode mode);
std::vector<std::string> analysis_arguments(AnalysisMode mode);
// A chunk of the data's: in the robust mode the program also writes the
// standard errors (se.tsv) and, with a theta grid in the scan folder, the LOD
// over theta (lod_theta.tsv).
std::vector<std::string> data_chunk_arguments(AnalysisMode mode, const ScanFolder& folder);

// Replaces the chunk's codes after the Mendelian check (a replicate's
// genotypes); `order` gives the file row of each person in pedigree order.
using CodeReplacement =
    std::function<void(tools::PedigreeFile& file, const tools::PreparedPedigree& ped, const std::vector<std::size_t>& order)>;

// Writes `text` into the file at `path`; throws InputError when it cannot.
void write_text(const std::filesystem::path& path, const std::string& text);

// Copies the files of OUT/input into `dir`.
void copy_shared_inputs(const ScanFolder& folder, const std::filesystem::path& dir);

// Writes chunk k's run folder into `dir` (which exists): the shared inputs,
// the marker file of its markers with every Mendelian inconsistency set
// untyped in its nuclear family (then replaced when `replace` is given), and
// mendel.tsv (per marker of the chunk: the nuclear families set untyped and
// the persons typed after).
void set_up_chunk(const ScanFolder& folder, const Plan& plan, const Chunk& chunk, const std::filesystem::path& dir,
                  const CodeReplacement& replace = {});

}  // namespace bravik::scan

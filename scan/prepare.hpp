#pragma once
// `prepare`: reads the pedigree and the genotypes once, checks them, and
// writes the scan folder (layout.hpp) with its plan.
#include <filesystem>
#include <iosfwd>
#include <string>

#include "genotypes/marker_filter.hpp"
#include "genotypes/pedigree_input.hpp"
#include "genotypes/source.hpp"
#include "pedfile/pedigree_file.hpp"
#include "pedfile/structure.hpp"
#include "textio/theta_grid.hpp"

namespace bravik::scan {

struct PrepareSettings {
  std::filesystem::path par;     // copied to input/par.inp; empty: the template of the preparation tool
  std::filesystem::path maxpar;  // likewise for maxpar.inp
  // The program that reads par.inp and maxpar.inp with its own checks, once
  // at prepare, on a copy of the inputs with no marker; empty: not checked.
  std::filesystem::path input_checker;
  int chunk_size = 0;  // 0: at least four chunks per core where the markers allow (default_chunk_size)
  genotypes::MarkerFilter filter;
  tools::PeelingOptions peeling;
  std::string theta_grid{textio::default_theta_grid};  // the LOD over theta of the robust mode; "none": off
};

// What `prepare` tells: the counts (standard output) and the notes on the
// data (standard error), both also in OUT/summary.txt.
struct PrepareReport {
  std::string summary;
  std::string notes;  // "note: ..." lines
};

// Markers per chunk when none is asked: four chunks per core at least, so
// that every core stays busy to the end and a stop loses little, but at
// least 25 markers a chunk (a chunk's set-up reads the whole pedigree) and at
// most the programs' 500.
int default_chunk_size(long markers, unsigned cores);

// Writes the scan folder `out` from the persons (rows of `persons`, markers
// ignored) and the markers `source` yields for those rows. Throws InputError
// for bad input (nobody measured, nobody genotyped, ...) and when `out` holds
// a prepared scan, its chunks or its results already.
PrepareReport prepare_scan(const genotypes::LoadedPedigree& persons, genotypes::GenotypeSource& source,
                           const PrepareSettings& settings, const std::filesystem::path& out);

}  // namespace bravik::scan

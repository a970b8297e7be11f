#pragma once
// `prepare`: reads the pedigree and the genotypes once, checks them, and
// writes the scan folder (layout.hpp) with its plan.
#include <filesystem>
#include <iosfwd>
#include <string>

#include "genotypes/marker_filter.hpp"
#include "genotypes/source.hpp"
#include "pedfile/pedigree_file.hpp"
#include "pedfile/structure.hpp"
#include "textio/theta_grid.hpp"

namespace bravik::scan {

struct PrepareSettings {
  std::filesystem::path par;     // copied to input/par.inp; empty: the template of the preparation tool
  std::filesystem::path maxpar;  // likewise for maxpar.inp
  int chunk_size = 500;
  genotypes::MarkerFilter filter;
  tools::PeelingOptions peeling;
  std::string theta_grid{textio::default_theta_grid};  // the LOD over theta of the robust mode; "none": off
};

// Writes the scan folder `out` from the persons (rows of `persons`, markers
// ignored) and the markers `source` yields for those rows, and returns the
// summary it also writes to OUT/summary.txt. Throws InputError for bad input
// and when `out` holds a prepared scan already.
std::string prepare_scan(const tools::PedigreeFile& persons, genotypes::GenotypeSource& source,
                         const PrepareSettings& settings, const std::filesystem::path& out);

}  // namespace bravik::scan

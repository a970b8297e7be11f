#pragma once
// Notes on trait values that a scan should not take as they are: values far
// outside the others, which make their family's likelihood underflow, and
// values that look like missing codes of cohort files.
#include <string>
#include <vector>

#include "pedfile/pedigree_file.hpp"

namespace bravik::scan {

// How far from the median, in robust standard deviations (1.4826 times the
// median absolute deviation), a trait value is noted.
inline constexpr double outlying_trait_spread = 8.0;

// The persons measured.
std::size_t measured_persons(const tools::PedigreeFile& persons);

// At most one note per kind, naming the first persons and their values.
std::vector<std::string> trait_notes(const tools::PedigreeFile& persons);

}  // namespace bravik::scan

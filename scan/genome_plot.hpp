#pragma once
// The genome-wide picture of a scan: chromosomes side by side in order, in
// alternating colours, x by position within each, dashed lines at LOD 3 and
// -2, and the highest peaks labelled by marker id.
#include <string>
#include <vector>

#include "scan/merge.hpp"

namespace bravik::scan {

// Chromosome names in genome order: numbers (with or without "chr") by
// value, then other names alphabetically. True when a comes before b.
bool chromosome_before(const std::string& a, const std::string& b);

inline constexpr std::size_t labelled_peaks = 5;

// Rows without a finite LOD are left out. x is the base-pair position when
// every plotted marker has one, the marker's rank within its chromosome otherwise.
// `levels`: the empirical significant and suggestive thresholds, drawn as
// lines when given.
std::string render_genome_svg(const std::vector<ResultRow>& rows, const std::string& title,
                              const std::vector<double>& levels = {});

}  // namespace bravik::scan

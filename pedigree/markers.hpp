#pragma once
// Reading the marker genotype file and choosing the marker under analysis.
#include "pedigree/blocks.hpp"
#include "textio/channels.hpp"

namespace bravik {

// Reads the marker file already open on channel 1: the marker count, then one
// row of marker codes per person until the end of the file. Sets nmark and
// nrow (the complete rows) and closes channel 1.
void read_marker_file(Pedigree& ped, textio::Channels& channels);

// Copies marker t of every read person into column 0, the marker under analysis.
void select_marker(Pedigree& ped, int t);

}  // namespace bravik

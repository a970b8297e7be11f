#pragma once
// Reading the marker genotype file and choosing the marker under analysis.
#include <string_view>

#include "pedigree/blocks.hpp"
#include "textio/channels.hpp"

namespace bravik {

// Reads the marker file already open on channel 1: the marker count, then one
// row of marker codes per person until the end of the file. Sets nmark and
// nrow (the complete rows) and closes channel 1.
void read_marker_file(Pedigree& ped, textio::Channels& channels);

// Warns on standard error when the complete rows of the marker file are not
// as many as the npers persons of the description: persons without a row
// count as untyped at every marker, rows beyond the persons are not used.
void warn_about_row_count(const Pedigree& ped, std::string_view marker_file);

// Copies marker t of every read person into column 0, the marker under analysis.
void select_marker(Pedigree& ped, int t);

}  // namespace bravik

#pragma once
// Reading the pedigree description IWAY.DAT and the phenotype file.
#include <string_view>

#include "pedigree/blocks.hpp"
#include "textio/channels.hpp"

namespace bravik {

// Reads IWAY.DAT (channel 2) into the family table, the nuclear-family and
// member-list offsets, the member lists and the connectors, stopping at the
// first count that exceeds its capacity; validates the description; then reads
// the trait values of the npers persons from the phenotype file (channel 2,
// named by the first 10 characters of fnphen) and writes the count of measured
// persons on standard output.
void wwdat(Pedigree& ped, textio::Channels& channels, std::string_view fnphen);

}  // namespace bravik

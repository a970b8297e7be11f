#pragma once
// Checks that a pedigree description read from IWAY.DAT is one the likelihood
// handles correctly, before any routine indexes with it.
#include <string_view>

#include "pedigree/blocks.hpp"

namespace bravik {

// The counts of IWAY.DAT as read: N of record 1, M of record 3, K of record 4.
struct DescriptionCounts {
  int n = 0;
  int m = 0;
  int k = 0;
};

// Ends the run (textio::fail, exit_input_error) with a message that names the
// file, the record, the family, nuclear family, person and value at fault when
// the description is inconsistent or not in peeling order.
void validate_pedigree(const Pedigree& ped, const DescriptionCounts& counts, std::string_view file_name);

}  // namespace bravik

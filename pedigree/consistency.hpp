#pragma once
// Whether the codes of the marker under analysis can be inherited within a
// family at all, whatever the trait: the cause of a family likelihood that is
// not finite, when they cannot.
#include "pedigree/blocks.hpp"

namespace bravik {

// False when no assignment of marker genotypes to the family's persons agrees
// with their codes (column 0 of mgt) and with Mendelian inheritance in every
// nuclear family, as found by eliminating, nuclear family by nuclear family
// until nothing changes, the genotypes that no choice of the others fits.
bool marker_codes_consistent(const Pedigree& ped, int family);

}  // namespace bravik

#pragma once
// The pedigree arrays: the description of IWAY.DAT, the trait values and the
// marker codes, with the capacities that bound them.
#include <cstdint>

#include "base/indexed.hpp"

namespace bravik {

inline constexpr int N_FAM = 604;         // entries of the family table: at most 602 families
inline constexpr int N_WAY = 2'000'000;   // member lists, genotype lists, per-family table
inline constexpr int N_SIZE = 25'000;     // persons
inline constexpr int N_LOCI = 500;        // markers

// Family table: family f holds the global persons ifst(f)+1 .. ifst(f+1).
struct buf1_block {
  std::int32_t nfam = 0;
  Fixed<std::int32_t, 1, N_FAM - 1> ifst;
};

// Nuclear families before each family: family f owns inuc(f)+1 .. inuc(f+1).
struct buf3_block {
  Heap<std::int32_t, 1> inuc{N_SIZE};
};

// Offsets of the member lists, positions from 0: nuclear family n has the
// members mem(imem(n)) .. mem(imem(n+1)-1), father, mother, children.
struct buf14_block {
  Heap<std::int32_t, 0> imem{N_WAY};
};

// Connector of each nuclear family (family-local number, 0 = terminal).
struct buf15_block {
  Heap<std::int32_t, 1> icon{N_WAY};
};

// Member lists as family-local person numbers, positions from 0.
struct buf16_block {
  Heap<std::int32_t, 0> mem{N_WAY};
};

// Trait values and marker codes of every global person. mgt(p, 0) holds the
// marker under analysis, mgt(p, t) marker t as read (0 untyped, 1 = 11, 2 = 12, 3 = 22).
struct buf2_block {
  Heap<double, 1> yph{N_SIZE};
  Zeroed<std::int32_t> mgt_store{static_cast<std::size_t>(N_SIZE) * (N_LOCI + 1)};
  std::int32_t& mgt(int p, int t) {
    return mgt_store[static_cast<std::size_t>(p - 1) * (N_LOCI + 1) + static_cast<std::size_t>(t)];
  }
  std::int32_t mgt(int p, int t) const {
    return mgt_store[static_cast<std::size_t>(p - 1) * (N_LOCI + 1) + static_cast<std::size_t>(t)];
  }
};

struct Pedigree {
  buf1_block buf1;
  buf3_block buf3;
  buf14_block buf14;
  buf15_block buf15;
  buf16_block buf16;
  buf2_block buf2;
  std::int32_t npers = 0;  // P of IWAY.DAT record 6: the length of the phenotype file
  std::int32_t nmark = 0;  // markers in the marker file
  std::int32_t nrow = 0;   // complete person rows of the marker file
};

}  // namespace bravik

#pragma once
// The fixed coding of haplotypes and joint genotypes.
#include <array>
#include <cstdint>

#include "model/blocks.hpp"

namespace bravik {

// Number of joint genotypes whose smaller haplotype is below k.
inline constexpr std::array<std::int32_t, N_HAP> k_gen = {0, 4, 7, 9};
// Major-gene and marker class of joint genotypes 1..10.
inline constexpr std::array<std::int32_t, N_JOINT> joint_itg = {1, 1, 2, 2, 1, 2, 2, 3, 3, 3};
inline constexpr std::array<std::int32_t, N_JOINT> joint_img = {1, 2, 1, 2, 3, 2, 3, 1, 2, 3};

// The joint genotype of the haplotype pair {k, l}.
inline constexpr int joint_genotype(int k, int l) {
  if (k > l) {
    const int t = k;
    k = l;
    l = t;
  }
  return k_gen[static_cast<std::size_t>(k - 1)] + l - k + 1;
}

}  // namespace bravik

#pragma once
// Starting points of the trait model read off the distribution of the
// measured traits, for the robust mode's local searches: for an allele
// frequency q, the sorted traits split in the proportions of the three
// major-gene genotypes, and a start with no major gene.
#include <span>
#include <vector>

namespace bravik {

struct TraitStart {
  double q;         // frequency of allele 1
  double means[3];  // of genotypes 11, 12, 22: mean 11 >= mean 22
  double variance;  // within the genotypes
};

// For each q: the lowest (1 - q)^2 of the sorted traits form genotype 22,
// the next 2q(1 - q) genotype 12, the highest q^2 genotype 11 (the model
// keeps the mean of 22 at or below that of 11); each mean is its block's
// mean (an empty block takes the mean of its neighbour towards the middle,
// or the overall mean), the variance the pooled within-block variance. Then,
// for each q, the heterozygotes' share 2q(1 - q) of the traits taken from the
// low end and from the high end, the homozygotes sharing the rest and its
// mean (the maxima of a heterozygote effect). Then one start with the three
// means at the overall mean, the total variance and q = 0.5. No start without
// at least two traits.
std::vector<TraitStart> trait_starts(std::span<const double> sorted_traits, std::span<const double> frequencies);

}  // namespace bravik

#pragma once
// One family of the posterior kernel: the inward pass (the factors massix
// gives, the sums of mmpfam's three connector cases, the same rescaling after
// every nuclear family), keeping each connector's entries and sums; then the
// outward pass, which gives the posterior quantities of the family's persons.
#include <cstdint>
#include <vector>

#include "model/blocks.hpp"
#include "model/fast_plan.hpp"

namespace bravik {

struct TransmissionDerivatives;

// Storage of one thread, sized for the largest family of the series.
struct PosteriorWorkspace {
  std::vector<double> x;        // the family's factors by slot and class: the inward pass updates them
  std::vector<double> outside;  // by slot and class: d lnL / d x at x's final value, up to a factor
  std::vector<std::uint8_t> outside_known;  // by person of the family
  std::vector<double> before;   // by nuclear family: the connector's entries before its sum multiplied them
  std::vector<double> sums;     // by nuclear family: the sums S of the connector's states
  std::vector<double> scale;    // by nuclear family: the rescaling sum W
  // Below, vectors over the pairs of the parents' classes.
  std::vector<double> class_table;    // P(c | c_1, c_2) by c
  std::vector<double> child_classes;  // the summed children's x times P, by child and genotype
  std::vector<double> child_adjoint;  // by the same index: d lnL / d (T(g_d | g_1, g_2) x these)
  std::vector<double> child_sums, before_child, after_child;  // by child: the sums E and their products
  std::vector<double> connector_weight;   // H by connector state (no vector)
  std::vector<double> connector_classes;  // H times P, by connector genotype
  std::vector<double> pair_weight, pair_joint, to_connector, child_weight;  // of one pair of parents' genotypes
  void reserve(const Model& model, const SeriesPlan& plan);
};

// Where a family's results go: the posterior by list entry and class, the
// expected recombinations and theta scores by person.
// The recombinations and theta scores are formed only when asked for (they
// are left 0 otherwise).
struct PosteriorOutputs {
  double* posterior;
  double* recombinations;
  double* theta_score;
  bool with_recombinations;
};

// The family's log-likelihood (not finite when a rescaling sum is zero or not
// finite, whose posterior quantities are then not numbers).
double posterior_family(const Model& model, const SeriesPlan& plan, const FamilyPlan& family,
                        const TransmissionDerivatives& derivatives, PosteriorWorkspace& work,
                        const PosteriorOutputs& out);

}  // namespace bravik

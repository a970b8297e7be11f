#pragma once
// One family of the posterior kernel: the inward pass (the fast kernel's where
// it takes the family, else the factors massix gives, the sums of mmpfam's
// three connector cases and the same rescaling after every nuclear family),
// keeping each connector's entries and sums; then the outward pass, which
// gives the posterior quantities of the family's persons, with vector lanes
// over the pairs of two members' classes (seven classes) or over a parent's
// genotypes (one class), compiled for every machine path.
#include <array>
#include <cstdint>
#include <vector>

#include "model/blocks.hpp"
#include "model/fast/fast_family.hpp"
#include "model/fast/fast_plan.hpp"

namespace bravik {

// dT/dtheta and the recombinant part of T (the probability of the child's
// genotype with one recombinant haplotype counted once, two twice), built
// from the haplotype transmissions thap of the last first-call set-up.
struct TransmissionDerivatives {
  std::array<double, N_JOINT * N_JOINT * N_JOINT> d_theta{};
  std::array<double, N_JOINT * N_JOINT * N_JOINT> recombinant{};
  // By (g_1 - 1) N_JOINT + g_2 - 1: whether some entry of either table is not
  // zero (a parent is a double heterozygote).
  std::array<bool, N_JOINT * N_JOINT> moves{};
  // Both tables with the first parent's genotype in the lanes, as
  // SeriesPlan::transmission_by_first.
  std::array<TransmissionByFirst, N_JOINT * N_JOINT> d_theta_by_first{}, recombinant_by_first{};
  bool moves_with_theta(int g1, int g2) const { return moves[static_cast<std::size_t>((g1 - 1) * N_JOINT + g2 - 1)]; }
  void build(const tranc_block& tranc);
};

// A child's genotype in the one-class outward pass: its code (from 0) and
// the child's factor times the class table's entry.
struct LaneTerm {
  int genotype;
  double classes;
};

// Storage of one thread, sized for the largest family of the series.
struct PosteriorWorkspace {
  FamilyWorkspace inward;       // of the fast kernel's inward pass
  std::vector<double> x;        // the family's factors by slot and class: the inward pass updates them
  std::vector<double> outside;  // by slot and class: d lnL / d x at x's final value, up to a factor
  std::vector<std::uint8_t> outside_known;  // by person of the family
  std::vector<double> recombinations, theta_score;  // by person of the family, until copied out
  std::vector<double> before;   // by nuclear family: the connector's entries before its sum multiplied them
  std::vector<double> sums;     // by nuclear family: the sums S of the connector's states
  std::vector<double> scale;    // by nuclear family: the rescaling sum W
  // Below, vectors over the pairs of the parents' classes.
  std::vector<double> class_table;    // P(c | c_1, c_2) by c
  std::vector<double> child_classes;  // the summed children's x times P, by slot
  std::vector<double> child_adjoint;  // by the same index: d lnL / d (T(g_d | g_1, g_2) x these)
  std::vector<double> child_sums, before_child;  // by child: the sums E and their products
  // With one class, sums by lane over a parent's genotypes (see the outward
  // pass), a chunk of lanes' sums by child, and the summed children's
  // genotypes with the ends of each child's.
  std::vector<double> lane_rows, chunk_sums;
  std::vector<LaneTerm> lane_terms;
  std::vector<int> lane_term_ends;
  std::vector<double> weight_after;  // a weight times the products of E over the children after one
  std::vector<double> connector_weight;   // H by connector state (no vector)
  std::vector<double> connector_classes;  // H times P, by connector genotype
  std::vector<double> pair_weight, pair_joint, to_connector, child_weight;  // of one pair of parents' genotypes
  void reserve(const Model& model, const SeriesPlan& plan);
};

// The fast kernel's inward pass of the model's path, recorded for the outward
// pass; with the number of classes 7 or 1, for the families it takes.
struct InwardPass {
  FamilyRoutine routine;
  const ClassTables& tables;
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

// What one family's passes read, and where they write.
struct FamilyJob {
  const Model& model;
  const SeriesPlan& plan;
  const FamilyPlan& family;
  const TransmissionDerivatives& derivatives;
  const InwardPass& inward;
  PosteriorWorkspace& work;
  const PosteriorOutputs& out;
};
// Fills one family's factors, peels it inward (by the fast kernel's pass when
// it takes the family, else by the sums of mmpfam's three cases) and, when
// its log-likelihood is finite, outward; returns the log-likelihood (not
// finite when a rescaling sum is zero or not finite, whose posterior
// quantities are then not numbers).
using PosteriorRoutine = double (*)(const FamilyJob& job);

// The routine compiled for a machine path that runs here (widest: the first
// runnable one); every path gives the same bits.
PosteriorRoutine posterior_routine(MachinePath path);

}  // namespace bravik

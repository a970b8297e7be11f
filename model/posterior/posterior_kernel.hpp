#pragma once
// The posterior kernel: for one evaluation at the model's current quantities
// (the set-up of the objective already run), the log-likelihood of every
// family by the inward peeling pass, then an outward pass through the nuclear
// families in reverse order that gives every person's posterior probability
// of each state (joint genotype x polygenic class) and every child's expected
// number of recombinations between the marker and the major gene. Families
// run on all threads; every total is formed in family (or person) order, so
// the results do not depend on the number of threads.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "model/blocks.hpp"
#include "model/fast/fast_plan.hpp"
#include "model/fast/thread_pool.hpp"
#include "model/posterior/posterior_family.hpp"

namespace bravik {

// d lnL / d par(i) of one family at position i - 1 for the seven model
// parameters (ties not applied): the posterior expectation of its persons'
// complete-data score.
using FamilyScore = std::array<double, 7>;

class PosteriorKernel {
 public:
  explicit PosteriorKernel(int threads);
  ~PosteriorKernel();
  PosteriorKernel(const PosteriorKernel&) = delete;
  PosteriorKernel& operator=(const PosteriorKernel&) = delete;

  // Plans the series and sizes all storage for it; an evaluation does so
  // after every first-call set-up (new genotype lists and transmissions,
  // whose values the plan holds), and evaluations in between allocate nothing.
  void plan(const Model& model);

  // The sum of the family log-likelihoods in family order, and the posterior
  // quantities of every family, on the model's machine path. A family whose
  // description the plan does not take gives a value that is not a number.
  double evaluate(const Model& model);

  // Whether evaluations form the expected recombinations and theta scores
  // (on by default; a search that holds theta fixed spares their work, and
  // they are then 0).
  void form_recombinations(bool on) { with_recombinations_ = on; }

  // Family f's log-likelihood (from 1) in the last evaluation.
  double family_log_likelihood(int f) const { return lf_[static_cast<std::size_t>(f)]; }

  // Person p's posterior probability of its k-th listed genotype (from 1) and
  // class c (from 1). A person in no nuclear family takes no part in the
  // likelihood: its probabilities are its own factors, normalized.
  double posterior(const Model& model, int p, int k, int c) const {
    return posterior_[static_cast<std::size_t>((model.genot.i_start(p) + k - 1) * N_POL + c - 1)];
  }
  // Of child p (0 for a person listed as no child): the expected number of
  // recombinant haplotypes it received, and the derivative of the
  // log-likelihood with respect to theta through its transmission.
  double expected_recombinations(int p) const { return recombinations_[static_cast<std::size_t>(p)]; }
  double theta_score(int p) const { return theta_score_[static_cast<std::size_t>(p)]; }
  // Family f's score (from 1) in the last evaluation: the allele frequency
  // through its founders' genotype priors, the means, the residual variance
  // and the polygenic step through the densities of its measured persons,
  // theta through its children's transmissions (0 without recombinations).
  const FamilyScore& family_score(int f) const { return scores_[static_cast<std::size_t>(f)]; }
  // Whether person p belongs to a nuclear family (and so to the likelihood).
  bool in_likelihood(int p) const { return in_nuclear_[static_cast<std::size_t>(p)] != 0; }
  // Whether person p is listed as a child (its factor holds no priors).
  bool is_child(int p) const { return plan_.is_child[static_cast<std::size_t>(p)] != 0; }

 private:
  // Forms family f's score from its persons' posterior quantities.
  void score_family(const Model& model, const FamilyPlan& family, FamilyScore& score) const;

  SeriesPlan plan_;
  std::optional<std::uint64_t> planned_after_;  // the model's count of first-call set-ups when planned
  MachinePath path_ = MachinePath::widest;  // the model's path when routine_ was chosen
  PosteriorRoutine routine_;
  FamilyRoutine inward_routine_;  // the fast kernel's recorded pass on that path
  ClassTables tables_{};          // the fast kernel's class tables
  bool with_recombinations_ = true;
  ThreadPool pool_;
  std::vector<PosteriorWorkspace> workspaces_;  // one per thread
  TransmissionDerivatives derivatives_;
  std::vector<double> lf_;                 // by family
  std::vector<FamilyScore> scores_;        // by family
  std::vector<double> posterior_;          // by list entry and class
  std::vector<double> recombinations_;     // by person
  std::vector<double> theta_score_;        // by person
  std::vector<std::uint8_t> in_nuclear_;   // by person
  friend struct PosteriorTask;
};

}  // namespace bravik

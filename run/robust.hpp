#pragma once
// The robust maximizing mode: each hypothesis maximized from several starting
// points, the best end point kept. With theta = 0.5 the marker and the trait
// are independent, so the null log-likelihood is a trait part, the same for
// every marker, plus a marker part that no trait parameter enters: the trait
// part is maximized once per run, and each marker adds its own part in one
// evaluation.
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "model/blocks.hpp"
#include "optimize/box_search.hpp"
#include "optimize/gradient_search.hpp"
#include "run/config.hpp"
#include "textio/channels.hpp"

namespace bravik {

// The local search that every start runs.
enum class LocalSearchKind {
  gradient,  // a quasi-Newton search with the exact gradient, inside the box
  box,       // BOBYQA inside the box of the bounds
  pattern,   // the pattern search with the settings of maxpar.inp
};

// A pass's local search and its starts.
struct PassSearch {
  LocalSearchKind local = LocalSearchKind::pattern;
  // Null starts besides the par.inp start: from the trait distribution at
  // these allele frequencies (none when empty), and these many spread over
  // the box. The null is maximized once per run, so its cost is spread over
  // the markers.
  std::vector<double> quantile_frequencies{};
  int spread_starts = 40;
  int alternative_spread_starts = 4;  // alternative starts spread over the box, the same for every marker
  // Points spread over the box from which those starts are the ones of the
  // highest values (each point one evaluation); none beyond the starts when
  // not more than them.
  int alternative_spread_candidates = 0;
};

struct RobustSettings {
  // The local search of passes that search the polygenic step: the pattern
  // search, because on the polygenic model's likelihood (small residual
  // variances, many close maxima) the gradient search from the same or more
  // starts ends lower more often: on 8-family scans by up to 1.7 in the null
  // and 0.65 in the alternative. BOBYQA's quadratic models step onto the
  // bounds of the allele frequency (one normal, the means left free) from
  // most starts. The null (maximized once per run) from 400 starts spread
  // over the box: its maxima of small residual variance lie in narrow basins
  // that few starts reach. On 8-family scans of large sibships, 40 spread
  // starts ended 1.5 below 400 and below some random par.inp starts; 2,000
  // ended no higher than 400.
  PassSearch with_step{.spread_starts = 400};
  // The other passes': the gradient search, which on those likelihoods
  // reached the same maxima from random starts as often as the pattern
  // search, or more often, at a third of its time; from the trait
  // distribution's starts (its searches do not cross from the box's far
  // corners to the maxima as the pattern search does), 24 spread over the
  // box, and in the alternative the 6 best of 32 points spread over the box.
  PassSearch without_step{.local = LocalSearchKind::gradient,
                          .quantile_frequencies = {0.05, 0.1, 0.2, 0.35, 0.5, 0.65, 0.8, 0.9, 0.95},
                          .spread_starts = 24,
                          .alternative_spread_starts = 6,
                          .alternative_spread_candidates = 32};
  // The theta profile's searches, which start next to a maximum: there the
  // gradient search converges in far fewer evaluations.
  LocalSearchKind profile_local = LocalSearchKind::gradient;
  // A gradient search joins a maximum that an earlier start reached when it
  // comes within half a par.inp step of it in every coordinate at a value not
  // above it: a fifth of the evaluations saved on 40-family scans, the same
  // maxima reached.
  GradientSearchSettings gradient{.join_radius = 0.5};
  // With the polygenic step searched, each trait start once for each share of
  // the variance within the genotypes given to the polygenic component (the
  // maxima of a polygenic trait may leave little to the residual).
  std::vector<double> polygenic_shares{0.5, 0.9, 0.99};
  // After the starts, the search runs again from the best end point moved in
  // seeded random directions, each coordinate by up to `move_width` times its
  // step, as long as that gains: nearby maxima of this likelihood lie in
  // narrow basins beside each other that no start of the pass may reach, and
  // a gradient search may stop on a saddle point.
  int best_end_moves = 2;
  double move_width = 3.0;
  int alternative_extra_starts = 3; // other null local maxima the alternative starts from
  bool from_previous_alternative = true;  // the previous marker's alternative maximum is a start
  std::uint64_t seed = 20261208;
  BoxSearchTolerances tolerances{.relative_step = 1e-4};
  double reported_spread = 0.01;  // other null maxima kept as alternative starts lie further apart
};

// Every pass searched with the exact gradient, from the starts it needs.
RobustSettings gradient_robust_settings();

class PosteriorKernel;

// "N iterations (maxpar.inp)", the pattern search's limit.
std::string maxpar_limit(int maxit);
struct RobustPass;         // the coordinates of one pass's searches
struct StartsOutcome;

// The note on a pass's starts, or "" when there is nothing to act on: a note
// only when the best end was reached from one start only, every other start
// ending lower by more than a LOD change of 0.01 (0.023 in log-likelihood),
// so that fewer or other starts would report another LOD. Rejected starts are
// counted, never shown by their rejection value.
std::string single_best_note(const StartsOutcome& outcome);

class RobustMaximizer {
 public:
  // evaluate: one evaluation of the objective at optpar1.par (counted by the
  // caller); gradient_evaluated: told every evaluation of value and gradient.
  RobustMaximizer(Model& model, textio::Channels& io, std::function<void(double&)> evaluate,
                  const MaximizerSettings& pattern, const RobustSettings& settings,
                  std::function<void()> gradient_evaluated = {});
  ~RobustMaximizer();

  // Each leaves in optpar1 the best point, flnl, niter (the number of starts)
  // and nfun (the evaluations of the pass). On entry optpar1 holds the pass's
  // start as the run flow prepared it (par(5) = 0.5 in the null pass).
  void maximize_null(int imark);
  void maximize_alternative(int imark);

  // A further alternative search (the LOD over theta): from whole parameter
  // vectors par(0..npar), searching the parameters free in optpar1 (theta
  // held at its value in the starts when it is not free) within optpar1's
  // bounds: from the first `always` starts, and from the `screened` of the
  // others that have the highest values. Leaves the best point in optpar1 and
  // returns its log-likelihood; optpar1's flags and steps are left as the
  // searches set them.
  double maximize_alternative_from(const std::vector<std::vector<double>>& starts, std::size_t always = 1,
                                   std::size_t screened = 0);

  // The starts of the last pass whose search reached the iteration limit,
  // and that limit in words (maxit: the limit of maxpar.inp).
  int starts_at_limit() const { return starts_at_limit_; }
  std::string search_limit(int maxit) const;

  // The gradient search's posterior kernel, created at its first use. The
  // run's other posterior passes (standard errors, theta profile, carrier
  // probabilities) share it: each of them sets up afresh.
  PosteriorKernel& posterior_kernel();

  // The trait part's maxima, best first: given, they replace its
  // maximization; empty until the first null pass otherwise.
  void use_trait_optima(std::vector<std::vector<double>> optima) { trait_optima_ = std::move(optima); }
  const std::vector<std::vector<double>>& trait_optima() const { return trait_optima_; }

 private:
  const PassSearch& pass_search() const;
  void start_pass(LocalSearchKind local);  // the pass's local search; clears its counts
  void new_series();  // the genotype lists change: both kernels' next evaluation sets up afresh
  double evaluate_point();
  double value_and_gradient(const RobustPass& pass, std::span<const double> y, std::span<double> gradient);
  double gradient_search_from(const RobustPass& pass, std::span<double> x);
  std::vector<double> sorted_measured_traits() const;
  std::vector<std::vector<double>> null_starts(const RobustPass& pass, const PassSearch& search);
  double search_from(const RobustPass& pass, std::span<double> x);
  StartsOutcome maximize(const RobustPass& pass, const std::vector<std::vector<double>>& starts,
                         bool move_best_end = true);
  void search_beside_best(const RobustPass& pass, StartsOutcome& outcome);
  void add_alternative_spread_starts(const RobustPass& pass, const PassSearch& search,
                                     std::vector<std::vector<double>>& starts);
  std::vector<std::vector<double>> screen_starts(const RobustPass& pass, std::vector<std::vector<double>> points,
                                                 std::size_t always, std::size_t screened);
  int maximize_trait_part(int imark);
  void set_marker_untyped();
  void restore_marker_codes();
  void keep_trait_optima(const RobustPass& pass, const StartsOutcome& outcome);

  Model& model_;
  textio::Channels& io_;
  std::function<void(double&)> evaluate_;
  MaximizerSettings pattern_;
  RobustSettings settings_;
  std::function<void()> gradient_evaluated_;
  KnownMaxima known_maxima_;  // reached by the gradient searches of the current set of starts
  std::unique_ptr<PosteriorKernel> kernel_;  // of the gradient search, created at its first use
  LocalSearchKind pass_local_ = LocalSearchKind::pattern;  // of the current pass
  bool first_call_ = true;        // the next evaluation runs the first-call set-up
  bool gradient_series_ = true;   // the next evaluation with the gradient runs it
  bool theta_moves_ = false;      // the set-up follows theta at every evaluation
  int evaluations_ = 0;           // of the current pass
  int starts_at_limit_ = 0;       // of the current pass
  // par(0..npar) at the null maximum, then at other local maxima; empty until
  // the null is maximized
  std::vector<std::vector<double>> trait_optima_;
  std::vector<std::int32_t> marker_codes_;  // the marker's codes while everyone is untyped
  // the previous marker's alternative maximum, a start of the next marker's
  // alternative: linked markers share it, and it carries a maximum found from
  // one start to the markers after it
  std::vector<double> previous_alternative_;
};

}  // namespace bravik

#include "run/robust.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <span>
#include <string>
#include <utility>

#include "model/density.hpp"
#include "model/objective/genmmp.hpp"
#include "model/posterior/gradient.hpp"
#include "optimize/methgi.hpp"
#include "optimize/multistart.hpp"
#include "run/trait_starts.hpp"
#include "textio/status_line.hpp"

namespace bravik {
namespace {

constexpr int allele_frequency = 1;
constexpr int theta = 5;    // position of the recombination fraction
constexpr int mean_11 = 2;  // the homozygote means, par(4) <= par(2)
constexpr int mean_12 = 3;
constexpr int mean_22 = 4;
constexpr int variance = 6;
constexpr int step = 7;
constexpr double polygenic_class_variance = 1.5;  // of the class shift, (k - 4), over the class weights
// Value lost per squared step that a box search point lies beyond the order of
// the means: it is evaluated with the means moved into order, minus this
// penalty, so that the box search sees a continuous objective.
constexpr double order_penalty = 1000.0;

// The open interval of a bound pair, closed a little inside: a box search may
// evaluate on its bounds, which the objective rejects.
double inside_lower(double low, double high) {
  return std::fmax(low + 1e-9 * (high - low), std::nextafter(low, high));
}
double inside_upper(double low, double high) {
  return std::fmin(high - 1e-9 * (high - low), std::nextafter(high, low));
}

std::string figure(double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.4g", value);
  return buffer;
}

}  // namespace

// The coordinates of one pass's searches: the free parameter positions, their
// box and first steps, and where the two homozygote means sit among them.
struct RobustPass {
  std::vector<int> free;
  std::vector<double> lower, upper, step;
  int mean_11_at = -1;  // index in free, -1 when the mean is not searched
  int mean_22_at = -1;
  double order_scale = 1.0;
};

namespace {

using Pass = RobustPass;

// Any nonzero flag marks a searched parameter; theta is 0.5 under the null.
Pass make_pass(const optpar1_block& o, int npar, bool null) {
  Pass pass;
  for (int i = 1; i <= npar; ++i) {
    if (o.ifree(i) == 0 || (null && i == theta)) continue;
    if (i == mean_11) pass.mean_11_at = static_cast<int>(pass.free.size());
    if (i == mean_22) pass.mean_22_at = static_cast<int>(pass.free.size());
    pass.free.push_back(i);
    pass.lower.push_back(inside_lower(o.parlo(i), o.parhi(i)));
    pass.upper.push_back(inside_upper(o.parlo(i), o.parhi(i)));
    pass.step.push_back(o.dpar(i));
  }
  const double scale = std::fabs(o.dpar(mean_11)) + std::fabs(o.dpar(mean_22));
  pass.order_scale = scale > 0.0 ? scale : 1.0;
  return pass;
}

// The searched coordinates of optpar1.par, copied into x.
void copy_point(const Pass& pass, const optpar1_block& o, std::span<double> x) {
  for (std::size_t j = 0; j < pass.free.size(); ++j) x[j] = o.par(pass.free[j]);
}

std::vector<double> point_of(const Pass& pass, const optpar1_block& o) {
  std::vector<double> x(pass.free.size());
  copy_point(pass, o, x);
  return x;
}

void set_point(const Pass& pass, std::span<const double> x, optpar1_block& o) {
  for (std::size_t j = 0; j < pass.free.size(); ++j) o.par(pass.free[j]) = x[j];
}

// Moves the searched means into order, par(4) <= par(2); returns how far they
// were out of order, in steps.
double order_means(const Pass& pass, optpar1_block& o) {
  const double excess = o.par(mean_22) - o.par(mean_11);
  if (!(excess > 0.0)) return 0.0;
  if (pass.mean_11_at >= 0 && pass.mean_22_at >= 0) {
    const double middle = 0.5 * (o.par(mean_11) + o.par(mean_22));
    o.par(mean_11) = middle;
    o.par(mean_22) = middle;
  } else if (pass.mean_22_at >= 0) {
    o.par(mean_22) = o.par(mean_11);
  } else if (pass.mean_11_at >= 0) {
    o.par(mean_11) = o.par(mean_22);
  } else {
    return 0.0;
  }
  return excess / pass.order_scale;
}

// A start with both means searched and out of order takes them swapped.
void order_start(const Pass& pass, std::vector<double>& x) {
  if (pass.mean_11_at < 0 || pass.mean_22_at < 0) return;
  double& m11 = x[static_cast<std::size_t>(pass.mean_11_at)];
  double& m22 = x[static_cast<std::size_t>(pass.mean_22_at)];
  if (m22 > m11) std::swap(m11, m22);
}

// `count` starts spread over the pass's box, reproducibly from the seed, their
// means in order.
void add_spread_starts(const Pass& pass, int count, std::uint64_t seed, std::vector<std::vector<double>>& starts) {
  for (std::vector<double>& x : spread_over_box(pass.lower, pass.upper, count, seed)) {
    order_start(pass, x);
    starts.push_back(std::move(x));
  }
}

// A start ends rejected when every point it tried was out of bounds or had no
// finite value: its value is then the rejection value, never a maximum.
bool is_rejected(double value) { return !(value > 0.1 * rejection_value); }

// The log-likelihood difference that moves a LOD by 0.01: LOD = 2 x
// difference / 4.6.
constexpr double noted_lnl_difference = 0.01 * 4.6 / 2.0;

void note_single_best(int imark, const char* what, const StartsOutcome& outcome) {
  const std::string note = single_best_note(outcome);
  if (!note.empty()) textio::console_write(stderr, "note: marker " + std::to_string(imark) + ", " + what + ": " + note + "\n");
}

// The gradient search's coordinates: the pass's, except that with both
// homozygote means searched, mean 11's coordinate holds the difference
// mean 11 - mean 22, kept at or above 0 by its bound; with one of them
// searched, the other bounds it. Scales are the par.inp steps (a tenth of the
// box where a step is 0).
struct GradientBox {
  std::vector<double> lower, upper, scale;
};

// The size of coordinate j's moves: its par.inp step, a tenth of its box
// where the step is 0.
double move_size(const Pass& pass, std::size_t j) {
  return std::fabs(pass.step[j]) > 0.0 ? std::fabs(pass.step[j]) : 0.1 * (pass.upper[j] - pass.lower[j]);
}

bool searches_difference(const Pass& pass) { return pass.mean_11_at >= 0 && pass.mean_22_at >= 0; }

GradientBox gradient_box(const Pass& pass, const optpar1_block& o) {
  GradientBox box{pass.lower, pass.upper, pass.step};
  for (std::size_t j = 0; j < pass.free.size(); ++j) box.scale[j] = move_size(pass, j);
  const auto m11 = static_cast<std::size_t>(pass.mean_11_at);
  const auto m22 = static_cast<std::size_t>(pass.mean_22_at);
  if (searches_difference(pass)) {
    box.lower[m11] = 0.0;
    box.upper[m11] = pass.upper[m11] - pass.lower[m22];
  } else if (pass.mean_22_at >= 0) {
    box.upper[m22] = std::fmin(box.upper[m22], o.par(mean_11));
  } else if (pass.mean_11_at >= 0) {
    box.lower[m11] = std::fmax(box.lower[m11], o.par(mean_22));
  }
  return box;
}

// Parameter values to the search's coordinates, and back into optpar1.
void to_search(const Pass& pass, std::span<double> x) {
  if (!searches_difference(pass)) return;
  double& m11 = x[static_cast<std::size_t>(pass.mean_11_at)];
  m11 = std::fmax(0.0, m11 - x[static_cast<std::size_t>(pass.mean_22_at)]);
}

void from_search(const Pass& pass, std::span<const double> y, optpar1_block& o) {
  set_point(pass, y, o);
  if (!searches_difference(pass)) return;
  const auto m11 = static_cast<std::size_t>(pass.mean_11_at);
  o.par(mean_11) = std::clamp(y[static_cast<std::size_t>(pass.mean_22_at)] + y[m11], pass.lower[m11], pass.upper[m11]);
}

bool searches_step(const Pass& pass) { return std::find(pass.free.begin(), pass.free.end(), step) != pass.free.end(); }

// The searched coordinates of a trait start: the allele frequency, the
// means, the variance within the genotypes, of which the polygenic component
// takes the share `polygenic` when its step is searched; moved inside the box.
std::vector<double> point_of_trait_start(const Pass& pass, const optpar1_block& o, const TraitStart& start,
                                         double polygenic) {
  std::vector<double> x = point_of(pass, o);
  for (std::size_t j = 0; j < pass.free.size(); ++j) {
    double& v = x[j];
    switch (pass.free[j]) {
      case allele_frequency: v = start.q; break;
      case mean_11: v = start.means[0]; break;
      case mean_12: v = start.means[1]; break;
      case mean_22: v = start.means[2]; break;
      case variance: v = (1.0 - polygenic) * start.variance; break;
      case step: v = std::sqrt(polygenic * start.variance / polygenic_class_variance); break;
      default: break;
    }
    v = std::clamp(v, pass.lower[j], pass.upper[j]);
  }
  return x;
}

}  // namespace

std::string single_best_note(const StartsOutcome& outcome) {
  const std::size_t starts = outcome.ends.size();
  const double best = outcome.best().value;
  if (starts < 2 || is_rejected(best) || !(outcome.ends[1].value < best - noted_lnl_difference)) return "";
  const std::size_t rejected = static_cast<std::size_t>(std::count_if(
      outcome.ends.begin(), outcome.ends.end(), [](const StartEnd& end) { return is_rejected(end.value); }));
  std::string others;
  if (is_rejected(outcome.ends[1].value)) {
    others = "the other starts were rejected";
  } else {
    const double lower = best - outcome.ends[1].value;
    others = "the next best ended " + figure(lower) + " lower in log-likelihood (a LOD change of " +
             figure(2.0 * lower / 4.6) + ")";
    if (rejected > 0) others += ", " + std::to_string(rejected) + " starts were rejected";
  }
  return "the best maximum was reached from one of " + std::to_string(starts) + " starts only; " + others +
         "; other starts may find a higher maximum";
}

RobustMaximizer::RobustMaximizer(Model& model, textio::Channels& io, std::function<void(double&)> evaluate,
                                 const MaximizerSettings& pattern, const RobustSettings& settings,
                                 std::function<void()> gradient_evaluated)
    : model_(model),
      io_(io),
      evaluate_(std::move(evaluate)),
      pattern_(pattern),
      settings_(settings),
      gradient_evaluated_(std::move(gradient_evaluated)) {}

RobustMaximizer::~RobustMaximizer() = default;

RobustSettings gradient_robust_settings() {
  RobustSettings settings;
  settings.with_step = settings.without_step;
  return settings;
}

std::string maxpar_limit(int maxit) { return std::to_string(maxit) + " iterations (maxpar.inp)"; }

std::string RobustMaximizer::search_limit(int maxit) const {
  if (pass_local_ == LocalSearchKind::gradient) {
    return std::to_string(settings_.gradient.evaluation_limit) + " evaluations of value and gradient";
  }
  return maxpar_limit(maxit);
}

void RobustMaximizer::new_series() {
  first_call_ = true;
  gradient_series_ = true;
}

PosteriorKernel& RobustMaximizer::posterior_kernel() {
  if (!kernel_) kernel_ = std::make_unique<PosteriorKernel>(model_.threads);
  return *kernel_;
}

// The value and the gradient in the search's coordinates y; a rejected point
// (the objective's rejection value) is not a number to the search.
double RobustMaximizer::value_and_gradient(const Pass& pass, std::span<const double> y, std::span<double> gradient) {
  posterior_kernel().form_recombinations(theta_moves_);
  from_search(pass, y, model_.optpar1);
  model_.imax.ifirst = (gradient_series_ || theta_moves_) ? -1 : 1;
  gradient_series_ = false;
  double value = 0.0;
  ParameterGradient by_position;
  objective_with_gradient(model_, io_, posterior_kernel(), value, by_position);
  ++evaluations_;
  if (gradient_evaluated_) gradient_evaluated_();
  for (std::size_t j = 0; j < pass.free.size(); ++j) gradient[j] = by_position(pass.free[j]);
  // mean 22 moves mean 11 with it when the difference is searched
  if (searches_difference(pass)) gradient[static_cast<std::size_t>(pass.mean_22_at)] += by_position(mean_11);
  return value > -1e17 ? value : std::nan("");
}

double RobustMaximizer::gradient_search_from(const Pass& pass, std::span<double> x) {
  optpar1_block& o = model_.optpar1;
  const GradientBox box = gradient_box(pass, o);
  to_search(pass, x);
  const ValueAndGradient objective = [&](std::span<const double> y, std::span<double> gradient) {
    return value_and_gradient(pass, y, gradient);
  };
  const GradientEnd end =
      maximize_with_gradient(objective, x, box.lower, box.upper, box.scale, settings_.gradient, &known_maxima_);
  if (end.at_limit) ++starts_at_limit_;
  from_search(pass, x, o);
  copy_point(pass, o, x);
  return end.value;
}

double RobustMaximizer::evaluate_point() {
  model_.imax.ifirst = (first_call_ || theta_moves_) ? -1 : 1;
  first_call_ = false;
  double value = 0.0;
  evaluate_(value);
  ++evaluations_;
  return value;
}

// One local search from x; leaves its best point in x, its means in order (the
// objective rejects them out of order), and returns its value.
double RobustMaximizer::search_from(const Pass& pass, std::span<double> x) {
  optpar1_block& o = model_.optpar1;
  if (pass_local_ == LocalSearchKind::gradient) return gradient_search_from(pass, x);
  if (pass_local_ == LocalSearchKind::box) {
    const PointObjective objective = [&](std::span<const double> point) {
      set_point(pass, point, o);
      const double out_of_order = order_means(pass, o);
      return evaluate_point() - order_penalty * out_of_order * out_of_order;
    };
    const double value = maximize_in_box(objective, x, pass.lower, pass.upper, pass.step, settings_.tolerances).value;
    // The end point with its means in order, where it was evaluated less the penalty.
    set_point(pass, x, o);
    order_means(pass, o);
    copy_point(pass, o, x);
    return value;
  }
  const int npar = model_.imax.npar;
  set_point(pass, x, o);
  for (int i = 1; i <= npar; ++i) o.ifree(i) = 0;
  for (std::size_t j = 0; j < pass.free.size(); ++j) {
    o.ifree(pass.free[j]) = 1;
    o.dpar(pass.free[j]) = pass.step[j];
  }
  o.flnl = rejection_value;  // kept when the start is rejected
  const SearchEnd end = methgi(npar, pattern_.epsf, pattern_.rlx, pattern_.epsx, pattern_.maxit, pattern_.mdum,
                               [this](double& value) { value = evaluate_point(); }, o, io_);
  if (end == SearchEnd::iteration_limit) ++starts_at_limit_;
  copy_point(pass, o, x);
  return o.flnl;
}

// Runs the local search from every start and leaves the best point in
// optpar1.par; then searches beside the best end unless the starts lie beside
// maxima already (move_best_end false). A gradient search that comes next to
// a maximum that an earlier search of the same call reached stops and ends
// there: no basin is climbed twice.
StartsOutcome RobustMaximizer::maximize(const Pass& pass, const std::vector<std::vector<double>>& starts,
                                        bool move_best_end) {
  known_maxima_ = {};
  StartsOutcome outcome = best_of_starts([&](std::span<double> x) { return search_from(pass, x); }, starts);
  if (move_best_end) search_beside_best(pass, outcome);
  set_point(pass, outcome.best().point, model_.optpar1);
  return outcome;
}

// The best end point moved by up to `move_width` steps in each coordinate, in
// seeded random directions, and searched again; kept where that gains. This
// finds maxima in narrow basins next to the best one (two maxima of a
// four-generation scan 0.29 apart in log-likelihood, 0.08 apart in the allele
// frequency), and moves a gradient search off a saddle point (with the
// homozygote means equal, for one, the likelihood is symmetric in q about
// 0.5).
void RobustMaximizer::search_beside_best(const Pass& pass, StartsOutcome& outcome) {
  std::mt19937_64 bits(settings_.seed);
  StartEnd& best = outcome.ends.front();
  const int starts_at_limit = starts_at_limit_;  // counts starts only
  for (int round = 0; round < settings_.best_end_moves; ++round) {
    std::vector<double> x = best.point;
    for (std::size_t j = 0; j < x.size(); ++j) {
      const double move = (2.0 * open_unit(bits) - 1.0) * settings_.move_width * move_size(pass, j);
      x[j] = std::clamp(x[j] + move, pass.lower[j], pass.upper[j]);
    }
    order_start(pass, x);
    const double value = search_from(pass, x);
    if (value > best.value) {
      best.point = x;
      best.value = value;
    }
  }
  starts_at_limit_ = starts_at_limit;
}

// Maximizes the null log-likelihood at the first marker from the par.inp
// start and from starts spread over the box: with theta = 0.5 the marker part
// is a constant, so the maximum is the trait part's, and typed persons leave
// far fewer joint genotypes to sum over than untyped ones. Where the start's
// value is not finite (codes impossible in some family) every person is
// untyped at the marker instead, which makes the marker part zero. Keeps the
// best point in trait_optima_, followed by the other end points that are
// further than the reported spread below the ones kept.
int RobustMaximizer::maximize_trait_part(int imark) {
  optpar1_block& o = model_.optpar1;
  const Pass pass = make_pass(o, model_.imax.npar, true);
  new_series();
  const bool untyped = !std::isfinite(evaluate_point());
  if (untyped) {
    set_marker_untyped();
    new_series();  // genotype lists without the marker
  }
  const std::vector<std::vector<double>> starts = null_starts(pass, pass_search());
  const StartsOutcome outcome = maximize(pass, starts);
  note_single_best(imark, "null hypothesis (trait part, kept for every marker)", outcome);
  keep_trait_optima(pass, outcome);
  if (untyped) restore_marker_codes();
  return static_cast<int>(starts.size());
}

std::vector<double> RobustMaximizer::sorted_measured_traits() const {
  std::vector<double> traits;
  const int persons = model_.ped.buf1.ifst(model_.ped.buf1.nfam + 1);
  for (int p = 1; p <= persons; ++p) {
    if (model_.ped.buf2.yph(p) > not_measured) traits.push_back(model_.ped.buf2.yph(p));
  }
  std::sort(traits.begin(), traits.end());
  return traits;
}

// The par.inp start, the starts from the distribution of the measured
// traits, and the starts spread over the box.
std::vector<std::vector<double>> RobustMaximizer::null_starts(const Pass& pass, const PassSearch& search) {
  const optpar1_block& o = model_.optpar1;
  std::vector<std::vector<double>> starts{point_of(pass, o)};
  if (!search.quantile_frequencies.empty()) {
    const std::vector<double> no_share{0.0};
    const std::vector<double>& shares = searches_step(pass) ? settings_.polygenic_shares : no_share;
    for (const TraitStart& start : trait_starts(sorted_measured_traits(), search.quantile_frequencies)) {
      for (const double share : shares) starts.push_back(point_of_trait_start(pass, o, start, share));
    }
  }
  add_spread_starts(pass, search.spread_starts, settings_.seed, starts);
  return starts;
}

void RobustMaximizer::set_marker_untyped() {
  Pedigree& ped = model_.ped;
  marker_codes_.resize(static_cast<std::size_t>(ped.nrow));
  for (int r = 1; r <= ped.nrow; ++r) {
    marker_codes_[static_cast<std::size_t>(r - 1)] = ped.buf2.mgt(r, 0);
    ped.buf2.mgt(r, 0) = 0;
  }
}

void RobustMaximizer::restore_marker_codes() {
  Pedigree& ped = model_.ped;
  for (int r = 1; r <= ped.nrow; ++r) ped.buf2.mgt(r, 0) = marker_codes_[static_cast<std::size_t>(r - 1)];
}

// The best end point as the whole parameter vector (ties applied by the last
// evaluations do not matter: the alternative's evaluations apply them again),
// then up to `alternative_extra_starts` other local maxima, distinct in value.
void RobustMaximizer::keep_trait_optima(const Pass& pass, const StartsOutcome& outcome) {
  const optpar1_block& o = model_.optpar1;
  trait_optima_.clear();
  double last_value = 0.0;
  for (const StartEnd& end : outcome.ends) {
    if (static_cast<int>(trait_optima_.size()) > settings_.alternative_extra_starts) break;
    if (!std::isfinite(end.value)) break;
    if (!trait_optima_.empty() && !(end.value < last_value - settings_.reported_spread)) continue;
    std::vector<double> par(static_cast<std::size_t>(model_.imax.npar) + 1, 0.0);
    for (int i = 1; i <= model_.imax.npar; ++i) par[static_cast<std::size_t>(i)] = o.par(i);
    for (std::size_t j = 0; j < pass.free.size(); ++j) par[static_cast<std::size_t>(pass.free[j])] = end.point[j];
    trait_optima_.push_back(std::move(par));
    last_value = end.value;
  }
}

// The search of the passes with the polygenic step free, or of those with it fixed.
const PassSearch& RobustMaximizer::pass_search() const {
  return model_.optpar1.ifree(step) != 0 ? settings_.with_step : settings_.without_step;
}

void RobustMaximizer::start_pass(LocalSearchKind local) {
  pass_local_ = local;
  evaluations_ = 0;
  starts_at_limit_ = 0;
}

void RobustMaximizer::maximize_null(int imark) {
  optpar1_block& o = model_.optpar1;
  start_pass(pass_search().local);
  theta_moves_ = false;
  const int starts = trait_optima_.empty() ? maximize_trait_part(imark) : 0;
  for (int i = 1; i <= model_.imax.npar; ++i) {
    if (i != theta) o.par(i) = trait_optima_.front()[static_cast<std::size_t>(i)];
  }
  new_series();  // the marker's own genotype lists
  o.flnl = evaluate_point();
  o.niter = starts;
  o.nfun = evaluations_;
}

void RobustMaximizer::maximize_alternative(int imark) {
  optpar1_block& o = model_.optpar1;
  const PassSearch& search = pass_search();
  start_pass(search.local);
  theta_moves_ = o.ifree(theta) != 0;
  const Pass pass = make_pass(o, model_.imax.npar, false);
  const std::vector<double> from_start = point_of(pass, o);
  // The null maxima with theta at its par.inp value, best first, then the par.inp start.
  std::vector<std::vector<double>> starts;
  for (const std::vector<double>& optimum : trait_optima_) {
    std::vector<double> x = from_start;
    for (std::size_t j = 0; j < pass.free.size(); ++j) {
      if (pass.free[j] != theta) x[j] = optimum[static_cast<std::size_t>(pass.free[j])];
    }
    starts.push_back(std::move(x));
  }
  starts.push_back(from_start);
  if (settings_.from_previous_alternative && !previous_alternative_.empty()) starts.push_back(previous_alternative_);
  new_series();
  add_alternative_spread_starts(pass, search, starts);
  if (theta_moves_) {
    // The null maximum (or start) at the largest theta: the alternative then never ends below the null.
    std::vector<double> x = starts.front();
    for (std::size_t j = 0; j < pass.free.size(); ++j) {
      if (pass.free[j] == theta) x[j] = pass.upper[j];
    }
    starts.push_back(std::move(x));
  }
  note_single_best(imark, "alternative hypothesis", maximize(pass, starts));
  if (settings_.from_previous_alternative) previous_alternative_ = point_of(pass, o);
  new_series();
  o.flnl = evaluate_point();
  o.niter = static_cast<int>(starts.size());
  o.nfun = evaluations_;
}

// Starts spread over the box, the same for every marker, since the null
// maxima may all lie beside the alternative's: with more candidates than
// starts, the candidates of the highest values.
void RobustMaximizer::add_alternative_spread_starts(const Pass& pass, const PassSearch& search,
                                                    std::vector<std::vector<double>>& starts) {
  const int count = search.alternative_spread_starts;
  const int candidates = std::max(count, search.alternative_spread_candidates);
  std::vector<std::vector<double>> spread;
  add_spread_starts(pass, candidates, settings_.seed + 1, spread);
  if (candidates > count) spread = screen_starts(pass, std::move(spread), 0, static_cast<std::size_t>(count));
  for (std::vector<double>& x : spread) starts.push_back(std::move(x));
}

// The first `always` points, then the `screened` others of the highest
// values, in that order (each other point evaluated once).
std::vector<std::vector<double>> RobustMaximizer::screen_starts(const Pass& pass, std::vector<std::vector<double>> points,
                                                                std::size_t always, std::size_t screened) {
  optpar1_block& o = model_.optpar1;
  std::vector<std::pair<double, std::size_t>> ranked;
  for (std::size_t s = always; s < points.size(); ++s) {
    set_point(pass, points[s], o);
    const double value = evaluate_point();
    ranked.emplace_back(std::isnan(value) ? -HUGE_VAL : value, s);
  }
  std::stable_sort(ranked.begin(), ranked.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  std::vector<std::vector<double>> kept(points.begin(), points.begin() + static_cast<std::ptrdiff_t>(always));
  for (std::size_t r = 0; r < std::min(screened, ranked.size()); ++r) kept.push_back(std::move(points[ranked[r].second]));
  return kept;
}

double RobustMaximizer::maximize_alternative_from(const std::vector<std::vector<double>>& starts, std::size_t always,
                                                  std::size_t screened) {
  optpar1_block& o = model_.optpar1;
  start_pass(settings_.profile_local);
  theta_moves_ = o.ifree(theta) != 0;
  const Pass pass = make_pass(o, model_.imax.npar, false);
  for (int i = 1; i <= model_.imax.npar; ++i) o.par(i) = starts.front()[static_cast<std::size_t>(i)];
  std::vector<std::vector<double>> points;
  for (const std::vector<double>& par : starts) {
    std::vector<double> x(pass.free.size());
    for (std::size_t j = 0; j < pass.free.size(); ++j) x[j] = par[static_cast<std::size_t>(pass.free[j])];
    order_start(pass, x);
    points.push_back(std::move(x));
  }
  new_series();
  if (points.size() > always + screened) points = screen_starts(pass, std::move(points), always, screened);
  // the starts are maxima of the passes, moved in theta at most
  maximize(pass, points, false);
  new_series();
  o.flnl = evaluate_point();
  return o.flnl;
}

}  // namespace bravik

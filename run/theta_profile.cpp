#include "run/theta_profile.hpp"

#include <algorithm>
#include <cmath>

#include "model/posterior/gradient.hpp"
#include "textio/message_text.hpp"

namespace bravik {
namespace {

constexpr int theta_at = 5;  // position of the recombination fraction
constexpr double free_recombination = 0.5;
// 4.6 in single precision, the divisor of every LOD the programs write.
constexpr double lod_divisor = static_cast<double>(4.6f);
// Bisection steps for the linked share: 2^-60 of [0, 1].
constexpr int alpha_steps = 60;

// d/d alpha of log10(alpha 10^L + 1 - alpha), times ln 10, without overflow.
double share_slope(double lod, double alpha) {
  if (lod > 0.0) {
    const double back = std::pow(10.0, -lod);
    return (1.0 - back) / (alpha * (1.0 - back) + back);
  }
  const double d = std::expm1(lod * std::log(10.0));
  return d / (alpha * d + 1.0);
}

double share_term(double lod, double alpha) {
  if (lod > 0.0) return lod + std::log10(alpha + (1.0 - alpha) * std::pow(10.0, -lod));
  return std::log1p(alpha * std::expm1(lod * std::log(10.0))) / std::log(10.0);
}

double slope_sum(std::span<const double> lods, double alpha) {
  double sum = 0.0;
  for (const double lod : lods) sum += share_slope(lod, alpha);
  return sum;
}

double level_crossing(const ProfilePoint& below, const ProfilePoint& above, double level) {
  return below.theta + (level - below.lod) / (above.lod - below.lod) * (above.theta - below.theta);
}

std::vector<double> par_of(const optpar1_block& o, int npar) {
  std::vector<double> par(static_cast<std::size_t>(npar) + 1, 0.0);
  for (int i = 1; i <= npar; ++i) par[static_cast<std::size_t>(i)] = o.par(i);
  return par;
}

std::vector<double> with_theta(std::vector<double> par, double theta) {
  par[theta_at] = theta;
  return par;
}

// The null maximum's trait parameters, the other positions (the marker's
// allele frequencies beyond npar among them) as at the alternative's maximum.
std::vector<double> null_start(const std::vector<double>& null_optimum, std::vector<double> alternative) {
  for (std::size_t i = 1; i < null_optimum.size() && i < alternative.size(); ++i) {
    if (static_cast<int>(i) != theta_at) alternative[i] = null_optimum[i];
  }
  return alternative;
}

}  // namespace

double lod_of(double lnl1, double lnl0) { return (lnl1 - lnl0) * 2.0 / lod_divisor; }

// The sum is concave in alpha, so its maximum is where the slope changes sign.
HeterogeneityFit fit_linked_share(std::span<const double> family_lods) {
  double alpha = 1.0;
  if (!(slope_sum(family_lods, 1.0) >= 0.0)) {
    double low = 0.0;
    double high = 1.0;
    for (int step = 0; step < alpha_steps; ++step) {
      const double middle = 0.5 * (low + high);
      (slope_sum(family_lods, middle) > 0.0 ? low : high) = middle;
    }
    alpha = slope_sum(family_lods, 0.0) > 0.0 ? low : 0.0;
  }
  double hlod = 0.0;
  for (const double lod : family_lods) hlod += share_term(lod, alpha);
  return {hlod, alpha};
}

SupportInterval support_interval(std::span<const ProfilePoint> points, double theta_hat, double lod_max) {
  const double level = lod_max - 1.0;
  SupportInterval interval{0.0, 0.5};
  std::size_t peak = 0;
  while (peak + 1 < points.size() && points[peak].theta < theta_hat) ++peak;
  for (std::size_t i = peak; i-- > 0;) {
    if (points[i].lod <= level) {
      interval.lo = level_crossing(points[i], points[i + 1], level);
      break;
    }
  }
  for (std::size_t i = peak + 1; i < points.size(); ++i) {
    if (points[i].lod <= level) {
      interval.hi = level_crossing(points[i], points[i - 1], level);
      break;
    }
  }
  interval.lo = std::min(interval.lo, theta_hat);
  interval.hi = std::max(interval.hi, theta_hat);
  return interval;
}

std::string theta_column(double theta) { return "lod_t" + textio::number_text(theta); }

std::string theta_table_header(std::span<const double> grid) {
  std::string text = "marker";
  for (const double theta : grid) text.append("\t").append(theta_column(theta));
  return text + "\ttheta_hat\tlod_max\ttheta_lo\ttheta_hi\thlod\talpha\thlod_theta";
}

std::string theta_table_line(int imark, const ThetaProfile& profile) {
  std::string line = std::to_string(imark);
  for (const double lod : profile.grid_lods) line.append("\t").append(textio::table_number(lod, 10));
  for (const double value : {profile.theta_hat, profile.lod_max, profile.support.lo, profile.support.hi, profile.hlod,
                             profile.alpha, profile.hlod_theta}) {
    line.append("\t").append(textio::table_number(value, 10));
  }
  return line;
}

namespace {

// The support interval of the profile: the grid points, theta_hat and theta
// 0.5 (where the LOD is 0), in order of theta.
SupportInterval support_of(const std::vector<double>& grid, const ThetaProfile& profile) {
  std::vector<ProfilePoint> points{{profile.theta_hat, profile.lod_max}};
  for (std::size_t g = 0; g < grid.size(); ++g) points.push_back({grid[g], profile.grid_lods[g]});
  points.push_back({free_recombination, 0.0});
  std::stable_sort(points.begin(), points.end(),
                   [](const ProfilePoint& a, const ProfilePoint& b) { return a.theta < b.theta; });
  return support_interval(points, profile.theta_hat, profile.lod_max);
}

}  // namespace

ThetaProfiler::ThetaProfiler(Model& model, textio::Channels& io, RobustMaximizer& robust, PosteriorKernel& posterior,
                             std::vector<double> grid)
    : model_(model), io_(io), robust_(robust), posterior_(posterior), grid_(std::move(grid)) {}

// The alternative's maximum with theta held, from the starts moved to it.
std::vector<double> ThetaProfiler::maximum_at(double theta, const std::vector<std::vector<double>>& starts,
                                              std::size_t warm) {
  optpar1_block& o = model_.optpar1;
  o.ifree(theta_at) = 0;
  std::vector<std::vector<double>> moved;
  for (const std::vector<double>& start : starts) moved.push_back(with_theta(start, theta));
  robust_.maximize_alternative_from(moved, warm, 1);
  std::vector<double> par = par_of(o, model_.imax.npar);
  par[0] = o.flnl;  // position 0 carries the log-likelihood
  return par;
}

ThetaProfile ThetaProfiler::profile(double null_lnl, const optpar1_block& start) {
  const optpar1_block found = model_.optpar1;
  optpar1_block alternative = start;
  alternative.par = found.par;
  alternative.flnl = found.flnl;
  const std::vector<double> from_alternative = par_of(alternative, model_.imax.npar);
  ThetaProfile out;
  std::vector<std::vector<double>> maxima;
  for (std::size_t g = 0; g < grid_.size(); ++g) {
    // Searched from the alternative's maximum and the neighbour's (warm),
    // and from the best, by its value, of the robust alternative's other
    // starts: the null maxima, the par.inp start, the previous marker's maximum.
    std::vector<std::vector<double>> starts{from_alternative};
    if (!maxima.empty()) starts.push_back(maxima.back());
    const std::size_t warm = starts.size();
    for (const std::vector<double>& optimum : robust_.trait_optima()) starts.push_back(null_start(optimum, from_alternative));
    starts.push_back(par_of(start, model_.imax.npar));
    if (previous_maxima_.size() == grid_.size()) starts.push_back(previous_maxima_[g]);
    model_.optpar1 = alternative;
    maxima.push_back(maximum_at(grid_[g], starts, warm));
    out.grid_lods.push_back(lod_of(maxima.back()[0], null_lnl));
  }
  previous_maxima_ = maxima;
  const auto best = std::max_element(out.grid_lods.begin(), out.grid_lods.end());
  const std::vector<double> best_grid_point =
      best == out.grid_lods.end() ? from_alternative : maxima[static_cast<std::size_t>(best - out.grid_lods.begin())];
  best_over_theta(alternative, best_grid_point, null_lnl, out);

  out.support = support_of(grid_, out);
  best_heterogeneity(maxima, null_lnl, out);
  model_.optpar1 = found;
  return out;
}

void ThetaProfiler::best_heterogeneity(const std::vector<std::vector<double>>& maxima, double null_lnl,
                                       ThetaProfile& out) {
  out.hlod = -HUGE_VAL;
  for (std::size_t g = 0; g < grid_.size(); ++g) {
    const HeterogeneityFit fit = heterogeneity_at(maxima[g], grid_[g], null_lnl);
    if (!(fit.hlod > out.hlod)) continue;
    out.hlod = fit.hlod;
    out.alpha = fit.alpha;
    out.hlod_theta = grid_[g];
  }
}

// lod_max and theta_hat: the best of the grid, the alternative itself when
// its theta was estimated within [0, 0.5], and a search with theta free in
// (0, 0.5) from the best grid point.
void ThetaProfiler::best_over_theta(const optpar1_block& alternative, const std::vector<double>& best_grid_point,
                                    double null_lnl, ThetaProfile& out) {
  out.theta_hat = best_grid_point[theta_at];
  out.lod_max = grid_.empty() ? -HUGE_VAL : lod_of(best_grid_point[0], null_lnl);
  const auto consider = [&](double lnl, double theta) {
    const double lod = lod_of(lnl, null_lnl);
    if (lod > out.lod_max && theta >= 0.0 && theta <= free_recombination) {
      out.lod_max = lod;
      out.theta_hat = theta;
    }
  };
  if (alternative.ifree(theta_at) != 0) consider(alternative.flnl, alternative.par(theta_at));
  optpar1_block& o = model_.optpar1;
  o = alternative;
  o.ifree(theta_at) = 1;
  o.parlo(theta_at) = 0.0;
  o.parhi(theta_at) = free_recombination;
  if (!(o.dpar(theta_at) > 0.0)) o.dpar(theta_at) = 0.05;
  const double inside = std::clamp(best_grid_point[theta_at], 1e-6, free_recombination - 1e-6);
  const double lnl = robust_.maximize_alternative_from({with_theta(best_grid_point, inside)});
  consider(lnl, o.par(theta_at));
}

// The mixture at the alternative's maximum at theta against the null maximum:
// the linked share's sum, plus the LOD of the unlinked families' total at
// those trait parameters against the null maximum (at most 0), so that
// alpha = 1 gives the grid LOD itself.
HeterogeneityFit ThetaProfiler::heterogeneity_at(const std::vector<double>& par, double theta, double null_lnl) {
  family_log_likelihoods(par, theta, linked_);
  family_log_likelihoods(par, free_recombination, unlinked_);
  family_lods_.clear();
  double unlinked_total = 0.0;
  for (std::size_t f = 0; f < linked_.size(); ++f) {
    family_lods_.push_back(lod_of(linked_[f], unlinked_[f]));
    unlinked_total = unlinked_total + unlinked_[f];
  }
  HeterogeneityFit fit = fit_linked_share(family_lods_);
  fit.hlod += lod_of(unlinked_total, null_lnl);
  return fit;
}

// Each family's log-likelihood at par with theta set, by the posterior kernel.
void ThetaProfiler::family_log_likelihoods(const std::vector<double>& par, double theta, std::vector<double>& lf) {
  optpar1_block& o = model_.optpar1;
  for (int i = 1; i <= model_.imax.npar; ++i) o.par(i) = par[static_cast<std::size_t>(i)];
  o.par(theta_at) = theta;
  o.ifree(theta_at) = 0;
  ParameterGradient gradient;
  posterior_pass_at(model_, io_, posterior_, gradient);
  lf.clear();
  for (int f = 1; f <= model_.ped.buf1.nfam; ++f) lf.push_back(posterior_.family_log_likelihood(f));
}

}  // namespace bravik

#pragma once
// The LOD over theta: for each marker, the alternative maximized again at
// every theta of a grid (the trait parameters free, theta held), the maximum
// over theta in [0, 0.5] with its 1-LOD support interval, and the
// heterogeneity LOD from each family's log-likelihoods at the grid's maxima.
#include <span>
#include <string>
#include <vector>

#include "model/blocks.hpp"
#include "model/posterior/posterior_kernel.hpp"
#include "run/robust.hpp"
#include "textio/channels.hpp"

namespace bravik {

// A LOD formed as the programs form theirs: 2 (ln L1 - ln L0) / 4.6.
double lod_of(double lnl1, double lnl0);

// The best mixture of linked and unlinked families at one theta: alpha in
// [0, 1] maximizing the sum over families of log10(alpha 10^LOD_f + 1 - alpha),
// and that sum (LOD_f: the family's LOD at theta against theta 0.5, both at the
// same trait parameters).
struct HeterogeneityFit {
  double hlod;
  double alpha;
};
HeterogeneityFit fit_linked_share(std::span<const double> family_lods);

// One point of the profile LOD over theta.
struct ProfilePoint {
  double theta;
  double lod;
};

// The thetas on both sides of theta_hat where the profile, linear between its
// points (sorted by theta), falls to lod_max - 1; the bound 0 or 0.5 on a side
// where it never falls that far.
struct SupportInterval {
  double lo;
  double hi;
};
SupportInterval support_interval(std::span<const ProfilePoint> points, double theta_hat, double lod_max);

// What one marker adds to the results.
struct ThetaProfile {
  std::vector<double> grid_lods;  // in grid order
  double theta_hat = 0.0;
  double lod_max = 0.0;
  SupportInterval support{0.0, 0.5};
  double hlod = 0.0;
  double alpha = 0.0;
  double hlod_theta = 0.0;
};

// The header and one line of the table (tab-separated, "NA" for a value that
// is not a number).
std::string theta_table_header(std::span<const double> grid);
std::string theta_table_line(int imark, const ThetaProfile& profile);
// lod_t0.01: the column of one grid point.
std::string theta_column(double theta);

class ThetaProfiler {
 public:
  // `posterior` gives each family's log-likelihoods for the heterogeneity fit.
  ThetaProfiler(Model& model, textio::Channels& io, RobustMaximizer& robust, PosteriorKernel& posterior,
                std::vector<double> grid);

  // At the end of a marker's alternative pass (optpar1 at its maximum): the
  // profile against the null log-likelihood, the searches with the flags,
  // steps and bounds of `start` (par.inp's). Leaves optpar1 as it found it.
  ThetaProfile profile(double null_lnl, const optpar1_block& start);

 private:
  // From the first `warm` starts and the best of the others by value.
  std::vector<double> maximum_at(double theta, const std::vector<std::vector<double>>& starts, std::size_t warm);
  void best_over_theta(const optpar1_block& alternative, const std::vector<double>& best_grid_point,
                       double null_lnl, ThetaProfile& out);
  HeterogeneityFit heterogeneity_at(const std::vector<double>& par, double theta, double null_lnl);
  void best_heterogeneity(const std::vector<std::vector<double>>& maxima, double null_lnl, ThetaProfile& out);
  void family_log_likelihoods(const std::vector<double>& par, double theta, std::vector<double>& lf);

  Model& model_;
  textio::Channels& io_;
  RobustMaximizer& robust_;
  PosteriorKernel& posterior_;
  std::vector<double> grid_;
  std::vector<double> linked_, unlinked_, family_lods_;
  std::vector<std::vector<double>> previous_maxima_;  // the previous marker's, by grid point
};

}  // namespace bravik

#include "model/setup.hpp"

#include <cmath>
#include <string_view>

#include "model/genotype.hpp"
#include "model/tables.hpp"
#include "textio/layout.hpp"
#include "textio/pause.hpp"
#include "textio/run_end.hpp"

namespace bravik {
namespace {

constexpr double rejected_status = -1.0E18;
// Tolerance on the sum of the marker allele frequencies: 1e-5 in single precision.
constexpr double marker_sum_tolerance = static_cast<double>(1e-5f);

// A tied parameter takes the value its target holds at that moment and is fixed.
void apply_ties(Model& model) {
  optpar1_block& o = model.optpar1;
  for (int i = 1; i <= model.imax.npar; ++i) {
    if (model.optpar2.link(i) != i) {
      o.ifree(i) = 0;
      o.par(i) = o.par(model.optpar2.link(i));
    }
  }
}

// Free parameters strictly inside their bounds, and par(4) <= par(2). Records
// the first check that fails, so a rejected starting point can be explained.
bool admissible(Model& model) {
  const optpar1_block& o = model.optpar1;
  for (int i = 1; i <= model.imax.npar; ++i) {
    if (o.ifree(i) == 0) continue;
    if (o.parlo(i) >= o.par(i) || o.par(i) >= o.parhi(i)) {
      model.rejection = {Rejection::Check::bounds, i};
      return false;
    }
  }
  if (o.par(4) > o.par(2)) {
    model.rejection = {Rejection::Check::means_order, 4};
    return false;
  }
  model.rejection = {};
  return true;
}

// Joint genotype frequencies under Hardy-Weinberg and linkage equilibrium.
void joint_frequencies(Model& model) {
  const optpar1_block& o = model.optpar1;
  const int npar = model.imax.npar;
  const double q = o.par(1);
  const double p1 = o.par(npar + 1);
  const double p2 = o.par(npar + 2);
  const double h[N_HAP + 1] = {0.0, q * p1, q * p2, (1.0 - q) * p1, (1.0 - q) * p2};
  model.prpar.gfreq.fill(0.0);
  for (int k = 1; k <= N_HAP; ++k) {
    for (int l = 1; l <= N_HAP; ++l) model.prpar.gfreq(joint_genotype(k, l)) += h[k] * h[l];
  }
}

void density_quantities(Model& model) {
  const optpar1_block& o = model.optpar1;
  imax_block& m = model.imax;
  m.gmean(1) = o.par(2);
  m.gmean(2) = o.par(3);
  m.gmean(3) = o.par(4);
  m.apol = o.par(7);
  m.sdev = std::sqrt(o.par(6));
}

void check_marker_frequencies(const Model& model, textio::Channels& io) {
  const optpar1_block& o = model.optpar1;
  const int npar = model.imax.npar;
  if (std::fabs(o.par(npar + 1) + o.par(npar + 2) - 1.0) > marker_sum_tolerance) {
    textio::write_list(io, textio::stdout_unit,
                       {std::string_view{"ERROR: sum of marker allele frequencies is not 1"}});
    textio::write_list(io, textio::stdout_unit, {std::string_view{"Check PAR.INP"}});
    textio::pause(io);
    textio::stop("", textio::exit_error_stop);
  }
}

// Only an excess is reported; a sum below 1 passes silently.
void check_joint_frequencies(const Model& model, textio::Channels& io) {
  double sum = 0.0;
  for (int g = 1; g <= N_JOINT; ++g) sum = sum + model.prpar.gfreq(g);
  if (sum - 1.0 > 1e-7) {
    textio::write_list(io, textio::stdout_unit, {std::string_view{"Sum_p.ne.1"}, sum});
    textio::pause(io);
  }
}

// thap(g, h): probability that a parent of joint genotype g passes haplotype h.
void haplotype_transmission(Model& model) {
  tranc_block& t = model.tranc;
  const double theta = model.optpar1.par(5);
  t.thap_store.fill(0.0);
  for (int i = 1; i <= N_HAP; ++i) t.thap(joint_genotype(i, i), i) = 1.0;
  for (int k = 1; k <= N_HAP - 1; ++k) {
    for (int l = k + 1; l <= N_HAP; ++l) {
      t.thap(joint_genotype(k, l), k) = 0.5;
      t.thap(joint_genotype(k, l), l) = 0.5;
    }
  }
  // The double heterozygotes recombine.
  const int pairs[2][2] = {{1, 4}, {2, 3}};
  for (const auto& pair : pairs) {
    const int k = pair[0];
    const int l = pair[1];
    const int g = joint_genotype(k, l);
    t.thap(g, k) = (1.0 - theta) * 0.5;
    t.thap(g, l) = (1.0 - theta) * 0.5;
    t.thap(g, k + 2) = theta * 0.5;
    t.thap(g, l - 2) = theta * 0.5;
  }
}

// tgen(c, m, f): probability of child c given mother m and father f.
void joint_transmission(Model& model, textio::Channels& io) {
  tranc_block& t = model.tranc;
  t.tgen_store.fill(0.0);
  for (int f = 1; f <= N_JOINT; ++f) {
    for (int m = 1; m <= N_JOINT; ++m) {
      double sum = 0.0;
      for (int k = 1; k <= N_HAP; ++k) {
        for (int l = 1; l <= N_HAP; ++l) {
          const double p = t.thap(f, k) * t.thap(m, l);
          t.tgen(joint_genotype(k, l), m, f) += p;
          sum = sum + p;
        }
      }
      if (sum - 1.0 > 1e-10) {
        textio::write_list(io, textio::stdout_unit, {std::string_view{"Sum_bbb.ne.1"}, f, m});
        textio::pause(io);
      }
    }
  }
}

}  // namespace

void stap0(Model& model, textio::Channels& io, double& status) {
  status = 1.0;
  ++model.first_call_setups;
  apply_ties(model);
  if (!admissible(model)) {
    status = rejected_status;
    return;
  }
  check_marker_frequencies(model, io);
  joint_frequencies(model);
  check_joint_frequencies(model, io);
  haplotype_transmission(model);
  joint_transmission(model, io);
  density_quantities(model);
  genotype(model, io);
}

void stapar(Model& model, double& status) {
  status = 1.0;
  apply_ties(model);
  if (!admissible(model)) {
    status = rejected_status;
    return;
  }
  joint_frequencies(model);
  density_quantities(model);
}

}  // namespace bravik

#include "model/posterior/gradient.hpp"

#include "model/density.hpp"
#include "model/fast/fast_kernel.hpp"
#include "model/objective/genmmp.hpp"
#include "model/setup.hpp"

namespace bravik {
namespace {

// The positions of the seven parameters.
constexpr int allele_frequency = 1;
constexpr int first_mean = 2;  // means of major-gene classes 1, 2, 3 at 2, 3, 4
constexpr int theta = 5;
constexpr int variance = 6;
constexpr int step = 7;

// d ln gfreq(g) / d q for a joint genotype of major-gene class `major`: each
// haplotype carrying allele 1 adds 1/q, each carrying allele 2 -1/(1 - q).
double log_prior_derivative(int major, double q) {
  const int ones = 3 - major;
  return static_cast<double>(ones) / q - static_cast<double>(2 - ones) / (1.0 - q);
}

// The derivatives by position, ties not yet applied: each person's posterior
// expectation of the derivative of its own log factor, and the children's
// theta scores, in person order.
void raw_gradient(const Model& model, const PosteriorKernel& kernel, ParameterGradient& raw) {
  raw.fill(0.0);
  const imax_block& m = model.imax;
  const double q = model.optpar1.par(allele_frequency);
  const double v = m.sdev * m.sdev;
  const int persons = model.ped.buf1.ifst(model.ped.buf1.nfam + 1);
  for (int p = 1; p <= persons; ++p) {
    if (!kernel.in_likelihood(p)) continue;
    const bool founder = !kernel.is_child(p);
    const double y = model.ped.buf2.yph(p);
    const bool measured = y > not_measured;
    for (int k = 1; k <= model.genot.n_gen(p); ++k) {
      const int major = model.prpar.itg(model.genot.l_gen(model.genot.i_start(p) + k));
      for (int c = 1; c <= model.pg.npol; ++c) {
        const double posterior = kernel.posterior(model, p, k, c);
        if (posterior == 0.0) continue;
        if (founder) raw(allele_frequency) += posterior * log_prior_derivative(major, q);
        if (!measured) continue;
        const double shift = static_cast<double>(c - 4);
        const double r = y - (m.gmean(major) + shift * m.apol);
        raw(first_mean + major - 1) += posterior * r / v;
        raw(variance) += posterior * (r * r / v - 1.0) / (2.0 * v);
        raw(step) += posterior * r * shift / v;
      }
    }
    raw(theta) += kernel.theta_score(p);
  }
}

}  // namespace

void assemble_gradient(const Model& model, const PosteriorKernel& kernel, ParameterGradient& gradient) {
  ParameterGradient raw;
  raw_gradient(model, kernel, raw);
  // Where each position's value comes from, as the set-up copies tied values
  // in increasing order.
  Fixed<int, 1, N_PAR> source;
  for (int i = 1; i <= N_PAR; ++i) source(i) = i;
  const int npar = model.imax.npar;
  for (int i = 1; i <= npar; ++i) {
    if (model.optpar2.link(i) != i) source(i) = source(model.optpar2.link(i));
  }
  gradient.fill(0.0);
  for (int i = 1; i <= npar; ++i) gradient(source(i)) += raw(i);
}

void objective_with_gradient(Model& model, textio::Channels& io, PosteriorKernel& kernel, double& value,
                             ParameterGradient& gradient) {
  double status;
  if (model.imax.ifirst == -1) {
    stap0(model, io, status);
    forget_fast_series(model);
  } else {
    stapar(model, status);
  }
  if (status + static_cast<double>(1.0E18f) <= 0.0) {
    value = rejection_value;
    gradient.fill(0.0);
    return;
  }
  value = kernel.evaluate(model);
  assemble_gradient(model, kernel, gradient);
}

double posterior_pass_at(Model& model, textio::Channels& io, PosteriorKernel& kernel, ParameterGradient& gradient) {
  model.imax.ifirst = -1;
  double value = 0.0;
  objective_with_gradient(model, io, kernel, value, gradient);
  return value;
}

}  // namespace bravik

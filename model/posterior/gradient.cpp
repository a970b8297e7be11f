#include "model/posterior/gradient.hpp"

#include "model/fast/fast_kernel.hpp"
#include "model/objective/genmmp.hpp"
#include "model/setup.hpp"

namespace bravik {
namespace {

// The derivatives by position, ties not yet applied: the families' scores
// summed in family order.
void raw_gradient(const Model& model, const PosteriorKernel& kernel, ParameterGradient& raw) {
  raw.fill(0.0);
  for (int f = 1; f <= model.ped.buf1.nfam; ++f) {
    const FamilyScore& score = kernel.family_score(f);
    for (int i = 1; i <= static_cast<int>(score.size()); ++i) raw(i) += score[static_cast<std::size_t>(i - 1)];
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

#include "model/objective/genmmp.hpp"

#include <cmath>

#include "model/density.hpp"
#include "model/fast/fast_kernel.hpp"
#include "model/literal/mmpfam.hpp"
#include "model/setup.hpp"

namespace bravik {
namespace {

// The literal loop: massix and mmpfam for each family in turn.
void literal_families(Model& model, textio::Channels& io, double& value) {
  model.first_nonfinite_family = 0;
  value = 0.0;
  for (int ifam = 1; ifam <= model.ped.buf1.nfam; ++ifam) {
    massix(model, io, ifam);
    double lf;
    mmpfam(model, ifam, lf);
    if (!std::isfinite(lf) && model.first_nonfinite_family == 0) model.first_nonfinite_family = ifam;
    value = value + lf;
  }
}

}  // namespace

void genmmp(Model& model, textio::Channels& io, double& value) {
  double status;
  if (model.imax.ifirst == -1) {
    stap0(model, io, status);
    forget_fast_series(model);
  } else {
    stapar(model, status);
  }
  if (status + static_cast<double>(1.0E18f) <= 0.0) {
    value = rejection_value;
    return;
  }
  if (model.kernel == KernelChoice::fast) {
    fast_families(model, io, value);
  } else {
    literal_families(model, io, value);
  }
}

}  // namespace bravik

#include "model/freq.hpp"

namespace bravik {

void freq(const Model& model, double& pm1, double& pm2, int& notyp) {
  int counter[4] = {0, 0, 0, 0};
  const int n = model.ped.buf1.ifst(model.ped.buf1.nfam + 1);
  for (int p = 1; p <= n; ++p) {
    const int c = model.ped.buf2.mgt(p, 0);
    if (c != 0) counter[c] += 1;
  }
  const int typed = counter[1] + counter[2] + counter[3];
  if (typed == 0) {
    notyp = 1;
    return;
  }
  notyp = 0;
  const double alleles = 2.0 * static_cast<double>(typed);
  pm1 = static_cast<double>(2 * counter[1] + counter[2]) / alleles;
  pm2 = static_cast<double>(counter[2] + 2 * counter[3]) / alleles;
}

}  // namespace bravik

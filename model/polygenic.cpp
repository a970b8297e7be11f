#include "model/polygenic.hpp"

#include <algorithm>

namespace bravik {

double fac(int n) {
  double product = 1.0;
  for (int i = 1; i <= n; ++i) product = product * static_cast<double>(i);
  return product;
}

double cnk(int n, int k) {
  if (k == n) return 1.0;
  if (n < k) return 0.0;
  const double fn = fac(n);
  const double fk = fac(k);
  const double denominator = fk * fac(n - k);
  return fn / denominator;
}

namespace {

// hyp(j, i): probability that a parent with i increasing alleles transmits j.
struct HalfTransmission {
  double value[4][N_POL] = {};
  double& operator()(int j, int i) { return value[j][i]; }
};

int lowest_transmitted(int i, int nhalf) { return std::max(i - nhalf, 0); }
int highest_transmitted(int i) { return std::min(i, 3); }

}  // namespace

void fom_bep(Model& model) {
  pg_block& pg = model.pg;
  double r;
  if (model.program == Program::maximizing) {
    pg.nhalf = 3;
    pg.npol = 7;
    r = 1.0 / cnk(6, 3);
  } else {
    r = 1.0 / cnk(pg.npol - 1, (pg.npol - 1) / 2);
  }
  const int nhalf = pg.nhalf;
  const int npol = pg.npol;
  HalfTransmission hyp;
  for (int i = 0; i <= npol - 1; ++i) {
    for (int j = 0; j <= nhalf; ++j) hyp(j, i) = (cnk(i, j) * cnk(npol - 1 - i, nhalf - j)) * r;
  }
  for (int m = 0; m <= npol - 1; ++m) {
    for (int f = 0; f <= npol - 1; ++f) {
      const int c_first = lowest_transmitted(m, nhalf) + lowest_transmitted(f, nhalf);
      const int c_last = highest_transmitted(m) + highest_transmitted(f);
      for (int c = c_first; c <= c_last; ++c) {
        const int jlo = c <= nhalf ? lowest_transmitted(m, nhalf) : c - nhalf;
        const int jhi = std::min(highest_transmitted(m), c);
        double sum = 0.0;
        for (int j = jlo; j <= jhi; ++j) sum = sum + hyp(c - j, f) * hyp(j, m);
        model.tranc.tpol(c, f, m) = sum;
      }
    }
  }
}

void set_class_weights(Model& model) {
  const int npol = model.pg.npol;
  if (model.program == Program::maximizing) {
    for (int k = 1; k <= N_POL; ++k) model.prpar.wpol(k) = cnk(6, k - 1) * 0.015625;
    return;
  }
  double power = 1.0;
  for (int i = 1; i <= npol - 1; ++i) power = power * 0.5;
  for (int k = 1; k <= npol; ++k) model.prpar.wpol(k) = cnk(npol - 1, k - 1) * power;
}

void apply_polygenic_switch(Model& model) {
  const bool step_is_zero = model.optpar1.par(7) == 0.0;
  const bool fixed_step = model.program == Program::fixed || model.optpar1.ifree(7) == 0;
  if (step_is_zero && fixed_step) {
    model.pg.npol = 1;
    model.prpar.wpol(1) = 1.0;
  }
}

}  // namespace bravik

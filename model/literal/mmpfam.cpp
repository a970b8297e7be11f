#include "model/literal/mmpfam.hpp"

#include <cmath>

namespace bravik {
namespace {

// Read access to one family's genotype lists and its slice of xx.
class FamilyView {
 public:
  FamilyView(Model& model, int ifam)
      : model_(model),
        offset_(model.ped.buf1.ifst(ifam)),
        base_(model.genot.i_start(model.ped.buf1.ifst(ifam) + 1)) {}

  int global(int local) const { return offset_ + local; }
  int genotypes(int p) const { return model_.genot.n_gen(p); }
  int code(int p, int k) const { return model_.genot.l_gen(model_.genot.i_start(p) + k); }
  double& x(int p, int c, int k) { return model_.xx.xx(c, model_.genot.i_start(p) - base_ + k); }
  // T(child | first, second) and P(child | first, second), classes numbered from 1.
  double t(int g_child, int g_first, int g_second) const { return model_.tranc.tgen(g_child, g_first, g_second); }
  double p(int c_child, int c_first, int c_second) const {
    return model_.tranc.tpol(c_child - 1, c_first - 1, c_second - 1);
  }
  int npol() const { return model_.pg.npol; }

 private:
  Model& model_;
  int offset_;
  int base_;
};

struct Nuclear {
  int father;
  int mother;
  const std::int32_t* mem;  // family-local members from the first child on
  int children;             // number of children
};

// The sum over child d's genotypes and classes given both parents.
double child_sum(FamilyView& fv, int d, int g_first, int c_first, int g_second, int c_second) {
  double e = 0.0;
  for (int kd = 1; kd <= fv.genotypes(d); ++kd) {
    const int gd = fv.code(d, kd);
    for (int cd = 1; cd <= fv.npol(); ++cd) {
      e = e + (fv.t(gd, g_first, g_second) * fv.x(d, cd, kd)) * fv.p(cd, c_first, c_second);
    }
  }
  return e;
}

// Case 1: the connector q is a parent, r its spouse; every child is summed.
double parent_connector_sum(FamilyView& fv, const Nuclear& nf, int r, int gq, int cq) {
  double s = 0.0;
  for (int kr = 1; kr <= fv.genotypes(r); ++kr) {
    const int gr = fv.code(r, kr);
    for (int cr = 1; cr <= fv.npol(); ++cr) {
      double product = 1.0;
      for (int i = 0; i < nf.children; ++i) {
        product = product * child_sum(fv, fv.global(nf.mem[i]), gr, cr, gq, cq);
      }
      s = s + product * fv.x(r, cr, kr);
    }
  }
  return s;
}

// One genotype (by its list position k and code g) and class c of a parent.
struct ParentState {
  int k;
  int g;
  int c;
};

// Sums term(father, mother) over the parents' genotypes and classes: the
// father's genotype outermost, then his class, the mother's genotype, her class.
template <class Term>
double sum_over_parents(FamilyView& fv, const Nuclear& nf, Term term) {
  double s = 0.0;
  for (int kfa = 1; kfa <= fv.genotypes(nf.father); ++kfa) {
    const int gfa = fv.code(nf.father, kfa);
    for (int cfa = 1; cfa <= fv.npol(); ++cfa) {
      for (int kmo = 1; kmo <= fv.genotypes(nf.mother); ++kmo) {
        const int gmo = fv.code(nf.mother, kmo);
        for (int cmo = 1; cmo <= fv.npol(); ++cmo) s = s + term(ParentState{kfa, gfa, cfa}, ParentState{kmo, gmo, cmo});
      }
    }
  }
  return s;
}

// Case 2: the connector q is the only child.
double single_child_sum(FamilyView& fv, const Nuclear& nf, int gq, int cq) {
  return sum_over_parents(fv, nf, [&](const ParentState& fa, const ParentState& mo) {
    return ((fv.x(nf.mother, mo.c, mo.k) * fv.x(nf.father, fa.c, fa.k)) * fv.t(gq, mo.g, fa.g)) * fv.p(cq, mo.c, fa.c);
  });
}

// Case 3: the connector q is the first of several children.
double first_child_sum(FamilyView& fv, const Nuclear& nf, int gq, int cq) {
  return sum_over_parents(fv, nf, [&](const ParentState& fa, const ParentState& mo) {
    double product = 1.0;
    for (int i = 1; i < nf.children; ++i) {
      product = product * child_sum(fv, fv.global(nf.mem[i]), mo.g, mo.c, fa.g, fa.c);
    }
    return fv.x(nf.mother, mo.c, mo.k) *
           (((product * fv.t(gq, mo.g, fa.g)) * fv.p(cq, mo.c, fa.c)) * fv.x(nf.father, fa.c, fa.k));
  });
}

// Multiplies every entry of q by its nuclear family's sum.
void peel_into_connector(FamilyView& fv, const Nuclear& nf, int q) {
  const bool q_is_parent = q == nf.father || q == nf.mother;
  const int spouse = q == nf.father ? nf.mother : nf.father;
  for (int kq = 1; kq <= fv.genotypes(q); ++kq) {
    const int gq = fv.code(q, kq);
    for (int cq = 1; cq <= fv.npol(); ++cq) {
      double s;
      if (q_is_parent) {
        s = parent_connector_sum(fv, nf, spouse, gq, cq);
      } else if (nf.children <= 1) {
        s = single_child_sum(fv, nf, gq, cq);
      } else {
        s = first_child_sum(fv, nf, gq, cq);
      }
      fv.x(q, cq, kq) = s * fv.x(q, cq, kq);
    }
  }
}

// Divides q's entries by their sum W; returns ln W and leaves their new sum in b.
double rescale(FamilyView& fv, int q, double& b) {
  double w = 0.0;
  for (int k = 1; k <= fv.genotypes(q); ++k) {
    for (int c = 1; c <= fv.npol(); ++c) w = w + fv.x(q, c, k);
  }
  const double r = 1.0 / w;
  b = 0.0;
  for (int k = 1; k <= fv.genotypes(q); ++k) {
    for (int c = 1; c <= fv.npol(); ++c) {
      fv.x(q, c, k) = fv.x(q, c, k) * r;
      b = b + fv.x(q, c, k);
    }
  }
  return std::log(w);
}

}  // namespace

void mmpfam(Model& model, int ifam, double& lf) {
  const Pedigree& ped = model.ped;
  FamilyView fv(model, ifam);
  double scale_sum = 0.0;
  double end_sum = 0.0;
  for (int i = ped.buf3.inuc(ifam) + 1; i <= ped.buf3.inuc(ifam + 1); ++i) {
    const int first = ped.buf14.imem(i);
    const int members = ped.buf14.imem(i + 1) - first;
    const Nuclear nf{fv.global(ped.buf16.mem(first)), fv.global(ped.buf16.mem(first + 1)),
                     &ped.buf16.mem(first + 2), members - 2};
    const bool terminal = ped.buf15.icon(i) == 0;
    const int q = terminal ? nf.father : fv.global(ped.buf15.icon(i));
    peel_into_connector(fv, nf, q);
    double b;
    scale_sum = scale_sum + rescale(fv, q, b);
    if (terminal) end_sum = end_sum + std::log(b);
  }
  lf = end_sum + scale_sum;
}

}  // namespace bravik

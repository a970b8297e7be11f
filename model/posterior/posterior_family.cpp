#include "model/posterior/posterior_family.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "model/density.hpp"
#include "model/fast/fast_family.hpp"
#include "model/fast/fast_lanes.hpp"
#include "model/tables.hpp"

namespace bravik {

namespace {

// A vector over the pairs of two members' classes: with seven classes, rows
// of eight lanes (the last one zero), so that it fills whole vectors.
constexpr int pair_row = 8;
constexpr std::size_t class_pairs = static_cast<std::size_t>(N_POL) * pair_row;
constexpr std::size_t child_block = N_JOINT * class_pairs;

// With one class: a row of sums by lane over a parent's genotypes (room for
// all of them in chunks of any width), and the widest chunk of lanes.
constexpr int row_lanes = 16;
constexpr int widest_chunk = 8;

// A chunk of Width lanes with one class.
template <int Width>
struct ChunkOf;
template <>
struct ChunkOf<2> {
  using type = fast::TwoLanes;
};
template <>
struct ChunkOf<4> {
  using type = fast::FourLanes;
};
template <>
struct ChunkOf<8> {
  using type = EightLanes;
};
// Lane indices into the sixteen lanes of a TransmissionByFirst, for a chunk
// of any width (those past its width unused).
using ChunkIndex = std::int64_t __attribute__((vector_size(64)));

// The number of entries a nuclear family keeps for the outward pass: those of
// its connector's states.
std::size_t connector_states(const Model& model, const SeriesPlan& plan, const FamilyPlan& family) {
  std::size_t states = 0;
  for (int i = family.nuclear_begin; i < family.nuclear_end; ++i) {
    states += static_cast<std::size_t>(model.genot.n_gen(plan.nuclear[static_cast<std::size_t>(i)].q)) * N_POL;
  }
  return states;
}

}  // namespace

void PosteriorWorkspace::reserve(const Model& model, const SeriesPlan& plan) {
  std::size_t kept = 0;
  std::size_t nuclear = 0;
  std::size_t persons = 0;
  for (const FamilyPlan& family : plan.families) {
    kept = std::max(kept, connector_states(model, plan, family));
    nuclear = std::max(nuclear, static_cast<std::size_t>(family.nuclear_end - family.nuclear_begin));
    persons = std::max(persons, static_cast<std::size_t>(family.persons));
  }
  const auto states = static_cast<std::size_t>(plan.most_slots) * N_POL;
  const auto children = static_cast<std::size_t>(plan.most_children) + 1;
  const auto grow = [](auto& v, std::size_t size) {
    if (v.size() < size) v.resize(size);
  };
  grow(x, states);
  grow(outside, states);
  grow(outside_known, persons);
  grow(recombinations, persons);
  grow(theta_score, persons);
  grow(before, kept);
  grow(sums, kept);
  grow(scale, nuclear);
  grow(child_classes, static_cast<std::size_t>(plan.most_slots) * class_pairs);
  grow(child_adjoint, static_cast<std::size_t>(plan.most_slots) * class_pairs);
  grow(child_sums, children * class_pairs);
  grow(before_child, (children + 1) * class_pairs);
  grow(weight_after, class_pairs);
  grow(connector_weight, static_cast<std::size_t>(N_JOINT) * N_POL);
  grow(connector_classes, child_block);
  grow(class_table, N_POL * class_pairs);
  for (std::vector<double>* v : {&pair_weight, &pair_joint, &to_connector, &child_weight}) grow(*v, class_pairs);
  inward.reserve(plan);
  // The rows of one-class lanes: three, the second parent's genotypes, two by
  // child and one by slot, of sixteen lanes; the chunk sums, two by child.
  grow(lane_rows, (3 + N_JOINT + 2 * children + static_cast<std::size_t>(plan.most_slots)) * row_lanes);
  grow(chunk_sums, 2 * children * widest_chunk);
  grow(lane_terms, static_cast<std::size_t>(plan.most_slots));
  grow(lane_term_ends, children + 1);
}

namespace {

// The parents whose states a nuclear family's sum runs over (the first and
// the second of T(g_d | g_1, g_2) and P(c_d | c_1, c_2), as mmpfam orders
// them), the children it sums, and whether the connector is the second parent
// (case 1) or a child (cases 2 and 3).
struct Sum {
  int first;
  int second;
  int children_begin;  // in SeriesPlan::children
  int children_end;
  bool connector_is_parent;
  int first_term_end;  // the plan's nonzero transmissions to the summed children
};

Sum sum_of(const NuclearPlan& nf) {
  if (nf.kind == ConnectorCase::parent) {
    return {nf.spouse, nf.q, nf.children_begin, nf.children_end, true, nf.first_term_end};
  }
  return {nf.mother, nf.father, nf.children_begin + 1, nf.children_end, false, nf.first_term_end};
}

// NP: the number of classes, known when compiling (7 or 1), or 0 for the
// number in use.
template <int NP, MachinePath Path>
class FamilyPasses {
 public:
  explicit FamilyPasses(const FamilyJob& job) : job_(job) {}

  // By the fast kernel's pass (false when it does not take the family), or
  // by the sums of mmpfam's three cases.
  BRAVIK_INLINE bool recorded_inward(const InwardPass& pass, double& lf) {
    if constexpr (NP == 0) {
      return false;
    } else {
      const InwardRecord record{work_.before.data(), work_.sums.data(), work_.scale.data(), work_.x.data()};
      return pass.routine(model_, plan_, family_, pass.tables, work_.inward, lf, &record);
    }
  }

  BRAVIK_INLINE double inward() {
    form_class_table();
    fill_factors();
    double scale_sum = 0.0;
    double end_sum = 0.0;
    std::size_t kept = 0;
    for (int i = family_.nuclear_begin; i < family_.nuclear_end; ++i) {
      const NuclearPlan& nf = plan_.nuclear[static_cast<std::size_t>(i)];
      const int n = states(nf.q);
      double* before = work_.before.data() + kept;
      double* sums = work_.sums.data() + kept;
      kept += static_cast<std::size_t>(n);
      double* xq = x(nf.q);
      std::copy(xq, xq + n, before);
      connector_sums(nf, sums);
      double w = 0.0;
      for (int s = 0; s < n; ++s) {
        xq[s] = sums[s] * xq[s];
        w = w + xq[s];
      }
      work_.scale[static_cast<std::size_t>(i - family_.nuclear_begin)] = w;
      const double r = 1.0 / w;
      double b = 0.0;
      for (int s = 0; s < n; ++s) {
        xq[s] = xq[s] * r;
        b = b + xq[s];
      }
      scale_sum = scale_sum + std::log(w);
      if (nf.terminal) end_sum = end_sum + std::log(b);
    }
    return end_sum + scale_sum;
  }

  BRAVIK_INLINE void outward() {
    form_class_table();
    std::fill_n(work_.outside_known.begin(), family_.persons, std::uint8_t{0});
    std::fill_n(work_.recombinations.begin(), family_.persons, 0.0);
    std::fill_n(work_.theta_score.begin(), family_.persons, 0.0);
    std::size_t kept = 0;
    for (int i = family_.nuclear_begin; i < family_.nuclear_end; ++i) kept += static_cast<std::size_t>(states(plan_.nuclear[static_cast<std::size_t>(i)].q));
    for (int i = family_.nuclear_end - 1; i >= family_.nuclear_begin; --i) {
      const NuclearPlan& nf = plan_.nuclear[static_cast<std::size_t>(i)];
      kept -= static_cast<std::size_t>(states(nf.q));
      outward_through(nf, work_.before.data() + kept, work_.sums.data() + kept,
                      work_.scale[static_cast<std::size_t>(i - family_.nuclear_begin)]);
    }
    for (int p = family_.first_person; p < family_.first_person + family_.persons; ++p) {
      if (!known(p)) own_factors_as_posterior(p);
      job_.out.recombinations[p] = recombinations(p);
      job_.out.theta_score[p] = theta_score(p);
    }
  }

  // Every posterior quantity of the family is not a number.
  BRAVIK_INLINE void not_numbers() {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (int p = family_.first_person; p < family_.first_person + family_.persons; ++p) {
      for (int s = 0; s < states(p); ++s) posterior(p, s) = nan;
      job_.out.recombinations[p] = nan;
      job_.out.theta_score[p] = nan;
    }
  }

 private:
  BRAVIK_INLINE int np() const { return NP > 0 ? NP : model_.pg.npol; }
  BRAVIK_INLINE int genotypes(int p) const { return model_.genot.n_gen(p); }
  BRAVIK_INLINE int code(int p, int k) const { return model_.genot.l_gen(model_.genot.i_start(p) + k); }
  BRAVIK_INLINE int states(int p) const { return genotypes(p) * np(); }
  BRAVIK_INLINE int first_slot(int p) const { return model_.genot.i_start(p) - family_.base; }
  BRAVIK_INLINE double* x(int p) const { return work_.x.data() + first_slot(p) * np(); }
  BRAVIK_INLINE double* outside(int p) const { return work_.outside.data() + first_slot(p) * np(); }
  BRAVIK_INLINE bool known(int p) const { return work_.outside_known[static_cast<std::size_t>(p - family_.first_person)] != 0; }
  BRAVIK_INLINE void set_known(int p) const { work_.outside_known[static_cast<std::size_t>(p - family_.first_person)] = 1; }
  // State s = (k - 1) np + c - 1 of person p.
  BRAVIK_INLINE double& posterior(int p, int s) const {
    const int k = s / np();
    const int c = s % np();
    return job_.out.posterior[static_cast<std::size_t>(model_.genot.i_start(p) + k) * N_POL + static_cast<std::size_t>(c)];
  }
  BRAVIK_INLINE double t(int gd, int g1, int g2) const { return model_.tranc.tgen(gd, g1, g2); }
  BRAVIK_INLINE static std::size_t table_index(int gd, int g1, int g2) {
    return static_cast<std::size_t>((gd - 1) + N_JOINT * ((g1 - 1) + N_JOINT * (g2 - 1)));
  }
  BRAVIK_INLINE double p(int cd, int c1, int c2) const { return model_.tranc.tpol(cd, c1, c2); }  // classes from 0

  // The factors of massix: fen alone for a listed child, fen times the priors
  // of genotype and class for everybody else, 1.0 or the priors alone for a
  // phenotype skipped entirely.
  BRAVIK_INLINE void fill_factors() {
    const prpar_block& prpar = model_.prpar;
    for (int p = family_.first_person; p < family_.first_person + family_.persons; ++p) {
      const bool child = plan_.is_child[static_cast<std::size_t>(p)] != 0;
      const bool has_density = model_.ped.buf2.yph(p) > skipped_entirely;
      double* xp = x(p);
      for (int k = 1; k <= genotypes(p); ++k) {
        const int g = code(p, k);
        for (int j = 1; j <= np(); ++j) {
          double& v = xp[(k - 1) * np() + j - 1];
          if (child) {
            v = has_density ? fen(model_, p, g, j) : 1.0;
          } else {
            v = has_density ? fen(model_, p, g, j) * prpar.gfreq(g) * prpar.wpol(j) : prpar.wpol(j) * prpar.gfreq(g);
          }
        }
      }
    }
  }

  // Vectors over the pairs of the parents' classes, j = c_1 np + c_2.
  BRAVIK_INLINE int row() const { return NP == N_POL ? pair_row : np(); }
  BRAVIK_INLINE int pairs() const { return np() * row(); }
  BRAVIK_INLINE static int pair(int c1, int c2, int row) { return c1 * row + c2; }
  BRAVIK_INLINE std::size_t pair_vector(int i) const { return static_cast<std::size_t>(i) * static_cast<std::size_t>(pairs()); }
  // The rows c_1 of P(c | c_1, c_2) that may hold entries not zero: with
  // banded tables, those within banded_reach of c (terms left out would add
  // +0 to sums that are +0 or positive, which keeps their bits).
  BRAVIK_INLINE bool banded() const { return NP == N_POL && job_.inward.tables.banded; }
  BRAVIK_INLINE int first_row(int c) const { return banded() ? std::max(0, c - banded_reach) : 0; }
  BRAVIK_INLINE int end_row(int c) const { return banded() ? std::min(np(), c + banded_reach + 1) : np(); }

  // P(c | c_1, c_2) as a vector over the parents' class pairs.
  const double* classes_given_parents(int c) const { return work_.class_table.data() + pair_vector(c); }

  BRAVIK_INLINE void form_class_table() const {
    for (int c = 0; c < np(); ++c) {
      double* row = work_.class_table.data() + pair_vector(c);
      for (int c1 = 0; c1 < np(); ++c1) {
        for (int c2 = 0; c2 < np(); ++c2) row[pair(c1, c2, this->row())] = p(c, c1, c2);
      }
    }
  }

  // For each summed child's slot (genotype k_d), F = sum over c_d of
  // x_d(k_d, c_d) P(c_d | c_1, c_2); the adjoint A of T x F has the same
  // layout.
  BRAVIK_INLINE double* child_classes(int slot) const { return work_.child_classes.data() + pair_vector(slot); }
  BRAVIK_INLINE double* child_adjoint(int slot) const { return work_.child_adjoint.data() + pair_vector(slot); }
  BRAVIK_INLINE double* child_classes(int d, int k) const { return child_classes(first_slot(d) + k - 1); }
  BRAVIK_INLINE double* child_adjoint(int d, int k) const { return child_adjoint(first_slot(d) + k - 1); }

  // The plan's nonzero transmissions to the summed children for genotypes k1
  // and k2 of the sum's parents: child i's run is [ends[i - 1], ends[i]).
  BRAVIK_INLINE const int* child_runs(const Sum& sum, int k1, int k2) const {
    const int children = sum.children_end - sum.children_begin;
    return plan_.child_term_end.data() + sum.first_term_end + ((k1 - 1) * genotypes(sum.second) + k2 - 1) * children;
  }

  BRAVIK_INLINE void form_child_classes(const Sum& sum) const {
    const int nn = pairs();
    for (int i = sum.children_begin; i < sum.children_end; ++i) {
      const int d = plan_.children[static_cast<std::size_t>(i)];
      const double* xd = x(d);
      for (int k = 1; k <= genotypes(d); ++k) {
        double* f = child_classes(d, k);
        if constexpr (classes_in_registers) {
          for (int offset = 0; offset < pair_row; offset += part_width) {
            child_classes_part(xd + (k - 1) * N_POL, f + offset, offset);
          }
          continue;
        }
        std::fill_n(f, nn, 0.0);
        for (int cd = 0; cd < np(); ++cd) {
          const double xv = xd[(k - 1) * np() + cd];
          const double* row = classes_given_parents(cd);
          for (int j = first_row(cd) * this->row(); j < end_row(cd) * this->row(); ++j) f[j] += xv * row[j];
        }
      }
    }
  }

  // For the parents' genotypes k1 and k2: each summed child's sum E_i over its
  // genotypes, and the products of E over the children before child i
  // (before(i)), as vectors over the class pairs; before(n) is the product
  // over all of them.
  BRAVIK_INLINE double* child_sum(int i) const { return work_.child_sums.data() + pair_vector(i); }
  BRAVIK_INLINE double* before(int i) const { return work_.before_child.data() + pair_vector(i); }

  BRAVIK_INLINE void child_products(const Sum& sum, int k1, int k2) const {
    const int n = sum.children_end - sum.children_begin;
    const int nn = pairs();
    const int* ends = child_runs(sum, k1, k2);
    std::fill_n(before(0), nn, 1.0);
    if constexpr (sums_in_registers) {
      for (int i = 0; i < n; ++i) {
        for (int offset = 0; offset < pair_row; offset += part_width) child_part_sums(i, ends, offset);
      }
      return;
    }
    for (int i = 0; i < n; ++i) {
      double* e = child_sum(i);
      std::fill_n(e, nn, 0.0);
      for (int term = ends[i - 1]; term < ends[i]; ++term) {
        const ChildTransmission& ct = plan_.child_terms[static_cast<std::size_t>(term)];
        const double* f = child_classes(ct.slot);
        for (int j = 0; j < nn; ++j) e[j] += ct.t * f[j];
      }
      const double* b = before(i);
      double* next = before(i + 1);
      for (int j = 0; j < nn; ++j) next[j] = b[j] * e[j];
    }
  }

  // A vector register of the path (eight lanes with AVX-512, four with AVX2,
  // two without), read from and written to any place in the workspace.
  using Part = typename fast::PartsOf<typename fast::LanesOf<Path>::type>::part;
  static constexpr int part_width = static_cast<int>(sizeof(Part) / sizeof(double));
  template <class V = Part>
  BRAVIK_INLINE static V load_part(const double* from) {
    V v;
    std::memcpy(&v, from, sizeof v);
    return v;
  }
  template <class V>
  BRAVIK_INLINE static void store_part(double* to, const V& v) {
    std::memcpy(to, &v, sizeof v);
  }

  // With seven classes, lanes [offset, offset + part_width) of every row c_1
  // of child i's sum E and of the product after it, the sums in registers
  // (in the workspace each term would wait for the store of the one before):
  // one vector of the path at a time. (With AVX2 the compiler's own loop over
  // the workspace measured a little faster, and is kept.)
  static constexpr bool sums_in_registers = NP == N_POL && Path != MachinePath::avx2;
  BRAVIK_INLINE void child_part_sums(int i, const int* ends, int offset) const {
    Part e[N_POL];
    for (Part& row : e) row = Part{};
    for (int term = ends[i - 1]; term < ends[i]; ++term) {
      const ChildTransmission& ct = plan_.child_terms[static_cast<std::size_t>(term)];
      const Part t = fast::broadcast<Part>(ct.t);
      const double* f = child_classes(ct.slot) + offset;
      for (int c1 = 0; c1 < N_POL; ++c1) e[c1] = e[c1] + t * load_part(f + c1 * pair_row);
    }
    const double* b = before(i) + offset;
    double* sum = child_sum(i) + offset;
    double* next = before(i + 1) + offset;
    for (int c1 = 0; c1 < N_POL; ++c1) {
      store_part(sum + c1 * pair_row, e[c1]);
      store_part(next + c1 * pair_row, load_part(b + c1 * pair_row) * e[c1]);
    }
  }

  // Lanes [offset, offset + part_width) of every row c_1 of F for a child's
  // factors xk, summed in registers in the same order (with AVX: without, the
  // compiler's loop over the workspace measured a little faster).
  static constexpr bool classes_in_registers = NP == N_POL && Path != MachinePath::baseline;
  BRAVIK_INLINE void child_classes_part(const double* xk, double* f, int offset) const {
    Part rows[N_POL];
    for (Part& row : rows) row = Part{};
    for (int cd = 0; cd < N_POL; ++cd) {
      const Part xv = fast::broadcast<Part>(xk[cd]);
      const double* table = classes_given_parents(cd) + offset;
      for (int c1 = 0; c1 < N_POL; ++c1) {
        if (c1 >= first_row(cd) && c1 < end_row(cd)) rows[c1] = rows[c1] + xv * load_part(table + c1 * pair_row);
      }
    }
    for (int c1 = 0; c1 < N_POL; ++c1) store_part(f + c1 * pair_row, rows[c1]);
  }

  BRAVIK_INLINE static bool all_zero(const double* v, int n) {
    for (int i = 0; i < n; ++i) {
      if (v[i] != 0.0) return false;
    }
    return true;
  }

  // With seven classes, a sum in each of eight lanes, then of the lanes in
  // order: the same bits on every path.
  BRAVIK_INLINE static double dot(const double* a, const double* b, int n) {
    if constexpr (NP == N_POL) {
      double lanes[pair_row] = {};
      for (int i = 0; i < n; i += pair_row) {
        for (int l = 0; l < pair_row; ++l) lanes[l] = lanes[l] + a[i + l] * b[i + l];
      }
      double v = 0.0;
      for (const double part : lanes) v = v + part;
      return v;
    } else {
      double v = 0.0;
      for (int i = 0; i < n; ++i) v = v + a[i] * b[i];
      return v;
    }
  }

  // x_1(c_1) x_2(c_2) times the children's product as a vector over the
  // class pairs. Only the classes' lanes are written: the lanes of a row past
  // them stay 0 from the allocation, as the loops that read whole rows need
  // (a NaN left there by an evaluation whose sums overflowed would make the
  // posteriors of every later evaluation NaN).
  BRAVIK_INLINE void parents_product(const double* x1, const double* x2, const double* product, double* out) const {
    for (int c1 = 0; c1 < np(); ++c1) {
      for (int c2 = 0; c2 < np(); ++c2) {
        const int j = pair(c1, c2, row());
        out[j] = x1[c1] * x2[c2] * product[j];
      }
    }
  }

  // The sums S of the connector's states (cases 1 to 3 of mmpfam).
  BRAVIK_INLINE void connector_sums(const NuclearPlan& nf, double* sums) const {
    const Sum sum = sum_of(nf);
    std::fill_n(sums, states(nf.q), 0.0);
    form_child_classes(sum);
    const int n = sum.children_end - sum.children_begin;
    const int nn = pairs();
    double* w = work_.pair_weight.data();
    for (int k1 = 1; k1 <= genotypes(sum.first); ++k1) {
      const double* x1 = x(sum.first) + (k1 - 1) * np();
      if (all_zero(x1, np())) continue;
      const int g1 = code(sum.first, k1);
      for (int k2 = 1; k2 <= genotypes(sum.second); ++k2) {
        const double* x2 = x(sum.second) + (k2 - 1) * np();
        const int g2 = code(sum.second, k2);
        if (sum.connector_is_parent) {
          child_products(sum, k1, k2);
          const double* product = before(n);
          for (int c1 = 0; c1 < np(); ++c1) {
            for (int c2 = 0; c2 < np(); ++c2) sums[(k2 - 1) * np() + c2] += x1[c1] * product[pair(c1, c2, row())];
          }
          continue;
        }
        if (all_zero(x2, np())) continue;
        child_products(sum, k1, k2);
        const double* product = before(n);
        parents_product(x1, x2, product, w);
        for (int cq = 0; cq < np(); ++cq) {
          const double r = dot(w, classes_given_parents(cq), nn);
          for (int kq = 1; kq <= genotypes(nf.q); ++kq) sums[(kq - 1) * np() + cq] += t(code(nf.q, kq), g1, g2) * r;
        }
      }
    }
  }

  // The outward step through one nuclear family. H(s_q), the weight of the
  // connector's state s_q, is d lnL / d x_q after this nuclear family times
  // x_q before it over W: every quantity of the nuclear family's joint
  // posterior is H times a term of the sum S(s_q), divided by Z = sum H S.
  BRAVIK_INLINE void outward_through(const NuclearPlan& nf, const double* before_sum, const double* sums, double w) {
    const int q = nf.q;
    const int n = states(q);
    double* gq = outside(q);
    if (!known(q)) {
      // q's entries are summed into the likelihood: d lnL / d x_q is constant.
      std::fill_n(gq, n, 1.0);
      set_known(q);
      own_factors_as_posterior(q);
    }
    double* h = work_.connector_weight.data();
    double z = 0.0;
    for (int s = 0; s < n; ++s) {
      h[s] = gq[s] * before_sum[s] / w;
      z = z + h[s] * sums[s];
    }
    const double inverse_z = 1.0 / z;
    const Sum sum = sum_of(nf);
    form_child_classes(sum);
    for (int i = 0; i < sum.children_end - sum.children_begin; ++i) {
      const int d = plan_.children[static_cast<std::size_t>(sum.children_begin + i)];
      for (int k = 1; k <= genotypes(d); ++k) std::fill_n(child_adjoint(d, k), pairs(), 0.0);
    }
    std::fill_n(outside(sum.first), states(sum.first), 0.0);
    if (!sum.connector_is_parent) {
      std::fill_n(outside(sum.second), states(sum.second), 0.0);
      form_connector_classes(q, h);
    }
    if constexpr (NP == 1) {
      by_first_genotype_lanes(q, sum, h);
    } else {
      for (int k1 = 1; k1 <= genotypes(sum.first); ++k1) {
        if (all_zero(x(sum.first) + (k1 - 1) * np(), np())) continue;
        for (int k2 = 1; k2 <= genotypes(sum.second); ++k2) {
          if (sum.connector_is_parent) {
            parent_connector_pair(sum, k1, k2, h);
          } else {
            child_connector_pair(q, sum, k1, k2);
          }
        }
      }
    }
    finish_children(sum, inverse_z);
    finish_parent(sum.first, inverse_z);
    if (!sum.connector_is_parent) {
      finish_parent(sum.second, inverse_z);
      recombinations(q) *= inverse_z;
      theta_score(q) *= inverse_z;
    }
    // d lnL / d x_q before this nuclear family, scaled so that it and those
    // entries give posterior probabilities that sum to one.
    double total = 0.0;
    for (int s = 0; s < n; ++s) {
      gq[s] = gq[s] * sums[s];
      total = total + gq[s] * before_sum[s];
    }
    for (int s = 0; s < n; ++s) gq[s] = gq[s] / total;
  }

  // HP(k_q) = sum over c_q of H(k_q, c_q) P(c_q | c_1, c_2), a vector over the
  // class pairs.
  BRAVIK_INLINE double* connector_classes(int k) const { return work_.connector_classes.data() + pair_vector(k - 1); }

  BRAVIK_INLINE void form_connector_classes(int q, const double* h) const {
    const int nn = pairs();
    for (int k = 1; k <= genotypes(q); ++k) {
      double* hp = connector_classes(k);
      std::fill_n(hp, nn, 0.0);
      for (int cq = 0; cq < np(); ++cq) {
        const double hv = h[(k - 1) * np() + cq];
        const double* row = classes_given_parents(cq);
        for (int j = 0; j < nn; ++j) hp[j] += hv * row[j];
      }
    }
  }

  // Case 1, the spouse's genotype k1 and the connector's k2: the spouse's
  // derivatives, then the children's with the weight H(k2, c_2) x_1(k1, c_1).
  BRAVIK_INLINE void parent_connector_pair(const Sum& sum, int k1, int k2, const double* h) {
    const double* hq = h + (k2 - 1) * np();
    if (all_zero(hq, np())) return;
    const int n = sum.children_end - sum.children_begin;
    child_products(sum, k1, k2);
    const double* product = before(n);
    const double* x1 = x(sum.first) + (k1 - 1) * np();
    double* o1 = outside(sum.first) + (k1 - 1) * np();
    double* w = work_.pair_weight.data();
    for (int c1 = 0; c1 < np(); ++c1) {
      double v = 0.0;
      for (int c2 = 0; c2 < np(); ++c2) {
        v = v + hq[c2] * product[pair(c1, c2, row())];
        w[pair(c1, c2, row())] = hq[c2] * x1[c1];
      }
      o1[c1] += v;
    }
    children_outward(sum, k1, k2, w);
  }

  // Cases 2 and 3, the mother's genotype k1 and the father's k2: the weight of
  // each class pair towards the connector, sum over k_q of T(g_q | g1, g2)
  // HP(k_q), gives the parents' derivatives and the children's weight; the
  // connector's transmission gets HP(k_q) x_1 x_2 times the children's product.
  BRAVIK_INLINE void child_connector_pair(int q, const Sum& sum, int k1, int k2) {
    const double* x1 = x(sum.first) + (k1 - 1) * np();
    const double* x2 = x(sum.second) + (k2 - 1) * np();
    if (all_zero(x2, np())) return;
    const int g1 = code(sum.first, k1);
    const int g2 = code(sum.second, k2);
    const int n = sum.children_end - sum.children_begin;
    const int nn = pairs();
    double* to_connector = work_.to_connector.data();
    std::fill_n(to_connector, nn, 0.0);
    for (int kq = 1; kq <= genotypes(q); ++kq) {
      const double tv = t(code(q, kq), g1, g2);
      if (tv == 0.0) continue;
      const double* hp = connector_classes(kq);
      for (int j = 0; j < nn; ++j) to_connector[j] += tv * hp[j];
    }
    // A pair that gives the connector's possible states nothing adds nothing,
    // unless to the derivatives of a zero T.
    const bool recombinations = job_.out.with_recombinations && job_.derivatives.moves_with_theta(g1, g2);
    if (!recombinations && all_zero(to_connector, nn)) return;
    child_products(sum, k1, k2);
    const double* product = before(n);
    if (recombinations) {
      double* joint = work_.pair_joint.data();
      parents_product(x1, x2, product, joint);
      for (int kq = 1; kq <= genotypes(q); ++kq) {
        add_transmission(q, table_index(code(q, kq), g1, g2), dot(connector_classes(kq), joint, nn));
      }
    }
    double* o1 = outside(sum.first) + (k1 - 1) * np();
    double* o2 = outside(sum.second) + (k2 - 1) * np();
    double* w = work_.pair_weight.data();
    for (int c1 = 0; c1 < np(); ++c1) {
      for (int c2 = 0; c2 < np(); ++c2) {
        const int j = pair(c1, c2, row());
        const double shared = product[j] * to_connector[j];
        o1[c1] += x2[c2] * shared;
        o2[c2] += x1[c1] * shared;
        w[j] = x1[c1] * x2[c2] * to_connector[j];
      }
    }
    children_outward(sum, k1, k2, w);
  }

  // The summed children's terms for genotypes k1 and k2 of the parents, with
  // the weight of each class pair: the adjoint of T x F, and their
  // transmission's share of the recombinations and of the theta score (a zero
  // T still has both, but only a double heterozygous parent gives either).
  BRAVIK_INLINE void children_outward(const Sum& sum, int k1, int k2, const double* weight) {
    const int n = sum.children_end - sum.children_begin;
    const int nn = pairs();
    const int g1 = code(sum.first, k1);
    const int g2 = code(sum.second, k2);
    const bool recombinations = job_.out.with_recombinations && job_.derivatives.moves_with_theta(g1, g2);
    const int* ends = child_runs(sum, k1, k2);
    double* coefficient = work_.child_weight.data();
    // The weight times the product over the children after child i, formed
    // from the last child back.
    double* weight_after = work_.weight_after.data();
    std::copy_n(weight, nn, weight_after);
    for (int i = n - 1; i >= 0; --i) {
      const double* b = before(i);
      for (int j = 0; j < nn; ++j) coefficient[j] = weight_after[j] * b[j];
      const double* e = child_sum(i);
      for (int j = 0; j < nn; ++j) weight_after[j] *= e[j];
      if (all_zero(coefficient, nn)) continue;
      for (int term = ends[i - 1]; term < ends[i]; ++term) {
        const ChildTransmission& ct = plan_.child_terms[static_cast<std::size_t>(term)];
        double* adjoint = child_adjoint(ct.slot);
        for (int j = 0; j < nn; ++j) adjoint[j] += ct.t * coefficient[j];
      }
      if (!recombinations) continue;
      const int d = plan_.children[static_cast<std::size_t>(sum.children_begin + i)];
      for (int k = 1; k <= genotypes(d); ++k) {
        add_transmission(d, table_index(code(d, k), g1, g2), dot(coefficient, child_classes(d, k), nn));
      }
    }
  }

  // With one class, the pairs of the parents' genotypes with the first
  // parent's genotypes side by side, its k_1-th listed genotype in lane
  // k_1 - 1, in chunks of the path's vector width (only those that hold one
  // of its genotypes; the last genotypes, when they fill half of a chunk or
  // less, in a narrower one), for each genotype of the second parent in list
  // order: the same terms as the pairs one by one, summed in each lane over
  // the second parent's genotypes, then over the lanes in list order, so
  // that the widths of the chunks do not change the bits.
  template <int Width>
  using Chunk = typename ChunkOf<Width>::type;
  static constexpr int chunk_width = part_width;  // the widest
  static_assert(chunk_width <= widest_chunk && row_lanes % chunk_width == 0 && row_lanes >= N_JOINT);

  // Lane l of the result is lane index[l] of the sixteen of t: one
  // instruction with AVX-512, lane by lane otherwise.
  template <int Width>
  BRAVIK_INLINE static Chunk<Width> pick(const TransmissionByFirst& t, const ChunkIndex& index) {
#if defined(__GNUC__) && !defined(__clang__)
    if constexpr (Path == MachinePath::avx512) {
      const EightLanes all = __builtin_shuffle(t.half[0], t.half[1], index);
      if constexpr (Width == 8) return all;
      Chunk<Width> low;
      std::memcpy(&low, &all, sizeof low);
      return low;
    }
#endif
    Chunk<Width> picked;
    for (int l = 0; l < Width; ++l) picked[l] = t.half[index[l] / 8][index[l] % 8];
    return picked;
  }

  // The lanes of a chunk whose genotypes are the codes k0 + 1, k0 + 2, ... in
  // order (as an untyped parent's list is): one load.
  template <int Width>
  BRAVIK_INLINE static Chunk<Width> lanes_from(const TransmissionByFirst& t, int k0) {
    Chunk<Width> v;
    std::memcpy(&v, reinterpret_cast<const char*>(&t) + static_cast<std::ptrdiff_t>(k0) * sizeof(double), sizeof v);
    return v;
  }

  // Where the lanes of a chunk of Width lanes are read from in the tables by
  // the first parent: its genotypes' codes (from 0), or k0 and true when they
  // are k0, k0 + 1, ...
  template <int Width>
  struct LaneSource {
    ChunkIndex index;
    int k0;
    bool in_order;
    BRAVIK_INLINE Chunk<Width> of(const TransmissionByFirst& t) const {
      return in_order ? lanes_from<Width>(t, k0) : pick<Width>(t, index);
    }
  };

  // Entry (g_second - 1) N_JOINT + g_d - 1 of the tables by the first parent.
  BRAVIK_INLINE static std::size_t by_first(int g_second, int gd) {
    return static_cast<std::size_t>((g_second - 1) * N_JOINT + gd - 1);
  }

  // For one genotype g_2 of the second parent, by genotype g (from 0) of a
  // summed child or of the connector: T(g | lanes' genotypes, g_2), and when
  // recombinations are formed its recombinant part and dT/dtheta.
  template <int Width>
  struct Picked {
    Chunk<Width> t[N_JOINT];
    Chunk<Width> recombinant[N_JOINT];
    Chunk<Width> d_theta[N_JOINT];
  };

  // Bit g - 1 for every genotype g of a summed child, and of the connector
  // when it is a child.
  BRAVIK_INLINE std::uint32_t picked_genotypes(int q, const Sum& sum) const {
    std::uint32_t bits = 0;
    const auto add = [&](int person) {
      for (int k = 1; k <= genotypes(person); ++k) bits |= 1u << (code(person, k) - 1);
    };
    for (int i = sum.children_begin; i < sum.children_end; ++i) add(plan_.children[static_cast<std::size_t>(i)]);
    if (!sum.connector_is_parent) add(q);
    return bits;
  }

  template <int Width>
  BRAVIK_INLINE void pick_tables(int g2, const LaneSource<Width>& source, std::uint32_t genotype_bits,
                                 bool recombinations, Picked<Width>& picked) const {
    for (std::uint32_t left = genotype_bits; left != 0; left &= left - 1) {
      const int g = std::countr_zero(left);
      const std::size_t entry = by_first(g2, g + 1);
      picked.t[g] = source.of(plan_.transmission_by_first[entry]);
      if (!recombinations) continue;
      picked.recombinant[g] = source.of(job_.derivatives.recombinant_by_first[entry]);
      picked.d_theta[g] = source.of(job_.derivatives.d_theta_by_first[entry]);
    }
  }

  // The summed children's genotypes in order, child i's from ends[i] to
  // ends[i + 1]: T x F's genotype (from 0) and F, copied out of the model so
  // that the loops over the lanes read nothing else.
  struct ChildTerms {
    const LaneTerm* terms;
    const int* ends;
    int children;
  };

  BRAVIK_INLINE ChildTerms child_terms(const Sum& sum) const {
    LaneTerm* terms = work_.lane_terms.data();
    int* ends = work_.lane_term_ends.data();
    int t = 0;
    ends[0] = 0;
    for (int i = sum.children_begin; i < sum.children_end; ++i) {
      const int d = plan_.children[static_cast<std::size_t>(i)];
      for (int k = 1; k <= genotypes(d); ++k) terms[t++] = {code(d, k) - 1, child_classes(d, k)[0]};
      ends[i - sum.children_begin + 1] = t;
    }
    return {terms, ends, sum.children_end - sum.children_begin};
  }

  // The rows of per-lane sums of one nuclear family: d lnL / d x of the first
  // parent, the connector's recombinations and theta score, the second
  // parent's d lnL / d x terms by its genotype, each summed child's
  // recombinations and theta score, the adjoint of T x F by child term; and by
  // summed child, in the chunk in hand, its sums E and the products before it.
  // A row holds the lanes of the chunks in use.
  struct LaneRows {
    int stride;
    int lanes;  // the first parent's genotypes
    double* first;
    double* connector_recombinations;
    double* connector_theta_score;
    double* second;
    double* recombinations;
    double* theta_score;
    double* adjoint;
    double* e;
    double* before;
    BRAVIK_INLINE double* row(double* first_row, int r) const { return first_row + static_cast<std::ptrdiff_t>(r) * stride; }
    // The sum of a row's lanes in order.
    BRAVIK_INLINE double total(const double* lane) const {
      double sum = 0.0;
      for (int l = 0; l < lanes; ++l) sum = sum + lane[l];
      return sum;
    }
  };

  BRAVIK_INLINE LaneRows lane_rows(const Sum& sum, const ChildTerms& children) const {
    const int n = children.children;
    const int n1 = genotypes(sum.first);
    const int n2 = genotypes(sum.second);
    const int stride = (n1 + chunk_width - 1) / chunk_width * chunk_width;
    double* rows = work_.lane_rows.data();
    double* chunks = work_.chunk_sums.data();
    const auto at = [&](int r) { return rows + static_cast<std::ptrdiff_t>(r) * stride; };
    const LaneRows lanes{stride, n1, at(0), at(1), at(2), at(3), at(3 + n2), at(3 + n2 + n), at(3 + n2 + 2 * n),
                         chunks, chunks + static_cast<std::ptrdiff_t>(n) * chunk_width};
    std::fill(lanes.second, lanes.row(lanes.adjoint, children.ends[n]), 0.0);
    return lanes;
  }

  BRAVIK_INLINE void by_first_genotype_lanes(int q, const Sum& sum, const double* h) {
    const ChildTerms children = child_terms(sum);
    const LaneRows lanes = lane_rows(sum, children);
    const std::uint32_t genotype_bits = picked_genotypes(q, sum);
    outward_chunks<chunk_width>(q, sum, h, genotype_bits, 0, children, lanes);
    for (int k1 = 1; k1 <= genotypes(sum.first); ++k1) outside(sum.first)[k1 - 1] = lanes.first[k1 - 1];
    if (!sum.connector_is_parent) {
      for (int k2 = 1; k2 <= genotypes(sum.second); ++k2) {
        outside(sum.second)[k2 - 1] += lanes.total(lanes.row(lanes.second, k2 - 1));
      }
    }
    recombinations(q) += lanes.total(lanes.connector_recombinations);
    theta_score(q) += lanes.total(lanes.connector_theta_score);
    int t = 0;
    for (int i = 0; i < children.children; ++i) {
      const int d = plan_.children[static_cast<std::size_t>(sum.children_begin + i)];
      for (int k = 1; k <= genotypes(d); ++k) child_adjoint(d, k)[0] = lanes.total(lanes.row(lanes.adjoint, t++));
      recombinations(d) += lanes.total(lanes.row(lanes.recombinations, i));
      theta_score(d) += lanes.total(lanes.row(lanes.theta_score, i));
    }
  }

  // The first parent's genotypes from k0 + 1 on: chunks of Width lanes while
  // the genotypes left fill more than half of one, then narrower ones.
  template <int Width>
  BRAVIK_INLINE void outward_chunks(int q, const Sum& sum, const double* h, std::uint32_t genotype_bits, int k0,
                                    const ChildTerms& children, const LaneRows& lanes) {
    const int n1 = genotypes(sum.first);
    for (; k0 < n1 && (Width == 2 || n1 - k0 > Width / 2); k0 += Width) {
      outward_chunk<Width>(q, sum, h, genotype_bits, k0, children, lanes);
    }
    if constexpr (Width > 2) {
      if (k0 < n1) outward_chunks<Width / 2>(q, sum, h, genotype_bits, k0, children, lanes);
    }
  }

  // The first parent's genotypes k0 + 1 to k0 + Width (lanes past its last
  // genotype hold x = 0 and the first genotype's transmissions, and are left
  // out of the totals).
  template <int Width>
  BRAVIK_INLINE void outward_chunk(int q, const Sum& sum, const double* h, std::uint32_t genotype_bits, int k0,
                                   const ChildTerms& children, const LaneRows& lanes) {
    using C = Chunk<Width>;
    LaneSource<Width> source{{}, k0, true};
    C x1 = {};
    std::uint32_t first_codes = 0;  // bit g - 1 for the chunk's genotypes g
    for (int l = 0; l < Width && k0 + l < genotypes(sum.first); ++l) {
      source.index[l] = code(sum.first, k0 + l + 1) - 1;
      source.in_order = source.in_order && source.index[l] == k0 + l;
      first_codes |= 1u << source.index[l];
      x1[l] = x(sum.first)[k0 + l];
    }
    C o1 = {};
    C q_recombinations = {};
    C q_theta_score = {};
    Picked<Width> picked;
    for (int k2 = 1; k2 <= genotypes(sum.second); ++k2) {
      const double x2 = x(sum.second)[k2 - 1];
      const double hq = h[k2 - 1];
      if (sum.connector_is_parent ? hq == 0.0 : x2 == 0.0) continue;
      const int g2 = code(sum.second, k2);
      const bool recombinations = job_.out.with_recombinations && moves_with_theta(first_codes, g2);
      pick_tables(g2, source, genotype_bits, recombinations, picked);
      const C product = child_product_chunk<Width>(children, picked, lanes);
      C w;
      if (sum.connector_is_parent) {
        o1 += product * hq;
        w = x1 * hq;
      } else {
        const C joint = x1 * x2 * product;
        C to_connector = {};
        for (int kq = 1; kq <= genotypes(q); ++kq) {
          const int gq = code(q, kq) - 1;
          const double hp = connector_classes(kq)[0];
          to_connector += picked.t[gq] * hp;
          if (!recombinations) continue;
          const C u = joint * hp;
          q_recombinations += u * picked.recombinant[gq];
          q_theta_score += u * picked.d_theta[gq];
        }
        const C shared = product * to_connector;
        o1 += shared * x2;
        store_part(lanes.row(lanes.second, k2 - 1) + k0, x1 * shared);
        w = x1 * x2 * to_connector;
      }
      children_chunk<Width>(children, picked, w, k0, lanes, recombinations);
    }
    store_part(lanes.first + k0, o1);
    store_part(lanes.connector_recombinations + k0, q_recombinations);
    store_part(lanes.connector_theta_score + k0, q_theta_score);
  }

  // The children's sums E_i and the products before each; returns the
  // product over all children.
  template <int Width>
  BRAVIK_INLINE static Chunk<Width> child_product_chunk(const ChildTerms& children, const Picked<Width>& picked,
                                                        const LaneRows& lanes) {
    Chunk<Width> product = fast::broadcast<Chunk<Width>>(1.0);
    for (int i = 0; i < children.children; ++i) {
      Chunk<Width> e = {};
      for (int t = children.ends[i]; t < children.ends[i + 1]; ++t) {
        e += picked.t[children.terms[t].genotype] * children.terms[t].classes;
      }
      store_part(lanes.e + i * chunk_width, e);
      store_part(lanes.before + i * chunk_width, product);
      product = product * e;
    }
    return product;
  }

  // Whether some genotype of a chunk (bit g - 1 for genotype g) and g2 give
  // recombination terms (a chunk without adds +0 in every lane, and is
  // left out).
  BRAVIK_INLINE bool moves_with_theta(std::uint32_t first_codes, int g2) const {
    for (std::uint32_t left = first_codes; left != 0; left &= left - 1) {
      if (job_.derivatives.moves_with_theta(std::countr_zero(left) + 1, g2)) return true;
    }
    return false;
  }

  // The children's adjoints, recombinations and theta scores for one genotype
  // of the second parent, from the last child back. A lane whose
  // recombinant part and dT/dtheta are zero adds u x 0 = +0 (u is finite and
  // not negative), which leaves its sums as they are.
  template <int Width>
  BRAVIK_INLINE static void children_chunk(const ChildTerms& children, const Picked<Width>& picked,
                                           const Chunk<Width>& weight, int k0, const LaneRows& lanes,
                                           bool recombinations) {
    using C = Chunk<Width>;
    C weight_after = weight;
    for (int i = children.children - 1; i >= 0; --i) {
      const C coefficient = weight_after * load_part<C>(lanes.before + i * chunk_width);
      weight_after = weight_after * load_part<C>(lanes.e + i * chunk_width);
      for (int t = children.ends[i]; t < children.ends[i + 1]; ++t) {
        double* adjoint = lanes.row(lanes.adjoint, t) + k0;
        store_part(adjoint, load_part<C>(adjoint) + picked.t[children.terms[t].genotype] * coefficient);
      }
      if (recombinations) add_child_recombinations<Width>(children, i, coefficient, picked, k0, lanes);
    }
  }

  template <int Width>
  BRAVIK_INLINE static void add_child_recombinations(const ChildTerms& children, int i,
                                                     const Chunk<Width>& coefficient, const Picked<Width>& picked,
                                                     int k0, const LaneRows& lanes) {
    using C = Chunk<Width>;
    double* recombination_row = lanes.row(lanes.recombinations, i) + k0;
    double* theta_row = lanes.row(lanes.theta_score, i) + k0;
    C child_recombinations = load_part<C>(recombination_row);
    C child_theta_score = load_part<C>(theta_row);
    for (int t = children.ends[i]; t < children.ends[i + 1]; ++t) {
      const int g = children.terms[t].genotype;
      const C u = coefficient * children.terms[t].classes;
      child_recombinations += u * picked.recombinant[g];
      child_theta_score += u * picked.d_theta[g];
    }
    store_part(recombination_row, child_recombinations);
    store_part(theta_row, child_theta_score);
  }

  // u is d lnL / d T(g_d | g_1, g_2) through child d's transmission, up to Z;
  // kept in the workspace (by person of the family) until the family ends.
  BRAVIK_INLINE double& recombinations(int d) const {
    return work_.recombinations[static_cast<std::size_t>(d - family_.first_person)];
  }
  BRAVIK_INLINE double& theta_score(int d) const { return work_.theta_score[static_cast<std::size_t>(d - family_.first_person)]; }
  BRAVIK_INLINE void add_transmission(int d, std::size_t entry, double u) const {
    recombinations(d) += u * job_.derivatives.recombinant[entry];
    theta_score(d) += u * job_.derivatives.d_theta[entry];
  }

  BRAVIK_INLINE void finish_children(const Sum& sum, double inverse_z) {
    const int children = sum.children_end - sum.children_begin;
    for (int i = 0; i < children; ++i) {
      const int d = plan_.children[static_cast<std::size_t>(sum.children_begin + i)];
      double* od = outside(d);
      for (int k = 1; k <= genotypes(d); ++k) {
        for (int cd = 0; cd < np(); ++cd) {
          const int from = first_row(cd) * row();
          od[(k - 1) * np() + cd] =
              dot(child_adjoint(d, k) + from, classes_given_parents(cd) + from, end_row(cd) * row() - from) * inverse_z;
        }
      }
      recombinations(d) *= inverse_z;
      theta_score(d) *= inverse_z;
      finish_person(d);
    }
  }

  BRAVIK_INLINE void finish_parent(int parent, double inverse_z) {
    double* o = outside(parent);
    for (int s = 0; s < states(parent); ++s) o[s] *= inverse_z;
    finish_person(parent);
  }

  // A person ordinary in the nuclear family just passed: its x is final, and
  // x times d lnL / d x is its posterior.
  BRAVIK_INLINE void finish_person(int person) {
    set_known(person);
    const double* xp = x(person);
    const double* o = outside(person);
    for (int s = 0; s < states(person); ++s) posterior(person, s) = xp[s] * o[s];
  }

  // A person's final entries, normalized: the posterior of the connector of a
  // connected part's last nuclear family, and what a person in no nuclear
  // family would have.
  BRAVIK_INLINE void own_factors_as_posterior(int person) {
    const double* xp = x(person);
    double total = 0.0;
    for (int s = 0; s < states(person); ++s) total = total + xp[s];
    for (int s = 0; s < states(person); ++s) posterior(person, s) = xp[s] / total;
  }

  const FamilyJob& job_;
  const Model& model_ = job_.model;
  const SeriesPlan& plan_ = job_.plan;
  const FamilyPlan& family_ = job_.family;
  PosteriorWorkspace& work_ = job_.work;
};

}  // namespace

namespace {

template <int NP, MachinePath Path>
BRAVIK_INLINE double passes_of(const FamilyJob& job) {
  FamilyPasses<NP, Path> passes(job);
  if (job.family.literal_only) {
    passes.not_numbers();
    return std::numeric_limits<double>::quiet_NaN();
  }
  double lf = 0.0;
  if (!passes.recorded_inward(job.inward, lf)) lf = passes.inward();
  if (std::isfinite(lf)) {
    passes.outward();
  } else {
    passes.not_numbers();
  }
  return lf;
}

template <MachinePath Path>
BRAVIK_INLINE double family_on(const FamilyJob& job) {
  switch (job.model.pg.npol) {
    case N_POL: return passes_of<N_POL, Path>(job);
    case 1: return passes_of<1, Path>(job);
    default: return passes_of<0, Path>(job);
  }
}

double family_on_baseline(const FamilyJob& job) { return family_on<MachinePath::baseline>(job); }

#if BRAVIK_MACHINE_PATHS
[[gnu::target("arch=x86-64-v4")]] double family_on_avx512(const FamilyJob& job) {
  return family_on<MachinePath::avx512>(job);
}

[[gnu::target("arch=x86-64-v3")]] double family_on_avx2(const FamilyJob& job) {
  return family_on<MachinePath::avx2>(job);
}
#endif

}  // namespace

PosteriorRoutine posterior_routine(MachinePath path) {
  if (path == MachinePath::widest) path = runnable_paths().front();
  switch (path) {
#if BRAVIK_MACHINE_PATHS
    case MachinePath::avx512: return family_on_avx512;
    case MachinePath::avx2: return family_on_avx2;
#endif
    default: return family_on_baseline;
  }
}

}  // namespace bravik

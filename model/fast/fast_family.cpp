#include "model/fast/fast_family.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cmath>
#include <cstring>
#include <utility>

#include "model/density.hpp"
#include "model/fast/fast_lanes.hpp"

namespace bravik {

void ClassTables::build(const tranc_block& tranc) {
  for (int a = 0; a < N_POL; ++a) {
    for (int b = 0; b < N_POL; ++b) {
      ClassLanes by_connector = {};
      ClassLanes by_mother = {};
      ClassLanes by_child = {};
      for (int c = 0; c < N_POL; ++c) {
        by_connector[c] = tranc.tpol(b, a, c);
        by_mother[c] = tranc.tpol(b, c, a);
        by_child[c] = tranc.tpol(c, a, b);
      }
      child_given_connector[a][b].lanes = by_connector;
      child_given_father[a][b].lanes = by_mother;
      connector_given_parents[a][b].lanes = by_child;
    }
  }
  symmetric = symmetric_in_parents(0, N_POL - 1, [&tranc](int c, int a, int b) { return tranc.tpol(c, a, b); });
  banded = true;
  for (int a = 0; a < N_POL; ++a) {
    for (int cd = 0; cd < N_POL; ++cd) {
      if (std::abs(a - cd) <= banded_reach) continue;
      for (int c = 0; c < N_POL; ++c) {
        banded = banded && child_given_connector[a][cd].lanes[c] == 0.0 && child_given_father[a][cd].lanes[c] == 0.0;
      }
    }
  }
}

void FamilyWorkspace::reserve(const SeriesPlan& plan) {
  const auto slots = static_cast<std::size_t>(plan.most_slots);
  if (x.size() < slots) {
    x.resize(slots);
    x1.resize(slots);
  }
  const std::size_t parent_states = static_cast<std::size_t>(N_JOINT) * N_POL * N_JOINT;
  if (products.size() < parent_states) {
    products.resize(parent_states);
    products1.resize(parent_states);
  }
}

namespace {

using fast::all_finite;
using fast::lane;
using fast::largest_of;
using fast::set_lane;
using fast::splat;

// The number of a member's classes computed side by side: seven in eight
// lanes, or one class as a plain number.
template <class V>
inline constexpr int classes_of = N_POL;
template <>
inline constexpr int classes_of<double> = 1;

template <class V>
BRAVIK_INLINE bool all_zero(const V& v) {
  bool zero = true;
  for (int c = 0; c < classes_of<V>; ++c) zero = zero && lane(v, c) == 0.0;
  return zero;
}

// 1.0 in the lanes of the classes, 0.0 in the lane that stays zero.
template <class V>
BRAVIK_INLINE V class_ones() {
  if constexpr (classes_of<V> == 1) {
    return 1.0;
  } else {
    return fast::lanes_from<V>({1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 0.0});
  }
}

template <class V>
BRAVIK_INLINE double greatest_lane(const V& v) {
  if constexpr (classes_of<V> == 1) {
    return v;
  } else {
    double most = lane(v, 0);
    for (int c = 1; c < N_POL + 1; ++c) most = std::max(most, lane(v, c));
    return most;
  }
}

// The three major-gene classes in lanes 0 to 2.
using MajorLanes = double __attribute__((vector_size(32)));

// tpol entries for the loops of each case, as vectors over one member's
// classes (in the lanes L of a path), or the single entry tpol(0, 0, 0) with
// one class.
template <class L>
struct VectorTables {
  const ClassTables& t;
  BRAVIK_INLINE const L& child_given_connector(int cr, int cd) const {
    return fast::lanes_at<L>(t.child_given_connector[cr][cd].lanes);
  }
  BRAVIK_INLINE const L& child_given_father(int cfa, int cd) const {
    return fast::lanes_at<L>(t.child_given_father[cfa][cd].lanes);
  }
  BRAVIK_INLINE const L& connector_given_parents(int cmo, int cfa) const {
    return fast::lanes_at<L>(t.connector_given_parents[cmo][cfa].lanes);
  }
  BRAVIK_INLINE bool symmetric() const { return t.symmetric; }
};

struct ScalarTables {
  double p;
  BRAVIK_INLINE double connector_given_parents(int, int) const { return p; }
};

// Every factor of a family stays below 2^e when e is this; with at most n
// children per nuclear family no sum or product of the literal routines then
// exceeds 2^((e + 1)(n + 2) + 24), so none can overflow below this exponent.
constexpr int safe_exponent = 1000;

// The lanes L held by an element of the workspace.
template <class L>
BRAVIK_INLINE L& lanes_of(ClassVector& v) {
  return fast::lanes_at<L>(v.lanes);
}
template <class L>
BRAVIK_INLINE double& lanes_of(double& v) {
  return v;
}

// What a classic evaluation keeps of the inward pass: nothing.
template <int NC>
struct NoRecord {
  static constexpr bool every_state = false;
  explicit NoRecord(const InwardRecord*) {}
  template <class V>
  BRAVIK_INLINE void connector_sum(int, const V&, const V&) {}
  BRAVIK_INLINE void rescaled(int, double) {}
};

// The inward pass for the posterior kernel: the sums of every state of each
// connector (a state whose entries are zero too, since the outward pass
// needs them), its entries before the sums multiplied them, and W.
template <int NC>
struct Recording {
  static constexpr bool every_state = true;
  const InwardRecord& record;
  std::size_t kept = 0;  // the entries of the nuclear families before this one
  int nuclear = 0;
  explicit Recording(const InwardRecord* to) : record(*to) {}

  template <class V>
  BRAVIK_INLINE void connector_sum(int kq, const V& sum, const V& entries) {
    const std::size_t at = kept + static_cast<std::size_t>((kq - 1) * NC);
    for (int c = 0; c < NC; ++c) {
      record.sums[at + static_cast<std::size_t>(c)] = fast::lane(sum, c);
      record.before[at + static_cast<std::size_t>(c)] = fast::lane(entries, c);
    }
  }
  BRAVIK_INLINE void rescaled(int genotypes, double w) {
    record.scale[nuclear++] = w;
    kept += static_cast<std::size_t>(genotypes * NC);
  }
};

// V is what one member's classes are computed in (the eight lanes of the
// path, or double), S how the workspace stores it (ClassVector or double);
// Path the vector instructions the code is compiled for; Record what is kept
// of the pass (NoRecord or Recording).
template <class V, class S, class Tables, MachinePath Path, class Record>
class Peeler {
 public:
  static constexpr int nc = classes_of<V>;
  using Lanes = typename fast::LanesOf<Path>::type;  // eight lanes of the path

  Peeler(const Model& model, const SeriesPlan& plan, const FamilyPlan& family, Tables tables, S* x,
         S* products, Record record)
      : model_(model),
        plan_(plan),
        family_(family),
        tables_(tables),
        x_(x),
        products_(products),
        record_(record) {}

  // The family's factors at the end of the pass, by slot and class.
  BRAVIK_INLINE void copy_factors(double* out) const {
    for (int slot = 0; slot < family_.slots; ++slot) {
      for (int c = 0; c < nc; ++c) out[slot * nc + c] = lane(lanes_of<V>(x_[slot]), c);
    }
  }

  BRAVIK_INLINE bool run(double& lf) {
    if (!fill_factors()) return false;
    double scale_sum = 0.0;
    double end_sum = 0.0;
    for (int i = family_.nuclear_begin; i < family_.nuclear_end; ++i) {
      const NuclearPlan& nf = plan_.nuclear[static_cast<std::size_t>(i)];
      switch (nf.kind) {
        case ConnectorCase::parent: peel_parent_connector(nf); break;
        case ConnectorCase::only_child: peel_only_child(nf); break;
        case ConnectorCase::first_child: peel_first_child(nf); break;
      }
      double w;
      double b;
      if (!rescale(nf.q, w, b)) return false;
      record_.rescaled(genotypes(nf.q), w);
      scale_sum = scale_sum + std::log(w);
      if (nf.terminal) end_sum = end_sum + std::log(b);
    }
    lf = end_sum + scale_sum;
    return true;
  }

 private:
  BRAVIK_INLINE int genotypes(int p) const { return model_.genot.n_gen(p); }
  BRAVIK_INLINE int code(int p, int k) const { return model_.genot.l_gen(model_.genot.i_start(p) + k); }
  BRAVIK_INLINE V& x(int p, int k) const { return lanes_of<V>(x_[model_.genot.i_start(p) - family_.base + k - 1]); }
  BRAVIK_INLINE double t(int g_child, int g_first, int g_second) const {
    return model_.tranc.tgen(g_child, g_first, g_second);
  }

  // Whether the sums of a connector's state are left out: when its entries
  // are all zero, unless every state's sums are kept.
  BRAVIK_INLINE static bool left_out(const V& xq) { return !Record::every_state && all_zero(xq); }

  // q's entries times their sums S.
  BRAVIK_INLINE void multiply(int kq, V& xq, const V& s) {
    record_.connector_sum(kq, s, xq);
    xq = s * xq;
  }

  // fen's density for each major-gene class that the person's list holds,
  // formed once per class (the density depends on the genotype only through
  // it), by fen's expression: the divisions of the classes (or, with one
  // class, of the three major-gene classes) side by side, exp one by one.
  BRAVIK_INLINE void densities_by_major(int p, double y, V (&density)[4]) const {
    const imax_block& m = model_.imax;
    if constexpr (nc == 1) {
      const MajorLanes means = {m.gmean(1), m.gmean(2), m.gmean(3), m.gmean(3)};
      const MajorLanes z = (means + static_cast<double>(1 - 4) * m.apol - y) / m.sdev;
      const MajorLanes exponent = -0.5 * z * z;
      MajorLanes power = {};
      for (int major = 1; major <= 3; ++major) power[major - 1] = std::exp(exponent[major - 1]);
      const MajorLanes value = power / m.sdev;
      for (int major = 1; major <= 3; ++major) density[major] = value[major - 1];
    } else {
      bool present[4] = {false, false, false, false};
      for (int k = 1; k <= genotypes(p); ++k) present[model_.prpar.itg(code(p, k))] = true;
      const V steps = fast::lanes_from<V>({-3.0, -2.0, -1.0, 0.0, 1.0, 2.0, 3.0, 0.0});  // j - 4 for class j
      for (int major = 1; major <= 3; ++major) {
        if (!present[major]) continue;
        const V z = (m.gmean(major) + steps * m.apol - y) / m.sdev;
        const V exponent = -0.5 * z * z;
        V power = splat<V>(0.0);
        for (int j = 1; j <= nc; ++j) set_lane(power, j - 1, std::exp(lane(exponent, j - 1)));
        density[major] = power / m.sdev;
        set_lane(density[major], N_POL, 0.0);
      }
    }
  }

  // The factors massix gives: fen alone for a listed child, fen times the
  // priors for everybody else, 1.0 or the priors alone for a phenotype
  // skipped entirely. fen is 0 for a genotype that contradicts the marker, 1
  // for a trait not measured, else the density. False when a factor is not
  // finite or too large for the shortcuts to be exact.
  BRAVIK_INLINE bool fill_factors() {
    const prpar_block& prpar = model_.prpar;
    const V ones = class_ones<V>();
    V weights = splat<V>(0.0);
    for (int j = 1; j <= nc; ++j) set_lane(weights, j - 1, prpar.wpol(j));
    V largest = splat<V>(0.0);
    bool finite = true;
    for (int p = family_.first_person; p < family_.first_person + family_.persons; ++p) {
      const bool child = plan_.is_child[static_cast<std::size_t>(p)] != 0;
      const double y = model_.ped.buf2.yph(p);
      const int marker = plan_.marker[static_cast<std::size_t>(p)];
      const bool has_density = y > skipped_entirely;
      const bool measured = y > not_measured;  // and so not skipped entirely
      V density[4];
      if (measured) densities_by_major(p, y, density);
      for (int k = 1; k <= genotypes(p); ++k) {
        const int g = code(p, k);
        V fen = ones;
        if (marker != 0 && marker != prpar.img(g)) {
          fen = splat<V>(0.0);
        } else if (measured) {
          fen = density[prpar.itg(g)];
        }
        const V prior = splat<V>(prpar.gfreq(g));
        V value;
        if (child) {
          value = has_density ? fen : ones;
        } else {
          value = has_density ? (fen * prior) * weights : weights * prior;
        }
        finite = finite && all_finite(value);
        largest = largest_of(largest, value);
        x(p, k) = value;
      }
    }
    if (!finite) return false;
    const double most = greatest_lane(largest);
    const int e = most <= 1.0 ? 1 : std::ilogb(most) + 1;
    return (e + 1) * (family_.most_children + 2) + 24 < safe_exponent;
  }

  // The nonzero transmissions to the summed children of nf for genotypes
  // k_first and k_second of its parent pair: child i's run ends at ends[i].
  struct ChildRuns {
    const ChildTransmission* terms;
    const int* ends;  // ends[-1] is where the first child's run starts
    int children;
  };

  BRAVIK_INLINE ChildRuns child_runs(const NuclearPlan& nf, int k_first, int k_second, int n_second,
                                     int children) const {
    const int j = nf.first_term_end + ((k_first - 1) * n_second + k_second - 1) * children;
    return {plan_.child_terms.data(), plan_.child_term_end.data() + j, children};
  }

  // The child sums of the seven classes of one parent stay in registers
  // when each pass holds one part of the other parent's lanes: 32 registers
  // of eight lanes with AVX-512, but 16 of four with AVX2 and 16 of two
  // without. Each lane is summed alone, so the passes keep every bit.
  using Part = typename fast::PartsOf<V>::part;
  static constexpr int parts = fast::PartsOf<V>::count;

  // Adds the terms of child class Cd, (T x X_d(Cd)) x P, to the sums of the
  // classes r of one parent whose row of P is banded, |r - Cd| <= banded_reach:
  // a row left out is all zero, and a finite term times it would add +0 to a
  // sum that is +0 or positive, which keeps its bits (a term that is zero
  // itself is added, as +0, for the same reason).
  template <int Cd, class Row>
  BRAVIK_INLINE void add_child_class(const V& tx, Row row, int part, Part (&e)[nc]) const {
    constexpr int low = Cd - banded_reach < 0 ? 0 : Cd - banded_reach;
    constexpr int high = Cd + banded_reach > nc - 1 ? nc - 1 : Cd + banded_reach;
    const Part term = fast::broadcast<Part>(lane(tx, Cd));
    [&]<int... R>(std::integer_sequence<int, R...>) {
      ((e[low + R] = e[low + R] + term * fast::part_of(row(low + R, Cd), part)), ...);
    }(std::make_integer_sequence<int, high - low + 1>{});
  }

  // For every class r of one parent, the product over the summed children of
  // their sums, each lane one class of the other parent. The sums of the seven
  // classes are formed side by side, each in its own order: child genotypes
  // in list order, child classes inner; the lanes in passes of one part.
  template <class Row>
  BRAVIK_INLINE void products_by_class(const ChildRuns& runs, Row row, V (&product)[nc]) const {
    for (int part = 0; part < parts; ++part) products_of_part(runs, row, part, product);
  }

  template <class Row>
  BRAVIK_INLINE void products_of_part(const ChildRuns& runs, Row row, int part, V (&product)[nc]) const {
    Part part_product[nc];
    for (int r = 0; r < nc; ++r) part_product[r] = fast::broadcast<Part>(1.0);
    for (int i = 0; i < runs.children; ++i) {
      Part e[nc];
      for (int r = 0; r < nc; ++r) e[r] = Part{};
      for (int j = runs.ends[i - 1]; j < runs.ends[i]; ++j) {
        const V tx = splat<V>(runs.terms[j].t) * lanes_of<V>(x_[runs.terms[j].slot]);
        [&]<int... Cd>(std::integer_sequence<int, Cd...>) {
          (add_child_class<Cd>(tx, row, part, e), ...);
        }(std::make_integer_sequence<int, nc>{});
      }
      for (int r = 0; r < nc; ++r) part_product[r] = part_product[r] * e[r];
    }
    for (int r = 0; r < nc; ++r) fast::set_part(product[r], part, part_product[r]);
  }

  // With one class the products for up to eight genotypes of one parent (the
  // first of T) are formed side by side, a genotype in each lane; index
  // holds the places of those genotypes in transmission_by_first's lanes.
  using LaneIndex = std::int64_t __attribute__((vector_size(64)));
  struct FirstParentLanes {
    int parent;
    int blocks;  // of eight genotypes
    LaneIndex index[(N_JOINT + 7) / 8];
    std::uint32_t child_genotypes;  // bit g - 1 for every genotype g of a summed child
  };

  // Lane l of the result is lane index[l] of the sixteen of t: one
  // instruction with AVX-512, lane by lane otherwise.
  BRAVIK_INLINE static Lanes pick_lanes(const TransmissionByFirst& t, const LaneIndex& index) {
#if defined(__GNUC__) && !defined(__clang__)
    if constexpr (Path == MachinePath::avx512) return __builtin_shuffle(t.half[0], t.half[1], index);
#endif
    Lanes picked;
    for (int l = 0; l < 8; ++l) set_lane(picked, l, t.half[index[l] / 8][index[l] % 8]);
    return picked;
  }

  // The vectors that hold the eight lanes.
  using LanePart = typename fast::PartsOf<Lanes>::part;
  static constexpr int lane_width = 8 / fast::PartsOf<Lanes>::count;

  // Whether the lanes of a child genotype are picked once per block for all
  // the summed children, rather than at each of its terms.
  static constexpr bool picks_ahead = Path != MachinePath::avx512;

  // One part of T(g_d | first parent's genotypes in lanes, g_second) for
  // child genotype g (from 0).
  BRAVIK_INLINE static LanePart transmission_part(const Lanes (&picked)[N_JOINT], const TransmissionByFirst& t,
                                                  const LaneIndex& index, int g, int part) {
    if constexpr (picks_ahead) {
      return fast::part_of(picked[g], part);
    } else {
      return fast::part_of(pick_lanes(t, index), part);
    }
  }

  BRAVIK_INLINE FirstParentLanes lanes_of_parent(int parent, int children_begin, int children_end) const {
    FirstParentLanes lanes{parent, (genotypes(parent) + 7) / 8, {}, 0};
    for (int k = 1; k <= genotypes(parent); ++k) lanes.index[(k - 1) / 8][(k - 1) % 8] = code(parent, k) - 1;
    if constexpr (picks_ahead) {
      for (int i = children_begin; i < children_end; ++i) {
        const int d = plan_.children[static_cast<std::size_t>(i)];
        for (int k = 1; k <= genotypes(d); ++k) lanes.child_genotypes |= 1u << (code(d, k) - 1);
      }
    }
    return lanes;
  }

  // For genotype g_second of the other parent and every genotype k of the
  // first, out[k - 1] = the product over the summed children [begin, end) of
  // their sums (T x X_d) x P: the children's sums and the product are
  // formed in the literal order in every lane.
  BRAVIK_INLINE void products_by_first_genotype(const FirstParentLanes& first, int g_second, int begin, int end,
                                                double p, double* out) const {
    const TransmissionByFirst* column = plan_.transmission_by_first.data() + (g_second - 1) * N_JOINT;
    Lanes picked[N_JOINT];
    for (int block = 0; block < first.blocks; ++block) {
      if constexpr (picks_ahead) {
        for (std::uint32_t left = first.child_genotypes; left != 0; left &= left - 1) {
          const int g = std::countr_zero(left);
          picked[g] = pick_lanes(column[g], first.index[block]);
        }
      }
      // Only the parts that hold genotypes of the parent are formed.
      const int lanes_used = std::min(8, genotypes(first.parent) - block * 8);
      const int parts_used = (lanes_used + lane_width - 1) / lane_width;
      for (int part = 0; part < parts_used; ++part) {
        LanePart product = fast::broadcast<LanePart>(1.0);
        for (int i = begin; i < end; ++i) {
          const int d = plan_.children[static_cast<std::size_t>(i)];
          LanePart e = {};
          for (int k = 1; k <= genotypes(d); ++k) {
            const int g = code(d, k) - 1;
            e = e + (transmission_part(picked, column[g], first.index[block], g, part) * lane(x(d, k), 0)) * p;
          }
          product = product * e;
        }
        const int first_lane = part * lane_width;
        for (int l = first_lane; l < first_lane + lane_width && l < lanes_used; ++l) {
          out[block * 8 + l] = product[l - first_lane];
        }
      }
    }
  }

  // Case 1: S(k_q, c_q) = sum over k_r, c_r of (product over the children of
  // their sums) x X_r, lanes over c_q.
  BRAVIK_INLINE void peel_parent_connector(const NuclearPlan& nf) {
    if constexpr (nc == 1) {
      peel_parent_connector_one_class(nf);
    } else {
      peel_parent_connector_by_class(nf);
    }
  }

  BRAVIK_INLINE void peel_parent_connector_by_class(const NuclearPlan& nf) {
    const int q = nf.q;
    const int r = nf.spouse;
    const bool reuse = tables_.symmetric() && plan_.symmetric_transmission;
    bool formed[N_JOINT][N_JOINT] = {};
    for (int kq = 1; kq <= genotypes(q); ++kq) {
      V& xq = x(q, kq);
      if (left_out(xq)) continue;
      const int gq = code(q, kq);
      V s = splat<V>(0.0);
      for (int kr = 1; kr <= genotypes(r); ++kr) {
        const V& xr = x(r, kr);
        if (all_zero(xr)) continue;
        const int gr = code(r, kr);
        V product[nc];
        if (reuse && formed[gq - 1][gr - 1]) {
          transposed_pair_product(gq, gr, product);
        } else {
          products_by_class(child_runs(nf, kr, kq, genotypes(q), nf.children_end - nf.children_begin),
                            [this](int cr, int cd) -> decltype(auto) { return tables_.child_given_connector(cr, cd); },
                            product);
          if (reuse) {
            keep_pair_product(gr, gq, product);
            formed[gr - 1][gq - 1] = true;
          }
        }
        for (int cr = 0; cr < nc; ++cr) {
          const double xrv = lane(xr, cr);
          if (xrv != 0.0) s = s + product[cr] * xrv;
        }
      }
      multiply(kq, xq, s);
    }
  }

  // Case 1 with one class: the products for every genotype of the spouse at
  // once, then the sum over the spouse's genotypes in list order.
  BRAVIK_INLINE void peel_parent_connector_one_class(const NuclearPlan& nf) {
    const int q = nf.q;
    const int r = nf.spouse;
    const FirstParentLanes spouse = lanes_of_parent(r, nf.children_begin, nf.children_end);
    double product[N_JOINT];
    for (int kq = 1; kq <= genotypes(q); ++kq) {
      V& xq = x(q, kq);
      if (left_out(xq)) continue;
      products_by_first_genotype(spouse, code(q, kq), nf.children_begin, nf.children_end, tables_.p, product);
      double s = 0.0;
      for (int kr = 1; kr <= genotypes(r); ++kr) {
        const double xr = x(r, kr);
        if (xr != 0.0) s = s + product[kr - 1] * xr;
      }
      multiply(kq, xq, s);
    }
  }

  // When T and tpol are symmetric in the parents, bit for bit, the products
  // over the children for spouse genotype a and connector genotype b, class
  // c_r of the spouse in row and c_q in lane, are those for spouse b and
  // connector a with rows and lanes swapped: the sums run over the same terms
  // in the same order. The products kept for a nuclear family share the
  // storage of case 3's.
  BRAVIK_INLINE V& pair_product(int g_spouse, int g_connector, int row) const {
    return lanes_of<V>(products_[((g_spouse - 1) * N_JOINT + g_connector - 1) * nc + row]);
  }

  BRAVIK_INLINE void keep_pair_product(int g_spouse, int g_connector, const V (&product)[nc]) const {
    for (int row = 0; row < nc; ++row) pair_product(g_spouse, g_connector, row) = product[row];
  }

  BRAVIK_INLINE void transposed_pair_product(int g_spouse, int g_connector, V (&product)[nc]) const {
    for (int row = 0; row < nc; ++row) {
      product[row] = splat<V>(0.0);
      for (int c = 0; c < nc; ++c) set_lane(product[row], c, lane(pair_product(g_spouse, g_connector, c), row));
    }
  }

  // Adds term(s, k_fa, c_fa, x_fa, k_mo, c_mo, x_mo, T) over the parents'
  // states with a nonzero factor, the father's genotype outermost, then his
  // class, the mother's genotype and her class, as the literal routines do;
  // returns the sum for the connector's genotype g_q.
  template <class Term>
  BRAVIK_INLINE V sum_over_parent_states(const NuclearPlan& nf, int gq, Term term) const {
    const int fa = nf.father;
    const int mo = nf.mother;
    V s = splat<V>(0.0);
    for (int kfa = 1; kfa <= genotypes(fa); ++kfa) {
      const int gfa = code(fa, kfa);
      const V& xfa = x(fa, kfa);
      for (int cfa = 0; cfa < nc; ++cfa) {
        const double xfav = lane(xfa, cfa);
        if (xfav == 0.0) continue;
        for (int kmo = 1; kmo <= genotypes(mo); ++kmo) {
          const double tq = t(gq, code(mo, kmo), gfa);
          if (tq == 0.0) continue;
          const V& xmo = x(mo, kmo);
          for (int cmo = 0; cmo < nc; ++cmo) {
            const double xmov = lane(xmo, cmo);
            if (xmov != 0.0) term(s, kfa, cfa, xfav, kmo, cmo, xmov, tq);
          }
        }
      }
    }
    return s;
  }

  // Case 2: S(k_q, c_q) = sum over the parents' states of
  // ((X_mo x X_fa) x T) x P, lanes over c_q.
  BRAVIK_INLINE void peel_only_child(const NuclearPlan& nf) {
    const int q = nf.q;
    for (int kq = 1; kq <= genotypes(q); ++kq) {
      V& xq = x(q, kq);
      if (left_out(xq)) continue;
      const V s = sum_over_parent_states(
          nf, code(q, kq), [this](V& sum, int, int cfa, double xfav, int, int cmo, double xmov, double tq) {
            sum = sum + splat<V>((xmov * xfav) * tq) * tables_.connector_given_parents(cmo, cfa);
          });
      multiply(kq, xq, s);
    }
  }

  // Whether some state of q that is still possible has a nonzero
  // transmission from these parents' genotypes.
  BRAVIK_INLINE bool reaches_connector(int q, int gmo, int gfa) const {
    for (int kq = 1; kq <= genotypes(q); ++kq) {
      if (t(code(q, kq), gmo, gfa) != 0.0 && !left_out(x(q, kq))) return true;
    }
    return false;
  }

  BRAVIK_INLINE V& product_for(int kfa, int cfa, int kmo, int mothers) const {
    return lanes_of<V>(products_[((kfa - 1) * nc + cfa) * mothers + (kmo - 1)]);
  }

  // Case 3, first the products over the other children, which do not depend
  // on the connector's state: one per (k_fa, c_fa, k_mo), lanes over c_mo.
  BRAVIK_INLINE void hoist_other_children(const NuclearPlan& nf) {
    if constexpr (nc == 1) {
      hoist_other_children_one_class(nf);
    } else {
      hoist_other_children_by_class(nf);
    }
  }

  BRAVIK_INLINE void hoist_other_children_by_class(const NuclearPlan& nf) {
    const int fa = nf.father;
    const int mo = nf.mother;
    for (int kfa = 1; kfa <= genotypes(fa); ++kfa) {
      const V& xfa = x(fa, kfa);
      if (all_zero(xfa)) continue;
      const int gfa = code(fa, kfa);
      for (int kmo = 1; kmo <= genotypes(mo); ++kmo) {
        if (all_zero(x(mo, kmo))) continue;
        const int gmo = code(mo, kmo);
        if (!reaches_connector(nf.q, gmo, gfa)) continue;
        V product[nc];
        products_by_class(child_runs(nf, kmo, kfa, genotypes(fa), nf.children_end - nf.children_begin - 1),
                          [this](int cfa, int cd) -> decltype(auto) { return tables_.child_given_father(cfa, cd); },
                          product);
        for (int cfa = 0; cfa < nc; ++cfa) product_for(kfa, cfa, kmo, genotypes(mo)) = product[cfa];
      }
    }
  }

  // The same with one class: the products for every genotype of the mother
  // at once.
  BRAVIK_INLINE void hoist_other_children_one_class(const NuclearPlan& nf) {
    const int fa = nf.father;
    const FirstParentLanes mother = lanes_of_parent(nf.mother, nf.children_begin + 1, nf.children_end);
    for (int kfa = 1; kfa <= genotypes(fa); ++kfa) {
      if (x(fa, kfa) == 0.0) continue;
      products_by_first_genotype(mother, code(fa, kfa), nf.children_begin + 1, nf.children_end, tables_.p,
                                 &product_for(kfa, 0, 1, genotypes(nf.mother)));
    }
  }

  // Case 3: S(k_q, c_q) = sum over the parents' states of
  // X_mo x (((product x T) x P) x X_fa), lanes over c_q.
  BRAVIK_INLINE void peel_first_child(const NuclearPlan& nf) {
    hoist_other_children(nf);
    const int q = nf.q;
    const int mothers = genotypes(nf.mother);
    for (int kq = 1; kq <= genotypes(q); ++kq) {
      V& xq = x(q, kq);
      if (left_out(xq)) continue;
      const V s = sum_over_parent_states(
          nf, code(q, kq),
          [this, mothers](V& sum, int kfa, int cfa, double xfav, int kmo, int cmo, double xmov, double tq) {
            const double pt = lane(product_for(kfa, cfa, kmo, mothers), cmo) * tq;
            if (pt == 0.0) return;
            sum = sum + ((splat<V>(pt) * tables_.connector_given_parents(cmo, cfa)) * xfav) * xmov;
          });
      multiply(kq, xq, s);
    }
  }

  // Divides q's entries by their sum w and leaves their new sum in b; false
  // when w or 1/w is zero or not finite (the literal routines then give the
  // family's value).
  BRAVIK_INLINE bool rescale(int q, double& w, double& b) {
    w = 0.0;
    for (int k = 1; k <= genotypes(q); ++k) {
      for (int c = 0; c < nc; ++c) w = w + lane(x(q, k), c);
    }
    if (!(w > 0.0) || !std::isfinite(w)) return false;
    const double r = 1.0 / w;
    if (!std::isfinite(r)) return false;
    b = 0.0;
    for (int k = 1; k <= genotypes(q); ++k) {
      V& xq = x(q, k);
      xq = xq * r;
      for (int c = 0; c < nc; ++c) b = b + lane(xq, c);
    }
    return true;
  }

  const Model& model_;
  const SeriesPlan& plan_;
  const FamilyPlan& family_;
  Tables tables_;
  S* x_;
  S* products_;
  Record record_;
};

// Runs the peeler; a recorded pass also leaves the family's final factors.
template <class Peel>
BRAVIK_INLINE bool peel_family(Peel& peeler, double& lf, const InwardRecord* record) {
  if (!peeler.run(lf)) return false;
  if (record != nullptr) peeler.copy_factors(record->x);
  return true;
}

template <MachinePath Path, template <int> class Record>
BRAVIK_INLINE bool family_on(const Model& model, const SeriesPlan& plan, const FamilyPlan& family,
                             const ClassTables& tables, FamilyWorkspace& work, double& lf,
                             const InwardRecord* record) {
  if (model.pg.npol == N_POL) {
    if (!tables.banded) return false;
    using Lanes = typename fast::LanesOf<Path>::type;
    Peeler<Lanes, ClassVector, VectorTables<Lanes>, Path, Record<N_POL>> peeler(
        model, plan, family, VectorTables<Lanes>{tables}, work.x.data(), work.products.data(), Record<N_POL>(record));
    return peel_family(peeler, lf, record);
  }
  Peeler<double, double, ScalarTables, Path, Record<1>> peeler(model, plan, family,
                                                               ScalarTables{model.tranc.tpol(0, 0, 0)}, work.x1.data(),
                                                               work.products1.data(), Record<1>(record));
  return peel_family(peeler, lf, record);
}

template <template <int> class Record>
bool family_on_baseline(const Model& model, const SeriesPlan& plan, const FamilyPlan& family,
                        const ClassTables& tables, FamilyWorkspace& work, double& lf, const InwardRecord* record) {
  return family_on<MachinePath::baseline, Record>(model, plan, family, tables, work, lf, record);
}

#if BRAVIK_MACHINE_PATHS
template <template <int> class Record>
[[gnu::target("arch=x86-64-v4")]] bool family_on_avx512(const Model& model, const SeriesPlan& plan,
                                                         const FamilyPlan& family, const ClassTables& tables,
                                                         FamilyWorkspace& work, double& lf,
                                                         const InwardRecord* record) {
  return family_on<MachinePath::avx512, Record>(model, plan, family, tables, work, lf, record);
}

template <template <int> class Record>
[[gnu::target("arch=x86-64-v3")]] bool family_on_avx2(const Model& model, const SeriesPlan& plan,
                                                       const FamilyPlan& family, const ClassTables& tables,
                                                       FamilyWorkspace& work, double& lf, const InwardRecord* record) {
  return family_on<MachinePath::avx2, Record>(model, plan, family, tables, work, lf, record);
}
#endif

template <template <int> class Record>
FamilyRoutine routine_of(MachinePath path) {
  if (path == MachinePath::widest) path = runnable_paths().front();
  switch (path) {
#if BRAVIK_MACHINE_PATHS
    case MachinePath::avx512: return family_on_avx512<Record>;
    case MachinePath::avx2: return family_on_avx2<Record>;
#endif
    default: return family_on_baseline<Record>;
  }
}

}  // namespace

std::vector<MachinePath> runnable_paths() {
  std::vector<MachinePath> paths;
#if BRAVIK_MACHINE_PATHS
  __builtin_cpu_init();
  if (__builtin_cpu_supports("x86-64-v4")) paths.push_back(MachinePath::avx512);
  if (__builtin_cpu_supports("x86-64-v3")) paths.push_back(MachinePath::avx2);
#endif
  paths.push_back(MachinePath::baseline);
  return paths;
}

FamilyRoutine family_routine(MachinePath path) { return routine_of<NoRecord>(path); }

FamilyRoutine recorded_family_routine(MachinePath path) { return routine_of<Recording>(path); }

std::string_view path_name(MachinePath path) {
  switch (path) {
    case MachinePath::widest: return "widest";
    case MachinePath::avx512: return "avx512";
    case MachinePath::avx2: return "avx2";
    case MachinePath::baseline: return "baseline";
  }
  return "";
}

}  // namespace bravik

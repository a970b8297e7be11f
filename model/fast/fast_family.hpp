#pragma once
// One family's log-likelihood by the fast kernel: the same factors as massix
// and the same sums as mmpfam, formed in the same order, with the classes of
// one member in the lanes of a vector (with one class, the genotypes of one
// parent in the products over the children), the products over the other
// children of a first-child connector formed once for all its states, and
// terms with an exact zero factor left out.
#include <string_view>
#include <vector>

#include "model/blocks.hpp"
#include "model/fast/class_lanes.hpp"
#include "model/fast/fast_plan.hpp"

namespace bravik {

// A child's class is at most this far from either parent's (tpol(c_d, a, b)
// is zero for |c_d - a| > 3 whatever b); checked whenever the tables are built.
inline constexpr int banded_reach = 3;

// The transmission tables laid out for the loops that read them: each entry is
// a vector over the classes of one member, with tpol's indices counting from 0.
struct ClassTables {
  ClassVector child_given_connector[N_POL][N_POL];  // [c_r][c_d], over c_q: tpol(c_d, c_r, c_q)
  ClassVector child_given_father[N_POL][N_POL];     // [c_fa][c_d], over c_mo: tpol(c_d, c_mo, c_fa)
  ClassVector connector_given_parents[N_POL][N_POL];  // [c_mo][c_fa], over c_q: tpol(c_q, c_mo, c_fa)
  bool banded = false;  // the rows of the child tables farther than banded_reach are all zero
  bool symmetric = false;  // tpol(c, a, b) and tpol(c, b, a) have the same bits
  void build(const tranc_block& tranc);
};

// Storage of one thread, sized for the largest family of the series.
struct FamilyWorkspace {
  std::vector<ClassVector> x;   // xx of the family in hand, one vector per slot (seven classes)
  std::vector<double> x1;       // the same with one class
  std::vector<ClassVector> products;  // products over the children kept for reuse: case 3 by parent states, case 1 by genotype pair
  std::vector<double> products1;
  void reserve(const SeriesPlan& plan);
};

// What the posterior kernel keeps of a family's inward pass, a member's
// states as (k - 1) classes + c: for every nuclear family in order, its
// connector's entries before its sums multiplied them and the sums of all its
// states (those of one nuclear family after those of the one before), and the
// rescaling sum W; and the family's factors at the end of the pass, by slot.
struct InwardRecord {
  double* before;
  double* sums;
  double* scale;
  double* x;
};

// Fills the family's factors and peels it, keeping in `record` (unless null)
// what the posterior kernel needs. False when the shortcuts might not give
// the literal bits (child tables that are not banded, a factor that is not
// finite or large enough to overflow, a sum W that is zero or not finite):
// the caller then runs the literal routines for this family.
using FamilyRoutine = bool (*)(const Model& model, const SeriesPlan& plan, const FamilyPlan& family,
                               const ClassTables& tables, FamilyWorkspace& work, double& lf,
                               const InwardRecord* record);

// The paths that this build has and the running machine can run, widest first
// (the baseline path always).
std::vector<MachinePath> runnable_paths();

// The routine of a runnable path; widest stands for the first runnable one.
FamilyRoutine family_routine(MachinePath path);

// The same for a pass that is recorded: it forms the sums of every state of a
// connector (those with zero entries too) and fills the record, which must
// not be null.
FamilyRoutine recorded_family_routine(MachinePath path);

// "avx512", "avx2", "baseline" (and "widest").
std::string_view path_name(MachinePath path);

}  // namespace bravik

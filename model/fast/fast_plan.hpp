#pragma once
// What the fast kernel knows of the pedigree for a whole series of
// evaluations: for every nuclear family which member receives its sum and how
// (the three connector cases), and for every person whether its parents are in
// the pedigree. Built after each first-call set-up, read by every thread.
#include <array>
#include <bit>
#include <cstdint>
#include <vector>

#include "model/blocks.hpp"

namespace bravik {

enum class ConnectorCase : std::uint8_t {
  parent,       // the connector is the father or the mother; every child is summed
  only_child,   // the connector is the only child
  first_child,  // the connector is the first of several children
};

// Persons are global numbers.
struct NuclearPlan {
  ConnectorCase kind;
  bool terminal;
  int q;       // the connector (the father of a terminal nuclear family)
  int spouse;  // the other parent, when q is a parent
  int father;
  int mother;
  int children_begin;  // the children in list order: SeriesPlan::children[begin, end)
  int children_end;
  // Cases 1 and 3: the nonzero transmissions to the summed children (all
  // children, or all but the connector) for every pair of genotypes of the
  // parent pair (spouse and connector in case 1, mother and father in case
  // 3); see SeriesPlan::child_terms.
  int first_term_end;
};

struct FamilyPlan {
  int first_person;  // global number of the family's first person
  int persons;
  int base;   // i_start of the first person: slot s of the family is list entry base + s
  int slots;  // ntot
  int nuclear_begin;  // SeriesPlan::nuclear[begin, end)
  int nuclear_end;
  int most_children;  // of any of its nuclear families
  long cost;          // an estimate of its work: slots plus child-sum terms
  // A description the fast kernel does not take (a member listed twice in a
  // nuclear family, a connector that is no parent and not the first child, a
  // member outside the family): the literal routines compute the family.
  bool literal_only;
};

// A child genotype that a pair of parental genotypes can give: its slot in the
// family and T(g_d | g_first, g_second), which is not zero.
struct ChildTransmission {
  int slot;
  double t;
};

// For one genotype of the second parent and one child genotype g_d,
// T(g_d | g_first, g_second) in lane g_first - 1 of the two halves.
using EightLanes = double __attribute__((vector_size(64)));
struct alignas(64) TransmissionByFirst {
  EightLanes half[2];
};

struct SeriesPlan {
  std::vector<FamilyPlan> families;  // family f at index f - 1
  std::vector<int> by_cost;          // the family numbers, most costly first
  std::vector<NuclearPlan> nuclear;
  std::vector<int> children;
  std::vector<std::uint8_t> is_child;  // by global person: listed as a child, so filled with its density alone
  // By global person: the code of the marker under analysis, kept beside the
  // other per-person data (the marker table holds every marker of a person).
  std::vector<std::int8_t> marker;
  // By global person and joint genotype: the slot of the family (from 0), or -1
  // when the genotype is not in the person's list.
  std::vector<std::array<std::int32_t, N_JOINT>> slot_of;
  // For nuclear family nf, genotype k_first of the first parent, k_second of
  // the second and the i-th summed child (from 0), the entries
  // [child_term_end[j - 1], child_term_end[j]) of child_terms, with
  // j = nf.first_term_end + ((k_first - 1) n_second + k_second - 1) children + i,
  // in the child's list order.
  std::vector<ChildTransmission> child_terms;
  std::vector<int> child_term_end;  // starts with a 0
  // By (g_second - 1) N_JOINT + g_d - 1.
  std::array<TransmissionByFirst, N_JOINT * N_JOINT> transmission_by_first{};
  int most_slots = 0;
  int most_children = 0;
  bool symmetric_transmission = false;  // T(g_d | a, b) and T(g_d | b, a) have the same bits
};

// Whether entry(c, a, b) and entry(c, b, a) have the same bits for all c, a
// and b from first to last: then sums over the parents' states may be shared
// between the two orders of a pair.
template <class Entry>
bool symmetric_in_parents(int first, int last, Entry entry) {
  bool symmetric = true;
  for (int c = first; c <= last; ++c) {
    for (int a = first; a <= last; ++a) {
      for (int b = first; b < a; ++b) {
        symmetric = symmetric && std::bit_cast<std::uint64_t>(entry(c, a, b)) ==
                                     std::bit_cast<std::uint64_t>(entry(c, b, a));
      }
    }
  }
  return symmetric;
}

// Reads the description and the genotype lists of the model.
void plan_series(const Model& model, SeriesPlan& plan);

}  // namespace bravik

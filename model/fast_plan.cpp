#include "model/fast_plan.hpp"

#include <algorithm>

namespace bravik {
namespace {

// The members of nuclear family i as global numbers, or false when one lies
// outside the family or is listed twice.
bool read_members(const Pedigree& ped, int i, int offset, int persons, std::vector<int>& members) {
  members.clear();
  for (int idx = ped.buf14.imem(i); idx < ped.buf14.imem(i + 1); ++idx) {
    const int local = ped.buf16.mem(idx);
    if (local < 1 || local > persons) return false;
    members.push_back(offset + local);
  }
  std::vector<int> sorted = members;
  std::sort(sorted.begin(), sorted.end());
  return std::adjacent_find(sorted.begin(), sorted.end()) == sorted.end();
}

// Which case the connector makes, or false when the connector is neither a
// parent nor the first child (the literal routines then take the family).
bool classify(const Pedigree& ped, int i, int offset, const std::vector<int>& members, NuclearPlan& nf) {
  nf.father = members[0];
  nf.mother = members[1];
  nf.terminal = ped.buf15.icon(i) == 0;
  nf.q = nf.terminal ? nf.father : offset + ped.buf15.icon(i);
  const int children = static_cast<int>(members.size()) - 2;
  if (nf.q == nf.father || nf.q == nf.mother) {
    nf.kind = ConnectorCase::parent;
    nf.spouse = nf.q == nf.father ? nf.mother : nf.father;
    return true;
  }
  nf.spouse = 0;
  if (children < 1 || nf.q != members[2]) return false;
  nf.kind = children == 1 ? ConnectorCase::only_child : ConnectorCase::first_child;
  return true;
}

void plan_family(const Model& model, int f, SeriesPlan& plan, std::vector<int>& members) {
  const Pedigree& ped = model.ped;
  FamilyPlan fp{};
  const int offset = ped.buf1.ifst(f);
  fp.first_person = offset + 1;
  fp.persons = ped.buf1.ifst(f + 1) - offset;
  fp.base = model.genot.i_start(fp.first_person);
  fp.slots = model.genot.i_start(ped.buf1.ifst(f + 1) + 1) - fp.base;
  fp.nuclear_begin = static_cast<int>(plan.nuclear.size());
  for (int i = ped.buf3.inuc(f) + 1; i <= ped.buf3.inuc(f + 1); ++i) {
    NuclearPlan nf{};
    if (!read_members(ped, i, offset, fp.persons, members) || members.size() < 2 ||
        !classify(ped, i, offset, members, nf)) {
      fp.literal_only = true;
      continue;
    }
    nf.children_begin = static_cast<int>(plan.children.size());
    for (std::size_t m = 2; m < members.size(); ++m) {
      plan.children.push_back(members[m]);
      plan.is_child[static_cast<std::size_t>(members[m])] = 1;
    }
    nf.children_end = static_cast<int>(plan.children.size());
    fp.most_children = std::max(fp.most_children, nf.children_end - nf.children_begin);
    plan.nuclear.push_back(nf);
  }
  fp.nuclear_end = static_cast<int>(plan.nuclear.size());
  plan.most_slots = std::max(plan.most_slots, fp.slots);
  plan.most_children = std::max(plan.most_children, fp.most_children);
  plan.families.push_back(fp);
}

}  // namespace

void plan_series(const Model& model, SeriesPlan& plan) {
  const Pedigree& ped = model.ped;
  plan.families.clear();
  plan.nuclear.clear();
  plan.children.clear();
  plan.is_child.assign(static_cast<std::size_t>(ped.buf1.ifst(ped.buf1.nfam + 1)) + 1, 0);
  plan.most_slots = 0;
  plan.most_children = 0;
  std::vector<int> members;
  for (int f = 1; f <= ped.buf1.nfam; ++f) plan_family(model, f, plan, members);
}

}  // namespace bravik

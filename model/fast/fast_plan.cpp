#include "model/fast/fast_plan.hpp"

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

// The nonzero T(g_d | first, second) by (first - 1) * 10 + second - 1, with
// the child genotypes in increasing order.
struct TransmissionTable {
  struct List {
    int count = 0;
    std::array<int, N_JOINT> child{};
    std::array<double, N_JOINT> t{};
  };
  std::array<List, N_JOINT * N_JOINT> lists;

  explicit TransmissionTable(const tranc_block& tranc) {
    for (int first = 1; first <= N_JOINT; ++first) {
      for (int second = 1; second <= N_JOINT; ++second) {
        List& list = lists[static_cast<std::size_t>((first - 1) * N_JOINT + second - 1)];
        for (int child = 1; child <= N_JOINT; ++child) {
          const double t = tranc.tgen(child, first, second);
          if (t == 0.0) continue;
          list.child[static_cast<std::size_t>(list.count)] = child;
          list.t[static_cast<std::size_t>(list.count)] = t;
          ++list.count;
        }
      }
    }
  }
};

void plan_child_terms(const Model& model, const TransmissionTable& table, NuclearPlan& nf, SeriesPlan& plan) {
  const genot_block& genot = model.genot;
  const bool parent = nf.kind == ConnectorCase::parent;
  const int first = parent ? nf.spouse : nf.mother;
  const int second = parent ? nf.q : nf.father;
  const int children_begin = parent ? nf.children_begin : nf.children_begin + 1;
  nf.first_term_end = static_cast<int>(plan.child_term_end.size());
  for (int k_first = 1; k_first <= genot.n_gen(first); ++k_first) {
    const int g_first = genot.l_gen(genot.i_start(first) + k_first);
    for (int k_second = 1; k_second <= genot.n_gen(second); ++k_second) {
      const int g_second = genot.l_gen(genot.i_start(second) + k_second);
      const TransmissionTable::List& list = table.lists[static_cast<std::size_t>((g_first - 1) * N_JOINT + g_second - 1)];
      for (int i = children_begin; i < nf.children_end; ++i) {
        const auto& slots = plan.slot_of[static_cast<std::size_t>(plan.children[static_cast<std::size_t>(i)])];
        for (int j = 0; j < list.count; ++j) {
          const int slot = slots[static_cast<std::size_t>(list.child[static_cast<std::size_t>(j)] - 1)];
          if (slot >= 0) plan.child_terms.push_back({slot, list.t[static_cast<std::size_t>(j)]});
        }
        plan.child_term_end.push_back(static_cast<int>(plan.child_terms.size()));
      }
    }
  }
}

// The transmissions laid out for the child sums of one class, which take up
// to eight genotypes of the first parent at once.
void plan_transmission_by_first(const tranc_block& tranc, SeriesPlan& plan) {
  for (int second = 1; second <= N_JOINT; ++second) {
    for (int child = 1; child <= N_JOINT; ++child) {
      TransmissionByFirst& entry =
          plan.transmission_by_first[static_cast<std::size_t>((second - 1) * N_JOINT + child - 1)];
      entry = TransmissionByFirst{};
      for (int first = 1; first <= N_JOINT; ++first) {
        entry.half[(first - 1) / 8][(first - 1) % 8] = tranc.tgen(child, first, second);
      }
    }
  }
}

void plan_all_child_terms(const Model& model, SeriesPlan& plan) {
  const TransmissionTable table(model.tranc);
  plan.symmetric_transmission =
      symmetric_in_parents(1, N_JOINT, [&model](int c, int a, int b) { return model.tranc.tgen(c, a, b); });
  plan.child_terms.clear();
  plan.child_term_end.assign(1, 0);
  for (FamilyPlan& family : plan.families) {
    family.cost = family.slots;
    if (family.literal_only) continue;
    const std::size_t terms_before = plan.child_terms.size();
    for (int i = family.nuclear_begin; i < family.nuclear_end; ++i) {
      NuclearPlan& nf = plan.nuclear[static_cast<std::size_t>(i)];
      if (nf.kind != ConnectorCase::only_child) plan_child_terms(model, table, nf, plan);
    }
    family.cost += static_cast<long>(plan.child_terms.size() - terms_before);
  }
}

// Threads take the costly families first, so that the last ones taken are
// short and the threads finish together.
void order_by_cost(SeriesPlan& plan) {
  plan.by_cost.resize(plan.families.size());
  for (std::size_t i = 0; i < plan.by_cost.size(); ++i) plan.by_cost[i] = static_cast<int>(i) + 1;
  std::stable_sort(plan.by_cost.begin(), plan.by_cost.end(), [&plan](int a, int b) {
    return plan.families[static_cast<std::size_t>(a - 1)].cost > plan.families[static_cast<std::size_t>(b - 1)].cost;
  });
}

// The sums run over the children's genotypes in list order, which is
// increasing order; a family whose lists are not is left to the literal routines.
void plan_slots(const Model& model, SeriesPlan& plan) {
  const genot_block& genot = model.genot;
  for (FamilyPlan& family : plan.families) {
    for (int p = family.first_person; p < family.first_person + family.persons; ++p) {
      std::array<std::int32_t, N_JOINT>& slots = plan.slot_of[static_cast<std::size_t>(p)];
      slots.fill(-1);
      int previous = 0;
      for (int k = 1; k <= genot.n_gen(p); ++k) {
        const int g = genot.l_gen(genot.i_start(p) + k);
        if (g <= previous || g > N_JOINT) {
          family.literal_only = true;
          break;
        }
        slots[static_cast<std::size_t>(g - 1)] = genot.i_start(p) - family.base + k - 1;
        previous = g;
      }
    }
  }
}

}  // namespace

void plan_series(const Model& model, SeriesPlan& plan) {
  const Pedigree& ped = model.ped;
  plan.families.clear();
  plan.nuclear.clear();
  plan.children.clear();
  const auto persons = static_cast<std::size_t>(ped.buf1.ifst(ped.buf1.nfam + 1)) + 1;
  plan.is_child.assign(persons, 0);
  plan.marker.assign(persons, 0);
  for (std::size_t p = 1; p < persons; ++p) {
    plan.marker[p] = static_cast<std::int8_t>(ped.buf2.mgt(static_cast<int>(p), 0));
  }
  plan.slot_of.resize(persons);
  plan.most_slots = 0;
  plan.most_children = 0;
  std::vector<int> members;
  for (int f = 1; f <= ped.buf1.nfam; ++f) plan_family(model, f, plan, members);
  plan_slots(model, plan);
  plan_all_child_terms(model, plan);
  plan_transmission_by_first(model.tranc, plan);
  order_by_cost(plan);
}

}  // namespace bravik

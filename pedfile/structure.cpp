#include "pedfile/structure.hpp"

#include <algorithm>
#include <map>
#include <numeric>
#include <unordered_map>

#include "pedfile/input_error.hpp"
#include "pedfile/random.hpp"
#include "pedigree/blocks.hpp"

namespace bravik::tools {
namespace {

constexpr int max_families = N_FAM - 2;
constexpr int no_person = -1;

// One family as read: persons in file order, parents as local indices.
struct RawFamily {
  std::string id;
  std::vector<std::size_t> rows;
  std::vector<int> father;
  std::vector<int> mother;
  std::vector<NuclearFamily> nuclear;   // in order of their first child's line
  std::vector<std::vector<int>> nuclear_of;  // nuclear families each person belongs to
};

std::vector<RawFamily> group_families(const PedigreeFile& file) {
  std::vector<RawFamily> families;
  std::unordered_map<std::string, std::size_t> index;
  for (std::size_t r = 0; r < file.rows.size(); ++r) {
    const auto [it, added] = index.try_emplace(file.rows[r].family, families.size());
    if (added) families.push_back(RawFamily{file.rows[r].family, {}, {}, {}, {}, {}});
    families[it->second].rows.push_back(r);
  }
  return families;
}

std::string person_at(const PedigreeFile& file, const RawFamily& fam, int local) {
  const PedigreeRow& row = file.rows[fam.rows[static_cast<std::size_t>(local)]];
  return row.person + " (line " + std::to_string(row.line) + ")";
}

// Resolves father and mother ids to local indices and checks them.
void link_parents(const PedigreeFile& file, RawFamily& fam, Diagnostics& errors) {
  const std::size_t n = fam.rows.size();
  std::unordered_map<std::string, int> local;
  for (std::size_t i = 0; i < n; ++i) {
    const PedigreeRow& row = file.rows[fam.rows[i]];
    const auto [it, added] = local.try_emplace(row.person, static_cast<int>(i));
    if (!added)
      errors.add(file.where(row) + "person listed twice (first on line " +
                 std::to_string(file.rows[fam.rows[static_cast<std::size_t>(it->second)]].line) + ")");
  }
  fam.father.assign(n, no_person);
  fam.mother.assign(n, no_person);
  std::vector<bool> sex_reported(n, false);
  for (std::size_t i = 0; i < n; ++i) {
    const PedigreeRow& row = file.rows[fam.rows[i]];
    const bool has_father = row.father != "0";
    const bool has_mother = row.mother != "0";
    if (has_father != has_mother) {
      errors.add(file.where(row) + "only one parent known (father " + row.father + ", mother " + row.mother +
                 "); give both parents or neither");
      continue;
    }
    if (!has_father) continue;
    const auto resolve = [&](const std::string& id, const char* role, int expected_sex, const char* sex_word) {
      const auto it = local.find(id);
      if (it == local.end()) {
        errors.add(file.where(row) + role + " " + id + " is not in family " + fam.id);
        return no_person;
      }
      const auto parent = static_cast<std::size_t>(it->second);
      const PedigreeRow& parent_row = file.rows[fam.rows[parent]];
      if (parent_row.sex != expected_sex && !sex_reported[parent]) {
        sex_reported[parent] = true;
        errors.add(file.where(row) + role + " " + id + " is not " + sex_word + " (sex " +
                   std::to_string(parent_row.sex) + " on line " + std::to_string(parent_row.line) + ")");
      }
      return it->second;
    };
    fam.father[i] = resolve(row.father, "father", sex_male, "male");
    fam.mother[i] = resolve(row.mother, "mother", sex_female, "female");
  }
}

// Reports a person who is their own ancestor, with the chain of parents.
void check_ancestry(const PedigreeFile& file, const RawFamily& fam, Diagnostics& errors) {
  const int n = static_cast<int>(fam.rows.size());
  enum : char { unseen, open, done };
  std::vector<char> state(static_cast<std::size_t>(n), unseen);
  std::vector<std::pair<int, int>> stack;  // person, next parent to visit (0 father, 1 mother, 2 finished)
  for (int start = 0; start < n; ++start) {
    if (state[static_cast<std::size_t>(start)] != unseen) continue;
    stack.assign(1, {start, 0});
    state[static_cast<std::size_t>(start)] = open;
    while (!stack.empty()) {
      auto& [person, next] = stack.back();
      if (next == 2) {
        state[static_cast<std::size_t>(person)] = done;
        stack.pop_back();
        continue;
      }
      const int parent = next == 0 ? fam.father[static_cast<std::size_t>(person)] : fam.mother[static_cast<std::size_t>(person)];
      ++next;
      if (parent == no_person || state[static_cast<std::size_t>(parent)] == done) continue;
      if (state[static_cast<std::size_t>(parent)] == open) {
        auto first = std::find_if(stack.begin(), stack.end(), [parent](const auto& e) { return e.first == parent; });
        std::string chain;
        for (auto it = first; it != stack.end(); ++it) chain += person_at(file, fam, it->first) + " -> ";
        const PedigreeRow& row = file.rows[fam.rows[static_cast<std::size_t>(parent)]];
        errors.add(file.where(row) + "person is their own ancestor: " + chain + person_at(file, fam, parent) +
                   " (each a parent of the one before)");
        return;
      }
      state[static_cast<std::size_t>(parent)] = open;
      stack.push_back({parent, 0});
    }
  }
}

// One nuclear family per parent pair, in order of the first child's line.
void form_nuclear_families(RawFamily& fam) {
  std::map<std::pair<int, int>, std::size_t> index;
  fam.nuclear_of.assign(fam.rows.size(), {});
  for (std::size_t i = 0; i < fam.rows.size(); ++i) {
    if (fam.father[i] == no_person || fam.mother[i] == no_person) continue;
    const auto [it, added] = index.try_emplace({fam.father[i], fam.mother[i]}, fam.nuclear.size());
    if (added) {
      fam.nuclear.push_back(NuclearFamily{fam.father[i], fam.mother[i], {}, -1});
      fam.nuclear_of[static_cast<std::size_t>(fam.father[i])].push_back(static_cast<int>(it->second));
      fam.nuclear_of[static_cast<std::size_t>(fam.mother[i])].push_back(static_cast<int>(it->second));
    }
    fam.nuclear[it->second].children.push_back(static_cast<int>(i));
    fam.nuclear_of[i].push_back(static_cast<int>(it->second));
  }
}

std::vector<int> members(const NuclearFamily& nuc) {
  std::vector<int> list{nuc.father, nuc.mother};
  list.insert(list.end(), nuc.children.begin(), nuc.children.end());
  return list;
}

// Persons and nuclear families form a bipartite graph (person -- nuclear
// family it belongs to); the pedigree is free of loops when that graph is a
// forest. Adds the edges one by one and reports the first that closes a cycle.
void check_loops(const PedigreeFile& file, const RawFamily& fam, Diagnostics& errors) {
  const int persons = static_cast<int>(fam.rows.size());
  const int nodes = persons + static_cast<int>(fam.nuclear.size());
  std::vector<int> root(static_cast<std::size_t>(nodes));
  std::iota(root.begin(), root.end(), 0);
  const auto find = [&root](int v) {
    while (root[static_cast<std::size_t>(v)] != v) v = root[static_cast<std::size_t>(v)] = root[static_cast<std::size_t>(root[static_cast<std::size_t>(v)])];
    return v;
  };
  std::vector<std::vector<int>> adjacent(static_cast<std::size_t>(nodes));
  for (std::size_t n = 0; n < fam.nuclear.size(); ++n) {
    const int nuc_node = persons + static_cast<int>(n);
    for (const int person : members(fam.nuclear[n])) {
      if (find(person) != find(nuc_node)) {
        root[static_cast<std::size_t>(find(person))] = find(nuc_node);
        adjacent[static_cast<std::size_t>(person)].push_back(nuc_node);
        adjacent[static_cast<std::size_t>(nuc_node)].push_back(person);
        continue;
      }
      // The loop: the path from nuc_node to person in the forest, closed by this edge.
      std::vector<int> previous(static_cast<std::size_t>(nodes), -2);
      std::vector<int> queue{nuc_node};
      previous[static_cast<std::size_t>(nuc_node)] = -1;
      for (std::size_t q = 0; q < queue.size() && previous[static_cast<std::size_t>(person)] == -2; ++q)
        for (const int next : adjacent[static_cast<std::size_t>(queue[q])])
          if (previous[static_cast<std::size_t>(next)] == -2) {
            previous[static_cast<std::size_t>(next)] = queue[q];
            queue.push_back(next);
          }
      std::string names;
      for (int v = person; v != -1; v = previous[static_cast<std::size_t>(v)])
        if (v < persons) names += (names.empty() ? "" : ", ") + person_at(file, fam, v);
      errors.add(file.name + ": family " + fam.id + ": marriage or consanguinity loop through persons " + names +
                 "; the likelihood does not handle pedigrees with loops");
      return;
    }
  }
}

// Orders the nuclear families of one family for peeling: in each connected
// part, a breadth-first walk from the root through shared persons gives every
// nuclear family its connector (the person it shares with the one it was
// reached from); the reversed walk lists each nuclear family after all that
// hang below it.
std::vector<NuclearFamily> peeling_order(const RawFamily& fam, const PeelingOptions& options, Random& random) {
  const std::size_t count = fam.nuclear.size();
  std::vector<int> part(count, -1);
  std::vector<std::vector<int>> parts;
  for (std::size_t start = 0; start < count; ++start) {
    if (part[start] >= 0) continue;
    parts.emplace_back(1, static_cast<int>(start));
    part[start] = static_cast<int>(parts.size() - 1);
    for (std::size_t q = 0; q < parts.back().size(); ++q)
      for (const int person : members(fam.nuclear[static_cast<std::size_t>(parts.back()[q])]))
        for (const int other : fam.nuclear_of[static_cast<std::size_t>(person)])
          if (part[static_cast<std::size_t>(other)] < 0) {
            part[static_cast<std::size_t>(other)] = part[start];
            parts.back().push_back(other);
          }
  }
  std::vector<NuclearFamily> order;
  std::vector<bool> reached(count, false);
  for (const std::vector<int>& nucs : parts) {
    int root = nucs.front();  // the walk found them in input order from the lowest
    if (options.root == RootChoice::last) root = *std::max_element(nucs.begin(), nucs.end());
    if (options.root == RootChoice::random) root = nucs[static_cast<std::size_t>(random.integer(0, static_cast<int>(nucs.size()) - 1))];
    std::vector<NuclearFamily> walk{fam.nuclear[static_cast<std::size_t>(root)]};
    reached[static_cast<std::size_t>(root)] = true;
    for (std::size_t q = 0; q < walk.size(); ++q) {
      const NuclearFamily current = walk[q];
      for (const int person : members(current)) {
        if (person == current.connector) continue;
        for (const int other : fam.nuclear_of[static_cast<std::size_t>(person)]) {
          if (reached[static_cast<std::size_t>(other)]) continue;
          reached[static_cast<std::size_t>(other)] = true;
          NuclearFamily next = fam.nuclear[static_cast<std::size_t>(other)];
          next.connector = person;
          walk.push_back(next);
        }
      }
    }
    order.insert(order.end(), walk.rbegin(), walk.rend());
  }
  for (NuclearFamily& nuc : order) {
    const auto it = std::find(nuc.children.begin(), nuc.children.end(), nuc.connector);
    if (it != nuc.children.end()) std::rotate(nuc.children.begin(), it, it + 1);
  }
  return order;
}

// The family in local numbers without its unattached persons; those are
// appended to `unattached` (file rows).
Family finish_family(const RawFamily& fam, std::vector<NuclearFamily> order, std::vector<std::size_t>& unattached) {
  Family out{fam.id, {}, {}};
  std::vector<int> renumber(fam.rows.size(), no_person);
  for (std::size_t i = 0; i < fam.rows.size(); ++i) {
    if (fam.nuclear_of[i].empty()) {
      unattached.push_back(fam.rows[i]);
      continue;
    }
    renumber[i] = static_cast<int>(out.rows.size());
    out.rows.push_back(fam.rows[i]);
  }
  const auto map = [&renumber](int p) { return p == no_person ? no_person : renumber[static_cast<std::size_t>(p)]; };
  for (NuclearFamily& nuc : order) {
    nuc.father = map(nuc.father);
    nuc.mother = map(nuc.mother);
    nuc.connector = map(nuc.connector);
    for (int& child : nuc.children) child = map(child);
  }
  out.nuclear = std::move(order);
  return out;
}

void check_capacities(const PedigreeFile& file, const PreparedPedigree& ped, Diagnostics& errors) {
  std::size_t nuclear = 0;
  std::size_t entries = 0;
  for (const Family& fam : ped.families)
    for (const NuclearFamily& nuc : fam.nuclear) {
      ++nuclear;
      entries += 2 + nuc.children.size();
    }
  const auto limit = [&](std::size_t value, std::size_t cap, const std::string& what, const char* name) {
    if (value > cap)
      errors.add(file.name + ": " + std::to_string(value) + " " + what + ", more than the " + std::to_string(cap) +
                 " that the analysis holds (" + name + ")");
  };
  limit(ped.families.size(), max_families, "families (the family of unattached persons included)", "N_FAM");
  limit(entries, N_WAY, "member-list entries", "N_WAY");
  limit(nuclear + 2, N_WAY, "member-list offsets", "N_WAY");
}

}  // namespace

std::size_t PreparedPedigree::persons() const {
  std::size_t n = 0;
  for (const Family& f : families) n += f.rows.size();
  return n;
}

PreparedPedigree prepare_structure(const PedigreeFile& file, const PeelingOptions& options) {
  Diagnostics errors;
  if (file.rows.size() > static_cast<std::size_t>(N_SIZE)) {
    errors.add(file.name + ": " + std::to_string(file.rows.size()) + " persons, more than the " +
               std::to_string(N_SIZE) + " that the analysis holds (N_SIZE)");
    errors.throw_if_any();
  }
  std::vector<RawFamily> families = group_families(file);
  for (RawFamily& fam : families) link_parents(file, fam, errors);
  errors.throw_if_any();
  for (RawFamily& fam : families) check_ancestry(file, fam, errors);
  errors.throw_if_any();
  for (RawFamily& fam : families) {
    form_nuclear_families(fam);
    check_loops(file, fam, errors);
  }
  errors.throw_if_any();

  PreparedPedigree ped;
  Random random(options.seed);
  std::vector<std::size_t> unattached;
  for (const RawFamily& fam : families) {
    Family out = finish_family(fam, peeling_order(fam, options, random), unattached);
    if (out.nuclear.empty()) {
      ped.notes.push_back("family " + fam.id + " has no nuclear family: its persons join the family of unattached persons");
      continue;
    }
    ped.families.push_back(std::move(out));
  }
  if (!unattached.empty()) {
    std::string ids;
    for (std::size_t k = 0; k < unattached.size() && k < 20; ++k)
      ids += " " + file.rows[unattached[k]].family + "/" + file.rows[unattached[k]].person;
    if (unattached.size() > 20) ids += " ...";
    ped.notes.push_back(std::to_string(unattached.size()) + " persons belong to no nuclear family and form the last family" +
                        " (family " + std::to_string(ped.families.size() + 1) +
                        "): they count in the allele frequencies and add nothing to the likelihood:" + ids);
    ped.families.push_back(Family{"", std::move(unattached), {}});
  }
  check_capacities(file, ped, errors);
  errors.throw_if_any();
  return ped;
}

}  // namespace bravik::tools

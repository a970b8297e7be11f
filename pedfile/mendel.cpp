#include "pedfile/mendel.hpp"

#include <array>

#include "pedfile/input_error.hpp"

namespace bravik::tools {
namespace {

// Genotype sets as bit masks: bit 0 = 11, bit 1 = 12, bit 2 = 22.
using GenotypeSet = unsigned;
constexpr GenotypeSet any_genotype = 7;

GenotypeSet observed(int code) { return code == 0 ? any_genotype : 1u << (code - 1); }

// The child genotypes that parents of genotypes a and b (0..2) can have.
constexpr std::array<std::array<GenotypeSet, 3>, 3> offspring = {{
    {1, 3, 2},  // 11 x 11, 11 x 12, 11 x 22
    {3, 7, 6},  // 12 x ...
    {2, 6, 4},  // 22 x ...
}};

// Narrows the sets of the members of one nuclear family to the genotypes
// that take part in a consistent assignment of the whole nuclear family.
// Returns false when some member is left with none.
bool narrow(const NuclearFamily& nuc, std::vector<GenotypeSet>& sets, bool& changed) {
  GenotypeSet father_ok = 0;
  GenotypeSet mother_ok = 0;
  std::vector<GenotypeSet> child_ok(nuc.children.size(), 0);
  for (int a = 0; a < 3; ++a) {
    if (!(sets[static_cast<std::size_t>(nuc.father)] >> a & 1u)) continue;
    for (int b = 0; b < 3; ++b) {
      if (!(sets[static_cast<std::size_t>(nuc.mother)] >> b & 1u)) continue;
      const GenotypeSet possible = offspring[static_cast<std::size_t>(a)][static_cast<std::size_t>(b)];
      bool fits = true;
      for (const int child : nuc.children) fits = fits && (sets[static_cast<std::size_t>(child)] & possible) != 0;
      if (!fits) continue;
      father_ok |= 1u << a;
      mother_ok |= 1u << b;
      for (std::size_t c = 0; c < nuc.children.size(); ++c)
        child_ok[c] |= sets[static_cast<std::size_t>(nuc.children[c])] & possible;
    }
  }
  const auto update = [&](int person, GenotypeSet ok) {
    GenotypeSet& set = sets[static_cast<std::size_t>(person)];
    if (set != ok) changed = true;
    set = ok;
  };
  update(nuc.father, father_ok);
  update(nuc.mother, mother_ok);
  for (std::size_t c = 0; c < nuc.children.size(); ++c) update(nuc.children[c], child_ok[c]);
  return father_ok != 0;
}

// Sweeps forward and backward over the nuclear families until nothing
// changes; returns the index of the nuclear family where a member ran out of
// genotypes, or -1 when the family is consistent.
int find_inconsistency(const PedigreeFile& file, const Family& fam, int marker) {
  std::vector<GenotypeSet> sets(fam.rows.size());
  for (std::size_t i = 0; i < fam.rows.size(); ++i) sets[i] = observed(file.code(fam.rows[i], marker));
  const int count = static_cast<int>(fam.nuclear.size());
  bool changed = true;
  for (bool forward = true; changed; forward = !forward) {
    changed = false;
    for (int k = 0; k < count; ++k) {
      const int n = forward ? k : count - 1 - k;
      if (!narrow(fam.nuclear[static_cast<std::size_t>(n)], sets, changed)) return n;
    }
  }
  return -1;
}

std::string describe(const PedigreeFile& file, const Family& fam, const NuclearFamily& nuc, int marker) {
  const auto person = [&](int local) {
    const std::size_t row = fam.rows[static_cast<std::size_t>(local)];
    return file.rows[row].person + " " + alleles_of_code(file.code(row, marker));
  };
  std::string text = file.name + ": marker " + std::to_string(marker + 1) + ", family " + fam.id +
                     ": Mendelian inconsistency in the nuclear family of father " + person(nuc.father) +
                     ", mother " + person(nuc.mother) + ", children";
  for (std::size_t c = 0; c < nuc.children.size(); ++c) text += (c ? ", " : " ") + person(nuc.children[c]);
  return text;
}

bool untype_members(PedigreeFile& file, const Family& fam, const NuclearFamily& nuc, int marker) {
  bool any = false;
  const auto clear = [&](int local) {
    std::uint8_t& code = file.code(fam.rows[static_cast<std::size_t>(local)], marker);
    any = any || code != 0;
    code = 0;
  };
  clear(nuc.father);
  clear(nuc.mother);
  for (const int child : nuc.children) clear(child);
  return any;
}

}  // namespace

std::vector<std::string> check_mendelian(PedigreeFile& file, const PreparedPedigree& ped, bool untype,
                                         std::vector<int>* resets) {
  Diagnostics errors;
  std::vector<std::string> notes;
  if (resets != nullptr) resets->assign(static_cast<std::size_t>(file.markers), 0);
  for (const Family& fam : ped.families) {
    for (int marker = 0; marker < file.markers; ++marker) {
      for (int n = find_inconsistency(file, fam, marker); n >= 0; n = find_inconsistency(file, fam, marker)) {
        const NuclearFamily& nuc = fam.nuclear[static_cast<std::size_t>(n)];
        const std::string text = describe(file, fam, nuc, marker);
        if (!untype) {
          errors.add(text);
          break;
        }
        notes.push_back(text + "; set untyped at this marker");
        if (resets != nullptr) ++(*resets)[static_cast<std::size_t>(marker)];
        if (!untype_members(file, fam, nuc, marker)) {
          // The conflict runs through untyped members: untype the whole family at this marker.
          for (const NuclearFamily& other : fam.nuclear) untype_members(file, fam, other, marker);
          notes.push_back(file.name + ": marker " + std::to_string(marker + 1) + ", family " + fam.id +
                          ": the whole family set untyped at this marker");
        }
      }
    }
  }
  errors.throw_if_any();
  return notes;
}

}  // namespace bravik::tools

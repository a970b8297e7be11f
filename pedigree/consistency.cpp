#include "pedigree/consistency.hpp"

#include <array>
#include <cstdint>
#include <vector>

namespace bravik {
namespace {

// Marker genotypes 11, 12, 22 as bits 0, 1, 2 of a set; code 0 (untyped) allows all.
using GenotypeSet = std::uint8_t;
constexpr GenotypeSet every_genotype = 7;
constexpr int genotype_count = 3;

bool has(int set, int member) { return (set >> member & 1) != 0; }

// The alleles of genotype g (allele 1 as 0, allele 2 as 1), and the set of
// alleles a parent of genotype g passes on.
constexpr std::array<int, genotype_count> first_allele = {0, 0, 1};
constexpr std::array<int, genotype_count> second_allele = {0, 1, 1};
constexpr std::array<int, genotype_count> passable = {0b01, 0b11, 0b10};

// Can parents of genotypes f and m have a child of genotype c?
bool transmits(int f, int m, int c) {
  const int a = first_allele[static_cast<std::size_t>(c)];
  const int b = second_allele[static_cast<std::size_t>(c)];
  const int pf = passable[static_cast<std::size_t>(f)];
  const int pm = passable[static_cast<std::size_t>(m)];
  return (has(pf, a) && has(pm, b)) || (has(pf, b) && has(pm, a));
}

struct Nuclear {
  int father;
  int mother;
  std::vector<int> children;
};

// Narrows the sets of one nuclear family: a genotype stays when some choice of
// the others' genotypes fits every child. Returns whether anything changed.
bool narrow(std::vector<GenotypeSet>& sets, const Nuclear& nf) {
  GenotypeSet father = 0;
  GenotypeSet mother = 0;
  std::vector<GenotypeSet> children(nf.children.size(), 0);
  for (int f = 0; f < genotype_count; ++f) {
    for (int m = 0; m < genotype_count; ++m) {
      if (!has(sets[static_cast<std::size_t>(nf.father)], f) || !has(sets[static_cast<std::size_t>(nf.mother)], m))
        continue;
      std::vector<GenotypeSet> fitting(nf.children.size(), 0);
      bool every_child_fits = true;
      for (std::size_t i = 0; i < nf.children.size(); ++i) {
        for (int c = 0; c < genotype_count; ++c) {
          if (has(sets[static_cast<std::size_t>(nf.children[i])], c) && transmits(f, m, c))
            fitting[i] = static_cast<GenotypeSet>(fitting[i] | 1 << c);
        }
        every_child_fits = every_child_fits && fitting[i] != 0;
      }
      if (!every_child_fits) continue;
      father = static_cast<GenotypeSet>(father | 1 << f);
      mother = static_cast<GenotypeSet>(mother | 1 << m);
      for (std::size_t i = 0; i < children.size(); ++i) children[i] = static_cast<GenotypeSet>(children[i] | fitting[i]);
    }
  }
  bool changed = false;
  const auto keep = [&](int person, GenotypeSet set) {
    changed = changed || sets[static_cast<std::size_t>(person)] != set;
    sets[static_cast<std::size_t>(person)] = set;
  };
  keep(nf.father, father);
  keep(nf.mother, mother);
  for (std::size_t i = 0; i < children.size(); ++i) keep(nf.children[i], children[i]);
  return changed;
}

std::vector<Nuclear> nuclear_families(const Pedigree& ped, int family) {
  std::vector<Nuclear> list;
  const int offset = ped.buf1.ifst(family);
  for (int n = ped.buf3.inuc(family) + 1; n <= ped.buf3.inuc(family + 1); ++n) {
    const int first = ped.buf14.imem(n);
    const int end = ped.buf14.imem(n + 1);
    Nuclear nf{offset + ped.buf16.mem(first), offset + ped.buf16.mem(first + 1), {}};
    for (int i = first + 2; i < end; ++i) nf.children.push_back(offset + ped.buf16.mem(i));
    list.push_back(std::move(nf));
  }
  return list;
}

}  // namespace

bool marker_codes_consistent(const Pedigree& ped, int family) {
  std::vector<GenotypeSet> sets(static_cast<std::size_t>(ped.buf1.ifst(family + 1)) + 1, every_genotype);
  for (int p = ped.buf1.ifst(family) + 1; p <= ped.buf1.ifst(family + 1); ++p) {
    const int code = ped.buf2.mgt(p, 0);
    if (code != 0) sets[static_cast<std::size_t>(p)] = static_cast<GenotypeSet>(1 << (code - 1));
  }
  const std::vector<Nuclear> families = nuclear_families(ped, family);
  for (bool changed = true; changed;) {
    changed = false;
    for (const Nuclear& nf : families) changed = narrow(sets, nf) || changed;
  }
  for (int p = ped.buf1.ifst(family) + 1; p <= ped.buf1.ifst(family + 1); ++p) {
    if (sets[static_cast<std::size_t>(p)] == 0) return false;
  }
  return true;
}

}  // namespace bravik

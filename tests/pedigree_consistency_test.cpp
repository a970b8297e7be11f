// The Mendelian check of the codes of one marker within a family.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "pedigree/consistency.hpp"

namespace {

using bravik::Pedigree;

// One family of persons 1..n; nuclear families as {father, mother, children...}.
struct Family {
  std::vector<int> codes;  // marker code of persons 1..n
  std::vector<std::vector<int>> nuclear;
  bool consistent;
  const char* what;
};

void PrintTo(const Family& f, std::ostream* os) { *os << f.what; }

std::unique_ptr<Pedigree> pedigree_of(const Family& f) {
  auto ped = std::make_unique<Pedigree>();
  ped->buf1.nfam = 1;
  ped->buf1.ifst(1) = 0;
  ped->buf1.ifst(2) = static_cast<int>(f.codes.size());
  ped->buf3.inuc(1) = 0;
  ped->buf3.inuc(2) = static_cast<int>(f.nuclear.size());
  int position = 0;
  for (std::size_t n = 0; n < f.nuclear.size(); ++n) {
    ped->buf14.imem(static_cast<int>(n) + 1) = position;
    for (const int member : f.nuclear[n]) ped->buf16.mem(position++) = member;
  }
  ped->buf14.imem(static_cast<int>(f.nuclear.size()) + 1) = position;
  for (std::size_t p = 0; p < f.codes.size(); ++p) ped->buf2.mgt(static_cast<int>(p) + 1, 0) = f.codes[p];
  return ped;
}

class MarkerConsistency : public ::testing::TestWithParam<Family> {};

TEST_P(MarkerConsistency, FindsCodesThatNoInheritanceExplains) {
  EXPECT_EQ(bravik::marker_codes_consistent(*pedigree_of(GetParam()), 1), GetParam().consistent);
}

// Codes: 0 untyped, 1 = 11, 2 = 12, 3 = 22.
INSTANTIATE_TEST_SUITE_P(
    Families, MarkerConsistency,
    ::testing::Values(
        Family{{2, 3, 2, 3}, {{1, 2, 3, 4}}, true, "12 x 22 with children 12 and 22"},
        Family{{2, 3, 1, 3}, {{1, 2, 3, 4}}, false, "12 x 22 with a child 11 beside a fitting one"},
        Family{{1, 1, 2}, {{1, 2, 3}}, false, "11 x 11 with a child 12"},
        Family{{0, 1, 3}, {{1, 2, 3}}, false, "a child 22 of a mother 11, father untyped"},
        Family{{0, 0, 1, 3, 2}, {{1, 2, 3, 4, 5}}, true, "untyped parents of 11, 22 and 12"},
        Family{{0, 1, 1, 3}, {{1, 2, 3, 4}}, false, "a mother 11 cannot have children 11 and 22"},
        Family{{1, 1, 0, 1, 3}, {{1, 2, 3}, {3, 4, 5}}, false,
               "an untyped child of 11 x 11 (so 11 too) with a spouse 11 and a child 22"},
        Family{{1, 1, 0, 1, 1}, {{1, 2, 3}, {3, 4, 5}}, true, "the same with a grandchild 11"},
        Family{{0, 0, 0}, {{1, 2, 3}}, true, "nobody typed"}));

}  // namespace

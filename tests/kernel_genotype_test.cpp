// Genotype elimination: the lists of joint genotypes that remain possible
// for each person after the marker screen and the sweeps over the parents.
#include <gtest/gtest.h>

#include <algorithm>

#include "model/setup.hpp"
#include "tests/kernel_fixture.hpp"
#include "tests/kernel_reference.hpp"
#include "tests/kernel_shapes.hpp"

namespace kerneltest {
namespace {

using List = std::vector<int>;

const List all_ten{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
const List class_11{1, 3, 8};
const List class_12{2, 4, 6, 9};
const List class_22{5, 7, 10};
const List not_22{1, 2, 3, 4, 6, 8, 9};

List list_of(const bravik::Model& model, int p) {
  List genotypes;
  for (int k = 1; k <= model.genot.n_gen(p); ++k) genotypes.push_back(model.genot.l_gen(model.genot.i_start(p) + k));
  return genotypes;
}

// The lists after a first-call set-up of the given families.
bravik::Model& enumerate(const std::vector<Family>& families, double theta = 0.1) {
  textio::Channels io;
  Parameters p;
  p.theta = theta;
  bravik::Model& model = build(families, p, false);
  double status = 0.0;
  bravik::stap0(model, io, status);
  EXPECT_EQ(status, 1.0);
  return model;
}

Person typed(int code) { return {10.0, code}; }

TEST(KernelGenotypes, PersonsWhoAreNoParentsAreOnlyScreenedByTheirMarker) {
  const bravik::Model& model = enumerate({{{typed(0), typed(1), typed(2), typed(3), typed(4)}, {}},
                                          {{typed(2)}, {}},
                                          {{typed(0), typed(0), typed(3)}, {nuclear({1, 2, 3}, 0)}}});
  EXPECT_EQ(model.genot.n_pers, 9);
  EXPECT_EQ(list_of(model, 1), all_ten);
  EXPECT_EQ(list_of(model, 2), class_11);
  EXPECT_EQ(list_of(model, 3), class_12);
  EXPECT_EQ(list_of(model, 4), class_22);
  EXPECT_EQ(model.genot.n_gen(5), 0);  // a code outside 0..3 keeps nothing
  EXPECT_EQ(list_of(model, 6), class_12);
  EXPECT_EQ(list_of(model, 9), class_22);
  EXPECT_EQ(model.genot.i_start(1), 0);
  for (int p = 1; p <= 9; ++p) EXPECT_EQ(model.genot.i_start(p + 1), model.genot.i_start(p) + model.genot.n_gen(p));
}

TEST(KernelGenotypes, ChildThatNoParentalPairFitsEmptiesBothParents) {
  // The mother (11) cannot pass marker allele 2 to the child (22).
  const bravik::Model& model = enumerate({{{typed(0), typed(1), typed(3)}, {nuclear({1, 2, 3}, 0)}}});
  EXPECT_EQ(model.genot.n_gen(1), 0);
  EXPECT_EQ(model.genot.n_gen(2), 0);
  EXPECT_EQ(list_of(model, 3), class_22);
}

TEST(KernelGenotypes, OneInconsistentChildAmongSeveralRemovesOnlyWhatTheSumsExclude) {
  const bravik::Model& model = enumerate({{{typed(0), typed(1), typed(3), typed(1)}, {nuclear({1, 2, 3, 4}, 0)}}});
  EXPECT_EQ(list_of(model, 1), not_22);
  EXPECT_EQ(list_of(model, 2), class_11);
  EXPECT_EQ(list_of(model, 3), class_22);
  EXPECT_EQ(list_of(model, 4), class_11);
}

// The upper nuclear family comes first, so the grandmother loses her 22
// genotypes only in a later sweep, after P lost his in the lower one. P keeps
// class 11 although the grandfather rules it out: a list narrows only where
// its person is a parent.
TEST(KernelGenotypes, SweepsRepeatUntilNothingMoreIsRemoved) {
  const bravik::Model& model = enumerate(
      {{{typed(3), typed(0), typed(0), typed(3), typed(2)}, {nuclear({1, 2, 3}, 3), nuclear({3, 4, 5}, 0)}}});
  EXPECT_EQ(list_of(model, 1), class_22);
  EXPECT_EQ(list_of(model, 2), not_22);
  EXPECT_EQ(list_of(model, 3), not_22);
  EXPECT_EQ(list_of(model, 4), class_22);
  EXPECT_EQ(list_of(model, 5), class_12);
}

// On random typings, consistent or not: the lists are the same whatever the
// recombination fraction, unions of whole marker classes (so both phases of
// the double heterozygote together), and a typed person keeps only its class.
TEST(KernelGenotypes, ListsAreWholeMarkerClassesIndependentOfTheta) {
  const std::vector<Shape> shapes = all_shapes();
  Random random(99u);
  for (int trial = 0; trial < 60; ++trial) {
    const Shape& shape = shapes[static_cast<std::size_t>(random.integer(0, static_cast<int>(shapes.size()) - 1))];
    std::vector<Person> persons;
    for (int i = 0; i < shape.persons; ++i) persons.push_back(typed(random.chance(0.5) ? random.integer(1, 3) : 0));
    const std::vector<Family> families{{persons, shape.descriptions.front()}};
    std::vector<List> lists;
    for (double theta : {0.5, 0.1, 0.0}) {
      const bravik::Model& model = enumerate(families, theta);
      for (int p = 1; p <= shape.persons; ++p) {
        const List list = list_of(model, p);
        if (theta == 0.5) {
          lists.push_back(list);
        } else {
          EXPECT_EQ(list, lists[static_cast<std::size_t>(p - 1)]) << shape.name << " person " << p;
        }
        for (const List* whole : {&class_11, &class_12, &class_22}) {
          const std::size_t kept = static_cast<std::size_t>(std::count_if(
              whole->begin(), whole->end(), [&list](int g) { return std::find(list.begin(), list.end(), g) != list.end(); }));
          EXPECT_TRUE(kept == 0 || kept == whole->size()) << shape.name << " person " << p;
        }
        const int code = persons[static_cast<std::size_t>(p - 1)].marker;
        for (int g : list) EXPECT_TRUE(code == 0 || reference::marker_class(g) == code) << shape.name << " person " << p;
      }
    }
  }
}

}  // namespace
}  // namespace kerneltest

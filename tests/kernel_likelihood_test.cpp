// The kernel's total log-likelihood against a plain sum over every genotype
// and polygenic class of every person, on many small random pedigrees.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>

#include "tests/kernel_fixture.hpp"
#include "tests/kernel_reference.hpp"
#include "tests/kernel_shapes.hpp"

namespace kerneltest {
namespace {

constexpr double relative_tolerance = 1e-12;
// Joint states of the largest connected part that the plain sum may visit.
constexpr double enumeration_budget = 3.0e6;

double tolerance_for(double expected) { return relative_tolerance * std::max(1.0, std::fabs(expected)); }

std::string describe_case(const std::vector<Family>& families, const Parameters& p, bool polygenic) {
  std::ostringstream text;
  text.precision(17);
  text << "q=" << p.q << " means=" << p.mean11 << "," << p.mean12 << "," << p.mean22 << " theta=" << p.theta
       << " var=" << p.variance << " step=" << p.step << " p1=" << p.p1 << " polygenic=" << polygenic << "\n";
  for (const Family& family : families) {
    text << " family:";
    for (const Person& person : family.persons) text << " (" << person.trait << "," << person.marker << ")";
    text << " |";
    for (const NuclearFamily& nf : family.nuclear) {
      text << " [";
      for (int m : nf.members) text << m << " ";
      text << "c" << nf.connector << "]";
    }
    text << "\n";
  }
  return text.str();
}

// Types parents one by one, with their drawn marker, until the plain sum is affordable.
void keep_within_budget(Family& family, const std::vector<int>& true_markers, const Parameters& p, int npol) {
  for (const NuclearFamily& nf : family.nuclear) {
    for (std::size_t i = 0; i < 2; ++i) {
      if (reference::BruteForce(family, p, npol).enumeration_size() <= enumeration_budget) return;
      Person& parent = family.persons[static_cast<std::size_t>(nf.members[i] - 1)];
      if (parent.marker == 0) parent.marker = true_markers[static_cast<std::size_t>(nf.members[i])];
    }
  }
}

std::vector<Family> random_families(Random& random, const std::vector<Shape>& shapes, const Parameters& p, int npol) {
  std::vector<Family> families;
  const int count = random.integer(1, 3);
  for (int f = 0; f < count; ++f) {
    const Shape& shape = shapes[static_cast<std::size_t>(random.integer(0, static_cast<int>(shapes.size()) - 1))];
    std::vector<int> true_markers;
    Family family{random_persons(shape, p, random, true_markers),
                  shape.descriptions[static_cast<std::size_t>(
                      random.integer(0, static_cast<int>(shape.descriptions.size()) - 1))]};
    keep_within_budget(family, true_markers, p, npol);
    families.push_back(family);
  }
  return families;
}

TEST(KernelShapes, EveryDescriptionIsInPeelingOrder) {
  for (const Shape& shape : all_shapes()) {
    for (std::size_t d = 0; d < shape.descriptions.size(); ++d) {
      EXPECT_EQ(peeling_order_problem(shape.descriptions[d]), "") << shape.name << ", description " << d;
    }
  }
}

TEST(KernelShapes, OrderCheckCatchesBrokenDescriptions) {
  EXPECT_NE(peeling_order_problem({nuclear({1, 2, 3, 4}, 4)}), "");              // child connector not first
  EXPECT_NE(peeling_order_problem({nuclear({1, 2, 3}, 1), nuclear({4, 2, 5}, 0)}), "");  // 2 ordinary twice
  EXPECT_NE(peeling_order_problem({nuclear({1, 2, 3}, 0), nuclear({3, 4, 5}, 3)}), "");  // 3 peeled too late
  EXPECT_NE(peeling_order_problem({nuclear({1, 2}, 0)}), "");
}

TEST(KernelLikelihood, RandomPedigreesMatchThePlainSum) {
  const std::vector<Shape> shapes = all_shapes();
  textio::Channels io;
  Random random(20240611u);
  bravik::Model& model = shared_model();
  for (int trial = 0; trial < 80; ++trial) {
    const bool polygenic = trial % 2 == 0;
    const int npol = polygenic ? bravik::N_POL : 1;
    const Parameters p = random_parameters(random);
    const std::vector<Family> families = random_families(random, shapes, p, npol);
    SCOPED_TRACE("trial " + std::to_string(trial) + ": " + describe_case(families, p, polygenic));
    prepare(model, families, p, polygenic);
    const double expected = reference::log_likelihood(families, p, npol);
    ASSERT_TRUE(std::isfinite(expected));
    const double actual = evaluate(model, io);
    EXPECT_NEAR(actual, expected, tolerance_for(expected));
    EXPECT_EQ(model.first_nonfinite_family, 0);
  }
}

// Every shape at least once, with and without the polygenic component, at
// the extreme recombination fractions.
TEST(KernelLikelihood, EveryShapeMatchesThePlainSum) {
  textio::Channels io;
  Random random(77u);
  bravik::Model& model = shared_model();
  for (const Shape& shape : all_shapes()) {
    for (double theta : {0.0, 0.5}) {
      for (bool polygenic : {true, false}) {
        const int npol = polygenic ? bravik::N_POL : 1;
        Parameters p = random_parameters(random);
        p.theta = theta;
        std::vector<int> true_markers;
        Family family{random_persons(shape, p, random, true_markers), shape.descriptions.back()};
        keep_within_budget(family, true_markers, p, npol);
        const std::vector<Family> families{family};
        SCOPED_TRACE(shape.name + ": " + describe_case(families, p, polygenic));
        prepare(model, families, p, polygenic);
        const double expected = reference::log_likelihood(families, p, npol);
        EXPECT_NEAR(evaluate(model, io), expected, tolerance_for(expected));
      }
    }
  }
}

// A measured trait far from every mean, untyped everybody: the marker alone
// carries nothing, so theta must not matter; the plain sum and the kernel
// agree on both values.
TEST(KernelLikelihood, UntypedPedigreeDoesNotDependOnTheta) {
  textio::Channels io;
  const std::vector<Family> families{{{{11.0, 0}, {9.0, 0}, {12.5, 0}, {8.2, 0}, {10.0, 0}},
                                      {nuclear({1, 2, 3}, 3), nuclear({3, 4, 5}, 0)}}};
  Parameters p;
  p.theta = 0.02;
  bravik::Model& model = build(families, p, true);
  const double tight = evaluate(model, io);
  model.optpar1.par(5) = 0.5;
  const double free = evaluate(model, io);
  EXPECT_NEAR(tight, free, tolerance_for(free));
  EXPECT_NEAR(free, reference::log_likelihood(families, p, bravik::N_POL), tolerance_for(free));
}

}  // namespace
}  // namespace kerneltest

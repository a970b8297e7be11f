// The log-likelihood of a pedigree does not depend on which valid choice of
// connectors its description makes: parent, single child, first of several
// children, or a different last nuclear family.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "tests/kernel_fixture.hpp"
#include "tests/kernel_shapes.hpp"

namespace kerneltest {
namespace {

TEST(KernelConnectors, EveryDescriptionOfAShapeGivesTheSameLikelihood) {
  textio::Channels io;
  bravik::Model& model = shared_model();
  Random random(4242u);
  for (const Shape& shape : all_shapes()) {
    for (int draw = 0; draw < 4; ++draw) {
      const bool polygenic = draw % 2 == 0;
      const Parameters p = random_parameters(random);
      std::vector<int> true_markers;
      const std::vector<Person> persons = random_persons(shape, p, random, true_markers);
      double first = 0.0;
      for (std::size_t d = 0; d < shape.descriptions.size(); ++d) {
        SCOPED_TRACE(shape.name + ", draw " + std::to_string(draw) + ", description " + std::to_string(d));
        prepare(model, {{persons, shape.descriptions[d]}}, p, polygenic);
        const double value = evaluate(model, io);
        ASSERT_TRUE(std::isfinite(value));
        if (d == 0) {
          first = value;
        } else {
          EXPECT_NEAR(value, first, 1e-12 * std::max(1.0, std::fabs(first)));
        }
      }
    }
  }
}

// A larger pedigree than the plain sum can afford: four generations, a
// person with two spouses, peeled downward or upward.
TEST(KernelConnectors, FourGenerationsPeeledDownOrUp) {
  // 1 x 2 -> 3, 4; 3 x 5 -> 6; 3 x 7 -> 8, 9; 8 x 10 -> 11, 12.
  const std::vector<Person> persons{{11.2, 1}, {9.4, 0},  {10.1, 2}, {12.3, 0}, {-999, 2},   {9.9, 0},
                                    {8.7, 3},  {10.5, 0}, {11.9, 2}, {9.0, 1},  {-1e7, 2}, {10.8, 0}};
  const std::vector<std::vector<NuclearFamily>> descriptions{
      {nuclear({1, 2, 3, 4}, 3), nuclear({3, 5, 6}, 3), nuclear({3, 7, 8, 9}, 8), nuclear({8, 10, 11, 12}, 0)},
      {nuclear({8, 10, 11, 12}, 8), nuclear({3, 5, 6}, 3), nuclear({3, 7, 9, 8}, 3), nuclear({1, 2, 4, 3}, 0)},
      {nuclear({8, 10, 11, 12}, 8), nuclear({1, 2, 3, 4}, 3), nuclear({3, 5, 6}, 3), nuclear({3, 7, 8, 9}, 7)},
  };
  for (const auto& description : descriptions) EXPECT_EQ(peeling_order_problem(description), "");
  textio::Channels io;
  bravik::Model& model = shared_model();
  for (bool polygenic : {true, false}) {
    Parameters p;
    p.theta = 0.15;
    std::vector<double> values;
    for (const auto& description : descriptions) {
      prepare(model, {{persons, description}}, p, polygenic);
      values.push_back(evaluate(model, io));
    }
    ASSERT_TRUE(std::isfinite(values[0]));
    for (double value : values) EXPECT_NEAR(value, values[0], 1e-12 * std::fabs(values[0]));
  }
}

}  // namespace
}  // namespace kerneltest

#include <gtest/gtest.h>

#include "model/tables.hpp"

TEST(JointGenotypes, NumberingFollowsHaplotypePairs) {
  EXPECT_EQ(bravik::joint_genotype(1, 4), 4);
  EXPECT_EQ(bravik::joint_genotype(3, 2), 6);
  EXPECT_EQ(bravik::joint_genotype(4, 4), 10);
}

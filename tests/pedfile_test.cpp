// The pedigree-file reader of the data tools.
#include <gtest/gtest.h>

#include "pedfile/pedigree_file.hpp"
#include "tools_test_support.hpp"

namespace {

using bravik::testing::error_of;
using namespace bravik::tools;

TEST(PedigreeFileReader, ReadsIdsTraitsAndGenotypeCodes) {
  const PedigreeFile file = parse_pedigree_text(
      "# comment line\n"
      "fam-A  dad  0 0 1 2.5    1 1  1 2\n"
      "\n"
      "fam-A  mum  0 0 2 x      2 2  0 0\n"
      "fam-A  kid1 dad mum 2 NA 1 2  2 1\n"
      "fam-A  kid2 dad mum 1 .  1 2  2 2\n"
      "fam-A  kid3 dad mum 0 -998 1 2 1 1\n"
      "fam-A  kid4 dad mum 1 -997.5 1 2 1 1\n",
      "ped.txt");
  ASSERT_EQ(file.rows.size(), 6u);
  EXPECT_EQ(file.markers, 2);
  EXPECT_EQ(file.rows[0].line, 2);
  EXPECT_EQ(file.rows[1].line, 4);
  EXPECT_EQ(file.rows[2].father, "dad");
  EXPECT_EQ(file.rows[2].mother, "mum");
  EXPECT_EQ(file.rows[4].sex, sex_unknown);
  EXPECT_EQ(file.rows[0].trait, 2.5);
  for (std::size_t r = 1; r <= 4; ++r) EXPECT_FALSE(file.rows[r].trait.has_value()) << "row " << r;
  EXPECT_EQ(file.rows[5].trait, -997.5);
  const int expected[6][2] = {{1, 2}, {3, 0}, {2, 2}, {2, 3}, {2, 1}, {2, 1}};
  for (std::size_t r = 0; r < 6; ++r)
    for (int m = 0; m < 2; ++m) EXPECT_EQ(file.code(r, m), expected[r][m]) << "row " << r << " marker " << m;
}

TEST(PedigreeFileReader, NamesEveryMalformedRowWithFileLineAndIds) {
  const std::string message = error_of([] {
    parse_pedigree_text(
        "F1 a 0 0 1 1.0  1 1\n"
        "F1 b 0 0 2 1.0  1 1 2\n"
        "F1 c a b 1 1.0  1 3\n"
        "F1 d a b 2 1.0  0 2\n"
        "F1 e a b M 1.0  1 1\n"
        "F1 f a b 1 tall 1 1\n",
        "bad.ped");
  });
  EXPECT_NE(message.find("bad.ped:2: family F1, person b: expected 8 columns (as the first row), read 9"),
            std::string::npos) << message;
  EXPECT_NE(message.find("bad.ped:3: family F1, person c: marker 1: allele pair '1 3' (alleles are 0, 1 or 2)"),
            std::string::npos) << message;
  EXPECT_NE(message.find("bad.ped:4: family F1, person d: marker 1: half-typed genotype '0 2' (untyped is 0 0)"),
            std::string::npos) << message;
  EXPECT_NE(message.find("bad.ped:5: family F1, person e: sex 'M'"), std::string::npos) << message;
  EXPECT_NE(message.find("bad.ped:6: family F1, person f: trait value 'tall' is not a number"), std::string::npos)
      << message;
}

TEST(PedigreeFileReader, RejectsAFirstRowWithoutPairedMarkerColumnsAndTooManyMarkers) {
  EXPECT_NE(error_of([] { parse_pedigree_text("F1 a 0 0 1 1.0 1\n", "odd.ped"); })
                .find("odd.ped:1: expected 6 columns and two per marker, read 7"),
            std::string::npos);
  std::string row = "F1 a 0 0 1 1.0";
  for (int m = 0; m < 501; ++m) row += " 1 2";
  EXPECT_NE(error_of([&] { parse_pedigree_text(row + "\n", "wide.ped"); })
                .find("wide.ped:1: 501 markers, more than the 500 that the analysis holds (N_LOCI)"),
            std::string::npos);
  row.resize(row.size() - 4);  // 500 markers fit
  EXPECT_EQ(parse_pedigree_text(row + "\n", "wide.ped").markers, 500);
}

TEST(PedigreeFileReader, WritesWhatItReads) {
  const std::string text =
      "F1 1 0 0 1 0.25  1 1  1 2\n"
      "F1 2 0 0 2 x  2 2  0 0\n"
      "F1 3 1 2 2 -1.5  1 2  2 2\n";
  EXPECT_EQ(bravik::testing::pedigree_text(parse_pedigree_text(text, "t")), text);
}

}  // namespace

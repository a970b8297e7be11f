#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "textio/layout.hpp"

using textio::format_layout;
using textio::format_list;
using textio::OutItem;

namespace {

std::string layout(std::string_view text, std::vector<OutItem> items) {
  return format_layout(text, items);
}

std::string list(std::vector<OutItem> items) { return format_list(items); }

}  // namespace

TEST(LayoutWrite, LiteralTextAndFieldsShareOneLine) {
  EXPECT_EQ(layout("(I3,' initial LH=',E15.8)", {1, -1234.5}), "  1 initial LH=-0.12345000E+04\n");
  EXPECT_EQ(layout("(1X,I2,1X,2E15.6,3X,I2,1X,2E15.6)", {3, 1.0, -2.0, 4, 0.5, 0.25}),
            "  3    0.100000E+01  -0.200000E+01    4    0.500000E+00   0.250000E+00\n");
  EXPECT_EQ(layout("('it''s',\"a\")", {}), "it'sa\n");
  EXPECT_EQ(layout("( i2 , e11.4 )", {7, 2.0}), " 7 0.2000E+01\n");
}

TEST(LayoutWrite, SkippedColumnsNeverEndALine) {
  EXPECT_EQ(layout("(1X,/)", {}), "\n\n");
  EXPECT_EQ(layout("(I2,5X,I2)", {1}), " 1\n");
  EXPECT_EQ(layout("(I2,3X,I2)", {1, 2}), " 1    2\n");
  EXPECT_EQ(layout("(2X,'a',X,'b',4X)", {}), "  a b\n");
  EXPECT_EQ(layout("(I2,3X,/,2X,I2)", {1, 2}), " 1\n   2\n");
}

TEST(LayoutWrite, SlashEndsTheLineWithinOneWrite) {
  EXPECT_EQ(layout("(I2,/,I2)", {1, 2}), " 1\n 2\n");
  EXPECT_EQ(layout("(I2/I2)", {1, 2}), " 1\n 2\n");
  EXPECT_EQ(layout("('a',2/,'b')", {}), "a\n\nb\n");
}

TEST(LayoutWrite, RepeatCountsApplyToFieldsAndGroups) {
  EXPECT_EQ(layout("(2E15.6)", {1.0, 2.0}), "   0.100000E+01   0.200000E+01\n");
  EXPECT_EQ(layout("(3I2)", {1, 2, 3}), " 1 2 3\n");
  EXPECT_EQ(layout("(2(I2,'x'))", {1, 2}), " 1x 2x\n");
}

TEST(LayoutWrite, ItemsRunningOutStopAtTheNextField) {
  EXPECT_EQ(layout("(I2,' a',/,' b',I2,' c')", {1}), " 1 a\n b\n");
  EXPECT_EQ(layout("(2(I2,'x'))", {1}), " 1x\n");
  EXPECT_EQ(layout("(' no items',I3,' never')", {}), " no items\n");
  EXPECT_EQ(layout("(3I2,' end')", {1, 2, 3}), " 1 2 3 end\n");
}

TEST(LayoutWrite, RemainingItemsRestartAtTheLastTopLevelGroup) {
  EXPECT_EQ(layout("(' hdr',(2I3))", {1, 2, 3, 4, 5}), " hdr  1  2\n  3  4\n  5\n");
  EXPECT_EQ(layout("('a',(I2),'b',(I3),'c')", {1, 2, 3, 4}), "a 1b  2c\n  3c\n  4c\n");
  EXPECT_EQ(layout("(I2,I2)", {1, 2, 3, 4, 5}), " 1 2\n 3 4\n 5\n");
  EXPECT_EQ(layout("(' x=',E11.4)", {1.0, 2.0}), " x= 0.1000E+01\n x= 0.2000E+01\n");
}

TEST(LayoutWrite, FaultsOfTheCallingCodeAreExceptions) {
  EXPECT_THROW(layout("I2", {1}), std::invalid_argument);
  EXPECT_THROW(layout("(I2", {1}), std::invalid_argument);
  EXPECT_THROW(layout("(Q2)", {1}), std::invalid_argument);
  EXPECT_THROW(layout("(E15)", {1.0}), std::invalid_argument);
  EXPECT_THROW(layout("(I2)", {1.0}), std::invalid_argument);
  EXPECT_THROW(layout("(E15.8)", {1}), std::invalid_argument);
  EXPECT_THROW(layout("('text')", {1}), std::invalid_argument);
}

TEST(ListWrite, TextIntegersAndRealsOnOneLine) {
  EXPECT_EQ(list({"Number of measured persons=", 57}), " Number of measured persons= 57\n");
  EXPECT_EQ(list({"Sum_p.ne.1", 0.75}), " Sum_p.ne.1  0.75\n");
  EXPECT_EQ(list({"Sum_bbb.ne.1", 3, -4}), " Sum_bbb.ne.1 3 -4\n");
  EXPECT_EQ(list({1, "a", "b"}), " 1ab\n");
  EXPECT_EQ(list({}), "\n");
}

TEST(ListWrite, AnItemThatWouldReachColumn80StartsANewLine) {
  std::vector<OutItem> items(20, OutItem{1000});  // each " 1000", five columns
  const std::string out = list(items);
  std::istringstream lines(out);
  std::string first, second;
  std::getline(lines, first);
  std::getline(lines, second);
  EXPECT_EQ(first.size(), 75u);  // a 16th item would end in column 80
  EXPECT_EQ(second, " 1000 1000 1000 1000 1000");
  // text that begins a continuation line gets its leading blank
  const std::string long_text(70, 'x');
  EXPECT_EQ(list({long_text, "tail-text"}), " " + long_text + "\n tail-text\n");
  EXPECT_EQ(list({std::string_view(long_text).substr(0, 69), "123456789"}),
            std::string(" ") + long_text.substr(0, 69) + "123456789\n");  // ends in column 79
}

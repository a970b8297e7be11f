// Reading the marker genotype file and selecting the marker under analysis.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "pedigree/markers.hpp"
#include "test_support.hpp"
#include "textio/channels.hpp"

namespace {

using namespace bravik::testing;
using bravik::Pedigree;

// `rows` rows of `width` copies of `code`, one row per line.
std::string rows_of(int rows, int width, const std::string& code) {
  std::string row;
  for (int t = 1; t <= width; ++t) row += code + (t < width ? " " : "\n");
  std::string text;
  for (int r = 1; r <= rows; ++r) text += row;
  return text;
}

class MarkerInput : public testing::Test {
 protected:
  void read_markers(const std::string& text) {
    write_file("mark.dat", text);
    channels.open(1, "mark.dat", textio::Access::read);
    bravik::read_marker_file(*ped, channels);
  }

  ScratchDir dir;
  std::unique_ptr<Pedigree> ped = std::make_unique<Pedigree>();
  textio::Channels channels;
};

TEST_F(MarkerInput, ReadsOneRowPerPersonAndSelectsAMarker) {
  // The second row runs over two lines, as free-format records may.
  read_markers("3\n2 2 2\n1 2\n2\n1 3 0\n");
  EXPECT_EQ(ped->nmark, 3);
  EXPECT_EQ(ped->nrow, 3);
  EXPECT_EQ(ped->buf2.mgt(2, 3), 2);
  EXPECT_EQ(ped->buf2.mgt(3, 2), 3);

  ped->buf2.mgt(4, 2) = 1;  // beyond the rows read: must stay out of column 0
  bravik::select_marker(*ped, 2);
  EXPECT_EQ(ped->buf2.mgt(1, 0), 2);
  EXPECT_EQ(ped->buf2.mgt(2, 0), 2);
  EXPECT_EQ(ped->buf2.mgt(3, 0), 3);
  EXPECT_EQ(ped->buf2.mgt(4, 0), 0);
}

TEST_F(MarkerInput, ARowCutShortByTheEndOfTheFileDoesNotCount) {
  read_markers("3\n1 2 3\n0 1\n");
  EXPECT_EQ(ped->nrow, 1);
}

TEST_F(MarkerInput, AcceptsTheMostMarkersAndPersonRows) {
  read_markers("500\n" + rows_of(2, 500, "3"));
  EXPECT_EQ(ped->nmark, 500);
  EXPECT_EQ(ped->nrow, 2);
  EXPECT_EQ(ped->buf2.mgt(2, 500), 3);

  // 25,000 complete rows, then a row cut short: not a row, so no overflow.
  read_markers("2\n" + rows_of(25000, 2, "1") + "2\n");
  EXPECT_EQ(ped->nrow, 25000);
  EXPECT_EQ(ped->buf2.mgt(25000, 2), 1);
}

TEST_F(MarkerInput, WithoutMarkersEveryLineIsAnEmptyRow) {
  read_markers("0\n");
  EXPECT_EQ(ped->nrow, 0);
  read_markers("0\n1 2\n\n");
  EXPECT_EQ(ped->nmark, 0);
  EXPECT_EQ(ped->nrow, 2);
}

TEST_F(MarkerInput, TooManyMarkersWritesTheLimitLineAndStopsAfterThePause) {
  int answers = 0;
  channels.pause_answer = [&] {
    ++answers;
    return std::optional<std::string>("go");
  };
  testing::internal::CaptureStdout();
  const Ended ended = expect_run_end([&] { read_markers("501\n" + rows_of(1, 501, "1")); });
  EXPECT_EQ(testing::internal::GetCapturedStdout(), " Increase N_LOCI size in mas_size\n");
  EXPECT_EQ(answers, 1);
  EXPECT_EQ(ended.status, textio::exit_error_stop);
  EXPECT_NE(ended.console.find("Execution resumes after PAUSE."), std::string::npos);
  EXPECT_EQ(ended.console.find("STOP"), std::string::npos);  // the stop has no message
}

TEST_F(MarkerInput, RejectsCodesOutsideTheModelAndRowsBeyondThePersonArrays) {
  struct Case {
    std::string text, message;
  };
  const std::vector<Case> cases = {
      {"2\n1 2\n1 4\n",
       "mark.dat, row 2 (person 2), marker 2: code 4 is not a marker genotype (0 untyped, 1 = 11, 2 = 12, 3 = 22)\n"},
      {"3\n-1 0 0\n",
       "mark.dat, row 1 (person 1), marker 1: code -1 is not a marker genotype (0 untyped, 1 = 11, 2 = 12, 3 = 22)\n"},
      {"1\n" + rows_of(25001, 1, "0"),
       "mark.dat, row 25001: more than 25000 person rows, the most the pedigree arrays hold (N_SIZE)\n"},
      {"0\n" + rows_of(25001, 1, "0"),
       "mark.dat, row 25001: more than 25000 person rows, the most the pedigree arrays hold (N_SIZE)\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 20));
    textio::Channels fresh;
    const Ended ended = expect_run_end([&] {
      write_file("mark.dat", c.text);
      fresh.open(1, "mark.dat", textio::Access::read);
      bravik::read_marker_file(*ped, fresh);
    });
    EXPECT_EQ(ended.status, textio::exit_input_error);
    EXPECT_EQ(ended.console, c.message);
  }
}

}  // namespace

// The checks on the pedigree description: every inconsistency and every break
// of peeling order ends the run with a message naming what is wrong, and every
// description the likelihood handles passes.
#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "pedigree/iway.hpp"
#include "pedigree/validate.hpp"
#include "test_support.hpp"
#include "textio/channels.hpp"

namespace {

using namespace bravik::testing;
using bravik::Pedigree;

using Records = std::array<std::string, 7>;

// Two families: four persons in one nuclear family; six persons in three
// generations, peeled downward through the single child 3, who is then the
// father (and so the connector) of the terminal nuclear family.
const Records two_families = {
    "2 2 0 4 10",                // N, nfam, ifst
    "0 0 1 3",                   // unused, inuc
    "5 0 0 4 7 11",              // M, imem
    "11 1 2 3 4 1 2 3 3 4 5 6",  // K, mem
    "0 3 0",                     // icon
    "10 1 1 1 1 1 1 1 1 1 1",    // P, first per-person list
    "0 0 0 0 0 0 0 0 0 0",       // second per-person list
};

std::string description(const Records& records) {
  std::string text;
  for (const std::string& record : records) text += record + "\n";
  return text;
}

class PedigreeValidation : public testing::Test {
 protected:
  void write_inputs(const Records& records) {
    write_file("IWAY.DAT", description(records));
    write_file("phen", "1 2 3 4 5 6 7 8 9 10\n");
  }

  ScratchDir dir;
  std::unique_ptr<Pedigree> ped = std::make_unique<Pedigree>();
};

TEST_F(PedigreeValidation, RejectsEachInconsistencyWithAMessageNamingIt) {
  struct Case {
    int record;  // 1-based record replaced in the two-family description
    std::string text;
    std::string message;
  };
  const std::vector<Case> cases = {
      // Counts.
      {1, "-1 0", "record 1: the count N = -1 is negative"},
      {3, "-1", "record 3: the count M = -1 is negative"},
      {4, "-1", "record 4: the count K = -1 is negative"},
      {6, "-1", "record 6: the count P = -1 is negative"},
      // Family table.
      {1, "2 3 0 4 10", "record 1: the number of analysed families 3 lies outside 0 to N = 2"},
      {1, "2 -1 0 4 10", "record 1: the number of analysed families -1 lies outside 0 to N = 2"},
      {1, "2 2 -1 4 10", "record 1: ifst(1) = -1 is negative"},
      {1, "2 2 0 4 3", "record 1: ifst(3) = 3 is smaller than ifst(2) = 4"},
      {6, "9 1 1 1 1 1 1 1 1 1", "record 6: P = 9 is smaller than the 10 persons of families 1 to 2 (ifst(3))"},
      // Nuclear-family offsets.
      {2, "0 -1 1 3", "record 2: inuc(1) = -1 is negative"},
      {2, "0 0 2 1", "record 2: inuc(3) = 1 is smaller than inuc(2) = 2"},
      {2, "0 0 1 4", "record 2: inuc(3) = 4 exceeds the 3 nuclear families that records 3 and 5 describe (M - 2)"},
      // Member-list offsets.
      {3, "5 0 -1 4 7 11", "record 3: imem(1) = -1 is negative"},
      {3, "5 0 0 4 3 11", "record 3: imem(3) = 3 is smaller than imem(2) = 4"},
      {3, "5 0 0 4 7 12", "record 3: imem(4) = 12 points beyond the K = 11 entries of record 4"},
      // Member lists.
      {3, "5 0 0 4 6 11",
       "record 4: nuclear family 2 of family 2 has 2 members, fewer than a father, a mother and a child "
       "(member list: 1 2)"},
      {4, "11 1 2 3 4 1 2 7 3 4 5 6",
       "record 4: nuclear family 2 of family 2 lists person 7, outside the family's persons 1 to 6 "
       "(member list: 1 2 7)"},
      {4, "11 1 2 0 4 1 2 3 3 4 5 6",
       "record 4: nuclear family 1 of family 1 lists person 0, outside the family's persons 1 to 4 "
       "(member list: 1 2 0 4)"},
      {4, "11 1 1 3 4 1 2 3 3 4 5 6",
       "record 4: nuclear family 1 of family 1 lists person 1 twice (member list: 1 1 3 4)"},
      {4, "11 1 2 3 2 1 2 3 3 4 5 6",
       "record 4: nuclear family 1 of family 1 lists person 2 twice (member list: 1 2 3 2)"},
      {4, "11 1 2 3 3 1 2 3 3 4 5 6",
       "record 4: nuclear family 1 of family 1 lists person 3 twice (member list: 1 2 3 3)"},
      {4, "11 1 2 3 4 1 2 3 4 5 3 6", "record 4: person 3 of family 2 is a child in nuclear families 2 and 3"},
      // Connectors.
      {5, "0 9 0", "record 5: the connector 9 of nuclear family 2 of family 2 lies outside the family's persons 1 to 6"},
      {5, "-2 3 0",
       "record 5: the connector -2 of nuclear family 1 of family 1 lies outside the family's persons 1 to 4"},
      {5, "0 4 0",
       "record 5: the connector 4 of nuclear family 2 of family 2 is not one of its members (member list: 1 2 3)"},
      {5, "4 3 0",
       "record 5: the connector 4 of nuclear family 1 of family 1 is a child but not the first child "
       "(member list: 1 2 3 4)"},
      // Peeling order. Nuclear family 2 terminal: its father 1 is the
      // connector, and the child 3 is summed out there.
      {5, "0 0 0",
       "records 4 and 5: person 3 of family 2 is the connector of nuclear family 3, listed after nuclear family 2 "
       "where it is an ordinary member: not in peeling order"},
      {5, "0 0 3",  // the same with 3 named as the connector of nuclear family 3
       "records 4 and 5: person 3 of family 2 is the connector of nuclear family 3, listed after nuclear family 2 "
       "where it is an ordinary member: not in peeling order"},
      {4, "11 1 2 3 4 1 2 3 4 2 5 6",  // with "0 3 0": 3 is the connector of nuclear family 2, 2 is ordinary twice
       "records 4 and 5: person 2 of family 2 is an ordinary member (not the connector) of nuclear families 2 and 3: "
       "not in peeling order"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Records records = two_families;
    records[static_cast<std::size_t>(c.record - 1)] = c.text;
    write_inputs(records);
    auto fresh = std::make_unique<Pedigree>();
    textio::Channels channels;
    const Ended ended = expect_run_end([&] { bravik::wwdat(*fresh, channels, "phen"); });
    EXPECT_EQ(ended.status, textio::exit_input_error);
    EXPECT_EQ(ended.console, "IWAY.DAT, " + c.message + "\n");
  }
}

TEST_F(PedigreeValidation, RejectsMorePersonsThanThePersonArraysHold) {
  ped->buf1.nfam = 1;
  ped->buf1.ifst(1) = 0;
  ped->buf1.ifst(2) = bravik::N_SIZE + 1;
  ped->npers = bravik::N_SIZE + 1;
  const Ended ended = expect_run_end([&] { bravik::validate_pedigree(*ped, {1, 2, 0}, "IWAY.DAT"); });
  EXPECT_EQ(ended.status, textio::exit_input_error);
  EXPECT_EQ(ended.console, "IWAY.DAT, record 1: families 1 to 1 hold 25001 persons, more than N_SIZE = 25000\n");
}

TEST_F(PedigreeValidation, AcceptsEveryShapeTheLikelihoodPeels) {
  const std::vector<Records> accepted = {
      two_families,
      // A mother with two husbands, connector of the first marriage and
      // ordinary in the second; then a family without nuclear families.
      {"2 2 0 5 6", "0 0 2 2", "4 0 0 3 6", "6 1 2 3 4 2 5", "2 0", "6 1 1 1 1 1 1", "0 0 0 0 0 0"},
      // Two unconnected parts of one family: a terminal one, and one whose
      // connector is never summed out (the rescaling sums its array).
      {"1 1 0 6", "0 0 2", "4 0 0 3 6", "6 1 2 3 4 5 6", "0 4", "6 1 1 1 1 1 1", "0 0 0 0 0 0"},
  };
  for (const Records& records : accepted) {
    SCOPED_TRACE(description(records));
    write_inputs(records);
    textio::Channels channels;
    testing::internal::CaptureStdout();
    EXPECT_NO_THROW(bravik::wwdat(*ped, channels, "phen"));
    EXPECT_NE(testing::internal::GetCapturedStdout().find("Number of measured persons="), std::string::npos);
  }
}

}  // namespace

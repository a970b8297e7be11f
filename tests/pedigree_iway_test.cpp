// Reading IWAY.DAT and the phenotype file: the golden descriptions, the
// capacity stops, the record layout edge cases and the measured-person count.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "pedigree/iway.hpp"
#include "test_support.hpp"
#include "textio/channels.hpp"

namespace {

using namespace bravik::testing;
using bravik::Pedigree;
namespace fs = std::filesystem;

// Joins records, one per line.
std::string lines(const std::vector<std::string>& records) {
  std::string text;
  for (const std::string& record : records) text += record + "\n";
  return text;
}

// `count` copies of `value`, separated by blanks, 1000 to a line.
std::string repeated(const std::string& value, int count) {
  std::string text;
  for (int i = 1; i <= count; ++i) text += value + (i % 1000 == 0 ? "\n" : " ");
  return text;
}

// One family of `persons` persons and no nuclear family, with P = persons.
std::string lone_persons(int persons) {
  const std::string p = std::to_string(persons);
  return lines({"1 1 0 " + p, "0 0 0", "2 0 0", "0", "", p + " " + repeated("1", persons), repeated("0", persons)});
}

class PedigreeInput : public testing::Test {
 protected:
  // Runs wwdat and returns what it wrote on standard output.
  std::string run_wwdat(const std::string& fnphen) {
    testing::internal::CaptureStdout();
    bravik::wwdat(*ped, channels, fnphen);
    return testing::internal::GetCapturedStdout();
  }

  ScratchDir dir;
  std::unique_ptr<Pedigree> ped = std::make_unique<Pedigree>();
  textio::Channels channels;
};

TEST_F(PedigreeInput, ReadsTheGoldenDescriptionsAndCountsMeasuredPersons) {
  struct Golden {
    std::string run, description, phenotypes, fnphen, console;
  };
  const std::vector<Golden> runs = {
      {"nuclear", "IWAY.DAT", "phen.dat", "phen.dat", " Number of measured persons= 4\n"},
      {"threegen", "IWAY.DAT", "phenotypes", "phenotypes.txt", " Number of measured persons= 6\n"},
      {"threegen", "IWAY_alt.DAT", "phenotypes", "phenotypes.txt", " Number of measured persons= 6\n"},
      {"twofam", "IWAY.DAT", "phen.dat", "phen.dat", " Number of measured persons= 8\n"},
      {"twofam", "IWAY_alt.DAT", "phen.dat", "phen.dat", " Number of measured persons= 8\n"},
  };
  for (const Golden& golden : runs) {
    SCOPED_TRACE(golden.run + "/" + golden.description);
    fs::copy_file(golden_dir() / golden.run / golden.description, "IWAY.DAT", fs::copy_options::overwrite_existing);
    fs::copy_file(golden_dir() / golden.run / golden.phenotypes, golden.phenotypes,
                  fs::copy_options::overwrite_existing);
    EXPECT_EQ(run_wwdat(golden.fnphen), golden.console);
  }
}

TEST_F(PedigreeInput, FillsTheBlocksFromEachRecord) {
  fs::copy_file(golden_dir() / "twofam" / "IWAY.DAT", "IWAY.DAT");
  fs::copy_file(golden_dir() / "twofam" / "phen.dat", "phen.dat");
  run_wwdat("phen.dat");

  EXPECT_EQ(ped->buf1.nfam, 2);
  EXPECT_EQ(std::vector<int>({ped->buf1.ifst(1), ped->buf1.ifst(2), ped->buf1.ifst(3)}), std::vector<int>({0, 4, 10}));
  EXPECT_EQ(std::vector<int>({ped->buf3.inuc(1), ped->buf3.inuc(2), ped->buf3.inuc(3)}), std::vector<int>({0, 1, 3}));
  std::vector<int> imem, mem, icon;
  for (int n = 0; n <= 4; ++n) imem.push_back(ped->buf14.imem(n));
  for (int i = 0; i <= 10; ++i) mem.push_back(ped->buf16.mem(i));
  for (int n = 1; n <= 3; ++n) icon.push_back(ped->buf15.icon(n));
  EXPECT_EQ(imem, std::vector<int>({0, 0, 4, 7, 11}));
  EXPECT_EQ(mem, std::vector<int>({1, 2, 3, 4, 1, 2, 3, 3, 4, 5, 6}));
  EXPECT_EQ(icon, std::vector<int>({0, 3, 0}));
  EXPECT_EQ(ped->npers, 10);
  // The phenotype file separates its values by commas on its first line.
  EXPECT_EQ(ped->buf2.yph(3), 11.5);
  EXPECT_EQ(ped->buf2.yph(4), -999.0);
  EXPECT_EQ(ped->buf2.yph(8), -10000000.0);
  EXPECT_EQ(ped->buf2.yph(10), 11.8);
}

TEST_F(PedigreeInput, AcceptsEveryCountAtItsCapacity) {
  // N = 602: one analysed family of one person; ifst(2..603) and inuc(1..603).
  write_file("IWAY.DAT", lines({"602 1 0 " + repeated("1", 602), "0 " + repeated("0", 603), "2 0 0", "0", "", "1 1",
                                "0"}));
  write_file("phen", "5.0\n");
  EXPECT_EQ(run_wwdat("phen"), " Number of measured persons= 1\n");
  EXPECT_EQ(ped->buf1.ifst(603), 1);

  // M = 2,000,000 and K = 1: the last offset and the last connector are stored.
  write_file("IWAY.DAT", lines({"1 1 0 1", "0 0 0", "2000000 " + repeated("0", 1999999) + " 1", "1 5",
                                repeated("0", 1999997) + " 7", "1 1", "0"}));
  EXPECT_EQ(run_wwdat("phen"), " Number of measured persons= 1\n");
  EXPECT_EQ(ped->buf14.imem(1999999), 1);
  EXPECT_EQ(ped->buf15.icon(1999998), 7);

  // P = 25,000.
  write_file("IWAY.DAT", lone_persons(25000));
  write_file("phen", repeated("-989.5", 25000));
  EXPECT_EQ(run_wwdat("phen"), " Number of measured persons= 25000\n");
}

TEST_F(PedigreeInput, StopsAsSoonAsACountExceedsItsCapacity) {
  // Each file ends right after the offending count: reading any further value
  // would end the run at the end of the file instead of at the stop.
  struct Case {
    std::string name, description, message;
  };
  const std::string through_record_2 = lines({"1 1 0 1", "0 0 0"});
  const std::string through_record_5 = through_record_2 + lines({"2 0 0", "0", ""});
  const std::vector<Case> cases = {
      {"N = 603", "603\n", "N_FAM exceed. Correct and recompile"},
      {"M = 2,000,001", through_record_2 + "2000001\n", "N_WAY exceed. Correct and recompile"},
      {"K = 2,000,001", through_record_2 + "2 0 0\n2000001\n", "N_WAY exceed. Correct and recompile"},
      {"P = 25,001", through_record_5 + "25001\n", "N_SIZE exceed. Correct and recompile"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    write_file("IWAY.DAT", c.description);
    textio::Channels fresh;
    const Ended ended = expect_run_end([&] { bravik::wwdat(*ped, fresh, "phen"); });
    EXPECT_EQ(ended.status, textio::exit_error_stop);
    EXPECT_TRUE(ended.close_channels);
    EXPECT_EQ(ended.console, "STOP " + c.message + " statement executed\n");
  }
}

TEST_F(PedigreeInput, ConnectorRecordTakesItsLineEvenWithoutValues) {
  // M = 2 describes no nuclear family, so record 5 has no value; its line is
  // still taken, whatever it holds, and record 6 follows on the next line.
  write_file("IWAY.DAT", lines({"1 1 0 1", "0 0 0", "2 0 0", "0", "5", "1 1", "0"}));
  write_file("phen", "1.0\n");
  EXPECT_EQ(run_wwdat("phen"), " Number of measured persons= 1\n");
  EXPECT_EQ(ped->npers, 1);
}

TEST_F(PedigreeInput, CountsOnlyValuesAboveMinus990AsMeasured) {
  write_file("IWAY.DAT", lone_persons(3));
  write_file("phen", "-990.0 -989.5 12.3\n");
  EXPECT_EQ(run_wwdat("phen"), " Number of measured persons= 2\n");
}

TEST_F(PedigreeInput, ReadsOnlyPPhenotypeValues) {
  write_file("IWAY.DAT", lone_persons(3));
  write_file("phen", "1.5 2.5\n3.5 4.5 -999\n");
  EXPECT_EQ(run_wwdat("phen"), " Number of measured persons= 3\n");
  EXPECT_EQ(ped->buf2.yph(3), 3.5);
  EXPECT_EQ(ped->buf2.yph(4), 0.0);
}

TEST_F(PedigreeInput, OpensThePhenotypeFileUnderTheFirstTenCharacters) {
  write_file("IWAY.DAT", lone_persons(2));
  write_file("trait_file", "1 -999\n");
  EXPECT_EQ(run_wwdat("trait_file_2024.txt"), " Number of measured persons= 1\n");
  write_file("trait", "1 2\n");
  EXPECT_EQ(run_wwdat("trait     more"), " Number of measured persons= 2\n");
}

TEST(PedigreeInputFailure, LeavesOpenResultFilesUntouched) {
  // The main flows open their result files before the pedigree is read; a bad
  // description must end the run without cutting or writing them.
  const std::string valid_start = lines({"1 1 0 3", "0 0 1", "3 0 0 3", "3 1 2 3"});
  const std::vector<std::string> bad_descriptions = {
      "603\n",                                                  // capacity stop
      valid_start + lines({"4", "3 1 1 1", "0 0 0"}),           // connector outside the family
      valid_start + lines({"0", "3 1 1 1"}),                    // record 7 missing
  };
  for (const std::string& description : bad_descriptions) {
    SCOPED_TRACE(description);
    ScratchDir dir;
    auto ped = std::make_unique<Pedigree>();
    write_file("lod.out", "old result\n");
    write_file("IWAY.DAT", description);
    write_file("phen", "1 2 3\n");
    textio::Channels channels;
    channels.open(3, "lod.out", textio::Access::write);
    const Ended ended = expect_run_end([&] { bravik::wwdat(*ped, channels, "phen"); });
    EXPECT_NE(ended.status, textio::exit_normal);
    if (ended.close_channels) channels.close_all();
    EXPECT_EQ(read_file("lod.out"), "old result\n");
  }
}

}  // namespace

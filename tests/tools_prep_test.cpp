// Preparation of a run folder from a pedigree file: structural errors,
// peeling order, Mendelian checks and the files written.
#include <gtest/gtest.h>

#include <fstream>

#include "pedfile/mendel.hpp"
#include "pedfile/run_folder.hpp"
#include "pedfile/structure.hpp"
#include "program_runner.hpp"
#include "run/config.hpp"
#include "tools/sim/simulate.hpp"
#include "tools_test_support.hpp"

namespace {

using bravik::testing::error_of;
using namespace bravik::tools;
namespace fs = std::filesystem;

PreparedPedigree prepare_text(const std::string& text, PeelingOptions options = {}) {
  return prepare_structure(parse_pedigree_text(text, "ped.txt"), options);
}

std::string structure_error(const std::string& text) {
  return error_of([&] { prepare_text(text); });
}

TEST(PrepStructureErrors, NameFileLineFamilyAndPersons) {
  struct Case {
    const char* what;
    std::string text;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"person listed twice", "F 1 0 0 1 x\nF 2 0 0 2 x\nF 1 0 0 1 x\n",
       "ped.txt:3: family F, person 1: person listed twice (first on line 1)"},
      {"parent not in the family", "F 1 0 0 1 x\nG 2 0 0 2 x\nF 3 1 2 1 x\n",
       "ped.txt:3: family F, person 3: mother 2 is not in family F"},
      {"one parent known", "F 1 0 0 1 x\nF 3 1 0 1 x\n",
       "ped.txt:2: family F, person 3: only one parent known (father 1, mother 0); give both parents or neither"},
      {"father not male", "F 1 0 0 2 x\nF 2 0 0 2 x\nF 3 1 2 1 x\n",
       "ped.txt:3: family F, person 3: father 1 is not male (sex 2 on line 1)"},
      {"mother not female", "F 1 0 0 1 x\nF 2 0 0 0 x\nF 3 1 2 1 x\n",
       "ped.txt:3: family F, person 3: mother 2 is not female (sex 0 on line 2)"},
      {"own ancestor",
       "F a c d 1 x\nF b 0 0 2 x\nF c a b 1 x\nF d 0 0 2 x\n",
       "person is their own ancestor: a (line 1) -> c (line 3) -> a (line 1) (each a parent of the one before)"},
      {"marriage loop: two brothers marry two sisters",
       "F gf1 0 0 1 x\nF gm1 0 0 2 x\nF gf2 0 0 1 x\nF gm2 0 0 2 x\n"
       "F b1 gf1 gm1 1 x\nF b2 gf1 gm1 1 x\nF s1 gf2 gm2 2 x\nF s2 gf2 gm2 2 x\n"
       "F k1 b1 s1 1 x\nF k2 b2 s2 1 x\n",
       "ped.txt: family F: marriage or consanguinity loop through persons"},
      {"consanguinity loop: first cousins marry",
       "F g1 0 0 1 x\nF g2 0 0 2 x\nF a g1 g2 1 x\nF b g1 g2 2 x\nF sa 0 0 2 x\nF sb 0 0 1 x\n"
       "F c1 a sa 1 x\nF c2 sb b 2 x\nF k c1 c2 1 x\n",
       "ped.txt: family F: marriage or consanguinity loop through persons"},
  };
  for (const Case& c : cases) {
    const std::string message = structure_error(c.text);
    EXPECT_NE(message.find(c.message), std::string::npos) << c.what << ":\n" << message;
  }
}

TEST(PrepStructureErrors, LoopMessageNamesThePersonsOnTheLoop) {
  const std::string message = structure_error(
      "F g1 0 0 1 x\nF g2 0 0 2 x\nF a g1 g2 1 x\nF b g1 g2 2 x\nF sa 0 0 2 x\nF sb 0 0 1 x\n"
      "F c1 a sa 1 x\nF c2 sb b 2 x\nF k c1 c2 1 x\n");
  for (const char* on_loop : {"a (line 3)", "b (line 4)", "c1 (line 7)", "c2 (line 8)"})
    EXPECT_NE(message.find(on_loop), std::string::npos) << on_loop << " missing from: " << message;
  for (const char* off_loop : {"sa (", "sb (", "k ("})
    EXPECT_EQ(message.find(off_loop), std::string::npos) << off_loop << " is not on the loop: " << message;
  EXPECT_NE(message.find("the likelihood does not handle pedigrees with loops"), std::string::npos);
}

TEST(PrepStructureErrors, CapacitiesOfFamiliesAndPersons) {
  const auto families = [](int count) {
    std::string text;
    for (int f = 1; f <= count; ++f) {
      const std::string id = std::to_string(f);
      text += id + " 1 0 0 1 x\n" + id + " 2 0 0 2 x\n" + id + " 3 1 2 1 x\n";
    }
    return text;
  };
  EXPECT_NE(structure_error(families(603)).find("ped.txt: 603 families (the family of unattached persons included), "
                                                "more than the 602 that the analysis holds (N_FAM)"),
            std::string::npos);
  // 602 families fit, but not with one more of unattached persons.
  EXPECT_EQ(prepare_text(families(602)).families.size(), 602u);
  EXPECT_NE(structure_error(families(602) + "X lone 0 0 1 x\n").find("603 families"), std::string::npos);

  std::string persons;
  for (int p = 1; p <= 25'001; ++p) persons += "F " + std::to_string(p) + " 0 0 1 x\n";
  EXPECT_NE(structure_error(persons).find("ped.txt: 25001 persons, more than the 25000 that the analysis holds (N_SIZE)"),
            std::string::npos);
}

TEST(PrepStructureErrors, AllFamiliesAreReportedInOneRun) {
  const std::string message = structure_error("A 1 0 0 1 x\nA 1 0 0 1 x\nB 3 9 8 1 x\n");
  EXPECT_NE(message.find("family A, person 1: person listed twice"), std::string::npos) << message;
  EXPECT_NE(message.find("family B, person 3: father 9 is not in family B"), std::string::npos) << message;
}

TEST(PrepUnattachedPersons, FormOneExtraFamilyAtTheEnd) {
  const PreparedPedigree ped = prepare_text(
      "A 1 0 0 1 x\nA lone 0 0 2 x\nA 2 0 0 2 x\nA 3 1 2 1 x\n"
      "B solo 0 0 1 x\n"
      "C 1 0 0 1 x\nC 2 0 0 2 x\nC 3 1 2 2 x\n");
  ASSERT_EQ(ped.families.size(), 3u);
  EXPECT_EQ(ped.families[0].id, "A");
  EXPECT_EQ(ped.families[0].rows, (std::vector<std::size_t>{0, 2, 3}));
  EXPECT_EQ(ped.families[1].id, "C");
  EXPECT_TRUE(ped.families[2].nuclear.empty());
  EXPECT_EQ(ped.families[2].rows, (std::vector<std::size_t>{1, 4}));
  ASSERT_EQ(ped.notes.size(), 2u);
  EXPECT_NE(ped.notes[0].find("family B has no nuclear family"), std::string::npos);
  EXPECT_NE(ped.notes[1].find("2 persons belong to no nuclear family and form the last family (family 3)"),
            std::string::npos) << ped.notes[1];
  EXPECT_NE(ped.notes[1].find("A/lone B/solo"), std::string::npos);
}

TEST(PrepPeelingOrder, ConnectorsFollowTheChosenRoot) {
  // Three generations: grandparents g1 x g2 with children p (a daughter) and s;
  // p marries h and has children k1, k2.
  const std::string text =
      "F g1 0 0 1 x\nF g2 0 0 2 x\nF p g1 g2 2 x\nF s g1 g2 1 x\nF h 0 0 1 x\nF k1 h p 1 x\nF k2 h p 2 x\n";
  const PreparedPedigree down = prepare_text(text, {RootChoice::first, 1});
  ASSERT_EQ(down.families[0].nuclear.size(), 2u);
  // Root = the grandparents' nuclear family: the lower one comes first, joined through the mother p.
  const NuclearFamily& lower = down.families[0].nuclear[0];
  EXPECT_EQ(lower.father, 4);
  EXPECT_EQ(lower.mother, 2);
  EXPECT_EQ(lower.connector, 2);
  EXPECT_EQ(down.families[0].nuclear[1].connector, -1);

  const PreparedPedigree up = prepare_text(text, {RootChoice::last, 1});
  const NuclearFamily& upper = up.families[0].nuclear[0];
  EXPECT_EQ(upper.father, 0);
  EXPECT_EQ(upper.connector, 2);
  EXPECT_EQ(upper.children, (std::vector<int>{2, 3}));
  // With s listed before p the child connector p must be moved to the front.
  const PreparedPedigree moved = prepare_text(
      "F g1 0 0 1 x\nF g2 0 0 2 x\nF s g1 g2 1 x\nF p g1 g2 2 x\nF h 0 0 1 x\nF k1 h p 1 x\n", {RootChoice::last, 1});
  EXPECT_EQ(moved.families[0].nuclear[0].children, (std::vector<int>{3, 2}));
}

struct StructureCase {
  Structure structure;
  bool untyped_grandparents;
};

// Simulated data of every structure, prepared with random roots: the
// description is in peeling order, every person and nuclear family is kept,
// and every kind of connector occurs.
TEST(PrepPeelingOrder, HoldsForEverySimulatedStructureAndRoot) {
  int parent_connectors = 0, single_child_connectors = 0, first_child_connectors = 0;
  for (const Structure s : {Structure::nuclear, Structure::large, Structure::threegen, Structure::fourgen,
                            Structure::disjoint, Structure::mixed}) {
    for (std::uint64_t seed = 1; seed <= 4; ++seed) {
      SimulationModel model;
      model.theta = {0.1};
      SimulationDesign design{s, 12, seed % 2 == 0};
      const PedigreeFile simulated = simulate(model, design, seed);
      const std::string text = bravik::testing::shuffled_lines(bravik::testing::pedigree_text(simulated), seed);
      PedigreeFile file = parse_pedigree_text(text, "sim.ped");
      const PreparedPedigree ped = prepare_structure(file, {RootChoice::random, seed});
      check_mendelian(file, ped, false);
      bravik::testing::WorkFolder folder(std::string("prep_order_") + structure_name(s) + std::to_string(seed));
      write_run_folder(folder.path(), file, ped, RunFileNames{});
      const bravik::testing::Iway w = bravik::testing::read_iway(folder.path() / "IWAY.DAT");
      SCOPED_TRACE(std::string(structure_name(s)) + " seed " + std::to_string(seed));
      bravik::testing::expect_peeling_order(w);
      EXPECT_EQ(w.p, static_cast<int>(file.rows.size()));
      EXPECT_EQ(bravik::testing::nuclear_families_of_folder(folder.path()),
                bravik::testing::nuclear_families_of_file(file));
      for (int n = 1; n <= w.m - 2; ++n) {
        const int icon = w.icon[static_cast<std::size_t>(n)];
        if (icon == 0) continue;
        if (icon == w.member(n, 0) || icon == w.member(n, 1)) ++parent_connectors;
        else if (w.members(n) == 3) ++single_child_connectors;
        else ++first_child_connectors;
      }
    }
  }
  EXPECT_GT(parent_connectors, 0);
  EXPECT_GT(single_child_connectors, 0);
  EXPECT_GT(first_child_connectors, 0);
}

const char* const three_generations =
    "F g1 0 0 1 x  1 1\n"
    "F g2 0 0 2 x  1 1\n"
    "F c g1 g2 1 x  0 0\n"
    "F s 0 0 2 x  1 1\n"
    "F k c s 2 x  1 2\n"
    "F j c s 1 x  1 1\n";

TEST(PrepMendel, ReportsMarkerFamilyAndPersons) {
  PedigreeFile file = parse_pedigree_text(
      "F 1 0 0 1 x  1 1  1 1\nF 2 0 0 2 x  1 1  1 2\nF 3 1 2 1 x  2 2  1 2\nF 4 1 2 2 x  1 1  1 1\n", "m.ped");
  const PreparedPedigree ped = prepare_structure(file, {});
  const std::string message = error_of([&] { check_mendelian(file, ped, false); });
  EXPECT_NE(message.find("m.ped: marker 1, family F: Mendelian inconsistency in the nuclear family of father 1 1/1, "
                         "mother 2 1/1, children 3 2/2, 4 1/1"),
            std::string::npos) << message;
  EXPECT_EQ(message.find("marker 2"), std::string::npos) << "marker 2 is consistent: " << message;
}

TEST(PrepMendel, FindsConflictsThatSpanGenerations) {
  // c must be 1/1 as the child of two 1/1 parents, so his child k cannot be 1/2
  // with a 1/1 spouse; neither nuclear family alone shows it.
  PedigreeFile file = parse_pedigree_text(three_generations, "m.ped");
  const PreparedPedigree ped = prepare_structure(file, {});
  const std::string message = error_of([&] { check_mendelian(file, ped, false); });
  EXPECT_NE(message.find("m.ped: marker 1, family F: Mendelian inconsistency"), std::string::npos) << message;
}

TEST(PrepMendel, UntypesTheInconsistentNuclearFamilyOnRequest) {
  PedigreeFile file = parse_pedigree_text(
      "F 1 0 0 1 x  1 1  1 1\nF 2 0 0 2 x  1 1  1 2\nF 3 1 2 1 x  2 2  1 2\nF 4 1 2 2 x  1 1  1 1\n"
      "G 1 0 0 1 x  1 1  2 2\nG 2 0 0 2 x  1 2  2 2\nG 3 1 2 1 x  1 2  2 2\n",
      "m.ped");
  const PreparedPedigree ped = prepare_structure(file, {});
  const std::vector<std::string> notes = check_mendelian(file, ped, true);
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_NE(notes[0].find("marker 1, family F"), std::string::npos);
  EXPECT_NE(notes[0].find("set untyped at this marker"), std::string::npos);
  for (std::size_t row = 0; row < 4; ++row) EXPECT_EQ(file.code(row, 0), 0) << "row " << row;
  EXPECT_EQ(file.code(0, 1), 1);  // marker 2 untouched
  EXPECT_EQ(file.code(4, 0), 1);  // family G untouched
  EXPECT_TRUE(check_mendelian(file, ped, false).empty());
}

TEST(PrepMendel, UntypingReachesConflictsThatSpanGenerations) {
  PedigreeFile file = parse_pedigree_text(three_generations, "m.ped");
  const PreparedPedigree ped = prepare_structure(file, {});
  EXPECT_FALSE(check_mendelian(file, ped, true).empty());
  EXPECT_TRUE(check_mendelian(file, ped, false).empty());
  int typed = 0;
  for (std::size_t row = 0; row < file.rows.size(); ++row) typed += file.code(row, 0) != 0;
  EXPECT_GT(typed, 0) << "only the nuclear families in conflict are untyped";
}

TEST(PrepRunFolder, WritesTheFilesBothProgramsRead) {
  PedigreeFile file = parse_pedigree_text(
      "F b 0 0 2 3.0  1 2\nF a 0 0 1 x  1 1\nF c a b 1 1.0  1 2\nF d a b 2 -1000  2 2\nL z 0 0 1 2.0  1 1\n", "r.ped");
  const PreparedPedigree ped = prepare_structure(file, {});
  bravik::testing::WorkFolder folder("prep_run_folder");
  write_run_folder(folder.path(), file, ped, RunFileNames{});
  const fs::path dir = folder.path();
  EXPECT_EQ(bravik::testing::read_file(dir / "task.inp"), "phen.dat\nmark.dat\nlod.out\nest.out\n");
  EXPECT_EQ(bravik::testing::read_file(dir / "phen.dat"), "3\n-999\n1\n-999\n2\n");
  EXPECT_EQ(bravik::testing::read_file(dir / "mark.dat"), "1\n2\n1\n2\n3\n1\n");
  EXPECT_EQ(bravik::testing::read_file(dir / "IWAY.DAT"),
            "2 2 0 4 5\n0 0 1 1\n3 0 0 4\n4 2 1 3 4\n0\n5 1 1 1 1 1\n0 0 0 0 0\n");  // father a is local 2
  EXPECT_EQ(bravik::testing::read_file(dir / "ids.txt"),
            "# global family local family_id person_id line\n"
            "1 1 1 F b 1\n2 1 2 F a 2\n3 1 3 F c 3\n4 1 4 F d 4\n5 2 1 L z 5\n");

  // par.inp: a heading, then seven records of six numbers whose free values lie inside their bounds.
  std::ifstream par(dir / "par.inp");
  std::string line;
  std::getline(par, line);
  double value[8] = {};
  for (int i = 1; i <= 7; ++i) {
    ASSERT_TRUE(std::getline(par, line));
    std::istringstream record(line);
    int link = 0, free = 0;
    double step = 0, low = 0, high = 0;
    ASSERT_TRUE(record >> link >> free >> value[i] >> step >> low >> high) << line;
    EXPECT_EQ(link, i);
    EXPECT_NE(step, 0.0) << line;
    if (free) {
      EXPECT_TRUE(low < value[i] && value[i] < high) << line;
    }
    std::string word;
    EXPECT_TRUE(record >> word) << "explanation after the sixth value: " << line;
  }
  EXPECT_LE(value[4], value[2]);
  EXPECT_GT(value[6], 0.0);
  EXPECT_NE(value[7], 0.0) << "a zero fixed polygenic step would switch the component off";

  // maxpar.inp, read as the maximizing program reads it: an iteration limit
  // that the searches of ordinary data sets do not reach.
  const bravik::testing::ScratchDir scratch;
  fs::copy_file(dir / "maxpar.inp", scratch.path() / "maxpar.inp");
  textio::Channels io;
  const bravik::MaximizerSettings settings = bravik::read_maxpar(io);
  EXPECT_GE(settings.maxit, 1000);
  EXPECT_GT(settings.epsx, 0.0);
  EXPECT_GT(settings.rlx, 0.0);
  EXPECT_LT(settings.rlx, 1.0);
}

TEST(PrepRunFolder, FileNamesMustFitTheirTaskFields) {
  RunFileNames names;
  names.phenotypes = "phenotypes.txt";
  EXPECT_NE(error_of([&] { check_run_file_names(names); }).find("longer than 10 characters"), std::string::npos);
  names.phenotypes = "phen.dat";
  names.markers = "markers-long-name.txt";
  EXPECT_NE(error_of([&] { check_run_file_names(names); }).find("longer than 15 characters"), std::string::npos);
  names.markers = "my markers";
  EXPECT_NE(error_of([&] { check_run_file_names(names); }).find("one word"), std::string::npos);
  names.markers = "markers.txt";
  EXPECT_TRUE(error_of([&] { check_run_file_names(names); }).empty());
}

}  // namespace

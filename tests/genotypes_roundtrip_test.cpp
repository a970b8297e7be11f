// Genotype sources against the real writers: a pedigree file simulated by
// bravik_sim is converted by plink1.9 to .bed/.bim/.fam and to VCF, and by
// bcftools to BCF; every source then yields the codes of the pedigree file,
// marker by marker and person by person.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>

#include "genotypes/pedigree_input.hpp"
#include "genotypes/sources.hpp"
#include "genotypes_test_support.hpp"
#include "pedfile/pedigree_file.hpp"
#include "program_runner.hpp"

namespace {

using namespace bravik::genotypes;
using bravik::testing::read_all;
using bravik::testing::SourceMarker;
using bravik::testing::read_file;
using bravik::testing::write_file;
namespace fs = std::filesystem;

constexpr int marker_count = 30;
constexpr int first_marker_of_chromosome_2 = 18;

void run(const fs::path& folder, const std::string& command) {
  const std::string line = "cd '" + folder.string() + "' && " + command + " > run.out 2>&1";
  ASSERT_EQ(std::system(line.c_str()), 0) << command << ":\n" << read_file(folder / "run.out");
}

// The pedigree file as a PLINK .ped: the same columns, -9 for a missing trait.
std::string ped_text(const std::string& pedigree_text) {
  std::istringstream in(pedigree_text);
  std::string out;
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string_view> fields = bravik::tools::split_fields(line);
    if (fields[5] == "x") fields[5] = "-9";
    for (const std::string_view field : fields) out += std::string(field) + ' ';
    out.back() = '\n';
  }
  return out;
}

std::string map_text() {
  std::string out;
  for (int m = 0; m < marker_count; ++m) {
    out += m < first_marker_of_chromosome_2 ? "1" : "2";
    out += " snp" + std::to_string(m + 1) + " 0 " + std::to_string(1000 * (m + 1)) + "\n";
  }
  return out;
}

// Adds to a VCF a sample no pedigree holds, and after the first record a
// multi-allelic and a haploid copy of it.
std::string edited_vcf(const std::string& vcf) {
  std::istringstream in(vcf);
  std::string out;
  bool first_record = true;
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with("##")) {
      out += line + "\n";
      continue;
    }
    if (line.starts_with("#")) {
      out += line + "\tGHOST\n";
      continue;
    }
    out += line + "\t0/1\n";
    if (!first_record) continue;
    first_record = false;
    std::vector<std::string_view> fields = bravik::tools::split_fields(line);
    std::string multi = "1\t1500\tmulti\t2\t1,3\t.\t.\t.\tGT";
    std::string haploid = "1\t1600\thaploid\t2\t1\t.\t.\t.\tGT";
    for (std::size_t s = 9; s <= fields.size(); ++s) {
      multi += s % 3 == 0 ? "\t1/2" : "\t0/0";
      haploid += s % 2 == 0 ? "\t1" : "\t0";
    }
    out += multi + "\n" + haploid + "\n";
  }
  return out;
}

class GenotypesRoundTrip : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = fs::path(BRAVIK_BINARY_DIR) / "test-work" / "genotypes_roundtrip";
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    const std::string sim = (fs::path(BRAVIK_BINARY_DIR) / "bravik_sim").string();
    run(folder_, "'" + sim + "' --seed 11 --families 7 --structure mixed --theta 0.05*30 --untyped 0.1 " +
                     "--trait-missing 0.15 --marker-freq 0.5*20,0.9*4,0.1*4,1,0 sim.ped");
    write_file(folder_ / "p.ped", ped_text(read_file(folder_ / "sim.ped")));
    write_file(folder_ / "p.map", map_text());
    std::string a1;
    for (int m = 1; m <= marker_count; ++m) a1 += "snp" + std::to_string(m) + " 1\n";
    write_file(folder_ / "a1.txt", a1);
    run(folder_, "plink1.9 --file p --keep-allele-order --a1-allele a1.txt 2 1 --make-bed --out b --allow-no-sex");
    run(folder_, "plink1.9 --bfile b --keep-allele-order --recode vcf --out v --allow-no-sex");
    write_file(folder_ / "e.vcf", edited_vcf(read_file(folder_ / "v.vcf")));
    run(folder_, "bcftools view -Ob -o e.bcf e.vcf");
    run(folder_, "bcftools view -s ^F1_1 -Ov -o less.vcf v.vcf");
  }
  static void TearDownTestSuite() { fs::remove_all(folder_); }

  static std::string at(const char* name) { return (folder_ / name).string(); }
  static fs::path folder_;
};

fs::path GenotypesRoundTrip::folder_;

void expect_same_markers(const std::vector<SourceMarker>& expected, const std::vector<SourceMarker>& got, const std::string& what) {
  ASSERT_EQ(got.size(), expected.size()) << what;
  for (std::size_t m = 0; m < got.size(); ++m) {
    EXPECT_EQ(got[m].info.id, expected[m].info.id) << what << " marker " << m;
    EXPECT_EQ(got[m].info.chromosome, expected[m].info.chromosome) << what << " marker " << m;
    EXPECT_EQ(got[m].info.position, expected[m].info.position) << what << " marker " << m;
    EXPECT_EQ(got[m].info.allele1, "1") << what << " marker " << m;
    EXPECT_EQ(got[m].codes, expected[m].codes) << what << " marker " << m;
  }
}

TEST_F(GenotypesRoundTrip, BedVcfAndBcfYieldThePedigreeFileCodes) {
  const bravik::tools::PedigreeFile pedigree = read_fam(at("b.fam"), TraitOptions{});
  const std::size_t rows = pedigree.rows.size();
  ASSERT_NE(rows % 4, 0u) << "the last .bed byte of each block must hold padding";
  const auto reference_source = open_pedigree_file(at("sim.ped"), pedigree, at("p.map"));
  const std::vector<SourceMarker> reference = read_all(*reference_source, rows);
  ASSERT_EQ(reference.size(), static_cast<std::size_t>(marker_count));
  std::size_t missing_calls = 0;
  for (const SourceMarker& m : reference)
    for (const std::uint8_t code : m.codes) missing_calls += code == 0;
  ASSERT_GT(missing_calls, 0u);
  EXPECT_EQ(reference[first_marker_of_chromosome_2].info.chromosome, "2");
  const auto only = [](const SourceMarker& m, std::uint8_t homozygote) {
    return std::all_of(m.codes.begin(), m.codes.end(), [=](std::uint8_t c) { return c == 0 || c == homozygote; });
  };
  EXPECT_TRUE(only(reference[28], 1)) << "allele-1 frequency 1";
  EXPECT_TRUE(only(reference[29], 3)) << "allele-1 frequency 0";

  const auto bed = open_bed(at("b"), pedigree);
  expect_same_markers(reference, read_all(*bed, rows), ".bed");
  EXPECT_EQ(bed->persons_held(), rows);
  for (const char* vcf : {"e.vcf", "e.bcf"}) {
    const auto source = open_vcf(at(vcf), pedigree);
    expect_same_markers(reference, read_all(*source, rows), vcf);
    EXPECT_EQ(source->persons_held(), rows);
    const std::vector<SkippedRecords> skipped = source->skipped();
    ASSERT_EQ(skipped.size(), 2u) << vcf;
    EXPECT_EQ(skipped[0].reason, "multi-allelic");
    EXPECT_EQ(skipped[0].count, 1);
    EXPECT_EQ(skipped[1].reason, "not diploid");
    EXPECT_EQ(skipped[1].count, 1);
    const std::vector<std::string> notes = source->notes();
    ASSERT_EQ(notes.size(), 2u) << vcf;
    EXPECT_NE(notes[0].find("sample GHOST matches no person"), std::string::npos) << notes[0];
    EXPECT_NE(notes[1].find("calls not diploid: 1 records skipped"), std::string::npos) << notes[1];
  }
}

TEST_F(GenotypesRoundTrip, PersonsTheSourceLacksAreUntyped) {
  const bravik::tools::PedigreeFile pedigree = read_fam(at("b.fam"), TraitOptions{});
  ASSERT_EQ(pedigree.rows[0].family + "_" + pedigree.rows[0].person, "F1_1");
  const auto full = open_vcf(at("v.vcf"), pedigree);
  const auto less = open_vcf(at("less.vcf"), pedigree);
  std::vector<SourceMarker> expected = read_all(*full, pedigree.rows.size());
  for (SourceMarker& m : expected) m.codes[0] = 0;
  expect_same_markers(expected, read_all(*less, pedigree.rows.size()), "less.vcf");
  EXPECT_EQ(less->persons_held(), pedigree.rows.size() - 1);
  EXPECT_TRUE(less->notes().empty());
}

TEST_F(GenotypesRoundTrip, FamTraitsAreTheSimulatedOnesWithMinusNineMissing) {
  const bravik::tools::PedigreeFile fam = read_fam(at("b.fam"), TraitOptions{});
  const bravik::tools::PedigreeFile simulated = bravik::tools::read_pedigree_file(at("sim.ped"));
  ASSERT_EQ(fam.rows.size(), simulated.rows.size());
  std::size_t missing = 0;
  for (std::size_t r = 0; r < fam.rows.size(); ++r) {
    const bravik::tools::PedigreeRow& a = fam.rows[r];
    const bravik::tools::PedigreeRow& b = simulated.rows[r];
    EXPECT_EQ(a.person, b.person);
    EXPECT_EQ(a.father, b.father);
    EXPECT_EQ(a.mother, b.mother);
    EXPECT_EQ(a.sex, b.sex);
    ASSERT_EQ(a.trait.has_value(), b.trait.has_value()) << "row " << r;
    if (a.trait) {
      EXPECT_NEAR(*a.trait, *b.trait, 1e-6) << "row " << r;
    }
    missing += !a.trait;
  }
  EXPECT_GT(missing, 0u);
}

}  // namespace

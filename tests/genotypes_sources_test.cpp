// Genotype sources on small hand-made files: the 2-bit decoding of a .bed,
// the pedigree and trait loading, the marker selection, and every bad input
// named by file, line and value.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include "genotypes/marker_filter.hpp"
#include "genotypes/pedigree_input.hpp"
#include "genotypes/person_index.hpp"
#include "genotypes/sources.hpp"
#include "genotypes_test_support.hpp"
#include "pedfile/structure.hpp"
#include "program_runner.hpp"
#include "tools_test_support.hpp"

namespace {

using namespace bravik::genotypes;
using bravik::testing::error_of;
using bravik::testing::read_all;
using bravik::testing::SourceMarker;
using bravik::testing::write_file;
namespace fs = std::filesystem;

// Five persons: a couple, two children, and an unattached person.
const std::string five_fam = "F a 0 0 1 1.5\nF b 0 0 2 -9\nF c a b 1 0\nF d a b 2 NA\nG e 0 0 1 2.25\n";
const std::string two_bim = "1 rs1 0.5 1000 A G\nchr2 rs2 0 2000 T C\n";

void write_bytes(const fs::path& path, const std::vector<unsigned char>& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
}

// Slot values 0-3 of five persons packed four to a byte, first person lowest.
std::vector<unsigned char> block_of(const std::vector<int>& slots, unsigned char padding) {
  std::vector<unsigned char> block((slots.size() + 3) / 4, 0);
  for (std::size_t i = 0; i < slots.size(); ++i) block[i / 4] |= static_cast<unsigned char>(slots[i] << (2 * (i % 4)));
  block.back() |= padding;
  return block;
}

void write_fileset(const fs::path& dir, const std::vector<unsigned char>& bed) {
  write_file(dir / "d.fam", five_fam);
  write_file(dir / "d.bim", two_bim);
  write_bytes(dir / "d.bed", bed);
}

std::vector<unsigned char> two_marker_bed() {
  std::vector<unsigned char> bed = {0x6c, 0x1b, 0x01};
  for (const auto& block : {block_of({0, 1, 2, 3, 0}, 0xfc), block_of({3, 3, 1, 2, 2}, 0x00)})
    bed.insert(bed.end(), block.begin(), block.end());
  return bed;
}

std::vector<unsigned char> one_byte_short(std::vector<unsigned char> bytes) {
  bytes.pop_back();
  return bytes;
}

TEST(GenotypesBed, DecodesEachSlotByItsIntegerValueIntoThePedigreeRows) {
  bravik::testing::WorkFolder work("genotypes_bed_decode");
  write_fileset(work.path(), two_marker_bed());
  // The pedigree lists the persons in another order, lacks e and adds x.
  const bravik::tools::PedigreeFile pedigree =
      bravik::tools::parse_pedigree_text("F d a b 2 x\nF a 0 0 1 x\nF x 0 0 1 x\nF c a b 1 x\nF b 0 0 2 x\n", "p.txt");
  const auto source = open_bed((work.path() / "d").string(), pedigree);
  const std::vector<SourceMarker> markers = read_all(*source, pedigree.rows.size());
  ASSERT_EQ(markers.size(), 2u);
  // Rows d, a, x, c, b; slots of a..e are 0 1 2 3 0 (-> 1 0 2 3 1) and 3 3 1 2 2 (-> 3 3 0 2 2).
  EXPECT_EQ(markers[0].codes, (std::vector<std::uint8_t>{3, 1, 0, 2, 0}));
  EXPECT_EQ(markers[1].codes, (std::vector<std::uint8_t>{2, 3, 0, 0, 3}));
  EXPECT_EQ(markers[0].info.id, "rs1");
  EXPECT_EQ(markers[0].info.position, 1000);
  EXPECT_EQ(markers[0].info.centimorgans, 0.5);
  EXPECT_EQ(markers[0].info.allele1, "A");
  EXPECT_EQ(markers[0].info.allele2, "G");
  EXPECT_EQ(markers[1].info.chromosome, "chr2");
  EXPECT_EQ(source->persons_held(), 4u);
  ASSERT_EQ(source->notes().size(), 1u);
  EXPECT_EQ(source->notes()[0],
            (work.path() / "d.fam").string() +
                ": 1 of 5 persons match no person of p.txt and are ignored (a person is matched by FID and IID): G e");
}

std::string vcf_text(const std::string& samples, const std::vector<std::string>& records) {
  std::string text =
      "##fileformat=VCFv4.2\n##contig=<ID=1>\n##FORMAT=<ID=GT,Number=1,Type=String,Description=\"Genotype\">\n"
      "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\t" + samples + "\n";
  for (const std::string& record : records) text += record + "\n";
  return text;
}

TEST(GenotypesVcf, ReadsDiploidBiallelicCallsAndCountsWhatItSkips) {
  bravik::testing::WorkFolder work("genotypes_vcf_calls");
  // Samples: by FID_IID, by a unique IID, one no person matches; person e has no sample.
  write_file(work.path() / "c.vcf",
             vcf_text("F_a\tb\tF_c\tGHOST\td",
                      {"1\t10\trs1\tG\tA\t.\t.\t.\tGT\t0/0\t1/1\t0/1\t./.\t1/0",
                       "1\t20\trs2\tG\tA,T\t.\t.\t.\tGT\t0/0\t1/1\t0/2\t0/0\t0/0",
                       "1\t30\trs3\tG\tA\t.\t.\t.\tGT\t1\t0|1\t1|1\t0/0\t./1",
                       "1\t40\trs4\tG\tA\t.\t.\t.\tGT\t1\t0\t1\t0\t0",
                       "1\t50\t.\tC\t.\t.\t.\t.\tGT\t0/0\t0|0\t./.\t0/0\t0/0",
                       "1\t60\trs6\tG\tA\t.\t.\t.\tGT:DP\t1|0:3\t.:4\t0/0:5\t0/0:1\t1/1:2"}));
  const bravik::tools::PedigreeFile pedigree = bravik::tools::parse_pedigree_text(five_fam, "d.fam");
  const auto source = open_vcf((work.path() / "c.vcf").string(), pedigree);
  const std::vector<SourceMarker> markers = read_all(*source, pedigree.rows.size());
  ASSERT_EQ(markers.size(), 4u);
  // Rows a b c d e; ALT is allele 1, so 0/0 -> 3, 1/1 -> 1, 0/1 -> 2.
  EXPECT_EQ(markers[0].codes, (std::vector<std::uint8_t>{3, 1, 2, 2, 0}));
  EXPECT_EQ(markers[1].codes, (std::vector<std::uint8_t>{0, 2, 1, 0, 0}));  // haploid a, half-missing d
  EXPECT_EQ(markers[2].codes, (std::vector<std::uint8_t>{3, 3, 0, 3, 0}));
  EXPECT_EQ(markers[3].codes, (std::vector<std::uint8_t>{2, 0, 3, 1, 0}));  // "." is missing
  EXPECT_EQ(markers[0].info.allele1, "A");
  EXPECT_EQ(markers[0].info.allele2, "G");
  EXPECT_EQ(markers[0].info.position, 10);
  EXPECT_EQ(markers[0].info.chromosome, "1");
  EXPECT_EQ(markers[2].info.id, ".");
  EXPECT_EQ(markers[2].info.allele1, ".");
  EXPECT_EQ(markers[2].info.allele2, "C");
  EXPECT_EQ(source->persons_held(), 4u);
  const std::vector<SkippedRecords> skipped = source->skipped();
  ASSERT_EQ(skipped.size(), 2u);
  EXPECT_EQ(skipped[0].reason + " " + std::to_string(skipped[0].count), "multi-allelic 1");
  EXPECT_EQ(skipped[1].reason + " " + std::to_string(skipped[1].count), "not diploid 1");
  const std::vector<std::string> notes = source->notes();
  ASSERT_EQ(notes.size(), 3u);
  EXPECT_NE(notes[0].find("c.vcf: 1 of 5 samples match no person of d.fam and are ignored (a sample name is FID_IID "
                          "or an IID that one person carries): GHOST"),
            std::string::npos)
      << notes[0];
  EXPECT_NE(notes[1].find("c.vcf: calls not diploid: 1 records skipped"), std::string::npos);
  EXPECT_NE(notes[2].find("c.vcf: haploid calls in diploid records: 1 read as untyped"), std::string::npos);
}

TEST(GenotypesVcf, MatchesSamplesByFidIidOrByAnIidOnlyOnePersonCarries) {
  const bravik::tools::PedigreeFile pedigree =
      bravik::tools::parse_pedigree_text("F 1 0 0 1 x\nG 1 0 0 1 x\nA_B C 0 0 1 x\nA B_C 0 0 1 x\nF k 0 0 1 x\n", "p");
  const PersonIndex index(pedigree);
  struct Case {
    const char* sample;
    std::optional<std::size_t> row;
  };
  for (const Case& c : {Case{"F_1", 0}, Case{"G_1", 1}, Case{"1", std::nullopt}, Case{"A_B_C", std::nullopt},
                        Case{"C", 2}, Case{"B_C", 3}, Case{"k", 4}, Case{"F_k", 4}, Case{"F k", std::nullopt}})
    EXPECT_EQ(index.find_sample(c.sample), c.row) << c.sample;
  EXPECT_EQ(index.find("G", "1"), 1u);
  EXPECT_EQ(index.find("A", "B_C"), 3u);
  EXPECT_EQ(index.find("G", "k"), std::nullopt);
}

TEST(GenotypesPedigreeFile, NamesMarkersByTheMapAndNotesPersonsOutsideThePedigree) {
  bravik::testing::WorkFolder work("genotypes_pedigree_source");
  write_file(work.path() / "g.txt", "F a 0 0 1 x  1 2  2 2\nF z 0 0 2 x  1 1  1 1\nF c a b 1 x  0 0  1 2\n");
  write_file(work.path() / "g.map", "3 m1 1.5 100\n3 m2 2 200\n");
  const bravik::tools::PedigreeFile pedigree = bravik::tools::parse_pedigree_text(five_fam, "d.fam");
  const auto mapped = open_pedigree_file((work.path() / "g.txt").string(), pedigree, (work.path() / "g.map").string());
  const std::vector<SourceMarker> markers = read_all(*mapped, pedigree.rows.size());
  ASSERT_EQ(markers.size(), 2u);
  EXPECT_EQ(markers[0].codes, (std::vector<std::uint8_t>{2, 0, 0, 0, 0}));
  EXPECT_EQ(markers[1].codes, (std::vector<std::uint8_t>{3, 0, 2, 0, 0}));
  EXPECT_EQ(markers[1].info.id, "m2");
  EXPECT_EQ(markers[1].info.chromosome, "3");
  EXPECT_EQ(markers[1].info.position, 200);
  EXPECT_EQ(markers[0].info.centimorgans, 1.5);
  EXPECT_EQ(mapped->persons_held(), 2u);
  // Two of five persons held: fewer than half, so the matching is explained.
  ASSERT_EQ(mapped->notes().size(), 2u);
  EXPECT_NE(mapped->notes()[0].find("g.txt: 1 of 3 persons match no person of d.fam and are ignored (a person is "
                                    "matched by FID and IID): F z"),
            std::string::npos)
      << mapped->notes()[0];
  EXPECT_NE(mapped->notes()[1].find("g.txt matches only 2 of the 5 persons of d.fam (a person is matched by FID and "
                                    "IID); d.fam names persons like F a, F b, F c, ..., "),
            std::string::npos)
      << mapped->notes()[1];
  EXPECT_NE(mapped->notes()[1].find("g.txt has persons like F z"), std::string::npos) << mapped->notes()[1];

  const auto unmapped = open_pedigree_file((work.path() / "g.txt").string(), pedigree);
  const std::vector<SourceMarker> numbered = read_all(*unmapped, pedigree.rows.size());
  ASSERT_EQ(numbered.size(), 2u);
  EXPECT_EQ(numbered[1].info.id, "2");
  EXPECT_EQ(numbered[1].info.chromosome, "0");
  EXPECT_EQ(numbered[1].codes, markers[1].codes);
}

TEST(GenotypesPedigreeInput, FamTraitsFollowTheMissingValue) {
  bravik::testing::WorkFolder work("genotypes_fam_traits");
  write_file(work.path() / "d.fam", five_fam + "H f 0 0 2 .\nH g 0 0 2 x\nH h 0 0 2 -999\nH i 0 0 1 -9.0\n");
  const std::string fam = (work.path() / "d.fam").string();
  const auto traits = [](const bravik::tools::PedigreeFile& p) {
    std::vector<double> out;
    for (const auto& row : p.rows) out.push_back(row.trait.value_or(-12345));
    return out;
  };
  EXPECT_EQ(traits(read_fam(fam, TraitOptions{})),
            (std::vector<double>{1.5, -12345, 0, -12345, 2.25, -12345, -12345, -12345, -12345}));
  TraitOptions zero_missing;
  zero_missing.missing_value = 0;
  EXPECT_EQ(traits(read_fam(fam, zero_missing)),
            (std::vector<double>{1.5, -9, -12345, -12345, 2.25, -12345, -12345, -12345, -9}));
  const bravik::tools::PedigreeFile fam_pedigree = read_fam(fam, TraitOptions{});
  EXPECT_EQ(fam_pedigree.markers, 0);
  EXPECT_EQ(fam_pedigree.rows[2].father, "a");
  EXPECT_EQ(fam_pedigree.rows[3].sex, bravik::tools::sex_female);
}

TEST(GenotypesPedigreeInput, PedigreeFileLosesItsMarkersAndPhenoTableReplacesTheTrait) {
  bravik::testing::WorkFolder work("genotypes_pheno");
  write_file(work.path() / "p.txt", "F a 0 0 1 1.5  1 2\nF b 0 0 2 2  2 2\nF c a b 1 -9  1 2\n");
  write_file(work.path() / "t.txt", "FID IID weight height\nF c 70 1.8\nF a -9 NA\nZ q 1 1\n");
  TraitOptions options;
  options.pheno_path = (work.path() / "t.txt").string();
  options.pheno_name = "height";
  const bravik::tools::PedigreeFile p = load_pedigree((work.path() / "p.txt").string(), false, options).persons;
  EXPECT_EQ(p.markers, 0);
  EXPECT_TRUE(p.codes.empty());
  ASSERT_EQ(p.rows.size(), 3u);
  EXPECT_FALSE(p.rows[0].trait);  // NA
  EXPECT_FALSE(p.rows[1].trait);  // not in the table
  EXPECT_EQ(p.rows[2].trait, 1.8);
  options.pheno_name = "weight";
  const bravik::tools::PedigreeFile w = load_pedigree((work.path() / "p.txt").string(), false, options).persons;
  EXPECT_FALSE(w.rows[0].trait);  // -9
  EXPECT_EQ(w.rows[2].trait, 70);
}

// Marker codes of ten persons: 2 untyped, allele-1 frequency 5/16.
const std::vector<std::uint8_t> ten_codes = {0, 0, 1, 2, 2, 2, 3, 3, 3, 3};

TEST(GenotypesMarkerSelection, CountsAllelesAmongTypedPersons) {
  const AlleleCount count = count_alleles(ten_codes);
  EXPECT_EQ(count.typed, 8u);
  EXPECT_EQ(count.allele1_frequency, 5.0 / 16.0);
  EXPECT_EQ(count_alleles(std::vector<std::uint8_t>(4, 0)).typed, 0u);
  EXPECT_EQ(count_alleles(std::vector<std::uint8_t>{1, 1, 0}).allele1_frequency, 1.0);
}

TEST(GenotypesMarkerSelection, NamesTheFirstReasonToDrop) {
  bravik::testing::WorkFolder work("genotypes_selection");
  write_file(work.path() / "keep.txt", "rs1\nrs2 extra words\n\nrs3\n");
  write_file(work.path() / "drop.txt", "rs3\n");
  const auto marker = [](std::string chromosome, long long bp, std::string id) {
    MarkerInfo info;
    info.chromosome = std::move(chromosome);
    info.position = bp;
    info.id = std::move(id);
    return info;
  };
  MarkerFilter lists;
  lists.extract_path = (work.path() / "keep.txt").string();
  lists.exclude_path = (work.path() / "drop.txt").string();
  MarkerFilter region;
  region.chromosomes = {"chr2", "5"};
  region.from_bp = 100;
  region.to_bp = 200;
  MarkerFilter frequency;
  frequency.min_maf = 0.32;
  MarkerFilter missing;
  missing.max_missing = 0.19;
  struct Case {
    const char* what;
    MarkerFilter filter;
    std::size_t held;
    MarkerInfo info;
    MarkerDecision decision;
  };
  const std::vector<Case> cases = {
      {"autosome kept", {}, 10, marker("22", 5, "a"), MarkerDecision::keep},
      {"X", {}, 10, marker("X", 5, "a"), MarkerDecision::non_autosomal},
      {"chrY", {}, 10, marker("chrY", 5, "a"), MarkerDecision::non_autosomal},
      {"xy lower case", {}, 10, marker("xy", 5, "a"), MarkerDecision::non_autosomal},
      {"MT", {}, 10, marker("MT", 5, "a"), MarkerDecision::non_autosomal},
      {"chrM", {}, 10, marker("chrM", 5, "a"), MarkerDecision::non_autosomal},
      {"23", {}, 10, marker("23", 5, "a"), MarkerDecision::non_autosomal},
      {"chr26", {}, 10, marker("chr26", 5, "a"), MarkerDecision::non_autosomal},
      {"27 is an autosome code", {}, 10, marker("27", 5, "a"), MarkerDecision::keep},
      {"X before the region", region, 10, marker("X", 150, "a"), MarkerDecision::non_autosomal},
      {"other chromosome", region, 10, marker("3", 150, "a"), MarkerDecision::other_chromosome},
      {"listed without chr", region, 10, marker("2", 150, "a"), MarkerDecision::keep},
      {"listed with chr", region, 10, marker("chr5", 100, "a"), MarkerDecision::keep},
      {"last bp inside", region, 10, marker("5", 200, "a"), MarkerDecision::keep},
      {"before from", region, 10, marker("5", 99, "a"), MarkerDecision::outside_range},
      {"after to", region, 10, marker("5", 201, "a"), MarkerDecision::outside_range},
      {"extracted", lists, 10, marker("1", 1, "rs2"), MarkerDecision::keep},
      {"not extracted", lists, 10, marker("1", 1, "extra"), MarkerDecision::not_extracted},
      {"extracted and excluded", lists, 10, marker("1", 1, "rs3"), MarkerDecision::excluded},
      {"maf 5/16 below 0.32", frequency, 10, marker("1", 1, "a"), MarkerDecision::rare},
      {"2 of 10 missing", missing, 10, marker("1", 1, "a"), MarkerDecision::too_missing},
      {"2 of 10 missing but only 9 held", missing, 9, marker("1", 1, "a"), MarkerDecision::keep},
  };
  for (const Case& c : cases) {
    MarkerSelection selection(c.filter, c.held);
    EXPECT_EQ(decision_name(selection.decide(c.info, ten_codes)), decision_name(c.decision)) << c.what;
  }
  frequency.min_maf = 0.31;
  EXPECT_EQ(MarkerSelection(frequency, 10).decide(marker("1", 1, "a"), ten_codes), MarkerDecision::keep);
  EXPECT_EQ(MarkerSelection(frequency, 10).decide(marker("1", 1, "a"), std::vector<std::uint8_t>(10, 0)),
            MarkerDecision::rare);
}

TEST(GenotypesErrors, NameTheFileTheLineOrByteAndTheValue) {
  bravik::testing::WorkFolder work("genotypes_errors");
  const fs::path dir = work.path();
  const std::string prefix = (dir / "d").string();
  write_file(dir / "g.txt", "F a 0 0 1 x  1 2  2 2\n");
  const bravik::tools::PedigreeFile pedigree = bravik::tools::parse_pedigree_text(five_fam, "d.fam");
  const std::string vcf_without_gt =
      "##fileformat=VCFv4.2\n##contig=<ID=1>\n##FORMAT=<ID=DP,Number=1,Type=Integer,Description=\"depth\">\n"
      "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\tF_a\n1\t10\trs1\tA\tG\t.\t.\t.\tDP\t4\n";
  const auto bed_with = [](std::size_t at, unsigned char value) {
    std::vector<unsigned char> bed = two_marker_bed();
    bed[at] = value;
    return bed;
  };
  const auto open_fileset = [&] { open_bed(prefix, pedigree); };
  const auto read_through = [&](std::function<std::unique_ptr<GenotypeSource>()> open) {
    return [&pedigree, open] { read_all(*open(), pedigree.rows.size()); };
  };
  const auto bed_source = [&] { return open_bed(prefix, pedigree); };
  const auto vcf_source = [&] { return open_vcf((dir / "r.vcf").string(), pedigree); };
  const auto mapped_source = [&] {
    return open_pedigree_file((dir / "g.txt").string(), pedigree, (dir / "g.map").string());
  };
  const auto fam_and_structure = [&] {
    bravik::tools::prepare_structure(read_fam((dir / "d.fam").string(), TraitOptions{}), {});
  };
  const auto pheno = [&](std::string name) {
    return [&dir, name] {
      TraitOptions options;
      options.pheno_path = (dir / "t.txt").string();
      options.pheno_name = name;
      load_pedigree((dir / "d.fam").string(), true, options);
    };
  };
  struct Case {
    const char* what;
    std::vector<unsigned char> bed;
    std::string fam, bim, extra_name, extra_text;
    std::function<void()> action;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"bed magic", bed_with(0, 0x6d), five_fam, two_bim, "", "", open_fileset,
       "d.bed: byte 0 is 0x6d, expected 0x6c (not a PLINK 1 .bed file)"},
      {"bed second magic byte", bed_with(1, 0xff), five_fam, two_bim, "", "", open_fileset,
       "d.bed: byte 1 is 0xff, expected 0x1b"},
      {"bed person-major mode", bed_with(2, 0x00), five_fam, two_bim, "", "", open_fileset,
       "d.bed: byte 2 is 0x00, expected 0x01 (only the variant-major mode 0x01 is read)"},
      {"bed too short for its header", {0x6c}, five_fam, two_bim, "", "", open_fileset,
       "d.bed: byte 1 is missing, expected 0x1b"},
      {"bed one byte short", one_byte_short(two_marker_bed()), five_fam, two_bim, "", "", open_fileset,
       "d.bed: size 6 bytes, expected 7 = 3 + 2 markers (.bim) x 2 bytes for 5 persons (.fam)"},
      {"bed sized for fewer persons", two_marker_bed(), five_fam + "G f 0 0 1 1\nG g 0 0 1 1\nG h 0 0 1 1\nG i 0 0 1 1\n",
       two_bim, "", "", open_fileset, "d.bed: size 7 bytes, expected 9 = 3 + 2 markers (.bim) x 3 bytes for 9 persons"},
      {"bim with five columns", two_marker_bed(), five_fam, "1 rs1 0 1000 A G\n2 rs2 0 2000 T\n", "", "",
       read_through(bed_source),
       "d.bim:2: expected 6 columns (chromosome id cM bp allele1 allele2), read 5: '2 rs2 0 2000 T'"},
      {"bim position not a number", two_marker_bed(), five_fam, "1 rs1 0 10x0 A G\n2 rs2 0 2000 T C\n", "", "",
       read_through(bed_source),
       "d.bim:1: bp position '10x0' is not a number"},
      {"fam with seven columns (open_bed)", two_marker_bed(), "F a 0 0 1 1.5\nF b 0 0 2 -9 7\n", two_bim, "", "",
       open_fileset, "d.fam:2: expected 6 columns (FID IID father mother sex trait), read 7: 'F b 0 0 2 -9 7'"},
      {"fam with five columns (read_fam)", two_marker_bed(), "F a 0 0 1 1.5\n\nF b 0 0 2\n", two_bim, "", "",
       fam_and_structure, "d.fam:3: expected 6 columns (FID IID father mother sex trait), read 5: 'F b 0 0 2'"},
      {"duplicate IID", two_marker_bed(), "F a 0 0 1 1.5\nF b 0 0 2 -9\nF a 0 0 1 2\n", two_bim, "", "",
       fam_and_structure, "d.fam:3: family F, person a: person listed twice (first on line 1)"},
      {"parent missing from the family", two_marker_bed(), "F a 0 0 1 1.5\nF c a z 1 0\n", two_bim, "", "",
       fam_and_structure, "d.fam:2: family F, person c: mother z is not in family F"},
      {"VCF without GT", {}, five_fam, "", "n.vcf", vcf_without_gt,
       [&] { open_vcf((dir / "n.vcf").string(), pedigree); },
       "n.vcf: the header declares no FORMAT field GT; genotypes are read from GT"},
      {"VCF record without GT values", {}, five_fam, "", "r.vcf",
       vcf_text("F_a", {"1\t10\trs1\tG\tA\t.\t.\t.\tGT\t0/1", "1\t20\trs2\tG\tA\t.\t.\t.\tDP\t3"}),
       read_through(vcf_source),
       "r.vcf: record 2 (1:20 rs2): no GT values"},
      {"VCF record with an empty FORMAT key before GT", {}, five_fam, "", "r.vcf",
       vcf_text("F_a", {"1\t10\trs1\tG\tA\t.\t.\t.\t:GT\t0/1"}), read_through(vcf_source),
       "r.vcf: record 1 (1:10 rs1): its GT values are not stored as integers (type 0)"},
      {"VCF allele the record lacks", {}, five_fam, "", "r.vcf",
       vcf_text("F_b\tF_a", {"1\t10\trs1\tG\tA\t.\t.\t.\tGT\t0/1\t0/2"}),
       read_through(vcf_source),
       "r.vcf: record 1 (1:10 rs1): sample F_a: GT names an allele the record does not have"},
      {"not a VCF", {}, five_fam, "", "r.vcf", "hello\n", vcf_source,
       "r.vcf: cannot read the VCF/BCF header"},
      {"map of the wrong length", {}, five_fam, "", "g.map", "1 m1 0 1\n",
       mapped_source,
       "g.map: 1 markers, but " + (dir / "g.txt").string() + " has 2"},
      {"map line with three columns", {}, five_fam, "", "g.map", "1 m1 0 1\n1 m2 0\n",
       read_through(mapped_source),
       "g.map:2: expected 4 columns (chromosome id cM bp), read 3: '1 m2 0'"},
      {"unknown --pheno-name", {}, five_fam, "", "t.txt", "FID IID weight height\nF a 1 2\n", pheno("bmi"),
       "t.txt:1: no column 'bmi' in the header (columns: weight, height)"},
      {"phenotype table without FID IID", {}, five_fam, "", "t.txt", "IID FID bmi\nF a 1\n", pheno("bmi"),
       "t.txt:1: the header must start with FID IID, read 'IID'"},
      {"phenotype row too short", {}, five_fam, "", "t.txt", "FID IID bmi\nF a 1\nF b\n", pheno("bmi"),
       "t.txt:3: expected 3 columns (as the header), read 2"},
      {"phenotype value not a number", {}, five_fam, "", "t.txt", "FID IID bmi\nF a 1\nF b tall\n", pheno("bmi"),
       "t.txt:3: column bmi: trait value 'tall' is not a number"},
      {"phenotype person twice", {}, five_fam, "", "t.txt", "FID IID bmi\nF a 1\nF a 2\n", pheno("bmi"),
       "t.txt:3: family F, person a is listed twice"},
  };
  for (const Case& c : cases) {
    write_bytes(dir / "d.bed", c.bed);
    write_file(dir / "d.fam", c.fam);
    write_file(dir / "d.bim", c.bim);
    if (!c.extra_name.empty()) write_file(dir / c.extra_name, c.extra_text);
    const std::string message = error_of(c.action);
    EXPECT_NE(message.find(c.message), std::string::npos) << c.what << ":\n" << message;
  }
}

}  // namespace

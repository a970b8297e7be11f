// The parts of a genome-wide scan that need no program run: the plan, the
// compact genotype copy, chunk states, the reading of a run's result files,
// the result table and the genome-wide plot.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>

#include "pedfile/input_error.hpp"
#include "scan/genome_plot.hpp"
#include "scan/layout.hpp"
#include "scan/marker_table.hpp"
#include "scan/merge.hpp"
#include "scan/packed_genotypes.hpp"
#include "scan/plan.hpp"
#include "scan/prepare.hpp"
#include "scan/run.hpp"
#include "scan/status.hpp"
#include "test_support.hpp"
#include "tools_test_support.hpp"

namespace {

using namespace bravik::scan;
using bravik::testing::error_of;
using bravik::testing::read_file;
using bravik::testing::ScratchDir;
using bravik::testing::write_file;

Plan plan_of(long markers, int chunk_size) {
  Plan plan;
  plan.persons = 7;
  plan.families = 2;
  plan.markers = markers;
  plan.chunk_size = chunk_size;
  plan.peeling.root = bravik::tools::RootChoice::random;
  plan.peeling.seed = 42;
  plan.chunks = cut_into_chunks(markers, chunk_size, [](long m) { return "1:" + std::to_string(100 * m); });
  return plan;
}

TEST(ScanPlan, ChunksCoverTheMarkersWhenTheSizeDoesNotDivideTheCount) {
  const Plan plan = plan_of(23, 10);
  ASSERT_EQ(plan.chunks.size(), 3u);
  EXPECT_EQ(plan.chunks[0].first, 1);
  EXPECT_EQ(plan.chunks[0].last, 10);
  EXPECT_EQ(plan.chunks[2].first, 21);
  EXPECT_EQ(plan.chunks[2].last, 23);
  EXPECT_EQ(plan.chunks[2].from, "1:2100");
  EXPECT_EQ(plan.chunks[2].to, "1:2300");
}

// Four chunks per core where the markers allow, 25 to 500 markers a chunk.
TEST(ScanPlan, DefaultChunkSizeGivesEveryCoreFourChunks) {
  struct Case {
    long markers;
    unsigned cores;
    int size;
  };
  for (const Case& c : {Case{400, 2, 50}, Case{401, 2, 51}, Case{100000, 32, 500}, Case{100000, 64, 391},
                        Case{30, 2, 25}, Case{400, 0, 100}, Case{1, 8, 25}})
    EXPECT_EQ(default_chunk_size(c.markers, c.cores), c.size) << c.markers << " markers, " << c.cores << " cores";
}

TEST(ScanPlan, ReadsBackWhatItWrites) {
  const Plan plan = plan_of(23, 10);
  const std::string text = plan_text(plan);
  EXPECT_EQ(text.rfind("bravik_scan plan 1\n", 0), 0u);
  const Plan back = parse_plan(text, "plan.txt");
  EXPECT_EQ(plan_text(back), text);
  EXPECT_EQ(back.peeling.root, bravik::tools::RootChoice::random);
  EXPECT_EQ(back.peeling.seed, 42u);
  EXPECT_EQ(back.chunk(3).size(), 3);
  EXPECT_NE(error_of([&] { back.chunk(4); }).find("chunk 4 is not in the plan (chunks 1 to 3)"), std::string::npos);
  Plan recorded = plan;
  recorded.files = {{"markers.tsv", 812, 0x6f1c0a93b2e4d517}, {"genotypes.bin", 0, 3}};
  const std::string with_files = plan_text(recorded);
  EXPECT_NE(with_files.find("\nfile genotypes.bin 0 0000000000000003\nchunks 3\n"), std::string::npos) << with_files;
  EXPECT_EQ(plan_text(parse_plan(with_files, "plan.txt")), with_files);
}

struct BadPlan {
  const char* what;
  std::string from, to;  // replaced in a good plan's text
  std::string message;   // expected in the error
};

TEST(ScanPlan, NamesTheLineAndValueOfAFault) {
  const std::string good = plan_text(plan_of(23, 10));
  const BadPlan cases[] = {
      {"other version", "plan 1\n", "plan 2\n", "plan.txt:1: not a plan of this version"},
      {"gap between chunks", "chunk 2 11 20", "chunk 2 12 20", "plan.txt:11: first marker '12' is not an integer from 11 to 11"},
      {"chunk above the size", "chunk 2 11 20", "chunk 2 11 21", "plan.txt:11: last marker '21' is not an integer from 11 to 20"},
      {"chunks end early", "chunks 3\n", "chunks 2\n", "plan.txt:11: the chunks end at marker 20, not at the last marker 23"},
      {"unknown root", "root random", "root middle", "plan.txt:6: root 'middle'"},
      {"chunk size above 500", "chunk_size 10", "chunk_size 501", "plan.txt:5: chunk_size '501'"},
      {"missing key", "families 2\n", "", "plan.txt:3: expected 'families'"},
      {"short checksum", "seed 42\n", "seed 42\nfile markers.tsv 10 12ab\n", "plan.txt:8: checksum '12ab' is not 16"},
      {"other file", "seed 42\n", "seed 42\nfile plan.txt 10 0000000000000000\n", "plan.txt:8: file 'plan.txt' is not"},
  };
  for (const BadPlan& c : cases) {
    std::string text = good;
    const std::size_t at = text.find(c.from);
    ASSERT_NE(at, std::string::npos) << c.what;
    text.replace(at, c.from.size(), c.to);
    const std::string error = error_of([&] { parse_plan(text, "plan.txt"); });
    EXPECT_NE(error.find(c.message), std::string::npos) << c.what << ": " << error;
  }
}

TEST(ScanGenotypes, PackedCopyGivesBackEveryCodeInPedigreeOrder) {
  const ScratchDir dir;
  constexpr std::size_t persons = 7;  // not a multiple of 4: the last byte is partly used
  constexpr std::size_t markers = 5;
  const std::vector<std::size_t> order{3, 0, 6, 1, 5, 2, 4};  // file row of each person in pedigree order
  std::mt19937 random(5);
  std::vector<std::vector<std::uint8_t>> codes(markers, std::vector<std::uint8_t>(persons));
  {
    PackedGenotypeWriter writer(dir.path() / "g.bin", persons);
    for (auto& marker : codes) {
      for (auto& c : marker) c = static_cast<std::uint8_t>(random() % 4);
      writer.append(marker, order);
    }
    writer.close();
  }
  EXPECT_EQ(std::filesystem::file_size(dir.path() / "g.bin"), markers * 2);
  const PackedGenotypeBlock block(dir.path() / "g.bin", persons, markers, 1, 3);
  for (std::size_t m = 0; m < 3; ++m)
    for (std::size_t i = 0; i < persons; ++i)
      EXPECT_EQ(block.code(m, i), codes[m + 1][order[i]]) << "marker " << m + 2 << ", person " << i + 1;
  const std::string error = error_of([&] { PackedGenotypeBlock(dir.path() / "g.bin", persons, 6, 0, 1); });
  EXPECT_NE(error.find("holds 10 bytes, not the 12 of 6 markers of 7 persons"), std::string::npos) << error;
}

TEST(ScanStatus, ChunkStatesFollowFromTheFiles) {
  const ScratchDir dir;
  const ScanFolder folder{dir.path()};
  std::filesystem::create_directories(folder.chunk(2));
  std::filesystem::create_directories(folder.chunks() / ".3.host.77");  // an interrupted gathering
  std::filesystem::create_directories(folder.failures());
  write_file(folder.failure(3), "exit 3\nwarning: marker 2: the starting point is rejected\n");
  write_file(folder.failure(2), "exit 1\nan earlier failure\n");  // done wins over an old record
  EXPECT_EQ(folder.state(1), ChunkState::pending);
  EXPECT_EQ(folder.state(2), ChunkState::done);
  EXPECT_EQ(folder.state(3), ChunkState::failed);
  const std::string text = status_text(folder, plan_of(23, 10));
  EXPECT_EQ(text,
            "chunks 3, markers 23\n"
            "done 1 (10 markers): 2\n"
            "failed 1: 3\n"
            "  chunk 3: exit 3: warning: marker 2: the starting point is rejected\n"
            "pending 1: 1\n");
}

TEST(ScanStatus, NumberRangesAndProgressLine) {
  EXPECT_EQ(number_ranges({}), "");
  EXPECT_EQ(number_ranges({1, 2, 3, 5, 7, 8}), "1-3,5,7-8");
  EXPECT_EQ(progress_line(2, 4, 1000, 2000, 0, 0.0), "chunks 2/4, markers 1000/2000");
  EXPECT_EQ(progress_line(2, 4, 1000, 2000, 500, 60.0), "chunks 2/4, markers 1000/2000, 500 markers/min, 2m00s left");
  EXPECT_EQ(progress_line(1, 400, 500, 200000, 500, 30.0),
            "chunks 1/400, markers 500/200000, 1000 markers/min, 3h19m left");
}

// A run of four markers: 1 and 3 analysed, 2 nobody typed, 4 rare; the
// alternative search of marker 3 found no maximum.
class RunResultFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    write_file(dir_.path() / "lod.out",
               "   1 -0.167939E+02 -0.101901E+02    0.2871E+01\n"
               "   3 -0.772845E+01 -0.772845E+01   -0.2865E-06\n");
    write_file(dir_.path() / "est.out",
               "   1 0.465719E+00 0.132232E+01 0.132038E+01 0.132148E+01 0.672475E+00-0.161274E-03\n"
               "   1 0.257460E+00 0.719046E+00 0.210840E+01 0.719032E+00 0.197236E+00-0.237056E-05\n"
               "   3 0.465719E+00 0.132232E+01 0.132038E+01 0.132148E+01 0.672475E+00-0.161274E-03\n"
               "   3 0.478237E+00 0.132264E+01 0.132023E+01 0.132138E+01 0.672491E+00-0.134393E-03\n");
  }
  RunResults read(const std::optional<std::string>& errors) {
    return read_run_results(dir_.path() / "lod.out", dir_.path() / "est.out", errors, 4);
  }
  std::vector<ResultRow> rows(const RunResults& run) {
    std::vector<ResultRow> rows(5);
    for (std::size_t i = 0; i < rows.size(); ++i)
      rows[i].marker = MarkerRow{"1", 1000 * static_cast<long long>(i), 0.5, "rs" + std::to_string(i), "A", "G", 1.0 / 3, 9};
    fill_results(rows, 1, run, {9, 0, 9, 9}, {0, 0, 2, 0});
    return rows;
  }
  ScratchDir dir_;
};

TEST_F(RunResultFiles, EstimatesOfTouchingFieldsAndWarningsAreRead) {
  const RunResults run = read(std::string("note\nwarning: marker 3, alternative hypothesis: no maximum within 50 "
                                          "iterations (maxpar.inp); the best point found is reported\n"));
  ASSERT_EQ(run.analysed.size(), 2u);
  const MarkerResult& m1 = run.analysed.at(1);
  EXPECT_EQ(m1.lod, 2.871);
  ASSERT_TRUE(m1.null_estimates && m1.alternative_estimates);
  EXPECT_EQ((*m1.null_estimates)[4], 0.672475);
  EXPECT_EQ((*m1.null_estimates)[5], -0.161274e-3);
  EXPECT_EQ((*m1.alternative_estimates)[1], 0.719046);
  EXPECT_EQ(run.alternative_short, std::set<int>{3});
  EXPECT_TRUE(run.null_short.empty());
}

TEST_F(RunResultFiles, EachMarkerGetsItsStatusAndSearchOutcome) {
  const std::vector<ResultRow> r = rows(read(std::string("warning: marker 3, alternative hypothesis: no maximum\n")));
  EXPECT_EQ(r[0].status, "");  // before the run's first marker: untouched
  EXPECT_EQ(r[1].status, "analysed");
  EXPECT_EQ(r[2].status, "untyped");
  EXPECT_EQ(r[3].status, "analysed");
  EXPECT_EQ(r[4].status, "rare");
  EXPECT_EQ(r[3].mendel_reset, 2);
  EXPECT_EQ(r[1].alternative_maximum_found, true);
  EXPECT_EQ(r[3].null_maximum_found, true);
  EXPECT_EQ(r[3].alternative_maximum_found, false);
  EXPECT_FALSE(r[2].alternative_maximum_found.has_value());
  // Without the program's standard error nobody knows whether the searches ended well.
  EXPECT_FALSE(rows(read(std::nullopt))[3].alternative_maximum_found.has_value());
}

TEST_F(RunResultFiles, TableHasOneHeaderAndFullPrecisionOrNA) {
  const std::vector<ResultRow> r = rows(read(std::string()));
  const std::string text = results_table_text({r[1], r[2]});
  std::istringstream in(text);
  std::string header, analysed, untyped;
  std::getline(in, header);
  std::getline(in, analysed);
  std::getline(in, untyped);
  EXPECT_EQ(header.rfind("chr\tpos\tcm\tid\ta1\ta2\tfreq\ttyped\tmendel_reset\tstatus\tlnl0\tlnl1\tlod\tnull_gene_freq", 0), 0u);
  EXPECT_EQ(std::count(header.begin(), header.end(), '\t'), 28);
  EXPECT_EQ(std::count(analysed.begin(), analysed.end(), '\t'), 28);
  EXPECT_EQ(analysed.rfind("1\t1000\t0.5\trs1\tA\tG\t0.3333333333333333\t9\t0\tanalysed\t-16.7939\t-10.1901\t2.871\t0.465719\t", 0),
            0u)
      << analysed;
  EXPECT_EQ(header.substr(header.size() - 48), "null_maximum_found\talt_maximum_found\tmode\treason");
  EXPECT_EQ(analysed.substr(analysed.size() - 13), "yes\tyes\tNA\tNA");
  EXPECT_NE(untyped.find("\tuntyped\tNA\tNA\tNA\t"), std::string::npos) << untyped;
}

TEST(ScanEstimates, AMalformedLineIsNamed) {
  const ScratchDir dir;
  write_file(dir.path() / "lod.out", "   1 -0.167939E+02 -0.101901E+02    0.2871E+01\n");
  write_file(dir.path() / "est.out", "   1 0.465719E+00 0.132232E+01 0.1320x8E+01 0.132148E+01 0.672475E+00-0.161274E-03\n");
  const std::string error = error_of([&] { read_run_results(dir.path() / "lod.out", dir.path() / "est.out", {}, 1); });
  EXPECT_NE(error.find("est.out:1: estimate 3 is not a number"), std::string::npos) << error;
}

// A marker id names the file of its carrier probabilities inside the scan folder, whatever it holds.
TEST(ScanFolderNames, PosteriorFileOfAMarkerStaysInTheFolder) {
  const ScanFolder folder{"out"};
  const std::pair<std::string, std::string> cases[] = {
      {"", "posteriors.tsv"}, {"rs3", "posteriors_rs3.tsv"}, {"1/123:A/G", "posteriors_1_123:A_G.tsv"},
      {"../x", "posteriors_.._x.tsv"}, {"a b\tc", "posteriors_a_b_c.tsv"}};
  for (const auto& [id, name] : cases) {
    EXPECT_EQ(folder.posteriors(id), fs::path("out") / name) << id;
    EXPECT_EQ(folder.posteriors(id).parent_path(), fs::path("out")) << id;
  }
}

TEST(ScanPlot, ChromosomesInGenomeOrder) {
  std::vector<std::string> names{"X", "chr10", "2", "MT", "1", "chr2b", "22"};
  std::sort(names.begin(), names.end(), chromosome_before);
  EXPECT_EQ(names, (std::vector<std::string>{"1", "2", "chr10", "22", "MT", "X", "chr2b"}));
}

double attribute_after(const std::string& svg, const std::string& anchor, const std::string& name) {
  const std::size_t at = svg.find(anchor);
  const std::size_t value = svg.find(name + "=\"", at) + name.size() + 2;
  return std::stod(svg.substr(value));
}

TEST(ScanPlot, ChromosomesSideBySideWithTheHighestPeaksNamed) {
  std::vector<ResultRow> rows;
  const auto add = [&](const char* chr, long long pos, const char* id, std::optional<double> lod) {
    ResultRow row;
    row.marker = MarkerRow{chr, pos, 0, id, "1", "2", 0.5, 10};
    if (lod) row.result = MarkerResult{-10, -10 + *lod, *lod, {}, {}, {}, {}};
    rows.push_back(row);
  };
  add("2", 500, "b1", 0.5);
  add("2", 900, "b2", 4.5);
  add("1", 100, "a1", 1.0);
  add("1", 300, "a2", -3.0);
  add("1", 400, "a3", std::nullopt);  // not analysed: not drawn
  add("X", 100, "x1", 2.0);
  const std::string svg = render_genome_svg(rows, "scan");
  EXPECT_LT(svg.find("data-chr=\"1\""), svg.find("data-chr=\"2\""));
  EXPECT_LT(svg.find("data-chr=\"2\""), svg.find("data-chr=\"X\""));
  EXPECT_NE(svg.find("data-chr=\"1\" fill=\"none\" stroke=\"#263238\""), std::string::npos);
  EXPECT_NE(svg.find("data-chr=\"2\" fill=\"none\" stroke=\"#1e88e5\""), std::string::npos);
  EXPECT_LT(attribute_after(svg, "data-chr=\"1\"", "x"), attribute_after(svg, "data-chr=\"2\"", "x"));
  EXPECT_NE(svg.find(">b2 (LOD 4.5)</text>"), std::string::npos);
  EXPECT_NE(svg.find(">x1 (LOD 2)</text>"), std::string::npos);
  EXPECT_NE(svg.find(">a1 (LOD 1)</text>"), std::string::npos);
  EXPECT_EQ(svg.find(">b1 ("), std::string::npos);  // one peak per chromosome
  EXPECT_EQ(svg.find("a3"), std::string::npos);
  EXPECT_NE(svg.find("data-lod=\"3\""), std::string::npos);
  EXPECT_NE(svg.find("data-lod=\"-2\""), std::string::npos);
}

// One chromosome: its positions in Mb on the axis; a LOD near the largest
// double and a failed marker's LOD that is not a number draw no "nan".
TEST(ScanPlot, OneChromosomeHasAnAxisInMegabasesAndHugeOrFailedLodsNoNan) {
  std::vector<ResultRow> rows;
  for (int m = 0; m < 5; ++m) {
    ResultRow row;
    row.marker = MarkerRow{"7", 1'000'000LL * (m + 1), 0, "m" + std::to_string(m), "1", "2", 0.5, 10};
    const double lod = m == 2 ? 1.7e308 : 0.5 * m;
    row.result = MarkerResult{-10, -10 + lod, lod, {}, {}, {}, {}};
    row.status = "analysed";
    rows.push_back(row);
  }
  rows[4].result->lod = std::nan("");
  rows[4].status = "failed";
  const std::string svg = render_genome_svg(rows, "one chromosome");
  EXPECT_NE(svg.find(">position on chromosome 7 (Mb)</text>"), std::string::npos);
  for (const char* label : {"\">1</text>", "\">2.5</text>", "\">4</text>"})
    EXPECT_NE(svg.find(label), std::string::npos) << label;
  EXPECT_EQ(svg.find("chromosome-name"), std::string::npos);
  EXPECT_EQ(svg.find("nan"), std::string::npos) << svg.substr(svg.find("nan") - 20, 40);
  EXPECT_EQ(svg.find("inf"), std::string::npos);
  rows[0].marker.chromosome = "8";
  EXPECT_NE(render_genome_svg(rows, "two").find(">chromosome</text>"), std::string::npos);
}

// Markers handed over as a list, for the preparation.
class ListedMarkers final : public bravik::genotypes::GenotypeSource {
 public:
  using Marker = std::pair<bravik::genotypes::MarkerInfo, std::vector<std::uint8_t>>;
  explicit ListedMarkers(std::vector<Marker> markers) : markers_(std::move(markers)) {}
  bool next(bravik::genotypes::MarkerInfo& info, std::span<std::uint8_t> codes) override {
    if (next_ == markers_.size()) return false;
    info = markers_[next_].first;
    std::copy(markers_[next_].second.begin(), markers_[next_].second.end(), codes.begin());
    ++next_;
    return true;
  }
  std::size_t persons_held() const override { return 5; }

 private:
  std::vector<Marker> markers_;
  std::size_t next_ = 0;
};

TEST(ScanPrepare, KeepsAutosomalMarkersInPedigreeOrderAndSaysWhatItDropped) {
  const ScratchDir dir;
  // Families interleaved in the file, so that pedigree order differs from it.
  const bravik::genotypes::LoadedPedigree persons{bravik::tools::parse_pedigree_text(
      "F c 1 2 1 0.5\nG 9 0 0 1 0.1\nF 1 0 0 1 1.5\nF 2 0 0 2 x\nG 8 9 0 1 0.2\n", "ped.txt"), {}};
  const auto marker = [](const char* chr, long long pos, const char* id, std::vector<std::uint8_t> codes) {
    bravik::genotypes::MarkerInfo info;
    info.chromosome = chr;
    info.position = pos;
    info.id = id;
    info.allele1 = "A";
    info.allele2 = "C";
    return ListedMarkers::Marker{info, std::move(codes)};
  };
  ListedMarkers source({marker("2", 500, "m1", {2, 1, 3, 0, 0}), marker("X", 10, "mx", {1, 1, 1, 1, 1}),
                        marker("1", 900, "m2", {1, 1, 1, 2, 0})});
  PrepareSettings settings;
  settings.chunk_size = 1;
  const std::string error = error_of([&] { prepare_scan(persons, source, settings, dir.path() / "scan"); });
  EXPECT_NE(error.find("ped.txt:5: family G, person 8: only one parent known"), std::string::npos) << error;
  EXPECT_FALSE(fs::exists(dir.path() / "scan" / "plan.txt"));

  const bravik::genotypes::LoadedPedigree fixed{bravik::tools::parse_pedigree_text(
      "F c 1 2 1 0.5\nG 9 0 0 1 0.1\nF 1 0 0 1 1.5\nF 2 0 0 2 x\nG 8 0 0 1 0.2\n", "ped.txt"), {}};
  ListedMarkers again({marker("2", 500, "m1", {2, 1, 3, 0, 0}), marker("X", 10, "mx", {1, 1, 1, 1, 1}),
                       marker("1", 900, "m2", {1, 1, 1, 2, 0})});
  const PrepareReport report = prepare_scan(fixed, again, settings, dir.path() / "scan");
  const std::string& summary = report.summary;
  EXPECT_NE(summary.find("markers_read 3\nmarkers_kept 2\ndropped 1 non-autosomal\n"), std::string::npos) << summary;
  EXPECT_NE(report.notes.find("note: 1 markers come before the marker read ahead of them in genome order"),
            std::string::npos)
      << report.notes;
  const ScanFolder folder{dir.path() / "scan"};
  EXPECT_EQ(read_file(folder.markers()),
            "chr\tpos\tcm\tid\ta1\ta2\tfreq\ttyped\n"
            "2\t500\t0\tm1\tA\tC\t0.5\t3\n"
            "1\t900\t0\tm2\tA\tC\t0.875\t4\n");
  const Plan plan = read_plan(folder.plan().string());
  EXPECT_EQ(plan.markers, 2);
  EXPECT_EQ(plan.chunks.size(), 2u);
  EXPECT_EQ(plan.chunks[1].from, "1:900");
  // Pedigree order: family F (rows 0, 2, 3), then G's founders, who form no
  // nuclear family, in the family of unattached persons (rows 1, 4).
  const PackedGenotypeBlock block(folder.genotypes(), 5, 2, 0, 2);
  std::vector<std::uint8_t> first_marker, second_marker;
  for (std::size_t i = 0; i < 5; ++i) {
    first_marker.push_back(block.code(0, i));
    second_marker.push_back(block.code(1, i));
  }
  EXPECT_EQ(first_marker, (std::vector<std::uint8_t>{2, 3, 0, 1, 0}));
  EXPECT_EQ(second_marker, (std::vector<std::uint8_t>{1, 1, 2, 1, 0}));
  EXPECT_TRUE(fs::exists(folder.input() / "par.inp"));
  EXPECT_FALSE(fs::exists(folder.input() / "mark.dat"));
  EXPECT_NE(error_of([&] { prepare_scan(fixed, again, settings, dir.path() / "scan"); }).find("holds a prepared scan already"),
            std::string::npos);
}

}  // namespace

// Replicate tasks and genome-wide significance without program runs: task
// numbers, the simulation's plan, a chunk's chromosome maxima, p_genome and
// the empirical thresholds.
#include <gtest/gtest.h>

#include <cmath>

#include "pedfile/input_error.hpp"
#include "scan/significance.hpp"
#include "scan/simulation.hpp"
#include "test_support.hpp"

namespace {

using namespace bravik::scan;
using bravik::testing::ScratchDir;
using bravik::testing::write_file;

Plan plan_of(int chunks, int size) {
  Plan plan;
  plan.markers = static_cast<long>(chunks) * size;
  plan.chunk_size = size;
  plan.chunks = cut_into_chunks(plan.markers, size, [](long m) { return std::to_string(m); });
  return plan;
}

TEST(ReplicateTasks, FollowTheDataChunksReplicateAfterReplicate) {
  const Plan plan = plan_of(3, 4);
  const Simulation simulation{5, 1, AnalysisMode::robust};
  EXPECT_EQ(task_count(plan, std::nullopt), 3);
  EXPECT_EQ(task_count(plan, simulation), 18);
  struct Case {
    int task, replicate, chunk;
  };
  for (const Case c : {Case{1, 0, 1}, Case{3, 0, 3}, Case{4, 1, 1}, Case{9, 2, 3}, Case{18, 5, 3}}) {
    const TaskRef ref = task_ref(plan, simulation, c.task);
    EXPECT_EQ(ref.replicate, c.replicate) << c.task;
    EXPECT_EQ(ref.chunk, c.chunk) << c.task;
    EXPECT_EQ(task_number(plan, ref), c.task);
  }
  for (const int bad : {0, 19}) EXPECT_THROW(task_ref(plan, simulation, bad), bravik::tools::InputError) << bad;
  EXPECT_THROW(task_ref(plan, std::nullopt, 4), bravik::tools::InputError);
}

TEST(SimulationPlan, ReadsBackWhatItWroteAndNamesTheFaultyLine) {
  for (const AnalysisMode mode : {AnalysisMode::robust, AnalysisMode::classic, AnalysisMode::fixed}) {
    const Simulation s{200, 77, mode};
    const Simulation back = parse_simulation(simulation_text(s), "plan");
    EXPECT_EQ(back.replicates, 200);
    EXPECT_EQ(back.seed, 77u);
    EXPECT_EQ(back.mode, mode);
  }
  struct Bad {
    std::string text, message;
  };
  for (const Bad& b : {Bad{"bravik_scan simulation 2\n", "sim.txt:1: expected 'bravik_scan simulation 1'"},
                       Bad{"bravik_scan simulation 1\nreplicates 0\nseed 1\nmode robust\n", "replicates"},
                       Bad{"bravik_scan simulation 1\nreplicates 3\nseed 1\nmode quick\n", "sim.txt:4: mode 'quick'"},
                       Bad{"bravik_scan simulation 1\nreplicates 3\n", "sim.txt:3: the file ends before 'seed'"}}) {
    try {
      parse_simulation(b.text, "sim.txt");
      ADD_FAILURE() << b.text;
    } catch (const bravik::tools::InputError& e) {
      EXPECT_NE(std::string(e.what()).find(b.message), std::string::npos) << e.what();
    }
  }
}

std::vector<MarkerRow> markers_on(const std::vector<std::string>& chromosomes) {
  std::vector<MarkerRow> rows;
  for (std::size_t m = 0; m < chromosomes.size(); ++m)
    rows.push_back(MarkerRow{chromosomes[m], static_cast<long long>(m + 1), std::nullopt, std::string("m").append(std::to_string(m + 1)), "1", "2", 0.5, 10});
  return rows;
}

TEST(ChunkMaxima, TakeTheFirstHighestAnalysedMarkerOfEachChromosome) {
  const ScratchDir dir;
  // Markers 3 to 7 of the genome: 3 and 4 on chromosome 1, 5 to 7 on 2; marker 4 (the chunk's 2) was skipped.
  write_file(dir.path() / "lod.out",
             "   1 -0.100000E+03 -0.990000E+02    0.4343E+00\n"
             "   3 -0.100000E+03 -0.990000E+02    0.2000E+00\n"
             "   4 -0.100000E+03 -0.990000E+02    0.9000E+00\n"
             "   5 -0.100000E+03 -0.990000E+02    0.9000E+00\n");
  const std::vector<ChromosomeMaximum> maxima =
      chunk_maxima(dir.path() / "lod.out", markers_on({"1", "1", "1", "1", "2", "2", "2"}), Chunk{2, 3, 7, "", ""});
  ASSERT_EQ(maxima.size(), 2u);
  EXPECT_EQ(maxima[0].chromosome, "1");
  EXPECT_EQ(maxima[0].marker, 3);
  EXPECT_DOUBLE_EQ(maxima[0].lod, 0.4343);
  EXPECT_EQ(maxima[1].chromosome, "2");
  EXPECT_EQ(maxima[1].marker, 6);
  write_file(dir.path() / "maxima.tsv", maxima_text(maxima));
  const std::vector<ChromosomeMaximum> back = read_maxima(dir.path() / "maxima.tsv");
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[1].marker, 6);
  EXPECT_DOUBLE_EQ(back[1].lod, 0.9);
}

ReplicateSet replicates_with(const std::vector<std::vector<double>>& chromosome_maxima) {
  ReplicateSet set;
  set.chromosomes = {"1", "2"};
  int r = 0;
  for (const std::vector<double>& lods : chromosome_maxima) {
    ReplicateMaxima m{++r, {}, std::nullopt};
    for (std::size_t c = 0; c < lods.size(); ++c) {
      m.chromosomes.push_back(ChromosomeMaximum{set.chromosomes[c], static_cast<long>(c + 1), lods[c]});
      if (!m.genome || lods[c] > m.genome->lod) m.genome = m.chromosomes.back();
    }
    set.complete.push_back(m);
  }
  return set;
}

TEST(Significance, PGenomeCountsReplicatesAtOrAboveWithThePlusOneCorrection) {
  const std::vector<double> maxima = {0.5, 1.0, 1.5, 2.0, 2.5, 3.0, 3.5, 4.0, 4.5};
  struct Case {
    double lod, p;
  };
  for (const Case c : {Case{5.0, 0.1}, Case{4.5, 0.2}, Case{2.2, 0.6}, Case{0.5, 1.0}, Case{-1.0, 1.0}})
    EXPECT_DOUBLE_EQ(genome_p_value(c.lod, maxima), c.p) << c.lod;
}

TEST(Significance, ThresholdsAreTheFivePercentPointAndTheOncePerScanLevel) {
  // 40 replicates: genome-wide maxima 0.1 .. 4.0 on chromosome 1, chromosome 2 below all of them.
  std::vector<std::vector<double>> lods;
  for (int r = 1; r <= 40; ++r) lods.push_back({0.1 * r, 0.001 * r});
  const Thresholds t = empirical_thresholds(replicates_with(lods));
  EXPECT_EQ(t.replicates, 40);
  EXPECT_DOUBLE_EQ(t.significant.lod, 0.1 * 39);  // the 2nd highest of 40: 2 of 40 reach it
  // 80 chromosome maxima: the 40th highest is the lowest maximum of chromosome 1.
  EXPECT_DOUBLE_EQ(t.suggestive.lod, 0.1);
  EXPECT_GT(t.significant.standard_error, 0.0);
  EXPECT_LT(t.significant.standard_error, 1.0);
  const std::string text = thresholds_text(t, Simulation{40, 3, AnalysisMode::classic});
  EXPECT_NE(text.find("from 40 replicates (classic mode, seed 3)"), std::string::npos) << text;
  EXPECT_NE(text.find("LOD 3.900"), std::string::npos) << text;
}

TEST(Significance, ColumnJoinsTheTableRowByRow) {
  EXPECT_EQ(with_column("a\tb\n1\t2\n3\t4\n", "p_genome", {0.25, std::nullopt}), "a\tb\tp_genome\n1\t2\t0.25\n3\t4\tNA\n");
}

}  // namespace

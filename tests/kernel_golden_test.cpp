// The three reference runs: for every marker, the null (theta 0.5) and the
// alternative log-likelihood of an independent computation without peeling.
// The kernel must reproduce them with either description of the pedigree,
// and so must the plain sum that the random tests rely on.
#include <gtest/gtest.h>

#include <cmath>

#include "model/freq.hpp"
#include "tests/kernel_fixture.hpp"
#include "tests/kernel_reference.hpp"

namespace kerneltest {
namespace {

struct ReferenceRun {
  const char* name;
  // Families with their traits; markers are filled per marker.
  std::vector<Family> families;
  std::vector<std::vector<NuclearFamily>> alternative;  // another description, family by family
  std::vector<std::vector<int>> markers;                // per global person, one code per marker
  Parameters parameters;
  bool polygenic;
  std::vector<std::array<double, 2>> expected;  // null and alternative per marker
};

std::vector<Person> traits(std::initializer_list<double> values) {
  std::vector<Person> persons;
  for (double y : values) persons.push_back({y, 0});
  return persons;
}

std::vector<ReferenceRun> reference_runs() {
  std::vector<ReferenceRun> runs;
  runs.push_back({"nuclear",
                  {{traits({2.3, 0.4, 1.9, 0.2}), {nuclear({1, 2, 3, 4}, 0)}}},
                  {},
                  {{2, 2, 2}, {1, 2, 2}, {1, 3, 0}, {2, 1, 1}},
                  {0.3, 2.0, 1.0, 0.0, 0.1, 1.0, 0.2, 0.0, 0.0},
                  true,
                  {{-5.308234248443771, -5.272594096903167},
                   {-6.524629572768266, -6.462943045800938},
                   {-5.373901282961142, -5.37390128296114}}});
  runs.push_back({"threegen",
                  {{traits({1.8, -0.3, 2.1, 0.9, -999, 1.7, 2.6}), {nuclear({1, 2, 3, 4}, 3), nuclear({5, 3, 6, 7}, 0)}}},
                  {{nuclear({5, 3, 6, 7}, 3), nuclear({1, 2, 3, 4}, 0)}},
                  {{2, 1, 2, 0}, {1, 3, 1, 2}, {2, 2, 1, 1}, {2, 2, 2, 2}, {1, 2, 1, 1}, {1, 2, 1, 1}, {2, 2, 1, 0}},
                  {0.25, 2.0, 1.0, 0.0, 0.05, 0.5, 0.15, 0.0, 0.0},
                  true,
                  {{-8.966856237641151, -8.793315632572709},
                   {-8.8043208082795, -8.8305759941761},
                   {-7.362101273111433, -7.451918018665047},
                   {-7.147449842610767, -7.109425020181191}}});
  // Parameter 3 is tied to parameter 2 (11.0 replaces 10.0); the polygenic
  // step is 0, so one class is used.
  runs.push_back({"twofam",
                  {{traits({10.2, 9.1, 11.5, -999}), {nuclear({1, 2, 3, 4}, 0)}},
                   {traits({12.0, 8.8, 10.9, -10000000, 9.5, 11.8}), {nuclear({1, 2, 3}, 3), nuclear({3, 4, 5, 6}, 0)}}},
                  {{nuclear({1, 2, 3, 4}, 0)}, {nuclear({3, 4, 5, 6}, 3), nuclear({1, 2, 3}, 0)}},
                  {{1, 2}, {2, 2}, {1, 3}, {2, 1}, {2, 2}, {1, 1}, {2, 2}, {1, 1}, {1, 2}, {2, 0}},
                  {0.4, 11.0, 11.0, 9.0, 0.2, 1.0, 0.0, 0.0, 0.0},
                  false,
                  {{-12.714132426438521, -12.357830051863168}, {-13.920807346791605, -14.075134401961416}}});
  return runs;
}

std::vector<Family> with_marker(std::vector<Family> families, const std::vector<std::vector<int>>& markers, std::size_t t) {
  std::size_t person = 0;
  for (Family& family : families) {
    for (Person& p : family.persons) p.marker = markers[person++][t];
  }
  return families;
}

// The marker allele frequencies as the run estimates them, by gene counting.
void estimate_marker_frequencies(bravik::Model& model, Parameters& parameters) {
  int notyp = 1;
  bravik::freq(model, parameters.p1, parameters.p2, notyp);
  ASSERT_EQ(notyp, 0);
  model.optpar1.par(8) = parameters.p1;
  model.optpar1.par(9) = parameters.p2;
}

void check_run(const ReferenceRun& run, bool alternative_description) {
  textio::Channels io;
  bravik::Model& model = shared_model();
  const int npol = run.polygenic ? bravik::N_POL : 1;
  for (std::size_t t = 0; t < run.expected.size(); ++t) {
    std::vector<Family> families = with_marker(run.families, run.markers, t);
    if (alternative_description) {
      for (std::size_t f = 0; f < families.size(); ++f) families[f].nuclear = run.alternative[f];
    }
    for (int hypothesis = 0; hypothesis < 2; ++hypothesis) {
      SCOPED_TRACE(std::string(run.name) + " marker " + std::to_string(t + 1) + (hypothesis == 0 ? " null" : " alternative"));
      Parameters p = run.parameters;
      p.theta = hypothesis == 0 ? 0.5 : run.parameters.theta;
      prepare(model, families, p, run.polygenic);
      estimate_marker_frequencies(model, p);
      const double expected = run.expected[t][static_cast<std::size_t>(hypothesis)];
      EXPECT_NEAR(evaluate(model, io), expected, 1e-12 * std::fabs(expected));
      if (!alternative_description) {
        EXPECT_NEAR(reference::log_likelihood(families, p, npol), expected, 1e-12 * std::fabs(expected));
      }
    }
  }
}

TEST(KernelGolden, ReferenceRunsMatchWithTheirDescription) {
  for (const ReferenceRun& run : reference_runs()) check_run(run, false);
}

TEST(KernelGolden, ReferenceRunsMatchWithTheAlternativeConnectors) {
  for (const ReferenceRun& run : reference_runs()) {
    if (!run.alternative.empty()) check_run(run, true);
  }
}

}  // namespace
}  // namespace kerneltest

// The fast kernel against the literal one, bit for bit: every evaluation here
// runs both on the same model and compares the totals (the same bits, or both
// not-a-number) and the first family whose value is not finite, with the fast
// kernel on every machine path that the machine runs and on 1, 2 and 3 threads.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ostream>
#include <set>

#include "model/fast/fast_family.hpp"
#include "model/objective/genmmp.hpp"
#include "program_runner.hpp"
#include "run/kernel_environment.hpp"
#include "run_folder_support.hpp"
#include "tests/kernel_fixture.hpp"
#include "tests/kernel_shapes.hpp"
#include "textio/run_end.hpp"

namespace bravik::testing {
namespace {

using kerneltest::Random;

bool same_value(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

std::string shown(double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%.17g (%a)", v, v);
  return text;
}

struct Outcome {
  double value;
  int first_nonfinite_family;
};

Outcome evaluate_with(Model& model, textio::Channels& io, KernelChoice kernel, int threads, int ifirst,
                      MachinePath path = MachinePath::widest) {
  model.kernel = kernel;
  model.threads = threads;
  model.path = path;
  model.imax.ifirst = ifirst;
  double value = 0.0;
  genmmp(model, io, value);
  return {value, model.first_nonfinite_family};
}

// Leaves the shared model with the fast kernel on one thread and the widest
// path, as the other tests expect it.
class KernelScope {
 public:
  explicit KernelScope(Model& model) : model_(model) {}
  ~KernelScope() {
    model_.kernel = KernelChoice::fast;
    model_.threads = 1;
    model_.path = MachinePath::widest;
  }
  KernelScope(const KernelScope&) = delete;
  KernelScope& operator=(const KernelScope&) = delete;

 private:
  Model& model_;
};

// The literal kernel, then the fast one on every path the machine runs and
// on 1, 2 and 3 threads, at the same parameters; ifirst -1 starts a series
// (stap0), 1 continues it (stapar). Returns the literal value.
double expect_same_as_literal(Model& model, textio::Channels& io, int ifirst, const std::string& what) {
  static const std::vector<MachinePath> paths = runnable_paths();
  const Outcome literal = evaluate_with(model, io, KernelChoice::reference, 1, ifirst);
  for (const MachinePath path : paths) {
    for (int threads : {1, 2, 3}) {
      const Outcome fast = evaluate_with(model, io, KernelChoice::fast, threads, ifirst, path);
      const std::string run = what + ", " + std::string(path_name(path)) + ", " + std::to_string(threads) + " threads";
      EXPECT_TRUE(same_value(literal.value, fast.value))
          << run << ": literal " << shown(literal.value) << ", fast " << shown(fast.value);
      EXPECT_EQ(literal.first_nonfinite_family, fast.first_nonfinite_family) << run;
    }
  }
  return literal.value;
}

// ---------------------------------------------------------------------------
// Small pedigrees of every shape, each under all its descriptions.

TEST(FastKernel, EveryShapeAndDescriptionUnderRandomParameters) {
  using namespace kerneltest;
  textio::Channels io;
  Model& model = shared_model();
  const KernelScope scope(model);
  Random random(20240607);
  for (const Shape& shape : all_shapes()) {
    for (int draw = 0; draw < 6; ++draw) {
      const Parameters p = random_parameters(random);
      std::vector<int> truth;
      Family family{random_persons(shape, p, random, truth), {}};
      const bool polygenic = draw % 3 != 2;
      for (std::size_t d = 0; d < shape.descriptions.size(); ++d) {
        family.nuclear = shape.descriptions[d];
        prepare(model, {family}, p, polygenic);
        expect_same_as_literal(model, io, -1,
                               shape.name + ", draw " + std::to_string(draw) + ", description " + std::to_string(d));
      }
    }
  }
}

// Many families in one evaluation, so that every thread takes several, with
// random descriptions, some families untyped and some impossible.
TEST(FastKernel, ManySmallFamiliesWithUntypedAndImpossibleOnes) {
  using namespace kerneltest;
  textio::Channels io;
  Model& model = shared_model();
  const KernelScope scope(model);
  Random random(77);
  const std::vector<Shape> shapes = all_shapes();
  for (int draw = 0; draw < 8; ++draw) {
    const Parameters p = random_parameters(random);
    std::vector<Family> families;
    for (int f = 0; f < 25; ++f) {
      const Shape& shape = shapes[static_cast<std::size_t>(random.integer(0, static_cast<int>(shapes.size()) - 1))];
      std::vector<int> truth;
      Family family{random_persons(shape, p, random, truth), {}};
      family.nuclear = shape.descriptions[static_cast<std::size_t>(
          random.integer(0, static_cast<int>(shape.descriptions.size()) - 1))];
      if (random.chance(0.2)) {
        for (Person& person : family.persons) person.marker = 0;
      }
      // Both parents of the first nuclear family 11, a child 22: no genotype is left.
      if (!family.nuclear.empty() && random.chance(0.1)) {
        const std::vector<int>& m = family.nuclear.front().members;
        family.persons[static_cast<std::size_t>(m[0] - 1)].marker = 1;
        family.persons[static_cast<std::size_t>(m[1] - 1)].marker = 1;
        family.persons[static_cast<std::size_t>(m[2] - 1)].marker = 3;
      }
      families.push_back(family);
    }
    prepare(model, families, p, draw % 4 != 3);
    expect_same_as_literal(model, io, -1, "draw " + std::to_string(draw));
  }
}

// ---------------------------------------------------------------------------
// Whole data sets: the golden run folders and simulated ones of every
// structure, every marker, both hypotheses, random parameter vectors and the
// edge cases.

std::filesystem::path source_path(const std::string& relative) {
  return std::filesystem::path(BRAVIK_SOURCE_DIR) / relative;
}

// A parameter vector near the starting point: every parameter fixed (so no
// bound rejects it), the means kept in order.
void draw_parameters(Model& model, const SavedStart& start, Random& random) {
  optpar1_block& o = model.optpar1;
  for (int i = 1; i <= 7; ++i) o.ifree(i) = 0;
  o.par(1) = random.uniform(0.02, 0.98);
  const double spread = std::sqrt(std::fabs(start.par0(6))) + 0.1;
  o.par(2) = start.par0(2) + random.uniform(-spread, spread);
  o.par(4) = o.par(2) - random.uniform(0.0, 3.0 * spread);
  o.par(3) = random.uniform(o.par(4) - spread, o.par(2) + spread);
  o.par(6) = std::fabs(start.par0(6)) * random.uniform(0.05, 3.0) + 1e-3;
  o.par(7) = random.chance(0.2) ? 0.0 : random.uniform(-1.0, 1.0) * spread;
}

// One class of weight 1, as the programs switch the polygenic component off.
void polygenic_off(Model& model) {
  model.pg.npol = 1;
  model.prpar.wpol(1) = 1.0;
}

void polygenic_on(Model& model) {
  model.pg.npol = N_POL;
  set_class_weights(model);
}

// Every family's first person gets a trait not measured (-999), its second
// one skipped entirely (-10,000,000).
void blank_some_traits(Model& model) {
  const Pedigree& ped = model.ped;
  for (int f = 1; f <= ped.buf1.nfam; ++f) {
    const int first = ped.buf1.ifst(f) + 1;
    const int persons = ped.buf1.ifst(f + 1) - ped.buf1.ifst(f);
    if (persons >= 1) model.ped.buf2.yph(first) = -999.0;
    if (persons >= 2) model.ped.buf2.yph(first + 1) = -10'000'000.0;
  }
}

// The marker column of family f emptied.
void untype_family(Model& model, int f) {
  for (int p = model.ped.buf1.ifst(f) + 1; p <= model.ped.buf1.ifst(f + 1); ++p) model.ped.buf2.mgt(p, 0) = 0;
}

// In the first nuclear family of family f both parents 11 and the first child 22.
void make_family_impossible(Model& model, int f) {
  const Pedigree& ped = model.ped;
  const int i = ped.buf3.inuc(f) + 1;
  if (i > ped.buf3.inuc(f + 1) || ped.buf14.imem(i + 1) - ped.buf14.imem(i) < 3) return;
  const int offset = ped.buf1.ifst(f);
  model.ped.buf2.mgt(offset + ped.buf16.mem(ped.buf14.imem(i)), 0) = 1;
  model.ped.buf2.mgt(offset + ped.buf16.mem(ped.buf14.imem(i) + 1), 0) = 1;
  model.ped.buf2.mgt(offset + ped.buf16.mem(ped.buf14.imem(i) + 2), 0) = 3;
}

// Every analysed marker, both hypotheses, with and without the polygenic
// component, then `draws` random vectors within each series.
void compare_run_folder(const std::filesystem::path& folder, int draws, std::uint32_t seed) {
  textio::Channels io;
  Model& model = kerneltest::shared_model();
  const KernelScope scope(model);
  load_run_folder(model, io, folder);
  SavedStart start;
  start.save(model.optpar1, model.imax.npar);
  Random random(seed);
  const std::string name = folder.filename().string();
  for (int t = 1; t <= model.ped.nmark; ++t) {
    start.restore(model.optpar1, model.imax.npar);
    if (!select_analysed_marker(model, t)) continue;
    for (const bool polygenic : {true, false}) {
      for (const double theta : {0.5, start.par0(5)}) {
        model.optpar1.par(5) = theta;
        polygenic ? polygenic_on(model) : polygenic_off(model);
        const std::string what = name + " marker " + std::to_string(t) + " theta " + std::to_string(theta) +
                                 (polygenic ? ", 7 classes" : ", one class");
        expect_same_as_literal(model, io, -1, what);
        for (int d = 0; d < draws; ++d) {
          draw_parameters(model, start, random);
          expect_same_as_literal(model, io, 1, what + " draw " + std::to_string(d));
        }
      }
    }
  }
}

TEST(FastKernel, GoldenDataSets) {
  for (const char* folder : {"tests/golden/nuclear", "tests/golden/threegen", "tests/golden/twofam"}) {
    compare_run_folder(source_path(folder), 6, 11);
  }
}

struct SimulatedCase {
  tools::Structure structure;
  int families;
  bool untyped_grandparents;
};

void PrintTo(const SimulatedCase& c, std::ostream* out) {
  *out << c.families << " " << tools::structure_name(c.structure) << " families"
       << (c.untyped_grandparents ? ", grandparents untyped" : "");
}

class FastKernelSimulated : public ::testing::TestWithParam<SimulatedCase> {};

TEST_P(FastKernelSimulated, EveryMarkerAndRandomVectors) {
  const SimulatedCase c = GetParam();
  const WorkFolder work(std::string("fast-kernel-") + tools::structure_name(c.structure));
  tools::SimulationModel sim;
  sim.theta = {0.0, 0.1, 0.5};
  sim.untyped_rate = 0.3;
  sim.trait_missing_rate = 0.1;
  write_simulated_folder(work.path(), c.structure, c.families, 31, sim, c.untyped_grandparents);
  compare_run_folder(work.path(), 3, 5);
}

INSTANTIATE_TEST_SUITE_P(Structures, FastKernelSimulated,
                         ::testing::Values(SimulatedCase{tools::Structure::nuclear, 30, false},
                                           SimulatedCase{tools::Structure::large, 8, false},
                                           SimulatedCase{tools::Structure::threegen, 10, true},
                                           SimulatedCase{tools::Structure::fourgen, 6, false},
                                           SimulatedCase{tools::Structure::disjoint, 12, false},
                                           SimulatedCase{tools::Structure::mixed, 12, false}),
                         [](const ::testing::TestParamInfo<SimulatedCase>& info) {
                           return std::string(tools::structure_name(info.param.structure));
                         });

// The edge cases on one simulated data set: polygenic component off, theta
// 0 and 0.5, traits missing or skipped, untyped and impossible families,
// densities so narrow that most factors are 0 or large, and a variance of 0.
TEST(FastKernel, EdgeCasesOnSimulatedData) {
  const WorkFolder work("fast-kernel-edges");
  tools::SimulationModel sim;
  sim.theta = {0.05};
  write_simulated_folder(work.path(), tools::Structure::mixed, 14, 9, sim, true);
  textio::Channels io;
  Model& model = kerneltest::shared_model();
  const KernelScope scope(model);
  load_run_folder(model, io, work.path());
  polygenic_on(model);
  ASSERT_TRUE(select_analysed_marker(model, 1));
  for (int i = 1; i <= 7; ++i) model.optpar1.ifree(i) = 0;
  const auto series = [&](const std::string& what) {
    for (const double theta : {0.0, 0.5, 0.23}) {
      model.optpar1.par(5) = theta;
      expect_same_as_literal(model, io, -1, what + ", theta " + std::to_string(theta));
    }
  };
  series("as simulated");
  polygenic_off(model);
  series("one class");
  polygenic_on(model);
  blank_some_traits(model);
  series("traits missing and skipped");
  untype_family(model, 2);
  untype_family(model, 5);
  series("untyped families");
  make_family_impossible(model, 3);
  const double impossible = expect_same_as_literal(model, io, -1, "an impossible family");
  EXPECT_FALSE(std::isfinite(impossible));
  polygenic_off(model);
  expect_same_as_literal(model, io, -1, "an impossible family, one class");
  polygenic_on(model);
  const double variance = model.optpar1.par(6);
  for (const double narrow : {1e-4, 1e-9, 0.0}) {
    model.optpar1.par(6) = narrow;
    expect_same_as_literal(model, io, -1, "variance " + std::to_string(narrow));
  }
  model.optpar1.par(6) = variance;
}

// ---------------------------------------------------------------------------
// Whole runs: both programs write the same files and console lines with
// either kernel and any number of threads.

std::map<std::string, std::string> files_of(const std::filesystem::path& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.is_regular_file()) files[entry.path().filename().string()] = read_file(entry.path());
  }
  return files;
}

void expect_same_runs(const std::filesystem::path& input, const std::string& program) {
  const std::string label = program + " on " + input.filename().string();
  std::map<std::string, std::string> literal;
  for (const std::string& environment : {std::string("BRAVIK_KERNEL=reference"), std::string("BRAVIK_THREADS=3")}) {
    const WorkFolder work("fast-kernel-run");
    work.copy_inputs(input);
    const RunResult run = run_program(program, work.path(), environment);
    EXPECT_EQ(run.status, 0) << label << " " << environment << ": " << run.err;
    const std::map<std::string, std::string> files = files_of(work.path());
    if (literal.empty()) {
      literal = files;
      continue;
    }
    EXPECT_EQ(files, literal) << label << " with " << environment;
  }
}

TEST(FastKernelRuns, BothProgramsGiveTheSameFilesAndConsole) {
  for (const char* folder : {"tests/golden/nuclear", "tests/golden/threegen", "tests/golden/twofam"}) {
    for (const char* program : {"bravik_2point", "bravik_2point_max"}) expect_same_runs(source_path(folder), program);
  }
  // Every connector case, several threads with families to share; the
  // maximizing program's literal runs are too slow for a test here.
  const WorkFolder simulated("fast-kernel-simulated-input");
  tools::SimulationModel sim;
  sim.theta = {0.0, 0.2, 0.5};
  write_simulated_folder(simulated.path(), tools::Structure::mixed, 20, 3, sim, true);
  expect_same_runs(simulated.path(), "bravik_2point");
}

// ---------------------------------------------------------------------------
// The environment variables.

int failure_status(const char* kernel, const char* threads) {
  Model& model = kerneltest::shared_model();
  const KernelScope scope(model);
  try {
    choose_kernel(model, kernel, threads);
  } catch (const textio::RunEnd& end) {
    return end.status;
  }
  return textio::exit_normal;
}

TEST(KernelEnvironment, ChoosesTheKernelAndTheThreads) {
  Model& model = kerneltest::shared_model();
  const KernelScope scope(model);
  choose_kernel(model, nullptr, nullptr);
  EXPECT_EQ(model.kernel, KernelChoice::fast);
  EXPECT_GE(model.threads, 1);
  choose_kernel(model, "fast", "3");
  EXPECT_EQ(model.kernel, KernelChoice::fast);
  EXPECT_EQ(model.threads, 3);
  choose_kernel(model, "reference", "4");
  EXPECT_EQ(model.kernel, KernelChoice::reference);
  EXPECT_EQ(model.threads, 1);
  choose_kernel(model, "", "");
  EXPECT_EQ(model.kernel, KernelChoice::fast);
}

TEST(KernelEnvironment, RejectsUnknownValues) {
  for (const char* kernel : {"Reference", "literal", "fast "}) {
    EXPECT_EQ(failure_status(kernel, nullptr), textio::exit_input_error) << kernel;
  }
  for (const char* threads : {"0", "-2", "two", "3x", " 2", "257", "99999999999"}) {
    EXPECT_EQ(failure_status(nullptr, threads), textio::exit_input_error) << threads;
  }
  EXPECT_EQ(failure_status("reference", "256"), textio::exit_normal);
}

struct PathCase {
  const char* value;
  std::vector<MachinePath> runnable;
  int status;
  MachinePath chosen;         // when accepted
  std::string message_part;   // of the error, when rejected
};

void PrintTo(const PathCase& c, std::ostream* out) {
  *out << "BRAVIK_KERNEL_PATH=" << (c.value == nullptr ? "(unset)" : c.value) << " on a machine running";
  for (const MachinePath p : c.runnable) *out << " " << path_name(p);
}

TEST(KernelEnvironment, ChoosesOrRejectsTheMachinePath) {
  const std::vector<MachinePath> all = {MachinePath::avx512, MachinePath::avx2, MachinePath::baseline};
  const std::vector<MachinePath> no_avx512 = {MachinePath::avx2, MachinePath::baseline};
  const std::vector<MachinePath> baseline_only = {MachinePath::baseline};
  const PathCase cases[] = {
      {nullptr, all, textio::exit_normal, MachinePath::widest, ""},
      {"", baseline_only, textio::exit_normal, MachinePath::widest, ""},
      {"avx512", all, textio::exit_normal, MachinePath::avx512, ""},
      {"avx2", all, textio::exit_normal, MachinePath::avx2, ""},
      {"avx2", no_avx512, textio::exit_normal, MachinePath::avx2, ""},
      {"baseline", baseline_only, textio::exit_normal, MachinePath::baseline, ""},
      {"avx512", no_avx512, textio::exit_input_error, MachinePath::widest,
       "BRAVIK_KERNEL_PATH='avx512' is a path this machine or build cannot run (it runs avx2, baseline)\n"},
      {"avx2", baseline_only, textio::exit_input_error, MachinePath::widest,
       "BRAVIK_KERNEL_PATH='avx2' is a path this machine or build cannot run (it runs baseline)\n"},
      {"AVX2", all, textio::exit_input_error, MachinePath::widest,
       "BRAVIK_KERNEL_PATH='AVX2' is none of avx512, avx2, baseline\n"},
      {"widest", all, textio::exit_input_error, MachinePath::widest, "is none of"},
      {"sse2", all, textio::exit_input_error, MachinePath::widest, "is none of"},
      {"avx2 ", all, textio::exit_input_error, MachinePath::widest, "is none of"},
  };
  Model& model = kerneltest::shared_model();
  const KernelScope scope(model);
  for (const PathCase& c : cases) {
    model.path = MachinePath::baseline;  // so that a choice of widest shows
    int status = textio::exit_normal;
    ::testing::internal::CaptureStderr();
    try {
      choose_machine_path(model, c.value, c.runnable);
    } catch (const textio::RunEnd& end) {
      status = end.status;
    }
    const std::string message = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, c.status) << ::testing::PrintToString(c);
    if (c.status == textio::exit_normal) {
      EXPECT_EQ(model.path, c.chosen) << ::testing::PrintToString(c);
      EXPECT_EQ(message, "") << ::testing::PrintToString(c);
    } else {
      EXPECT_NE(message.find(c.message_part), std::string::npos) << ::testing::PrintToString(c) << ": " << message;
    }
  }
}

// The machine runs the baseline path always, and a path only with the
// instructions it needs (the routine of each path executes them).
TEST(KernelEnvironment, RunnablePathsAreWidestFirst) {
  const std::vector<MachinePath> paths = runnable_paths();
  ASSERT_FALSE(paths.empty());
  EXPECT_EQ(paths.back(), MachinePath::baseline);
  for (std::size_t i = 1; i < paths.size(); ++i) EXPECT_LT(paths[i - 1], paths[i]);
  for (const MachinePath p : paths) EXPECT_NE(family_routine(p), nullptr) << path_name(p);
  EXPECT_EQ(family_routine(MachinePath::widest), family_routine(paths.front()));
}

// A whole run with each path forced through the environment writes the
// files and console lines of the literal run; a path the machine cannot run
// or a name it does not know ends the run with status 2 before any output.
TEST(FastKernelRuns, EveryPathForcedThroughTheEnvironment) {
  const std::filesystem::path input = source_path("tests/golden/threegen");
  std::map<std::string, std::string> literal;
  std::vector<std::string> environments = {"BRAVIK_KERNEL=reference"};
  for (const MachinePath p : runnable_paths()) environments.push_back("BRAVIK_KERNEL_PATH=" + std::string(path_name(p)));
  for (const std::string& environment : environments) {
    const WorkFolder work("fast-kernel-path-run");
    work.copy_inputs(input);
    const RunResult run = run_program("bravik_2point", work.path(), environment);
    EXPECT_EQ(run.status, 0) << environment << ": " << run.err;
    const std::map<std::string, std::string> files = files_of(work.path());
    if (literal.empty()) {
      literal = files;
      continue;
    }
    EXPECT_EQ(files, literal) << environment;
  }
  const WorkFolder work("fast-kernel-path-rejected");
  work.copy_inputs(input);
  const RunResult run = run_program("bravik_2point", work.path(), "BRAVIK_KERNEL_PATH=sse9");
  EXPECT_EQ(run.status, textio::exit_input_error);
  EXPECT_NE(run.err.find("BRAVIK_KERNEL_PATH='sse9' is none of avx512, avx2, baseline"), std::string::npos) << run.err;
  EXPECT_EQ(run.out, "");
}

}  // namespace
}  // namespace bravik::testing

// Evaluations and time per marker of the classic and the robust maximizing
// modes on the same simulated 20-marker scans, with and without the polygenic
// component, and how far the modes' LOD scores and log-likelihoods differ.
// Usage: bravik_maximizing_benchmark [FAMILIES [STRUCTURES [MODES [CLASSES [THREADS]]]]]
//   FAMILIES    families per data set (default 40)
//   STRUCTURES  comma-separated structures of bravik_sim (default threegen,large,fourgen)
//   MODES       robust modes to run besides the classic one, which always runs first as
//               the reference, comma-separated: robust-pattern (the robust mode as the
//               programs run it, the pattern search where the polygenic step is searched
//               and the gradient search elsewhere; the default), robust-pattern-only (the
//               pattern search in every pass), robust-box (BOBYQA from its starts),
//               robust-gradient (the gradient search, LBFGS, from the starts it needs),
//               robust-slsqp and robust-mma (the same with those gradient methods), and with the fewest starts those may use (par.inp
//               and 8 for the null, the null maximum and par.inp for the alternative):
//               robust-box-min, robust-pattern-min; robust-pattern-grid adds the LOD over
//               theta on the default grid and prints its cost per marker against the
//               alternative pass's
//   CLASSES     7 (polygenic component on), 1 (off) or both (default)
//   THREADS     threads of the kernels (BRAVIK_THREADS, default 1)
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "run/marker_loop.hpp"
#include "simulated_scan.hpp"

namespace {

using namespace bravik;
namespace fs = std::filesystem;

struct Mode {
  const char* name;
  bool robust;
  LocalSearchKind local;
  bool fewest_starts = false;
  GradientMethod method = GradientMethod::lbfgs;
  bool theta_grid = false;
  bool every_pass = true;  // the local search of every pass; else the programs' choice by pass
};

struct MarkerResult {
  double null_lnl, alternative_lnl, lod;
};

// The parts of a run: null passes, alternative passes, and what follows an
// alternative pass (the LOD over theta when there is a grid).
enum Phase { null_phase, alternative_phase, after_alternative, phases };

struct Outcome {
  long evaluations = 0;
  long gradient_evaluations = 0;
  double seconds = 0.0;
  std::vector<MarkerResult> markers;
  std::array<long, phases> phase_evaluations{};
  std::array<double, phases> phase_seconds{};
};

class EvaluationCounter final : public PassObserver {
 public:
  void pass_evaluated(int, int ihyp, double) override { enter(ihyp == 1 ? null_phase : alternative_phase); }
  void pass_finished(int, int ihyp, double) override { enter(ihyp == 1 ? null_phase : after_alternative); }
  void objective_evaluated() override {
    ++count;
    ++phase_evaluations[static_cast<std::size_t>(phase)];
  }
  void gradient_evaluated() override { ++gradients; }
  void finish() { enter(null_phase); }
  long count = 0;
  long gradients = 0;
  std::array<long, phases> phase_evaluations{};
  std::array<double, phases> phase_seconds{};

 private:
  void enter(Phase next) {
    const auto now = std::chrono::steady_clock::now();
    phase_seconds[static_cast<std::size_t>(phase)] += std::chrono::duration<double>(now - since).count();
    phase = next;
    since = now;
  }
  Phase phase = null_phase;
  std::chrono::steady_clock::time_point since = std::chrono::steady_clock::now();
};

std::vector<MarkerResult> read_lod_file(const fs::path& path) {
  std::ifstream in(path);
  std::vector<MarkerResult> results;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    int imark = 0;
    MarkerResult r{};
    fields >> imark >> r.null_lnl >> r.alternative_lnl >> r.lod;
    results.push_back(r);
  }
  return results;
}

// Runs the maximizing program in a copy of the folder, its console output discarded.
Outcome run_mode(const fs::path& input, const Mode& mode) {
  const fs::path work = input.parent_path() / (input.filename().string() + "-" + mode.name);
  fs::remove_all(work);
  fs::copy(input, work);
  const fs::path previous = fs::current_path();
  fs::current_path(work);
  std::fflush(stdout);
  const int saved_stdout = dup(1);
  const int null_device = open("/dev/null", O_WRONLY);
  dup2(null_device, 1);
  RunOptions options;
  options.robust = mode.robust;
  RobustSettings& settings = options.robust_settings;
  if (mode.local == LocalSearchKind::gradient) settings = gradient_robust_settings();
  if (mode.every_pass) {
    settings.with_step.local = mode.local;
    settings.without_step = settings.with_step;
  }
  settings.gradient.method = mode.method;
  if (mode.fewest_starts) {
    for (PassSearch* search : {&settings.with_step, &settings.without_step}) {
      search->quantile_frequencies.clear();
      search->spread_starts = 8;
    }
    settings.alternative_extra_starts = 0;
    settings.from_previous_alternative = false;
  }
  if (mode.theta_grid) {
    options.theta_grid = {0.0, 0.01, 0.05, 0.1, 0.2, 0.3, 0.4};
    options.theta_table = (work / "lod_theta.tsv").string();
  }
  EvaluationCounter counter;
  const auto start = std::chrono::steady_clock::now();
  const int status = run_program(Program::maximizing, &counter, options);
  const auto end = std::chrono::steady_clock::now();
  counter.finish();
  std::fflush(stdout);
  dup2(saved_stdout, 1);
  close(saved_stdout);
  close(null_device);
  fs::current_path(previous);
  if (status != 0) std::fprintf(stderr, "%s: exit status %d\n", work.c_str(), status);
  Outcome outcome;
  outcome.evaluations = counter.count;
  outcome.gradient_evaluations = counter.gradients;
  outcome.seconds = std::chrono::duration<double>(end - start).count();
  outcome.markers = read_lod_file(work / "lod.out");
  outcome.phase_evaluations = counter.phase_evaluations;
  outcome.phase_seconds = counter.phase_seconds;
  return outcome;
}

std::vector<std::string> split(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  for (std::string word; std::getline(in, word, ',');) words.push_back(word);
  return words;
}

// How many markers' LOD scores differ by more than 0.1, and how many
// log-likelihoods of the second are below the first's by more than 1e-6.
void compare(const Outcome& classic, const Outcome& robust, int& lod_differs, int& robust_lower) {
  for (std::size_t m = 0; m < classic.markers.size() && m < robust.markers.size(); ++m) {
    const MarkerResult& c = classic.markers[m];
    const MarkerResult& r = robust.markers[m];
    if (std::fabs(c.lod - r.lod) > 0.1) ++lod_differs;
    if (r.null_lnl < c.null_lnl - 1e-6 || r.alternative_lnl < c.alternative_lnl - 1e-6) ++robust_lower;
  }
}

// The LOD over theta against the alternative passes, per marker.
void print_grid_cost(const Outcome& outcome, double markers) {
  const double alternative_ms = 1e3 * outcome.phase_seconds[alternative_phase] / markers;
  const double grid_ms = 1e3 * outcome.phase_seconds[after_alternative] / markers;
  std::printf("%-18s alternative pass %.1f evals %.1f ms/marker; theta grid %.1f evals %.1f ms/marker = %.2f "
              "alternative passes\n",
              "", static_cast<double>(outcome.phase_evaluations[alternative_phase]) / markers, alternative_ms,
              static_cast<double>(outcome.phase_evaluations[after_alternative]) / markers, grid_ms,
              grid_ms / alternative_ms);
}

}  // namespace

int main(int argc, char** argv) {
  const int families = argc > 1 ? std::atoi(argv[1]) : 40;
  const std::vector<std::string> structures = split(argc > 2 ? argv[2] : "threegen,large,fourgen");
  const std::vector<std::string> chosen = split(argc > 3 ? argv[3] : "robust-pattern");
  const std::string classes = argc > 4 ? argv[4] : "both";
  if (argc > 5) setenv("BRAVIK_THREADS", argv[5], 1);
  std::vector<Mode> modes = {{"classic", false, LocalSearchKind::box}};
  for (const Mode& mode : {Mode{"robust-gradient", true, LocalSearchKind::gradient},
                           Mode{"robust-slsqp", true, LocalSearchKind::gradient, false, GradientMethod::slsqp},
                           Mode{"robust-mma", true, LocalSearchKind::gradient, false, GradientMethod::mma},
                           Mode{"robust-box", true, LocalSearchKind::box},
                           Mode{"robust-pattern", true, LocalSearchKind::pattern, false, GradientMethod::lbfgs, false, false},
                           Mode{"robust-pattern-only", true, LocalSearchKind::pattern},
                           Mode{"robust-box-min", true, LocalSearchKind::box, true},
                           Mode{"robust-pattern-min", true, LocalSearchKind::pattern, true},
                           Mode{"robust-pattern-grid", true, LocalSearchKind::pattern, false, GradientMethod::lbfgs, true, false}})
    if (std::find(chosen.begin(), chosen.end(), mode.name) != chosen.end()) modes.push_back(mode);
  const fs::path root = fs::temp_directory_path() / ("bravik-maximizing-benchmark-" + std::to_string(getpid()));
  std::printf("%-9s %-8s %-18s %8s %12s %12s %12s %10s %14s\n", "data", "classes", "mode", "markers", "evals/marker",
              "grads/marker", "ms/marker", "time ratio", "LOD diff>0.1");
  for (const std::string& name : structures) {
    for (const bool polygenic : {true, false}) {
      if (classes != "both" && classes != (polygenic ? "7" : "1")) continue;
      testing::ScanDesign design;
      design.structure = tools::parse_structure(name);
      design.families = families;
      design.polygenic = polygenic;
      design.seed = 11;
      const fs::path input = root / (name + (polygenic ? "-7" : "-1"));
      testing::write_simulated_scan(input, design);
      Outcome classic;
      for (const Mode& mode : modes) {
        const Outcome outcome = run_mode(input, mode);
        if (!mode.robust) classic = outcome;
        const double markers = static_cast<double>(outcome.markers.size());
        int lod_differs = 0;
        int robust_lower = 0;
        compare(classic, outcome, lod_differs, robust_lower);
        std::printf("%-9s %-8s %-18s %8.0f %12.1f %12.1f %12.1f %10.2f %8d%s\n", name.c_str(), polygenic ? "7" : "1",
                    mode.name, markers, outcome.evaluations / markers, outcome.gradient_evaluations / markers,
                    1e3 * outcome.seconds / markers, outcome.seconds / classic.seconds, lod_differs,
                    robust_lower > 0 ? (" (" + std::to_string(robust_lower) + " lower)").c_str() : "");
        if (mode.theta_grid) print_grid_cost(outcome, markers);
        std::fflush(stdout);
      }
    }
  }
  fs::remove_all(root);
  return 0;
}

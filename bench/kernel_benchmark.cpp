// Time of one evaluation of the objective with the literal kernel and with
// the fast one (one thread and two, on every machine path that the machine
// runs: AVX-512, AVX2, baseline), with the polygenic component on and off,
// on three simulated data sets described with a random root (so that parent,
// only-child and first-child connectors all occur):
//   threegen  about 360 three-generation families, 5,000 persons, grandparents untyped
//   large     sibships of 8 to 12 children
//   capacity  about 600 families and 24,000 persons (four-generation families
//             with half-sibs, some large sibships and three-generation families)
// It also times one evaluation of the value and the exact gradient by the
// posterior kernel (one thread and two, on every path). After the Google Benchmark lines it
// prints a table of the ratios per path, from the best of the repetitions
// (--benchmark_repetitions=N), and one of the value-and-gradient time against
// the fast kernel's value-only time, per path and thread count.
// Usage: bravik_kernel_benchmark [benchmark options] (data under ./bench-data).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "model/fast/fast_family.hpp"
#include "model/objective/genmmp.hpp"
#include "model/posterior/gradient.hpp"
#include "run_folder_support.hpp"

namespace {

using bravik::KernelChoice;
using bravik::MachinePath;
using bravik::Model;
namespace tools = bravik::tools;

struct Part {
  tools::Structure structure;
  int families;
  bool untyped_grandparents;
};

struct DataSet {
  std::string name;
  std::vector<Part> parts;
};

// Concatenates simulated files, giving each part's families ids of their own.
tools::PedigreeFile simulate_parts(const DataSet& set, std::uint64_t seed) {
  tools::PedigreeFile all;
  tools::SimulationModel sim;
  sim.theta = {0.05};
  sim.untyped_rate = 0.1;
  sim.trait_missing_rate = 0.05;
  for (std::size_t i = 0; i < set.parts.size(); ++i) {
    tools::SimulationDesign design;
    design.structure = set.parts[i].structure;
    design.families = set.parts[i].families;
    design.untyped_grandparents = set.parts[i].untyped_grandparents;
    tools::PedigreeFile file = tools::simulate(sim, design, seed + i);
    std::string prefix(1, 'P');
    prefix.append(std::to_string(i));
    for (tools::PedigreeRow& row : file.rows) row.family.insert(0, prefix);
    all.markers = file.markers;
    all.rows.insert(all.rows.end(), file.rows.begin(), file.rows.end());
    all.codes.insert(all.codes.end(), file.codes.begin(), file.codes.end());
  }
  return all;
}

std::filesystem::path prepare_folder(const DataSet& set) {
  const std::filesystem::path folder = std::filesystem::current_path() / "bench-data" / set.name;
  if (!std::filesystem::exists(folder / "IWAY.DAT")) {
    const tools::PedigreeFile file = simulate_parts(set, 2024);
    const tools::PreparedPedigree ped = tools::prepare_structure(file, {tools::RootChoice::random, 7});
    tools::write_run_folder(folder, file, ped, {});
  }
  return folder;
}

// Counts of nuclear families by connector case, for the report.
struct CaseCounts {
  int parent = 0;
  int only_child = 0;
  int first_child = 0;
};

CaseCounts count_cases(const Model& model) {
  CaseCounts counts;
  const bravik::Pedigree& ped = model.ped;
  for (int f = 1; f <= ped.buf1.nfam; ++f) {
    for (int i = ped.buf3.inuc(f) + 1; i <= ped.buf3.inuc(f + 1); ++i) {
      const int first = ped.buf14.imem(i);
      const int members = ped.buf14.imem(i + 1) - first;
      const int q = ped.buf15.icon(i) == 0 ? ped.buf16.mem(first) : ped.buf15.icon(i);
      if (q == ped.buf16.mem(first) || q == ped.buf16.mem(first + 1)) {
        ++counts.parent;
      } else if (members <= 3) {
        ++counts.only_child;
      } else {
        ++counts.first_child;
      }
    }
  }
  return counts;
}

struct Loaded {
  std::unique_ptr<Model> model = std::make_unique<Model>(bravik::Program::fixed);
  textio::Channels io;
};

// Loads the folder, selects its first marker and runs the first-call set-up
// of the alternative hypothesis; the timed evaluations then go through the
// per-evaluation set-up, as the maximizer's do.
Loaded& load(const DataSet& set) {
  static std::map<std::string, std::unique_ptr<Loaded>> loaded;
  std::unique_ptr<Loaded>& slot = loaded[set.name];
  if (!slot) {
    slot = std::make_unique<Loaded>();
    Model& model = *slot->model;
    bravik::testing::load_run_folder(model, slot->io, prepare_folder(set));
    for (int i = 1; i <= 7; ++i) model.optpar1.ifree(i) = 0;
    bravik::testing::select_analysed_marker(model, 1);
    model.kernel = KernelChoice::reference;
    model.imax.ifirst = -1;
    double value = 0.0;
    bravik::genmmp(model, slot->io, value);
    const CaseCounts c = count_cases(model);
    std::printf("%s: %d families, %d persons, nuclear families with a parent connector %d, an only-child one %d, "
                "a first-child one %d; log-likelihood %.10g\n",
                set.name.c_str(), model.ped.buf1.nfam, model.ped.buf1.ifst(model.ped.buf1.nfam + 1), c.parent,
                c.only_child, c.first_child, value);
  }
  return *slot;
}

void set_classes(Model& model, bool polygenic) {
  model.pg.npol = polygenic ? bravik::N_POL : 1;
  if (polygenic) {
    bravik::set_class_weights(model);
  } else {
    model.prpar.wpol(1) = 1.0;
  }
}

struct Variant {
  KernelChoice kernel;
  int threads;
  MachinePath path;
  std::string label() const {
    if (kernel == KernelChoice::reference) return "literal";
    return "fast " + std::string(bravik::path_name(path)) + (threads == 1 ? "/1 thread" : "/2 threads");
  }
};

void evaluate_repeatedly(benchmark::State& state, const DataSet* set, bool polygenic, Variant variant) {
  Loaded& data = load(*set);
  Model& model = *data.model;
  set_classes(model, polygenic);
  model.kernel = variant.kernel;
  model.threads = variant.threads;
  model.path = variant.path;
  model.imax.ifirst = 1;
  double value = 0.0;
  for (auto _ : state) {
    bravik::genmmp(model, data.io, value);
    benchmark::DoNotOptimize(value);
  }
  state.counters["loglik"] = value;
}

// The value and the gradient by the posterior kernel, which keeps its plan
// between the evaluations of one data set and thread count.
void evaluate_gradient_repeatedly(benchmark::State& state, const DataSet* set, bool polygenic, int threads,
                                  MachinePath path) {
  Loaded& data = load(*set);
  Model& model = *data.model;
  set_classes(model, polygenic);
  model.path = path;
  static std::map<std::pair<std::string, int>, std::unique_ptr<bravik::PosteriorKernel>> kernels;
  std::unique_ptr<bravik::PosteriorKernel>& kernel = kernels[{set->name, threads}];
  if (!kernel) kernel = std::make_unique<bravik::PosteriorKernel>(threads);
  model.imax.ifirst = 1;
  double value = 0.0;
  bravik::ParameterGradient gradient;
  for (auto _ : state) {
    bravik::objective_with_gradient(model, data.io, *kernel, value, gradient);
    benchmark::DoNotOptimize(value);
  }
  state.counters["loglik"] = value;
}

std::string gradient_name(const DataSet& set, bool polygenic, int threads, MachinePath path) {
  return set.name + (polygenic ? "/7 classes/" : "/1 class/") + "value and gradient " +
         std::string(bravik::path_name(path)) + (threads == 1 ? "/1 thread" : "/2 threads");
}

// Keeps the time of every run for the table of ratios: the best of the
// repetitions, the one least disturbed by other work on the machine.
class RecordingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration) {
        const double per_iteration = run.real_accumulated_time / static_cast<double>(run.iterations);
        const auto [it, first] = seconds.emplace(run.benchmark_name(), per_iteration);
        if (!first) it->second = std::min(it->second, per_iteration);
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> seconds;
};

std::string name_of(const DataSet& set, bool polygenic, const Variant& v) {
  return set.name + (polygenic ? "/7 classes/" : "/1 class/") + v.label();
}

// The name Google Benchmark reports for it.
std::string reported_name(const DataSet& set, bool polygenic, const Variant& v) {
  return name_of(set, polygenic, v) + "/real_time";
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<DataSet> sets = {
      {"threegen", {{tools::Structure::threegen, 360, true}}},
      {"large", {{tools::Structure::large, 300, false}}},
      {"capacity",
       {{tools::Structure::fourgen, 590, false}, {tools::Structure::large, 6, false}, {tools::Structure::threegen, 6, true}}},
  };
  const std::vector<MachinePath> paths = bravik::runnable_paths();
  const Variant literal{KernelChoice::reference, 1, MachinePath::baseline};
  std::vector<Variant> variants = {literal};
  for (const MachinePath path : paths) {
    variants.push_back({KernelChoice::fast, 1, path});
    variants.push_back({KernelChoice::fast, 2, path});
  }
  for (const DataSet& set : sets) {
    for (const bool polygenic : {true, false}) {
      for (const Variant& v : variants) {
        benchmark::RegisterBenchmark(name_of(set, polygenic, v).c_str(), evaluate_repeatedly, &set, polygenic, v)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
      }
      for (const MachinePath path : paths) {
        for (const int threads : {1, 2}) {
          benchmark::RegisterBenchmark(gradient_name(set, polygenic, threads, path).c_str(),
                                       evaluate_gradient_repeatedly, &set, polygenic, threads, path)
              ->Unit(benchmark::kMillisecond)
              ->UseRealTime();
        }
      }
    }
  }
  benchmark::Initialize(&argc, argv);
  RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  for (const MachinePath path : paths) {
    std::printf("\n%-9s %-10s %-10s %14s %14s %8s %14s %8s\n", "path", "data", "classes", "literal ms", "fast 1 ms",
                "ratio", "fast 2 ms", "ratio");
    for (const DataSet& set : sets) {
      for (const bool polygenic : {true, false}) {
        const auto time_of = [&](const Variant& v) {
          const auto it = reporter.seconds.find(reported_name(set, polygenic, v));
          return it == reporter.seconds.end() ? NAN : it->second * 1e3;
        };
        const double reference = time_of(literal);
        const double one = time_of({KernelChoice::fast, 1, path});
        const double two = time_of({KernelChoice::fast, 2, path});
        std::printf("%-9s %-10s %-10s %14.3f %14.3f %8.1f %14.3f %8.1f\n", std::string(bravik::path_name(path)).c_str(),
                    set.name.c_str(), polygenic ? "7" : "1", reference, one, reference / one, two, reference / two);
      }
    }
  }
  std::printf("\n%-9s %-10s %-10s %14s %14s %8s %14s %14s %8s\n", "path", "data", "classes", "fast 1 ms",
              "gradient 1 ms", "ratio", "fast 2 ms", "gradient 2 ms", "ratio");
  for (const MachinePath path : paths) {
    for (const DataSet& set : sets) {
      for (const bool polygenic : {true, false}) {
        const auto time_of = [&](const std::string& name) {
          const auto it = reporter.seconds.find(name + "/real_time");
          return it == reporter.seconds.end() ? NAN : it->second * 1e3;
        };
        const double fast1 = time_of(name_of(set, polygenic, {KernelChoice::fast, 1, path}));
        const double fast2 = time_of(name_of(set, polygenic, {KernelChoice::fast, 2, path}));
        const double gradient1 = time_of(gradient_name(set, polygenic, 1, path));
        const double gradient2 = time_of(gradient_name(set, polygenic, 2, path));
        std::printf("%-9s %-10s %-10s %14.3f %14.3f %8.2f %14.3f %14.3f %8.2f\n",
                    std::string(bravik::path_name(path)).c_str(), set.name.c_str(), polygenic ? "7" : "1", fast1,
                    gradient1, gradient1 / fast1, fast2, gradient2, gradient2 / fast2);
      }
    }
  }
  benchmark::Shutdown();
  return 0;
}

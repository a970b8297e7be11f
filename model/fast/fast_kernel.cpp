#include "model/fast/fast_kernel.hpp"

#include <cmath>
#include <memory>
#include <vector>

#include "model/density.hpp"
#include "model/fast/fast_family.hpp"
#include "model/fast/fast_plan.hpp"
#include "model/fast/thread_pool.hpp"
#include "model/literal/mmpfam.hpp"

namespace bravik {

class FastKernel {
 public:
  FastKernel(int threads, MachinePath path_)
      : path(path_), family(family_routine(path_)), pool(threads), workspaces(static_cast<std::size_t>(threads)) {}

  // Plans the series and sizes every thread's storage for it.
  void plan_for(const Model& model) {
    plan_series(model, plan);
    for (FamilyWorkspace& work : workspaces) work.reserve(plan);
    const auto families = static_cast<std::size_t>(model.ped.buf1.nfam) + 1;
    if (lf.size() < families) {
      lf.resize(families);
      literal.resize(families);
    }
    planned = true;
  }

  MachinePath path;
  FamilyRoutine family;  // of that path
  SeriesPlan plan;
  bool planned = false;
  ThreadPool pool;
  std::vector<FamilyWorkspace> workspaces;  // one per thread
  ClassTables tables{};
  std::vector<double> lf;               // by family
  std::vector<std::uint8_t> literal;    // by family: left to the literal routines
};

namespace {

// The fast kernel of the model, with the model's thread count and path.
FastKernel& kernel_of(Model& model) {
  const int threads = model.threads < 1 ? 1 : model.threads;
  if (!model.fast || model.fast->pool.size() != threads || model.fast->path != model.path) {
    model.fast = std::make_shared<FastKernel>(threads, model.path);
  }
  FastKernel& kernel = *model.fast;
  if (!kernel.planned) kernel.plan_for(model);
  return kernel;
}

// massix stops the run at the first family whose table does not fit in xx;
// the literal routine for that family writes the same message and stops.
void stop_at_first_overflow(Model& model, textio::Channels& io, const SeriesPlan& plan) {
  for (int f = 1; f <= model.ped.buf1.nfam; ++f) {
    const int slots = plan.families[static_cast<std::size_t>(f - 1)].slots;
    if (slots > 0 && N_POL * (slots - 1) + model.pg.npol > N_WAY) massix(model, io, f);
  }
}

// Every thread takes the next family not yet taken, most costly first, until
// none is left.
struct FamilyTask {
  const Model& model;
  FastKernel& kernel;
  bool shortcuts;  // false when the number of classes is neither 7 nor 1
  SharedIndices next{};

  void operator()(int worker) {
    FamilyWorkspace& work = kernel.workspaces[static_cast<std::size_t>(worker)];
    const std::vector<int>& order = kernel.plan.by_cost;
    next.for_each(static_cast<int>(order.size()), [&](int i) {
      const int f = order[static_cast<std::size_t>(i)];
      const FamilyPlan& family = kernel.plan.families[static_cast<std::size_t>(f - 1)];
      double value = 0.0;
      const bool done = shortcuts && !family.literal_only &&
                        kernel.family(model, kernel.plan, family, kernel.tables, work, value, nullptr);
      kernel.lf[static_cast<std::size_t>(f)] = value;
      kernel.literal[static_cast<std::size_t>(f)] = done ? 0 : 1;
    });
  }
};

}  // namespace

void forget_fast_series(Model& model) {
  if (model.fast) model.fast->planned = false;
}

void fast_families(Model& model, textio::Channels& io, double& value) {
  FastKernel& kernel = kernel_of(model);
  stop_at_first_overflow(model, io, kernel.plan);
  kernel.tables.build(model.tranc);
  FamilyTask task{model, kernel, model.pg.npol == N_POL || model.pg.npol == 1};
  kernel.pool.run(task);
  model.first_nonfinite_family = 0;
  value = 0.0;
  for (int ifam = 1; ifam <= model.ped.buf1.nfam; ++ifam) {
    double lf = kernel.lf[static_cast<std::size_t>(ifam)];
    if (kernel.literal[static_cast<std::size_t>(ifam)] != 0) {
      massix(model, io, ifam);
      mmpfam(model, ifam, lf);
    }
    if (!std::isfinite(lf) && model.first_nonfinite_family == 0) model.first_nonfinite_family = ifam;
    value = value + lf;
  }
}

}  // namespace bravik

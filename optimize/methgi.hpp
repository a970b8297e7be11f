#pragma once
// The function maximizer: a derivative-free pattern search over the free
// parameters of the parameter record. It knows nothing of the model: the
// objective is any callable that evaluates the point held in optpar1.par.
#include <functional>

#include "model/blocks.hpp"
#include "textio/channels.hpp"

namespace bravik {

// Evaluates the objective at optpar1.par and stores its value in the argument.
using Objective = std::function<void(double& value)>;

// The channel of the maximizer's notices; unopened, it writes to "fort.25".
inline constexpr int methgi_notice_unit = 25;

// How a call of methgi ended.
enum class SearchEnd {
  not_started,      // n out of range, or a rejected start: flnl untouched
  converged,        // a stopping test was met
  iteration_limit,  // more than maxit iterations
};

// Maximizes fcn over the parameters i = 1..n with ifree(i) != 0, starting from
// optpar1.par and the steps optpar1.dpar; leaves the best point evaluated and
// its value in optpar1.par and optpar1.flnl, the last steps in dpar, and
// niter and nfun. mdum is passed on and not used. Writes " MAXIMUM NOT FOUND"
// on channel 25 when it passes its iteration limit.
SearchEnd methgi(int n, double epsf, double rlx, double epsx, int maxit, int mdum, const Objective& fcn,
            optpar1_block& optpar1, textio::Channels& channels);

}  // namespace bravik

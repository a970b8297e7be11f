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

// Maximizes fcn over the parameters i = 1..n with ifree(i) != 0, starting from
// optpar1.par and the steps optpar1.dpar; leaves the point, the steps, flnl,
// niter and nfun in optpar1. mdum is passed on and not used. Writes
// " MAXIMUM NOT FOUND" on channel 25 when it passes its iteration limit.
void methgi(int n, double epsf, double rlx, double epsx, int maxit, int mdum, const Objective& fcn,
            optpar1_block& optpar1, textio::Channels& channels);

}  // namespace bravik

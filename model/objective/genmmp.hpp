#pragma once
// The objective: the total log-likelihood of all families at the parameter
// vector in optpar1.par, or the rejection value for an inadmissible vector.
#include "model/blocks.hpp"
#include "textio/channels.hpp"

namespace bravik {

// -1.0E18 in single precision, widened: strictly between -1e18 and -1e17.
inline constexpr double rejection_value = static_cast<double>(-1.0E18f);

// ifirst = -1 runs the first-call set-up, any other value the per-evaluation one.
void genmmp(Model& model, textio::Channels& io, double& value);

}  // namespace bravik

#pragma once
// The set-up routines of the objective: stap0 on the first evaluation of a
// series (checks, frequencies, transmission tables, genotype lists) and stapar
// on every later one (checks, frequencies, density quantities).
#include "model/blocks.hpp"
#include "textio/channels.hpp"

namespace bravik {

// status: 1.0 when the parameter vector was accepted, -1.0E18 when rejected.
void stap0(Model& model, textio::Channels& io, double& status);
void stapar(Model& model, double& status);

}  // namespace bravik

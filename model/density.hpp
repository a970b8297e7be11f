#pragma once
// Phenotype densities: fen for one person, genotype and class; massix fills the
// per-family table xx with density-times-prior factors.
#include "model/blocks.hpp"
#include "textio/channels.hpp"

namespace bravik {

// Trait values at or below this are not measured (a single-precision constant).
inline constexpr double not_measured = -998.0;
// Trait values at or below this remove the person's density entirely.
inline constexpr double skipped_entirely = -10'000'000.0;

double fen(const Model& model, int p, int g, int k);
void massix(Model& model, textio::Channels& io, int f);

}  // namespace bravik

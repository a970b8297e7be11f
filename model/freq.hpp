#pragma once
// Marker allele frequencies by gene counting over every typed person.
#include "model/blocks.hpp"

namespace bravik {

// notyp = 1 when nobody is typed (pm1 and pm2 are then not written).
void freq(const Model& model, double& pm1, double& pm2, int& notyp);

}  // namespace bravik

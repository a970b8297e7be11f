#pragma once
// The log-likelihood of one family by peeling its nuclear families in the
// order of the description, rescaling each connector after its nuclear family.
#include "model/blocks.hpp"

namespace bravik {

// lf receives the natural log of the likelihood of family ifam; massix must
// have filled xx for the same family.
void mmpfam(Model& model, int ifam, double& lf);

}  // namespace bravik

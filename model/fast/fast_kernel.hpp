#pragma once
// The fast kernel: the families of one evaluation on all threads, each family
// computed with the same bits as massix and mmpfam give it, and the total
// formed in family order, so that the result does not depend on the number of
// threads.
#include "model/blocks.hpp"
#include "textio/channels.hpp"

namespace bravik {

// The genotype lists or the description changed (a first-call set-up ran):
// the next fast evaluation plans the series afresh.
void forget_fast_series(Model& model);

// The sum of the family log-likelihoods in family order, as the literal loop
// of massix and mmpfam forms it; sets first_nonfinite_family the same way.
void fast_families(Model& model, textio::Channels& io, double& value);

}  // namespace bravik

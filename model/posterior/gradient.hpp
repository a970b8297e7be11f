#pragma once
// The objective with its exact gradient: the set-up as the objective runs it,
// the posterior kernel, and the gradient of the log-likelihood with respect
// to the seven model parameters, assembled from the posterior quantities by
// Fisher's identity (the posterior expectation of the complete-data score).
#include "model/blocks.hpp"
#include "model/posterior/posterior_kernel.hpp"
#include "textio/channels.hpp"

namespace bravik {

// d lnL / d par(i) for i = 1..7; positions 8 and up are 0.
using ParameterGradient = Fixed<double, 1, N_PAR>;

// From the kernel's last evaluation at the model's current quantities: the
// allele frequency through the founders' genotype priors, the three means,
// the residual variance and the polygenic step through the densities of the
// measured persons, theta through the children's transmissions (at the theta
// of the last first-call set-up, which built the transmission tables; 0 when
// the kernel forms no recombinations). A
// parameter tied to another passes its derivative to the one it takes its
// value from, as the set-up applies the ties; a tied parameter's own
// derivative is then that of the parameters tied to it.
void assemble_gradient(const Model& model, const PosteriorKernel& kernel, ParameterGradient& gradient);

// The objective's value at optpar1.par (the set-up of genmmp: stap0 when
// ifirst is -1, else stapar; the rejection value for an inadmissible vector,
// with a zero gradient) and its gradient.
void objective_with_gradient(Model& model, textio::Channels& io, PosteriorKernel& kernel, double& value,
                             ParameterGradient& gradient);

}  // namespace bravik

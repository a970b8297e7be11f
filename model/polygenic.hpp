#pragma once
// The finite polygenic model: six alleles per person, three transmitted by
// each parent, giving seven classes with binomial weights.
#include "model/blocks.hpp"

namespace bravik {

// n! as a real, the factors multiplied in ascending order; 1 for n <= 0.
double fac(int n);
// The binomial coefficient of n over k as a real (callers never pass k < 0).
double cnk(int n, int k);
// Builds tpol, the probability of a child's polygenic count given its parents'.
void fom_bep(Model& model);
// Fills the class weights wpol(1..7) after fom_bep, the way each program does.
void set_class_weights(Model& model);
// The polygenic switch: one class of weight 1 when the step is 0 (and, in the
// maximizing program, not estimated).
void apply_polygenic_switch(Model& model);

}  // namespace bravik

#pragma once
// A local search inside a box: a derivative-free maximizer (BOBYQA, from NLopt)
// that never evaluates outside the closed box. Like methgi it knows nothing of
// the model: the objective is any function of the point.
#include <functional>
#include <span>

namespace bravik {

// The value of the objective at a point of the box.
using PointObjective = std::function<double(std::span<const double> x)>;

// When a local search stops.
struct BoxSearchTolerances {
  double relative_step = 1e-6; // a step smaller than this times the point, or than this
                               // times the first step of every coordinate, ends it
  int evaluation_limit = 20000;
};

// Where a local search ended: the best value it evaluated and how many
// evaluations it made.
struct LocalEnd {
  double value;
  int evaluations;
};

// Maximizes f from x (moved into the box first) with first steps of about
// |step|; leaves in x the best point evaluated and returns its value. Values
// that are not numbers rank below every number. With no coordinate it
// evaluates x once.
LocalEnd maximize_in_box(const PointObjective& f, std::span<double> x, std::span<const double> lower,
                         std::span<const double> upper, std::span<const double> step,
                         const BoxSearchTolerances& tolerances);

}  // namespace bravik

// bravik_2point_max: two-point linkage scan that maximizes over the free parameters first;
// `bravik_2point_max --robust` maximizes from several starting points.
#include "run/scan.hpp"

int main(int argc, char** argv) {
  return bravik::run_program(bravik::Program::maximizing, nullptr, bravik::maximizing_options(argc, argv));
}

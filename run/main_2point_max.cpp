// bravik_2point_max: two-point linkage scan that maximizes over the free parameters first;
// `bravik_2point_max --robust` maximizes from several starting points.
#include "run/command_line.hpp"

int main(int argc, char** argv) { return bravik::run_from_command_line(bravik::Program::maximizing, argc, argv); }

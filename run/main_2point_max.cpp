// bravik_2point_max: two-point linkage scan that maximizes over the free parameters first.
#include "run/scan.hpp"

int main() { return bravik::run_program(bravik::Program::maximizing); }

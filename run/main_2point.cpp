// bravik_2point: two-point linkage scan at fixed parameters.
#include "run/scan.hpp"

int main() { return bravik::run_program(bravik::Program::fixed); }

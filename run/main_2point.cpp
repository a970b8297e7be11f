// bravik_2point: two-point linkage scan at fixed parameters.
#include "run/command_line.hpp"

int main(int argc, char** argv) { return bravik::run_from_command_line(bravik::Program::fixed, argc, argv); }

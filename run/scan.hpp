#pragma once
// The main flows: start-up, then for every marker a null pass and an
// alternative pass, then the result lines; the two programs differ only in
// what a pass does after its first evaluation and in what they report.
#include "model/blocks.hpp"

namespace bravik {

// Runs the program in the working directory and returns its exit status.
int run_program(Program program);

}  // namespace bravik

#pragma once
// Texts that name the running program: shared by its command line and by the
// end of its marker loop, which both speak to the user about the program.
#include <string>
#include <string_view>

#include "model/blocks.hpp"

namespace bravik {

std::string_view program_name(Program program);

// The last line of a run that ends because an input file does not exist:
// which file was expected in which folder, and how to make one.
std::string missing_input_hint(Program program, const std::string& file);

}  // namespace bravik

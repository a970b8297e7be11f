#pragma once
// A whole text file in one string, for the readers of result and plan files.
#include <string>

namespace bravik::results {

// Throws tools::InputError naming the path and `what` the file is when it cannot be opened.
std::string read_text_file(const std::string& path, const char* what);

}  // namespace bravik::results

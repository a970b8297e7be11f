#include "run/program_text.hpp"

#include <filesystem>

namespace bravik {

std::string_view program_name(Program program) {
  return program == Program::maximizing ? "bravik_2point_max" : "bravik_2point";
}

std::string missing_input_hint(Program program, const std::string& file) {
  std::error_code error;
  const std::filesystem::path folder = std::filesystem::current_path(error);
  return std::string(program_name(program)) + " expected the input file " + file + " in the folder " +
         (error ? std::string(".") : folder.string()) +
         "; bravik_prep PEDIGREE_FILE FOLDER makes every input file of a run (see --help)\n";
}

}  // namespace bravik

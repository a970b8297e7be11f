#pragma once
// The command lines of the analysis programs. Both read everything else from
// files in the working folder; the command line only asks for help, the
// version, or (in the table of options) a mode of the scan.
#include <string>
#include <vector>

#include "model/blocks.hpp"

namespace bravik {

// What a command line asks for.
struct ProgramRequest {
  bool help = false;
  bool version = false;
  bool robust = false;  // bravik_2point_max: maximize from several starting points
  std::string trait_maxima_from;  // --trait-maxima FILE (robust mode)
  std::string trait_maxima_to;    // --save-trait-maxima FILE (robust mode)
  std::vector<double> theta_grid;            // --theta-grid (with --robust): the LOD over theta
  std::string theta_table = "lod_theta.tsv";  // --theta-table: where it is written
  std::string posteriors;                     // --posteriors (with --robust): who carries the major gene
  int posteriors_marker = 0;                  // --posteriors-marker: at this marker's alternative
  std::string standard_errors;                // --standard-errors (with --robust): their table
};

// Parses the arguments (without the program name). Throws std::invalid_argument
// with a one-line reason on an argument that is not an option of the program.
ProgramRequest parse_command_line(Program program, const std::vector<std::string>& args);

// The help text: usage, options, what the program reads and writes, the
// environment variables and where the input files come from.
std::string help_text(Program program);

// Parses the command line, then prints help or the version (exit 0), or the
// reason and the usage (exit 2), or runs the program in the working folder.
int run_from_command_line(Program program, int argc, const char* const* argv);

}  // namespace bravik

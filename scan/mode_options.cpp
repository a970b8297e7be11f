#include "scan/mode_options.hpp"

#include <string_view>

namespace bravik::scan {

void add_mode_options(tools::CommandLine& cl, AnalysisMode& mode) {
  cl.option("--classic", "", "the maximizing program in its classic mode (default: its robust mode)",
            [&mode](std::string_view) { mode = AnalysisMode::classic; });
  cl.option("--fixed", "", "evaluate at the values of par.inp (bravik_2point) instead of maximizing",
            [&mode](std::string_view) { mode = AnalysisMode::fixed; });
}

}  // namespace bravik::scan

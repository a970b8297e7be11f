#pragma once
// The options that choose the analysis mode, shared by the commands that run chunks.
#include "pedfile/command_line.hpp"
#include "scan/task.hpp"

namespace bravik::scan {

// --classic and --fixed.
void add_mode_options(tools::CommandLine& cl, AnalysisMode& mode);

}  // namespace bravik::scan

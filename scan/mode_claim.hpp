#pragma once
// The scan's mode claimed by a command that runs chunks: recorded by the
// first, checked against the chunks already done by the others.
#include "scan/layout.hpp"
#include "scan/mode.hpp"
#include "scan/plan.hpp"

namespace bravik::scan {

// Makes `mode` the scan's mode: recorded when none is, or when no chunk is
// done in the recorded one yet. Throws InputError naming the recorded mode,
// the chunks done in it and what to do, when another mode is asked.
void claim_mode(const ScanFolder& folder, const Plan& plan, AnalysisMode mode);

}  // namespace bravik::scan

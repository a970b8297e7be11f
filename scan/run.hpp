#pragma once
// `run`: the chunks still pending or failed, several at once, each as a
// `task` of its own, under a lock that keeps a second run off the folder.
#include <string>

#include "scan/layout.hpp"
#include "scan/task.hpp"

namespace bravik::scan {

struct RunOptions {
  AnalysisMode mode = AnalysisMode::robust;
  int jobs = 0;          // chunks at once; 0: one per core
  bool progress = false; // draw a progress line on standard error
};

// The progress line: chunks and markers done, markers per minute in this
// run, time left at that rate.
std::string progress_line(std::size_t chunks_done, std::size_t chunks, long markers_done, long markers,
                          long markers_this_run, double seconds);

// Returns the number of chunks that failed in this run. Throws InputError
// when another run holds the folder's lock.
int run_scan(const ScanFolder& folder, const RunOptions& options);

}  // namespace bravik::scan

#pragma once
// The run configuration files: maxpar.inp, task.inp and par.inp.
#include <cstddef>
#include <string>

#include "model/blocks.hpp"
#include "textio/channels.hpp"

namespace bravik {

// Settings of the maximizer, one per record of maxpar.inp.
struct MaximizerSettings {
  std::int32_t mdum = 0;  // passed on, not used
  double epsx = 0.0;      // relative step tolerance
  std::int32_t maxit = 0; // iteration limit
  double rlx = 0.0;       // shrink factor of a failed pattern move
  double epsf = 0.0;      // smallest gain per iteration that keeps the search going
};

// The file names of task.inp, each a fixed-length field.
struct TaskFiles {
  std::string fnphen;
  std::string fnmark;
  std::string fnlod;
  std::string fnest;  // the maximizing program only
};

// The starting point as read, restored at the start of every pass.
struct SavedStart {
  Fixed<double, 1, N_PAR> par0;
  Fixed<double, 1, N_PAR> dpar0;
  Fixed<std::int32_t, 1, N_PAR> ifree0;
  void save(const optpar1_block& o, int npar);
  void restore(optpar1_block& o, int npar) const;
};

// Reads the five records; epsx and epsf must be finite and rlx within 0 to 1
// (an input error otherwise).
MaximizerSettings read_maxpar(textio::Channels& io);
// Reads `records` file names (3 or 4) into fields of `field_length` characters.
TaskFiles read_task(textio::Channels& io, int records, std::size_t field_length);
// The line of par.inp that ends the record of each parameter, for messages.
using ParameterLines = Fixed<long, 1, N_PAR>;

// Skips the heading line, then reads link, ifree, par, dpar, parlo, parhi of
// each of the npar parameters. Values the kernel cannot survive end the run
// with an input error: a tie target outside 1..npar, a free flag outside
// -1000..1000, a value or step that is not finite, a bound that is not a
// number, a residual variance that does not start positive.
ParameterLines read_par(Model& model, textio::Channels& io);

// Ends the run with an input error, before any result is written, when a
// result file of task.inp names the same file as an input of the run or as
// another result file (by name, or as the same file under another name).
void check_result_files(const TaskFiles& files, Program program);

}  // namespace bravik

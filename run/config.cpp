#include "run/config.hpp"

#include <cmath>
#include <string>
#include <string_view>
#include <vector>

#include "textio/file_identity.hpp"
#include "textio/list_input.hpp"
#include "textio/message_text.hpp"
#include "textio/run_end.hpp"

namespace bravik {
namespace {

using textio::number_text;

constexpr int config_unit = 1;

// Free flags are summed over the parameters: bounded so that the sum cannot overflow.
constexpr std::int32_t free_flag_limit = 1000;
constexpr int residual_variance = 6;
// The phenotype file is opened with the first 10 characters of its field.
constexpr std::size_t phenotype_name_length = 10;

template <class T>
void read_record(textio::Channels& io, T& value) {
  textio::ListInput record(io, config_unit);
  record.get(value);
}

// Ends the run with an input error naming the file, the line and what is wrong.
[[noreturn]] void reject_line(const textio::Channels& io, long line, const std::string& what) {
  textio::fail(io.name(config_unit) + ", line " + std::to_string(line) + ": " + what + "\n",
               textio::exit_input_error);
}

[[noreturn]] void reject(const textio::Channels& io, const std::string& what) {
  reject_line(io, io.line_number(config_unit), what);
}

void check_finite(const textio::Channels& io, const std::string& name, double value) {
  if (!std::isfinite(value)) reject(io, name + " = " + number_text(value) + " is not a finite number");
}

// A failed pattern move is pulled back towards the base point by rlx: outside
// 0 to 1 it is pushed away instead, and the search runs off.
void check_shrink_factor(const textio::Channels& io, double rlx) {
  if (!(rlx >= 0.0 && rlx <= 1.0)) reject(io, "shrink factor rlx = " + number_text(rlx) + " is outside 0 to 1");
}

// The six values of parameter i, checked as soon as its record is read.
void check_parameter(const textio::Channels& io, const Model& model, int i) {
  const optpar1_block& o = model.optpar1;
  const std::string name = "parameter " + std::to_string(i);
  const std::int32_t link = model.optpar2.link(i);
  if (link < 1 || link > model.imax.npar)
    reject(io, name + ": tie target " + std::to_string(link) + " is not a parameter number 1 to " +
                   std::to_string(model.imax.npar));
  if (o.ifree(i) < -free_flag_limit || o.ifree(i) > free_flag_limit)
    reject(io, name + ": free flag " + std::to_string(o.ifree(i)) + " is outside " +
                   std::to_string(-free_flag_limit) + " to " + std::to_string(free_flag_limit));
  check_finite(io, name + ": value", o.par(i));
  check_finite(io, name + ": step", o.dpar(i));
  if (std::isnan(o.parlo(i)) || std::isnan(o.parhi(i))) reject(io, name + ": a bound is not a number");
}

// The residual variance (of parameter 6, or of the parameter it is tied to)
// must start positive: the densities divide by it and take its root.
void check_residual_variance(const textio::Channels& io, const Model& model, long line) {
  const int source = model.optpar2.link(residual_variance);
  const double variance = model.optpar1.par(source);
  if (variance > 0.0) return;
  const std::string tie = source == residual_variance ? "" : " (tied to parameter " + std::to_string(source) + ")";
  reject_line(io, line, "parameter 6: residual variance " + number_text(variance) + tie + " is not positive");
}

struct NamedFile {
  std::string role;
  std::string name;
};

std::string trimmed(std::string_view name) {
  const std::size_t last = name.find_last_not_of(' ');
  return std::string(last == std::string_view::npos ? std::string_view() : name.substr(0, last + 1));
}


}  // namespace

void SavedStart::save(const optpar1_block& o, int npar) {
  for (int i = 1; i <= npar; ++i) {
    par0(i) = o.par(i);
    dpar0(i) = o.dpar(i);
    ifree0(i) = o.ifree(i);
  }
}

void SavedStart::restore(optpar1_block& o, int npar) const {
  for (int i = 1; i <= npar; ++i) {
    o.par(i) = par0(i);
    o.dpar(i) = dpar0(i);
    o.ifree(i) = ifree0(i);
  }
}

MaximizerSettings read_maxpar(textio::Channels& io) {
  MaximizerSettings s;
  io.open(config_unit, "maxpar.inp", textio::Access::read);
  read_record(io, s.mdum);
  read_record(io, s.epsx);
  check_finite(io, "epsx", s.epsx);
  read_record(io, s.maxit);
  read_record(io, s.rlx);
  check_shrink_factor(io, s.rlx);
  read_record(io, s.epsf);
  check_finite(io, "epsf", s.epsf);
  io.close(config_unit);
  return s;
}

TaskFiles read_task(textio::Channels& io, int records, std::size_t field_length) {
  TaskFiles t;
  std::string* fields[] = {&t.fnphen, &t.fnmark, &t.fnlod, &t.fnest};
  io.open(config_unit, "task.inp", textio::Access::read);
  for (int r = 0; r < records; ++r) {
    std::string& field = *fields[r];
    field.assign(field_length, ' ');
    textio::ListInput record(io, config_unit);
    record.get(field, field_length);
  }
  io.close(config_unit);
  return t;
}

ParameterLines read_par(Model& model, textio::Channels& io) {
  ParameterLines lines;
  optpar1_block& o = model.optpar1;
  io.open(config_unit, "par.inp", textio::Access::read);
  { textio::ListInput heading(io, config_unit); }
  for (int i = 1; i <= model.imax.npar; ++i) {
    textio::ListInput record(io, config_unit);
    record.get(model.optpar2.link(i));
    record.get(o.ifree(i));
    record.get(o.par(i));
    record.get(o.dpar(i));
    record.get(o.parlo(i));
    record.get(o.parhi(i));
    lines(i) = io.line_number(config_unit);
    check_parameter(io, model, i);
  }
  check_residual_variance(io, model, lines(residual_variance));
  io.close(config_unit);
  return lines;
}


void check_result_files(const TaskFiles& files, Program program) {
  const bool maximizing = program == Program::maximizing;
  std::vector<NamedFile> inputs = {{"the phenotype file", trimmed(files.fnphen.substr(0, phenotype_name_length))},
                                   {"the marker file", trimmed(files.fnmark)},
                                   {"the pedigree description", "IWAY.DAT"},
                                   {"the parameter file", "par.inp"},
                                   {"the task file", "task.inp"}};
  std::vector<NamedFile> results = {{"the LOD result file", trimmed(files.fnlod)}};
  if (maximizing) {
    inputs.push_back({"the maximizer settings", "maxpar.inp"});
    results.push_back({"the estimate file", trimmed(files.fnest)});
    results.push_back({"the maximizer report", "sigma.DAT"});
  }
  for (std::size_t r = 0; r < results.size(); ++r) {
    const NamedFile& result = results[r];
    if (result.name.empty()) continue;
    std::vector<NamedFile> others = inputs;
    others.insert(others.end(), results.begin(), results.begin() + static_cast<std::ptrdiff_t>(r));
    for (const NamedFile& other : others) {
      if (!textio::same_file(result.name, other.name)) continue;
      textio::fail("task.inp: " + result.role + " " + result.name + " is the same file as " + other.role + " " +
                       other.name + "; give it a name of its own (nothing was written)\n",
                   textio::exit_input_error);
    }
  }
}

}  // namespace bravik

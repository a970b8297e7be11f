#include "run/marker_loop.hpp"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "model/freq.hpp"
#include "model/objective/genmmp.hpp"
#include "model/polygenic.hpp"
#include "optimize/methgi.hpp"
#include "pedigree/consistency.hpp"
#include "pedigree/iway.hpp"
#include "pedigree/markers.hpp"
#include "run/carrier_posteriors.hpp"
#include "run/config.hpp"
#include "run/kernel_environment.hpp"
#include "run/program_text.hpp"
#include "run/progress.hpp"
#include "run/standard_errors.hpp"
#include "run/table_file.hpp"
#include "run/theta_profile.hpp"
#include "run/trait_maxima.hpp"
#include "textio/layout.hpp"
#include "textio/message_text.hpp"
#include "textio/run_end.hpp"
#include "textio/status_line.hpp"

namespace bravik {
namespace {

constexpr int lod_unit = 10;
constexpr int estimate_unit = 15;
constexpr int report_unit = 12;
constexpr int marker_unit = 1;
// A marker is skipped when an allele is rarer than 0.001 in single precision.
constexpr double rare_allele = static_cast<double>(0.001f);
// 4.6 in single precision: the LOD score is 2 (ln L1 - ln L0) / 4.6.
constexpr double lod_divisor = static_cast<double>(4.6f);
// Starting values at or below this are rejected points (or impossible data).
constexpr double rejected_start = -1e17;

enum Hypothesis { null_hypothesis = 1, alternative_hypothesis = 2 };

const char* hypothesis_name(int ihyp) { return ihyp == null_hypothesis ? "null" : "alternative"; }

using textio::number_text;

void note(const std::string& text) { textio::console_write(stderr, text + "\n"); }

// What the two programs do differently around the shared marker loop.
class Flow {
 public:
  Flow(Model& model, textio::Channels& io, PassObserver* observer)
      : model_(model), io_(io), observer_(observer) {}
  virtual ~Flow() = default;
  void start_up();
  // Before the frequencies of the null pass: the program's own preparation.
  virtual void begin_pass(int ihyp) = 0;
  // After the starting value: maximize (or not) and report the pass.
  virtual void finish_pass(int imark, int ihyp, int nfree) = 0;
  virtual void null_pass_done(int imark) = 0;
  virtual void write_results(int imark, double flnl0, double flod) = 0;
  virtual void end() = 0;
  // Leaves every result file empty (a run that analysed no marker).
  virtual void empty_results() = 0;

  void analyse_markers();

 protected:
  // Reads the program's own configuration files and opens its result files.
  virtual TaskFiles read_configuration() = 0;
  void write_lod_line(int imark, double flnl0, double flod);
  // One evaluation of the objective at optpar1.par, counted for the progress line.
  void evaluate(double& value);
  void gradient_evaluated();
  Model& model_;
  textio::Channels& io_;
  SavedStart saved_;

 private:
  bool run_pass(int imark, int ihyp);
  bool marker_usable(int imark, double pm1, double pm2, int notyp) const;
  void report_no_marker_analysed() const;
  void check_starting_value(int imark, int ihyp, int nfree, double finit);
  PassObserver* observer_;
  Progress progress_;
  ParameterLines parameter_lines_;
  std::string marker_file_;
};

void Flow::evaluate(double& value) {
  genmmp(model_, io_, value);
  progress_.evaluated();
  if (observer_ != nullptr) observer_->objective_evaluated();
}

void Flow::gradient_evaluated() {
  progress_.evaluated();
  if (observer_ != nullptr) observer_->gradient_evaluated();
}

void Flow::start_up() {
  const TaskFiles files = read_configuration();
  io_.open(marker_unit, files.fnmark, textio::Access::read);
  marker_file_ = io_.name(marker_unit);
  read_marker_file(model_.ped, io_);
  parameter_lines_ = read_par(model_, io_);
  saved_.save(model_.optpar1, model_.imax.npar);
  fom_bep(model_);
  set_class_weights(model_);
  wwdat(model_.ped, io_, files.fnphen);
  warn_about_row_count(model_.ped, marker_file_);
  apply_polygenic_switch(model_);
}

void Flow::write_lod_line(int imark, double flnl0, double flod) {
  textio::write_layout(io_, lod_unit, "(I4,2E14.6,3X,E11.4)", {imark, flnl0, model_.optpar1.flnl, flod});
}

void Flow::analyse_markers() {
  int analysed = 0;
  for (int imark = 1; imark <= model_.ped.nmark; ++imark) {
    select_marker(model_.ped, imark);
    progress_.marker(imark, model_.ped.nmark);
    if (!run_pass(imark, null_hypothesis)) continue;
    null_pass_done(imark);
    const double flnl0 = model_.optpar1.flnl;
    run_pass(imark, alternative_hypothesis);
    const double flod = (model_.optpar1.flnl - flnl0) * 2.0 / lod_divisor;
    write_results(imark, flnl0, flod);
    ++analysed;
  }
  if (analysed == 0) {
    report_no_marker_analysed();
    empty_results();
  }
  end();
}

void Flow::report_no_marker_analysed() const {
  const int nmark = model_.ped.nmark;
  const std::string why = nmark == 0   ? marker_file_ + " holds no marker"
                          : nmark == 1 ? "its only marker was skipped (see the note above)"
                                       : "all " + std::to_string(nmark) + " markers were skipped (see the notes above)";
  note("no marker was analysed: " + why + "; the result files are left empty");
}

// A marker is analysed when someone is typed and neither allele is rarer
// than 0.001; a skipped one gets a note.
bool Flow::marker_usable(int imark, double pm1, double pm2, int notyp) const {
  const std::string marker = "note: marker " + std::to_string(imark) + " is skipped: ";
  if (notyp == 1) {
    note(marker + "no person is typed");
    return false;
  }
  if (pm1 >= rare_allele && pm2 >= rare_allele) return true;
  const bool first_rare = pm1 < rare_allele;
  note(marker + "allele " + (first_rare ? "1" : "2") + " has frequency " + number_text(first_rare ? pm1 : pm2) +
       ", below 0.001");
  return false;
}

// One pass; false when the null pass skips the marker.
bool Flow::run_pass(int imark, int ihyp) {
  optpar1_block& o = model_.optpar1;
  const int npar = model_.imax.npar;
  saved_.restore(o, npar);
  progress_.pass(ihyp);
  begin_pass(ihyp);
  int nfree = 0;
  for (int i = 1; i <= npar; ++i) nfree += o.ifree(i);
  if (ihyp == null_hypothesis) {
    double pm1 = 0.0;
    double pm2 = 0.0;
    int notyp = 0;
    freq(model_, pm1, pm2, notyp);
    if (notyp != 1) {
      o.par(npar + 1) = pm1;
      o.par(npar + 2) = pm2;
    }
    if (!marker_usable(imark, pm1, pm2, notyp)) return false;
  }
  model_.imax.ifirst = -1;
  double finit;
  evaluate(finit);
  textio::write_layout(io_, textio::stdout_unit, "(I3,' initial LH=',E15.8)", {imark, finit});
  if (observer_ != nullptr) observer_->pass_evaluated(imark, ihyp, finit);
  o.flnl = finit;
  check_starting_value(imark, ihyp, nfree, finit);
  finish_pass(imark, ihyp, nfree);
  if (observer_ != nullptr) observer_->pass_finished(imark, ihyp, o.flnl);
  return true;
}

// A rejected starting point ends the run with the check that failed; a value
// that is not finite gets a warning (the cause named when it is the marker
// data) and the scan goes on.
void Flow::check_starting_value(int imark, int ihyp, int nfree, double finit) {
  if (!std::isfinite(finit)) {
    const int family = model_.first_nonfinite_family;
    const std::string cause = family > 0 && !marker_codes_consistent(model_.ped, family)
                                  ? "the marker data of the family are impossible under the model"
                                  : "the starting parameters give it no finite value";
    note("warning: marker " + std::to_string(imark) + ", " + hypothesis_name(ihyp) +
         " hypothesis: the log-likelihood of family " + std::to_string(family) + " is not finite (" +
         (std::isnan(finit) ? "NaN" : "-Infinity") + "); " + cause);
    return;
  }
  if (nfree == 0 || finit > rejected_start) return;
  const optpar1_block& o = model_.optpar1;
  const int i = model_.rejection.parameter;
  std::string reason;
  if (model_.rejection.check == Rejection::Check::bounds) {
    reason = "par.inp, line " + std::to_string(parameter_lines_(i)) + ": parameter " + std::to_string(i) + " = " +
             number_text(o.par(i)) + " is not strictly between its bounds " + number_text(o.parlo(i)) + " and " +
             number_text(o.parhi(i));
  } else if (model_.rejection.check == Rejection::Check::means_order) {
    reason = "par.inp, lines " + std::to_string(parameter_lines_(4)) + " and " + std::to_string(parameter_lines_(2)) +
             ": the mean of genotype 22 (parameter 4 = " + number_text(o.par(4)) +
             ") exceeds the mean of genotype 11 (parameter 2 = " + number_text(o.par(2)) + ")";
  } else {
    reason = "its log-likelihood " + number_text(finit) + " is at most -1e17";
  }
  textio::fail("marker " + std::to_string(imark) + ", " + hypothesis_name(ihyp) +
                   " hypothesis: the starting point is rejected: " + reason + "\n",
               textio::exit_rejected_start);
}

class FixedFlow final : public Flow {
 public:
  using Flow::Flow;

  TaskFiles read_configuration() override {
    model_.pg.nhalf = 3;
    model_.pg.npol = N_POL;
    model_.imax.npar = 7;
    const TaskFiles files = read_task(io_, 3, 20);
    check_result_files(files, Program::fixed);
    io_.open(lod_unit, files.fnlod, textio::Access::write);
    return files;
  }

  void begin_pass(int ihyp) override {
    if (ihyp != null_hypothesis) return;
    model_.optpar1.par(5) = 0.5;
    for (int i = 1; i <= model_.imax.npar; ++i) model_.optpar1.ifree(i) = 0;
  }

  void finish_pass(int, int, int) override {}
  void null_pass_done(int) override {}

  void write_results(int imark, double flnl0, double flod) override { write_lod_line(imark, flnl0, flod); }

  void end() override { io_.close(lod_unit); }
  void empty_results() override { io_.empty_if_unwritten(lod_unit); }
};

class MaximizingFlow final : public Flow {
 public:
  MaximizingFlow(Model& model, textio::Channels& io, PassObserver* observer, const RunOptions& options)
      : Flow(model, io, observer), options_(options) {}

  TaskFiles read_configuration() override {
    model_.imax.npar = 7;
    settings_ = read_maxpar(io_);
    remove_earlier_notices();
    if (options_.robust) {
      robust_.emplace(model_, io_, [this](double& value) { evaluate(value); }, settings_, options_.robust_settings,
                      [this] { gradient_evaluated(); });
      if (!options_.trait_maxima_from.empty()) robust_->use_trait_optima(read_trait_maxima(options_.trait_maxima_from));
      if (!options_.theta_grid.empty()) start_theta_profile();
      if (!options_.standard_errors.empty()) se_table_.emplace(options_.standard_errors, standard_error_header());
    }
    const TaskFiles files = read_task(io_, 4, 15);
    check_result_files(files, Program::maximizing);
    io_.open(lod_unit, files.fnlod, textio::Access::write);
    io_.open(estimate_unit, files.fnest, textio::Access::write);
    return files;
  }

  // The robust mode holds theta at 0.5 in the null pass, a free flag or not.
  void begin_pass(int ihyp) override {
    io_.open(report_unit, "sigma.DAT", textio::Access::write);
    if (ihyp != null_hypothesis) return;
    model_.optpar1.par(5) = 0.5;
    if (robust_) model_.optpar1.ifree(5) = 0;
  }

  void finish_pass(int imark, int ihyp, int nfree) override {
    if (nfree != 0 && robust_) {
      if (ihyp == null_hypothesis) robust_->maximize_null(imark);
      else robust_->maximize_alternative(imark);
      if (robust_->starts_at_limit() > 0) {
        warn_iteration_limit(imark, ihyp, robust_->search_limit(settings_.maxit),
                             " from " + std::to_string(robust_->starts_at_limit()) + " of " +
                                 std::to_string(model_.optpar1.niter) + " starts");
      }
      write_report(ihyp);
    } else if (nfree != 0) {
      model_.imax.ifirst = 1;
      const Objective objective = [this](double& value) { evaluate(value); };
      const SearchEnd end = methgi(model_.imax.npar, settings_.epsf, settings_.rlx, settings_.epsx, settings_.maxit,
                                   settings_.mdum, objective, model_.optpar1, io_);
      if (end == SearchEnd::iteration_limit) warn_iteration_limit(imark, ihyp, maxpar_limit(settings_.maxit));
      write_report(ihyp);
    }
  }

  void null_pass_done(int imark) override {
    write_estimates(imark);
    if (options_.posteriors_marker == 0) write_posteriors();
    if (se_table_) null_errors_ = standard_errors(model_, io_, posterior_kernel(), false);
  }

  void write_results(int imark, double flnl0, double flod) override {
    write_estimates(imark);
    write_lod_line(imark, flnl0, flod);
    io_.close(report_unit);
    if (options_.posteriors_marker == imark) write_posteriors();
    if (se_table_) {
      const bool theta_estimated = model_.optpar1.ifree(5) != 0;
      se_table_->write(standard_error_line(imark, null_errors_, standard_errors(model_, io_, posterior_kernel(), theta_estimated)));
    }
    if (theta_table_) {
      optpar1_block start = model_.optpar1;
      saved_.restore(start, model_.imax.npar);  // par.inp's steps: the pass's own have shrunk
      theta_table_->write(theta_table_line(imark, theta_profiler_->profile(flnl0, start)));
    }
  }

  void end() override {
    io_.close(lod_unit);
    io_.close(estimate_unit);
    if (robust_ && !options_.trait_maxima_to.empty() && !robust_->trait_optima().empty())
      write_trait_maxima(options_.trait_maxima_to, robust_->trait_optima());
    if (!options_.posteriors.empty() && !posteriors_written_) {
      note("note: marker " + std::to_string(options_.posteriors_marker) + " was not analysed; " + options_.posteriors +
           " is not written");
    }
  }

  void empty_results() override {
    io_.open(report_unit, "sigma.DAT", textio::Access::write);
    for (const int unit : {lod_unit, estimate_unit, report_unit}) io_.empty_if_unwritten(unit);
  }

 private:
  // A notice file left by an earlier run would otherwise pass for one of this run.
  static void remove_earlier_notices() {
    std::error_code ignored;
    std::filesystem::remove("fort." + std::to_string(methgi_notice_unit), ignored);
  }
  // limit: the search's limit in words; starts: in the robust mode, how
  // many of the pass's starts reached it
  static void warn_iteration_limit(int imark, int ihyp, const std::string& limit, const std::string& starts = "") {
    textio::console_write(stderr, "warning: marker " + std::to_string(imark) + ", " + hypothesis_name(ihyp) +
                                      " hypothesis: no maximum within " + limit + starts +
                                      "; the best point found is reported\n");
  }
  void write_report(int ihyp);
  void write_estimates(int imark);
  void write_posteriors();
  void start_theta_profile() {
    theta_profiler_.emplace(model_, io_, *robust_, posterior_kernel(), options_.theta_grid);
    theta_table_.emplace(options_.theta_table, theta_table_header(options_.theta_grid));
  }
  MaximizerSettings settings_;
  RunOptions options_;
  std::optional<RobustMaximizer> robust_;
  std::optional<ThetaProfiler> theta_profiler_;
  std::optional<TableFile> theta_table_;
  bool posteriors_written_ = false;
  std::optional<TableFile> se_table_;
  StandardErrors null_errors_;
  // One posterior kernel for the theta profile, the standard errors and the
  // carrier probabilities: each use starts with a fresh set-up.
  PosteriorKernel& posterior_kernel() { return robust_->posterior_kernel(); }
};

// At the pass's maximum as optpar1 holds it (theta held there), once a run.
void MaximizingFlow::write_posteriors() {
  if (options_.posteriors.empty() || posteriors_written_) return;
  const optpar1_block found = model_.optpar1;
  model_.optpar1.ifree(5) = 0;
  const std::string table = posteriors_table(person_ids(model_), person_posteriors(model_, io_, posterior_kernel()));
  model_.optpar1 = found;
  std::FILE* file = std::fopen(options_.posteriors.c_str(), "w");
  const bool written = file != nullptr && std::fputs(table.c_str(), file) >= 0;
  if (file == nullptr || std::fclose(file) != 0 || !written) {
    textio::fail(options_.posteriors + ": cannot write the posterior table\n", textio::exit_input_error);
  }
  posteriors_written_ = true;
}

void MaximizingFlow::write_report(int ihyp) {
  const optpar1_block& o = model_.optpar1;
  if (ihyp == null_hypothesis) {
    textio::write_layout(io_, report_unit,
                         "('**************************************',/,'NULL HYPOTHESIS: THETA=0.5',/,"
                         "'**************************************')",
                         {});
  } else {
    textio::write_layout(io_, report_unit,
                         "('**************************************',/,'ALTERNATIVE HYPOTHESIS: THETA<0.5',/,"
                         "'**************************************')",
                         {});
  }
  textio::write_layout(io_, report_unit,
                       "(1X,' Number of iteration =',I4,/,' Number of functions =',I6,/,1X,' ln LH =',E20.8)",
                       {o.niter, o.nfun, o.flnl});
  textio::write_layout(io_, report_unit, "(10X,' Parameter',7X,'Step')", {});
  for (int i = 1; i <= model_.imax.npar; ++i) {
    textio::write_layout(io_, report_unit, "(1X,I2,1X,2E15.6,3X,I2,1X,2E15.6)", {i, o.par(i), o.dpar(i)});
  }
}

void MaximizingFlow::write_estimates(int imark) {
  const optpar1_block& o = model_.optpar1;
  textio::write_layout(io_, estimate_unit, "(I4,8E13.6)",
                       {imark, o.par(1), o.par(2), o.par(3), o.par(4), o.par(6), o.par(7)});
}

std::unique_ptr<Flow> make_flow(Program program, Model& model, textio::Channels& io, PassObserver* observer,
                                const RunOptions& options) {
  if (program == Program::maximizing) return std::make_unique<MaximizingFlow>(model, io, observer, options);
  return std::make_unique<FixedFlow>(model, io, observer);
}

}  // namespace

int run_program(Program program, PassObserver* observer, const RunOptions& options) {
  textio::Channels io;
  try {
    const auto model = std::make_unique<Model>(program);
    choose_kernel_from_environment(*model);
    const auto flow = make_flow(program, *model, io, observer, options);
    flow->start_up();
    flow->analyse_markers();
    textio::stop("");
  } catch (const textio::RunEnd& end) {
    textio::StatusLine::console().hide();
    if (!end.missing_input.empty()) textio::console_write(stderr, missing_input_hint(program, end.missing_input));
    if (end.close_channels) io.close_all();
    return end.status;
  }
}

}  // namespace bravik

#pragma once
// Builds the kernel's blocks directly from a list of families, so that tests
// of the likelihood can describe pedigrees without going through IWAY.DAT.
#include <memory>
#include <vector>

#include "model/blocks.hpp"
#include "model/objective/genmmp.hpp"
#include "model/polygenic.hpp"
#include "textio/channels.hpp"

namespace kerneltest {

// One nuclear family as family-local numbers: father, mother, children (a
// test may list fewer members to build a degenerate description), and the
// connector (0 = terminal).
struct NuclearFamily {
  std::vector<int> members;
  int connector = 0;
};

inline NuclearFamily nuclear(std::vector<int> members, int connector) { return {std::move(members), connector}; }

struct Person {
  double trait = -999.0;
  int marker = 0;  // 0 untyped, 1 = 11, 2 = 12, 3 = 22
};

struct Family {
  std::vector<Person> persons;  // family-local numbers 1, 2, ...
  std::vector<NuclearFamily> nuclear;
};

// The model parameters in the order of par(1..9).
struct Parameters {
  double q = 0.3;
  double mean11 = 12.0;
  double mean12 = 10.0;
  double mean22 = 8.0;
  double theta = 0.1;
  double variance = 1.5;
  double step = 0.4;
  double p1 = 0.6;
  double p2 = 0.4;
};

inline std::unique_ptr<bravik::Model> make_model(bravik::Program program = bravik::Program::fixed) {
  return std::make_unique<bravik::Model>(program);
}

// One model of the fixed program shared by the tests of this binary: creating
// one clears over 100 MB. Every test sets the inputs it relies on (prepare).
inline bravik::Model& shared_model() {
  static const std::unique_ptr<bravik::Model> model = make_model();
  return *model;
}

// Runs the shared model as the given program for the lifetime of the object.
class ProgramScope {
 public:
  explicit ProgramScope(bravik::Program program) : saved_(shared_model().program) { shared_model().program = program; }
  ~ProgramScope() { shared_model().program = saved_; }
  ProgramScope(const ProgramScope&) = delete;
  ProgramScope& operator=(const ProgramScope&) = delete;

 private:
  bravik::Program saved_;
};

// Fills nfam, ifst, inuc, imem, mem, icon, yph and mgt(., 0) from the families.
inline void describe(bravik::Model& model, const std::vector<Family>& families) {
  bravik::Pedigree& ped = model.ped;
  ped.buf1.nfam = static_cast<int>(families.size());
  int persons = 0;
  int nuclear_families = 0;
  int position = 0;  // next free position of mem
  ped.buf14.imem(0) = 0;
  for (int f = 1; f <= ped.buf1.nfam; ++f) {
    const Family& family = families[static_cast<std::size_t>(f - 1)];
    ped.buf1.ifst(f) = persons;
    ped.buf3.inuc(f) = nuclear_families;
    for (const Person& person : family.persons) {
      ++persons;
      ped.buf2.yph(persons) = person.trait;
      ped.buf2.mgt(persons, 0) = person.marker;
    }
    for (const NuclearFamily& nf : family.nuclear) {
      ++nuclear_families;
      ped.buf14.imem(nuclear_families) = position;
      ped.buf15.icon(nuclear_families) = nf.connector;
      for (int member : nf.members) ped.buf16.mem(position++) = member;
    }
  }
  ped.buf1.ifst(ped.buf1.nfam + 1) = persons;
  ped.buf3.inuc(ped.buf1.nfam + 1) = nuclear_families;
  ped.buf14.imem(nuclear_families + 1) = position;
  ped.npers = persons;
}

// Every parameter fixed, untied, with wide bounds.
inline void set_parameters(bravik::Model& model, const Parameters& p) {
  const double values[] = {p.q, p.mean11, p.mean12, p.mean22, p.theta, p.variance, p.step, p.p1, p.p2};
  model.imax.npar = 7;
  for (int i = 1; i <= 9; ++i) model.optpar1.par(i) = values[i - 1];
  for (int i = 1; i <= bravik::N_PAR; ++i) {
    model.optpar1.ifree(i) = 0;
    model.optpar1.parlo(i) = -1.0e6;
    model.optpar1.parhi(i) = 1.0e6;
    model.optpar2.link(i) = i;
  }
}

// Seven polygenic classes, or one class of weight 1 when `polygenic` is false.
inline void set_polygenic(bravik::Model& model, bool polygenic) {
  model.pg.nhalf = 3;
  model.pg.npol = bravik::N_POL;
  bravik::fom_bep(model);
  bravik::set_class_weights(model);
  if (!polygenic) {
    model.pg.npol = 1;
    model.prpar.wpol(1) = 1.0;
  }
}

// One evaluation that starts a series (first-call set-up).
inline double evaluate(bravik::Model& model, textio::Channels& io) {
  model.imax.ifirst = -1;
  double value = 0.0;
  bravik::genmmp(model, io, value);
  return value;
}

// Makes a model ready for evaluation: description, parameters, polygenic
// tables. A model is large, so tests reuse one for many pedigrees.
inline void prepare(bravik::Model& model, const std::vector<Family>& families, const Parameters& parameters,
                    bool polygenic) {
  describe(model, families);
  set_parameters(model, parameters);
  set_polygenic(model, polygenic);
}

// The shared model, prepared.
inline bravik::Model& build(const std::vector<Family>& families, const Parameters& parameters, bool polygenic) {
  bravik::Model& model = shared_model();
  prepare(model, families, parameters, polygenic);
  return model;
}

}  // namespace kerneltest

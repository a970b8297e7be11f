#include "run/config.hpp"

#include <string_view>

#include "textio/list_input.hpp"

namespace bravik {
namespace {

constexpr int config_unit = 1;

template <class T>
void read_record(textio::Channels& io, T& value) {
  textio::ListInput record(io, config_unit);
  record.get(value);
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
  read_record(io, s.maxit);
  read_record(io, s.rlx);
  read_record(io, s.epsf);
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

void read_par(Model& model, textio::Channels& io) {
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
  }
  io.close(config_unit);
}

}  // namespace bravik

#include "model/density.hpp"

#include <algorithm>
#include <cmath>
#include <string_view>

#include "textio/layout.hpp"
#include "textio/pause.hpp"
#include "textio/run_end.hpp"

namespace bravik {

double fen(const Model& model, int p, int g, int k) {
  const double y = model.ped.buf2.yph(p);
  const int t = model.ped.buf2.mgt(p, 0);
  if (y <= not_measured && t == 0) return 1.0;
  if (t != 0 && t != model.prpar.img(g)) return 0.0;
  if (y <= not_measured) return 1.0;
  const imax_block& m = model.imax;
  const double z = (m.gmean(model.prpar.itg(g)) + static_cast<double>(k - 4) * m.apol - y) / m.sdev;
  return std::exp(-0.5 * z * z) / m.sdev;
}

namespace {

// The slots of one family: person p's kk-th genotype is slot i_start(p) - base + kk.
struct FamilySlots {
  int offset;  // ifst(f)
  int base;    // i_start of the family's first person
};

void report_overflow(const Model& model, textio::Channels& io, int position) {
  if (model.program == Program::maximizing) {
    textio::write_list(io, textio::stdout_unit, {std::string_view{"Increase N_WAY in mas_size"}});
  } else {
    textio::write_list(io, textio::stdout_unit,
                       {std::string_view{"ERROR: increase N_WAY in max_size up to"}, position + 2});
  }
  textio::pause(io);
  textio::stop("", textio::exit_error_stop);
}

void fill_with_ones(Model& model, textio::Channels& io, int ntot) {
  for (int s = 1; s <= ntot; ++s) {
    for (int j = 1; j <= model.pg.npol; ++j) {
      const int position = N_POL * (s - 1) + j;
      if (position > N_WAY) report_overflow(model, io, position);
      model.xx.store(position) = 1.0;
    }
  }
}

// A member whose parents are in the pedigree: the density alone.
void fill_child(Model& model, const FamilySlots& fs, int c) {
  const int p = fs.offset + c;
  if (!(model.ped.buf2.yph(p) > skipped_entirely)) return;
  const genot_block& genot = model.genot;
  for (int kk = 1; kk <= genot.n_gen(p); ++kk) {
    const int g = genot.l_gen(genot.i_start(p) + kk);
    const int s = genot.i_start(p) - fs.base + kk;
    for (int j = 1; j <= model.pg.npol; ++j) model.xx.xx(j, s) = fen(model, p, g, j);
  }
}

// Any other member: density times the priors of genotype and class.
void fill_founder(Model& model, const FamilySlots& fs, int c) {
  const int p = fs.offset + c;
  const bool has_density = model.ped.buf2.yph(p) > skipped_entirely;
  const genot_block& genot = model.genot;
  const prpar_block& prpar = model.prpar;
  for (int kk = 1; kk <= genot.n_gen(p); ++kk) {
    const int g = genot.l_gen(genot.i_start(p) + kk);
    const int s = genot.i_start(p) - fs.base + kk;
    for (int j = 1; j <= model.pg.npol; ++j) {
      model.xx.xx(j, s) = has_density ? fen(model, p, g, j) * prpar.gfreq(g) * prpar.wpol(j)
                                      : prpar.wpol(j) * prpar.gfreq(g);
    }
  }
}

}  // namespace

void massix(Model& model, textio::Channels& io, int f) {
  const Pedigree& ped = model.ped;
  const int offset = ped.buf1.ifst(f);
  const int nper = ped.buf1.ifst(f + 1) - offset;
  const FamilySlots fs{offset, model.genot.i_start(offset + 1)};
  const int ntot = model.genot.i_start(ped.buf1.ifst(f + 1) + 1) - fs.base;
  for (int c = 1; c <= nper; ++c) model.iyk(c) = 0;
  fill_with_ones(model, io, ntot);
  const int first_nuclear = ped.buf3.inuc(f) + 1;
  const int last_nuclear = ped.buf3.inuc(f + 1);
  for (int i = first_nuclear; i <= last_nuclear; ++i) {
    for (int idx = ped.buf14.imem(i) + 2; idx < ped.buf14.imem(i + 1); ++idx) {
      const int c = ped.buf16.mem(idx);
      model.iyk(c) = 1;
      fill_child(model, fs, c);
    }
  }
  for (int i = first_nuclear; i <= last_nuclear; ++i) {
    const int members = ped.buf14.imem(i + 1) - ped.buf14.imem(i);
    for (int idx = ped.buf14.imem(i); idx < ped.buf14.imem(i) + std::min(members, 2); ++idx) {
      const int c = ped.buf16.mem(idx);
      if (model.iyk(c) == 1) continue;
      model.iyk(c) = 1;
      fill_founder(model, fs, c);
    }
  }
  for (int c = 1; c <= nper; ++c) {
    if (model.iyk(c) != 1) fill_founder(model, fs, c);
  }
}

}  // namespace bravik

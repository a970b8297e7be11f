#include "model/genotype.hpp"

#include <string_view>

#include "textio/layout.hpp"
#include "textio/pause.hpp"
#include "textio/run_end.hpp"

namespace bravik {
namespace {

// A parental genotype is removed when its transmission sum falls below this.
constexpr double removal_threshold = 1e-15;

class Flags {
 public:
  explicit Flags(Model& model) : flag_(model.iflag) {}
  std::int32_t& operator()(int g, int p) {
    return flag_[static_cast<std::size_t>(g - 1) + static_cast<std::size_t>(N_JOINT) * static_cast<std::size_t>(p - 1)];
  }

 private:
  Zeroed<std::int32_t>& flag_;
};

// The members of one nuclear family as global person numbers.
struct NuclearMembers {
  int father;
  int mother;
  int first_child;  // position in mem of the first child
  int end;          // one past the last member
  int offset;       // ifst of the family
};

void screen_phenotypes(Model& model, Flags& iflag, int n) {
  for (int p = 1; p <= n; ++p) {
    for (int g = 1; g <= N_JOINT; ++g) iflag(g, p) = 1;
    const int t = model.ped.buf2.mgt(p, 0);
    if (t == 0) continue;
    for (int g = 1; g <= N_JOINT; ++g) {
      if (model.prpar.img(g) != t) iflag(g, p) = 0;
    }
  }
}

int count_pairs(Flags& iflag, int n) {
  int count = 0;
  for (int p = 1; p <= n; ++p) {
    for (int g = 1; g <= N_JOINT; ++g) count += iflag(g, p) == 1 ? 1 : 0;
  }
  return count;
}

// Adds tgen over the children's remaining genotypes for one parent pair to sum.
void add_children(const Model& model, Flags& iflag, const NuclearMembers& nf, int g_mother, int g_father,
                  double& sum) {
  const Pedigree& ped = model.ped;
  for (int idx = nf.first_child; idx < nf.end; ++idx) {
    const int c = nf.offset + ped.buf16.mem(idx);
    for (int g_child = 1; g_child <= N_JOINT; ++g_child) {
      if (iflag(g_child, c) == 1) sum = sum + model.tranc.tgen(g_child, g_mother, g_father);
    }
  }
}

// Removes the genotypes of one parent (the father when `father` is true) whose
// transmission sum over the spouse's and the children's remaining genotypes
// falls below the threshold; the spouse's genotypes form the outer sum.
void parent_pass(const Model& model, Flags& iflag, const NuclearMembers& nf, bool father) {
  const int parent = father ? nf.father : nf.mother;
  const int spouse = father ? nf.mother : nf.father;
  for (int g_parent = 1; g_parent <= N_JOINT; ++g_parent) {
    if (iflag(g_parent, parent) != 1) continue;
    double sum = 0.0;
    for (int g_spouse = 1; g_spouse <= N_JOINT; ++g_spouse) {
      if (iflag(g_spouse, spouse) != 1) continue;
      const int g_mother = father ? g_spouse : g_parent;
      const int g_father = father ? g_parent : g_spouse;
      add_children(model, iflag, nf, g_mother, g_father, sum);
    }
    if (sum < removal_threshold) iflag(g_parent, parent) = 0;
  }
}

void sweep(const Model& model, Flags& iflag) {
  const Pedigree& ped = model.ped;
  for (int f = 1; f <= ped.buf1.nfam; ++f) {
    const int offset = ped.buf1.ifst(f);
    for (int i = ped.buf3.inuc(f) + 1; i <= ped.buf3.inuc(f + 1); ++i) {
      const int first = ped.buf14.imem(i);
      const NuclearMembers nf{offset + ped.buf16.mem(first), offset + ped.buf16.mem(first + 1), first + 2,
                              ped.buf14.imem(i + 1), offset};
      parent_pass(model, iflag, nf, true);
      parent_pass(model, iflag, nf, false);
    }
  }
}

void report_overflow(const Model& model, textio::Channels& io) {
  const std::string_view advice = model.program == Program::maximizing ? "Increase N_WAY in mas_size"
                                                                       : "Increase N_WAY in max_size";
  textio::write_list(io, textio::stdout_unit, {std::string_view{"Number of possible genotypes > N_WAY"}});
  textio::write_list(io, textio::stdout_unit, {advice});
  textio::pause(io);
  textio::stop("", textio::exit_error_stop);
}

void build_lists(Model& model, Flags& iflag, int n) {
  genot_block& genot = model.genot;
  genot.n_pers = n;
  genot.i_start(1) = 0;
  int entries = 0;
  for (int p = 1; p <= n; ++p) {
    for (int g = 1; g <= N_JOINT; ++g) {
      if (iflag(g, p) != 0) genot.l_gen(++entries) = g;
    }
    genot.i_start(p + 1) = entries;
  }
  for (int p = 1; p <= n; ++p) genot.n_gen(p) = genot.i_start(p + 1) - genot.i_start(p);
}

}  // namespace

void genotype(Model& model, textio::Channels& io) {
  Flags iflag(model);
  const int n = model.ped.buf1.ifst(model.ped.buf1.nfam + 1);
  screen_phenotypes(model, iflag, n);
  int pairs = count_pairs(iflag, n);
  for (;;) {
    sweep(model, iflag);
    const int remaining = count_pairs(iflag, n);
    if (remaining >= pairs) break;
    pairs = remaining;
  }
  if (pairs > N_WAY) report_overflow(model, io);
  build_lists(model, iflag, n);
}

}  // namespace bravik

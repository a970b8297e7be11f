#pragma once
// The blocks of the likelihood kernel and the parameter record it shares with
// the run control and the maximizer.
#include <cstdint>
#include <memory>

#include "base/indexed.hpp"
#include "pedigree/blocks.hpp"

namespace bravik {

inline constexpr int N_PAR = 15;   // positions of every per-parameter array
inline constexpr int N_POL = 7;    // polygenic classes
inline constexpr int N_JOINT = 10; // joint genotypes (major gene x marker, with phase)
inline constexpr int N_HAP = 4;    // haplotypes

// Which program the kernel runs in: they differ only in a few messages and in
// the polygenic set-up.
enum class Program { fixed, maximizing };

// The parameter record.
struct optpar1_block {
  Fixed<double, 1, N_PAR> par;
  Fixed<double, 1, N_PAR> dpar;
  Fixed<std::int32_t, 1, N_PAR> ifree;
  Fixed<double, 1, N_PAR> parhi;
  Fixed<double, 1, N_PAR> parlo;
  double flnl = 0.0;
  std::int32_t niter = 0;
  std::int32_t nfun = 0;
};

struct optpar2_block {
  Fixed<std::int32_t, 1, N_PAR> link;
};

struct imax_block {
  Fixed<double, 1, 3> gmean;
  double sdev = 0.0;
  double apol = 0.0;
  std::int32_t ifirst = 0;
  std::int32_t npar = 0;
};

struct pg_block {
  std::int32_t nhalf = 0;
  std::int32_t npol = 0;
};

// Joint genotype frequencies, the constant class tables, the class weights.
struct prpar_block {
  Fixed<double, 1, N_JOINT> gfreq;
  Fixed<std::int32_t, 1, N_JOINT> itg;  // major-gene class of each joint genotype
  Fixed<std::int32_t, 1, N_JOINT> img;  // marker class of each joint genotype
  Fixed<double, 1, N_POL> wpol;
  prpar_block();
};

// Transmission tables: thap(g, h), tpol(c, f, m) with counts 0..6, tgen(c, m, f).
struct tranc_block {
  std::array<double, N_JOINT * N_HAP> thap_store{};
  std::array<double, N_POL * N_POL * N_POL> tpol_store{};
  std::array<double, N_JOINT * N_JOINT * N_JOINT> tgen_store{};
  double& thap(int g, int h) { return thap_store[static_cast<std::size_t>((g - 1) + N_JOINT * (h - 1))]; }
  double thap(int g, int h) const { return thap_store[static_cast<std::size_t>((g - 1) + N_JOINT * (h - 1))]; }
  double& tpol(int c, int f, int m) {
    return tpol_store[static_cast<std::size_t>(c + N_POL * (f + N_POL * m))];
  }
  double tpol(int c, int f, int m) const {
    return tpol_store[static_cast<std::size_t>(c + N_POL * (f + N_POL * m))];
  }
  double& tgen(int c, int m, int f) {
    return tgen_store[static_cast<std::size_t>((c - 1) + N_JOINT * ((m - 1) + N_JOINT * (f - 1)))];
  }
  double tgen(int c, int m, int f) const {
    return tgen_store[static_cast<std::size_t>((c - 1) + N_JOINT * ((m - 1) + N_JOINT * (f - 1)))];
  }
};

// The genotype lists: person p's admissible joint genotypes are
// l_gen(i_start(p)+1) .. l_gen(i_start(p)+n_gen(p)).
struct genot_block {
  std::int32_t n_pers = 0;
  Heap<std::int32_t, 1> i_start{N_SIZE + 1};
  Heap<std::int32_t, 1> n_gen{N_SIZE};
  Heap<std::int32_t, 1> l_gen{N_WAY};
};

// The per-family table: xx(j, s) for class j and genotype slot s is element
// j + 7(s-1), whatever the number of classes in use.
struct xx_block {
  Heap<double, 1> store{N_WAY};
  double& xx(int j, int s) { return store(j + N_POL * (s - 1)); }
  double xx(int j, int s) const { return store(j + N_POL * (s - 1)); }
};

// Which check of the set-up rejected the last parameter vector.
struct Rejection {
  enum class Check { none, bounds, means_order };
  Check check = Check::none;
  int parameter = 0;  // the parameter out of bounds, or 4 for the means in the wrong order
};

// Which kernel computes the families: the literal one (one thread), or the fast
// one, which gives the same bits on all threads.
enum class KernelChoice { reference, fast };

// The vector instructions the fast kernel's family routine runs with: the
// widest that the build and the running machine have, or one forced (for
// measuring and testing the others). Every path gives the same bits.
enum class MachinePath { widest, avx512, avx2, baseline };

class FastKernel;  // the fast kernel's per-series plan, thread pool and workspaces

// Everything the kernel reads and writes, created once at start-up.
struct Model {
  explicit Model(Program program_) : program(program_) {}
  Program program;
  Pedigree ped;
  optpar1_block optpar1;
  optpar2_block optpar2;
  imax_block imax;
  pg_block pg;
  prpar_block prpar;
  tranc_block tranc;
  genot_block genot;
  xx_block xx;
  // Work arrays private to genotype and massix, kept between calls.
  Zeroed<std::int32_t> iflag{static_cast<std::size_t>(N_JOINT) * N_SIZE};
  Heap<std::int32_t, 1> iyk{N_SIZE};
  // Diagnostics of the last evaluation, for the run control's messages.
  Rejection rejection;
  int first_nonfinite_family = 0;  // 0 when every family's log-likelihood was finite
  // Counts the first-call set-ups (new genotype lists and transmissions), so
  // that a kernel can tell whether its plan of the series is still current.
  std::uint64_t first_call_setups = 0;
  // The kernel of every evaluation, and the threads of the fast one.
  KernelChoice kernel = KernelChoice::fast;
  int threads = 1;
  MachinePath path = MachinePath::widest;
  std::shared_ptr<FastKernel> fast;  // created by the first fast evaluation
};

}  // namespace bravik

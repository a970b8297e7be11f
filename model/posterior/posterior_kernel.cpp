#include "model/posterior/posterior_kernel.hpp"


#include "model/density.hpp"
#include "model/posterior/posterior_family.hpp"
#include "model/tables.hpp"

namespace bravik {
namespace {

// d thap(g, h) / d theta: the double heterozygotes pass each parental
// haplotype with (1 - theta)/2 and each recombinant with theta/2.
double haplotype_derivative(int g, int h) {
  const int double_heterozygote_14 = joint_genotype(1, 4);
  const int double_heterozygote_23 = joint_genotype(2, 3);
  if (g == double_heterozygote_14) return (h == 1 || h == 4) ? -0.5 : 0.5;
  if (g == double_heterozygote_23) return (h == 2 || h == 3) ? -0.5 : 0.5;
  return 0.0;
}

bool recombinant(int g, int h) { return haplotype_derivative(g, h) > 0.0; }

constexpr int allele_frequency = 1;  // its position among the parameters

// d ln gfreq(g) / d q for a joint genotype of major-gene class `major`: each
// haplotype carrying allele 1 adds 1/q, each carrying allele 2 -1/(1 - q).
double log_prior_derivative(int major, double q) {
  const int ones = 3 - major;
  return static_cast<double>(ones) / q - static_cast<double>(2 - ones) / (1.0 - q);
}

}  // namespace

void TransmissionDerivatives::build(const tranc_block& tranc) {
  d_theta.fill(0.0);
  recombinant.fill(0.0);
  for (int f = 1; f <= N_JOINT; ++f) {
    for (int m = 1; m <= N_JOINT; ++m) {
      for (int k = 1; k <= N_HAP; ++k) {
        for (int l = 1; l <= N_HAP; ++l) {
          const auto at = static_cast<std::size_t>((joint_genotype(k, l) - 1) + N_JOINT * ((m - 1) + N_JOINT * (f - 1)));
          const double both = tranc.thap(f, k) * tranc.thap(m, l);
          d_theta[at] += haplotype_derivative(f, k) * tranc.thap(m, l) + tranc.thap(f, k) * haplotype_derivative(m, l);
          recombinant[at] += both * ((bravik::recombinant(f, k) ? 1.0 : 0.0) + (bravik::recombinant(m, l) ? 1.0 : 0.0));
        }
      }
    }
  }
  for (int g1 = 1; g1 <= N_JOINT; ++g1) {
    for (int g2 = 1; g2 <= N_JOINT; ++g2) {
      bool any = false;
      for (int child = 1; child <= N_JOINT; ++child) {
        const auto at = static_cast<std::size_t>((child - 1) + N_JOINT * ((g1 - 1) + N_JOINT * (g2 - 1)));
        any = any || d_theta[at] != 0.0 || recombinant[at] != 0.0;
      }
      moves[static_cast<std::size_t>((g1 - 1) * N_JOINT + g2 - 1)] = any;
    }
  }
  for (int second = 1; second <= N_JOINT; ++second) {
    for (int child = 1; child <= N_JOINT; ++child) {
      const auto entry = static_cast<std::size_t>((second - 1) * N_JOINT + child - 1);
      d_theta_by_first[entry] = TransmissionByFirst{};
      recombinant_by_first[entry] = TransmissionByFirst{};
      for (int first = 1; first <= N_JOINT; ++first) {
        const auto at = static_cast<std::size_t>((child - 1) + N_JOINT * ((first - 1) + N_JOINT * (second - 1)));
        d_theta_by_first[entry].half[(first - 1) / 8][(first - 1) % 8] = d_theta[at];
        recombinant_by_first[entry].half[(first - 1) / 8][(first - 1) % 8] = recombinant[at];
      }
    }
  }
}

PosteriorKernel::PosteriorKernel(int threads)
    : routine_(posterior_routine(MachinePath::widest)),
      inward_routine_(recorded_family_routine(MachinePath::widest)),
      pool_(threads < 1 ? 1 : threads) {
  workspaces_.resize(static_cast<std::size_t>(pool_.size()));
}

PosteriorKernel::~PosteriorKernel() = default;

void PosteriorKernel::plan(const Model& model) {
  plan_series(model, plan_);
  for (PosteriorWorkspace& work : workspaces_) work.reserve(model, plan_);
  const Pedigree& ped = model.ped;
  const auto persons = static_cast<std::size_t>(ped.buf1.ifst(ped.buf1.nfam + 1)) + 1;
  lf_.assign(static_cast<std::size_t>(ped.buf1.nfam) + 1, 0.0);
  scores_.assign(static_cast<std::size_t>(ped.buf1.nfam) + 1, FamilyScore{});
  posterior_.assign(static_cast<std::size_t>(model.genot.i_start(static_cast<int>(persons))) * N_POL, 0.0);
  recombinations_.assign(persons, 0.0);
  theta_score_.assign(persons, 0.0);
  in_nuclear_.assign(persons, 0);
  for (const NuclearPlan& nf : plan_.nuclear) {
    in_nuclear_[static_cast<std::size_t>(nf.father)] = 1;
    in_nuclear_[static_cast<std::size_t>(nf.mother)] = 1;
    for (int i = nf.children_begin; i < nf.children_end; ++i) {
      in_nuclear_[static_cast<std::size_t>(plan_.children[static_cast<std::size_t>(i)])] = 1;
    }
  }
  planned_after_ = model.first_call_setups;
}

// The sums over the family's persons in order, their genotypes and classes:
// of the founders' posterior expectations of d ln gfreq / d q, and for the
// measured persons of the residual r by major-gene class, of r^2, of the
// posterior mass and of r times the class's step; divided by the variance at
// the end. Theta's score is the sum of the children's.
void PosteriorKernel::score_family(const Model& model, const FamilyPlan& family, FamilyScore& score) const {
  const imax_block& m = model.imax;
  const double q = model.optpar1.par(allele_frequency);
  const double v = m.sdev * m.sdev;
  const double prior_derivative[4] = {0.0, log_prior_derivative(1, q), log_prior_derivative(2, q),
                                      log_prior_derivative(3, q)};
  double allele = 0.0;
  double residual[4] = {0.0, 0.0, 0.0, 0.0};
  double squares = 0.0;
  double mass = 0.0;
  double stepped = 0.0;
  double theta = 0.0;
  for (int p = family.first_person; p < family.first_person + family.persons; ++p) {
    if (!in_likelihood(p)) continue;
    const bool founder = !is_child(p);
    const double y = model.ped.buf2.yph(p);
    const bool measured = y > not_measured;
    for (int k = 1; k <= model.genot.n_gen(p); ++k) {
      const int major = model.prpar.itg(model.genot.l_gen(model.genot.i_start(p) + k));
      for (int c = 1; c <= model.pg.npol; ++c) {
        const double posterior = this->posterior(model, p, k, c);
        if (posterior == 0.0) continue;
        if (founder) allele += posterior * prior_derivative[major];
        if (!measured) continue;
        const double shift = static_cast<double>(c - 4);
        const double r = y - (m.gmean(major) + shift * m.apol);
        residual[major] += posterior * r;
        squares += posterior * r * r;
        mass += posterior;
        stepped += posterior * r * shift;
      }
    }
    theta += theta_score(p);
  }
  score = {allele, residual[1] / v, residual[2] / v, residual[3] / v, theta, (squares / v - mass) / (2.0 * v),
           stepped / v};
}

// Every thread takes the next family not yet taken, most costly first.
struct PosteriorTask {
  const Model& model;
  PosteriorKernel& kernel;
  SharedIndices next{};

  void operator()(int worker) {
    PosteriorWorkspace& work = kernel.workspaces_[static_cast<std::size_t>(worker)];
    const PosteriorOutputs out{kernel.posterior_.data(), kernel.recombinations_.data(), kernel.theta_score_.data(),
                               kernel.with_recombinations_};
    const InwardPass inward{kernel.inward_routine_, kernel.tables_};
    const std::vector<int>& order = kernel.plan_.by_cost;
    next.for_each(static_cast<int>(order.size()), [&](int i) {
      const int f = order[static_cast<std::size_t>(i)];
      const FamilyPlan& family = kernel.plan_.families[static_cast<std::size_t>(f - 1)];
      kernel.lf_[static_cast<std::size_t>(f)] =
          kernel.routine_({model, kernel.plan_, family, kernel.derivatives_, inward, work, out});
      kernel.score_family(model, family, kernel.scores_[static_cast<std::size_t>(f)]);
    });
  }
};

double PosteriorKernel::evaluate(const Model& model) {
  if (planned_after_ != model.first_call_setups) plan(model);
  if (model.path != path_) {
    path_ = model.path;
    routine_ = posterior_routine(path_);
    inward_routine_ = recorded_family_routine(path_);
  }
  tables_.build(model.tranc);
  derivatives_.build(model.tranc);
  PosteriorTask task{model, *this};
  pool_.run(task);
  double value = 0.0;
  for (int f = 1; f <= model.ped.buf1.nfam; ++f) value = value + lf_[static_cast<std::size_t>(f)];
  return value;
}

}  // namespace bravik

// The posterior kernel: its log-likelihood against the literal kernel's, its
// gradient against finite differences of the literal kernel's log-likelihood,
// its posterior probabilities against brute-force enumeration on tiny
// pedigrees, and the same bits on any number of threads.
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "model/density.hpp"
#include "model/fast/fast_family.hpp"
#include "model/objective/genmmp.hpp"
#include "model/posterior/gradient.hpp"
#include "program_runner.hpp"
#include "run_folder_support.hpp"
#include "tests/kernel_fixture.hpp"
#include "tests/kernel_reference.hpp"
#include "tests/kernel_shapes.hpp"

namespace bravik::testing {
namespace {

using kerneltest::Random;

double literal_value(Model& model, textio::Channels& io) {
  model.kernel = KernelChoice::reference;
  model.imax.ifirst = -1;
  double value = 0.0;
  genmmp(model, io, value);
  model.kernel = KernelChoice::fast;
  return value;
}

double posterior_value(Model& model, textio::Channels& io, PosteriorKernel& kernel, ParameterGradient& gradient) {
  model.imax.ifirst = -1;
  double value = 0.0;
  objective_with_gradient(model, io, kernel, value, gradient);
  return value;
}

// The derivative of the literal log-likelihood in par(i) by Richardson
// extrapolation of two steps h and h/2: of central differences (error of
// order h^4), or, where a step would leave the admissible side (theta below
// 0, the homozygote means out of order, q outside (0, 1)), of one-sided
// second-order differences towards `side` (error of order h^3).
struct Difference {
  double derivative;
  double noise;  // the round-off that the differences carry
};

Difference finite_difference(Model& model, textio::Channels& io, int i, double h, int side) {
  const double x = model.optpar1.par(i);
  const auto f = [&](double at) {
    model.optpar1.par(i) = at;
    const double value = literal_value(model, io);
    model.optpar1.par(i) = x;
    return value;
  };
  const double f0 = f(x);
  std::function<double(double)> estimate;
  if (side == 0) {
    estimate = [&](double s) { return (f(x + s) - f(x - s)) / (2.0 * s); };
  } else {
    estimate = [&](double s) {
      const double t = side * s;
      return (-3.0 * f0 + 4.0 * f(x + t) - f(x + 2.0 * t)) / (2.0 * t);
    };
  }
  const double coarse = estimate(h);
  const double fine = estimate(h / 2.0);
  const double derivative = (4.0 * fine - coarse) / 3.0;  // both formulas' leading error is of order h^2
  return {derivative, 64.0 * std::numeric_limits<double>::epsilon() * (std::fabs(f0) + 1.0) / h};
}

// The step and the side of par(i)'s differences.
void step_of(const Model& model, int i, double& h, int& side) {
  const optpar1_block& o = model.optpar1;
  const double sd = std::sqrt(o.par(6));
  const double gap = o.par(2) - o.par(4);
  side = 0;
  switch (i) {
    case 1: h = 1e-3 * std::fmin(o.par(1), 1.0 - o.par(1)); break;
    case 2:
    case 4:
      h = gap > 0.0 ? std::fmin(1e-3 * sd, gap / 8.0) : 1e-4 * sd;
      if (gap == 0.0) side = i == 2 ? 1 : -1;
      break;
    case 5:
      h = 1e-3;
      if (o.par(5) < 4.0 * h) {
        h = 1e-4;
        side = 1;
      }
      break;
    case 6: h = 1e-3 * o.par(6); break;
    default: h = 1e-3 * sd; break;
  }
}

// The kernel's value equals the literal one's, and its gradient the finite
// differences, for every parameter that a tie does not replace.
void expect_gradient_as_differences(Model& model, textio::Channels& io, const std::string& what) {
  PosteriorKernel kernel(2);
  ParameterGradient gradient;
  const double value = posterior_value(model, io, kernel, gradient);
  const double literal = literal_value(model, io);
  ASSERT_TRUE(std::isfinite(literal)) << what;
  EXPECT_NEAR(value, literal, 1e-11 * (std::fabs(literal) + 1.0)) << what;
  for (int i = 1; i <= 7; ++i) {
    if (model.optpar2.link(i) != i) {
      EXPECT_EQ(gradient(i), 0.0) << what << ", tied parameter " << i;
      continue;
    }
    double h;
    int side;
    step_of(model, i, h, side);
    const Difference d = finite_difference(model, io, i, h, side);
    EXPECT_NEAR(gradient(i), d.derivative, 1e-6 * std::fabs(d.derivative) + d.noise)
        << what << ", parameter " << i << " (step " << h << (side != 0 ? ", one-sided" : "") << ")";
  }
}

// ---------------------------------------------------------------------------
// Small pedigrees of every shape and description, with parameters at the
// edges the issue names.

struct EdgeCase {
  std::string name;
  std::function<void(kerneltest::Parameters&)> set;
};

std::vector<EdgeCase> edge_cases() {
  return {
      {"random", [](kerneltest::Parameters&) {}},
      {"theta 0", [](kerneltest::Parameters& p) { p.theta = 0.0; }},
      {"theta 0.05", [](kerneltest::Parameters& p) { p.theta = 0.05; }},
      {"theta 0.3", [](kerneltest::Parameters& p) { p.theta = 0.3; }},
      {"theta 0.5", [](kerneltest::Parameters& p) { p.theta = 0.5; }},
      {"means nearly equal",
       [](kerneltest::Parameters& p) {
         p.mean12 = p.mean11 - 5e-4;
         p.mean22 = p.mean11 - 1e-3;
       }},
      {"means equal",
       [](kerneltest::Parameters& p) {
         p.mean12 = p.mean11;
         p.mean22 = p.mean11;
       }},
      {"allele frequency near 0", [](kerneltest::Parameters& p) { p.q = 2e-3; }},
      {"allele frequency near 1", [](kerneltest::Parameters& p) { p.q = 0.998; }},
  };
}

TEST(PosteriorGradient, EveryShapeEdgeAndPolygenicSetting) {
  using namespace kerneltest;
  textio::Channels io;
  Model& model = shared_model();
  Random random(424242);
  for (const Shape& shape : all_shapes()) {
    for (const EdgeCase& edge : edge_cases()) {
      for (const bool polygenic : {true, false}) {
        Parameters p = random_parameters(random);
        edge.set(p);
        std::vector<int> truth;
        Family family{random_persons(shape, p, random, truth), {}};
        family.nuclear = shape.descriptions[static_cast<std::size_t>(
            random.integer(0, static_cast<int>(shape.descriptions.size()) - 1))];
        prepare(model, {family}, p, polygenic);
        expect_gradient_as_differences(model, io,
                                       shape.name + ", " + edge.name + (polygenic ? ", 7 classes" : ", 1 class"));
      }
    }
  }
}

// Ties: a parameter tied to another passes its derivative to it.
TEST(PosteriorGradient, TiedParametersSumTheirDerivatives) {
  using namespace kerneltest;
  textio::Channels io;
  Model& model = shared_model();
  Random random(99);
  const Shape shape = three_generations(false, Extra::second_grandchild);
  for (const auto& [tied, target] : std::vector<std::pair<int, int>>{{3, 2}, {4, 3}, {7, 6}}) {
    Parameters p = random_parameters(random);
    std::vector<int> truth;
    const Family family{random_persons(shape, p, random, truth), shape.descriptions.front()};
    prepare(model, {family}, p, true);
    model.optpar2.link(tied) = target;
    model.optpar1.par(tied) = model.optpar1.par(target);
    if (model.optpar1.par(4) > model.optpar1.par(2)) model.optpar1.par(4) = model.optpar1.par(2);
    expect_gradient_as_differences(model, io, "parameter " + std::to_string(tied) + " tied to " + std::to_string(target));
    // The untied derivatives of both positions add up to the tied one.
    PosteriorKernel kernel(1);
    ParameterGradient with_tie;
    posterior_value(model, io, kernel, with_tie);
    model.optpar2.link(tied) = tied;
    ParameterGradient untied;
    posterior_value(model, io, kernel, untied);
    EXPECT_NEAR(with_tie(target), untied(target) + untied(tied), 1e-12 * (std::fabs(with_tie(target)) + 1.0));
  }
}

// ---------------------------------------------------------------------------
// Simulated data sets of every structure, with traits missing and persons
// untyped.

struct SimulatedCase {
  tools::Structure structure;
  int families;
};

void PrintTo(const SimulatedCase& c, std::ostream* out) {
  *out << c.families << " " << tools::structure_name(c.structure) << " families";
}

class PosteriorSimulated : public ::testing::TestWithParam<SimulatedCase> {
 protected:
  void SetUp() override {
    const SimulatedCase c = GetParam();
    tools::SimulationModel sim;
    sim.theta = {0.05, 0.5};
    sim.untyped_rate = 0.3;
    sim.trait_missing_rate = 0.1;
    write_simulated_folder(work.path(), c.structure, c.families, 17, sim, c.structure == tools::Structure::threegen);
    load_run_folder(model(), io, work.path());
    for (int i = 1; i <= 7; ++i) model().optpar1.ifree(i) = 0;
  }
  static Model& model() { return kerneltest::shared_model(); }
  const WorkFolder work{"posterior-" + std::string(tools::structure_name(GetParam().structure))};
  textio::Channels io;
};

void set_classes(Model& model, bool polygenic) {
  model.pg.npol = polygenic ? N_POL : 1;
  if (polygenic) {
    set_class_weights(model);
  } else {
    model.prpar.wpol(1) = 1.0;
  }
}

TEST_P(PosteriorSimulated, GradientAsFiniteDifferences) {
  for (const int marker : {1, 2}) {
    ASSERT_TRUE(select_analysed_marker(model(), marker));
    for (const bool polygenic : {true, false}) {
      set_classes(model(), polygenic);
      for (const double theta : {0.0, 0.05, 0.3, 0.5}) {
        model().optpar1.par(5) = theta;
        model().optpar1.par(7) = polygenic ? 0.3 : 0.0;
        expect_gradient_as_differences(model(), io,
                                       "marker " + std::to_string(marker) + ", theta " + std::to_string(theta) +
                                           (polygenic ? ", 7 classes" : ", 1 class"));
      }
    }
  }
}

// Each person's posterior probabilities are probabilities and sum to one;
// the expected recombinations of a child lie between 0 and 2; the results
// have the same bits on one thread and on three.
TEST_P(PosteriorSimulated, PosteriorsSumToOneOnAnyNumberOfThreads) {
  ASSERT_TRUE(select_analysed_marker(model(), 1));
  model().optpar1.par(5) = 0.1;
  PosteriorKernel one(1);
  PosteriorKernel three(3);
  ParameterGradient g1;
  ParameterGradient g3;
  const double v1 = posterior_value(model(), io, one, g1);
  const double v3 = posterior_value(model(), io, three, g3);
  EXPECT_EQ(std::bit_cast<std::uint64_t>(v1), std::bit_cast<std::uint64_t>(v3));
  for (int i = 1; i <= 7; ++i) EXPECT_EQ(std::bit_cast<std::uint64_t>(g1(i)), std::bit_cast<std::uint64_t>(g3(i))) << i;
  const int persons = model().ped.buf1.ifst(model().ped.buf1.nfam + 1);
  int children = 0;
  for (int p = 1; p <= persons; ++p) {
    double total = 0.0;
    for (int k = 1; k <= model().genot.n_gen(p); ++k) {
      for (int c = 1; c <= model().pg.npol; ++c) {
        const double probability = one.posterior(model(), p, k, c);
        EXPECT_GE(probability, 0.0) << "person " << p;
        EXPECT_EQ(std::bit_cast<std::uint64_t>(probability), std::bit_cast<std::uint64_t>(three.posterior(model(), p, k, c)));
        total += probability;
      }
    }
    EXPECT_NEAR(total, 1.0, 1e-12) << "person " << p;
    const double r = one.expected_recombinations(p);
    EXPECT_GE(r, 0.0) << "person " << p;
    EXPECT_LE(r, 2.0) << "person " << p;
    if (one.is_child(p)) ++children;
  }
  EXPECT_GT(children, 0);
  // Without the recombinations: the same value and derivatives but theta's, which is 0.
  PosteriorKernel without(2);
  without.form_recombinations(false);
  ParameterGradient g0;
  EXPECT_EQ(std::bit_cast<std::uint64_t>(posterior_value(model(), io, without, g0)), std::bit_cast<std::uint64_t>(v1));
  for (int i = 1; i <= 7; ++i) {
    EXPECT_EQ(std::bit_cast<std::uint64_t>(g0(i)), std::bit_cast<std::uint64_t>(i == 5 ? 0.0 : g1(i))) << i;
  }
  EXPECT_NE(g1(5), 0.0);
}

// A kernel whose series was planned at one theta follows a classic
// first-call set-up at another (new transmissions, which its plan holds)
// before an evaluation that runs no set-up of its own.
TEST_P(PosteriorSimulated, FollowsAFirstCallSetUpOfAClassicEvaluation) {
  ASSERT_TRUE(select_analysed_marker(model(), 1));
  for (const bool polygenic : {true, false}) {
    set_classes(model(), polygenic);
    PosteriorKernel kernel(2);
    ParameterGradient gradient;
    model().optpar1.par(5) = 0.05;
    posterior_value(model(), io, kernel, gradient);
    model().optpar1.par(5) = 0.3;
    const double literal = literal_value(model(), io);  // a first-call set-up at theta 0.3
    model().imax.ifirst = 1;
    double value = 0.0;
    objective_with_gradient(model(), io, kernel, value, gradient);
    EXPECT_NEAR(value, literal, 1e-11 * (std::fabs(literal) + 1.0)) << (polygenic ? "7 classes" : "1 class");
  }
}

// An evaluation whose sums overflow (a residual variance near 0 and the
// allele frequency near its bound) leaves nothing behind: the next
// evaluation, at an ordinary point, has the bits of a fresh kernel's.
TEST_P(PosteriorSimulated, NothingLeftFromAnEvaluationThatOverflowed) {
  ASSERT_TRUE(select_analysed_marker(model(), 1));
  for (const bool polygenic : {true, false}) {
    set_classes(model(), polygenic);
    Model& m = model();
    m.optpar1.par(5) = 0.1;
    m.optpar1.par(7) = polygenic ? 0.3 : 0.0;
    const std::array<double, 7> ordinary = {m.optpar1.par(1), m.optpar1.par(2), m.optpar1.par(3), m.optpar1.par(4),
                                            m.optpar1.par(5), m.optpar1.par(6), m.optpar1.par(7)};
    PosteriorKernel kernel(1);
    ParameterGradient gradient;
    m.optpar1.par(1) = 1e-9;
    m.optpar1.par(6) = 1e-8;
    EXPECT_FALSE(std::isfinite(posterior_value(m, io, kernel, gradient))) << "the point must overflow";
    for (int i = 1; i <= 7; ++i) m.optpar1.par(i) = ordinary[static_cast<std::size_t>(i - 1)];
    const double value = posterior_value(m, io, kernel, gradient);
    PosteriorKernel fresh(1);
    ParameterGradient expected;
    EXPECT_EQ(std::bit_cast<std::uint64_t>(value), std::bit_cast<std::uint64_t>(posterior_value(m, io, fresh, expected)));
    for (int i = 1; i <= 7; ++i) {
      EXPECT_EQ(std::bit_cast<std::uint64_t>(gradient(i)), std::bit_cast<std::uint64_t>(expected(i)))
          << (polygenic ? "7 classes" : "1 class") << ", parameter " << i;
    }
  }
}

// Every machine path (AVX-512, AVX2, baseline, those the machine runs) gives
// the same bits: value, gradient and every posterior probability, with and
// without the polygenic component, theta 0 and free.
TEST_P(PosteriorSimulated, SameBitsOnEveryPath) {
  ASSERT_TRUE(select_analysed_marker(model(), 2));
  const std::vector<MachinePath> paths = runnable_paths();
  const int persons = model().ped.buf1.ifst(model().ped.buf1.nfam + 1);
  for (const bool polygenic : {true, false}) {
    set_classes(model(), polygenic);
    for (const double theta : {0.0, 0.2}) {
      model().optpar1.par(5) = theta;
      const std::string what = std::string(polygenic ? "7 classes" : "1 class") + ", theta " + std::to_string(theta);
      std::vector<std::uint64_t> first;
      for (const MachinePath path : paths) {
        model().path = path;
        PosteriorKernel kernel(2);
        ParameterGradient gradient;
        std::vector<std::uint64_t> bits{std::bit_cast<std::uint64_t>(posterior_value(model(), io, kernel, gradient))};
        for (int i = 1; i <= 7; ++i) bits.push_back(std::bit_cast<std::uint64_t>(gradient(i)));
        for (int p = 1; p <= persons; ++p) {
          bits.push_back(std::bit_cast<std::uint64_t>(kernel.expected_recombinations(p)));
          for (int k = 1; k <= model().genot.n_gen(p); ++k) {
            for (int c = 1; c <= model().pg.npol; ++c) {
              bits.push_back(std::bit_cast<std::uint64_t>(kernel.posterior(model(), p, k, c)));
            }
          }
        }
        if (first.empty()) {
          first = bits;
        } else {
          EXPECT_EQ(bits, first) << what << ", path " << path_name(path);
        }
      }
      model().path = MachinePath::widest;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Structures, PosteriorSimulated,
                         ::testing::Values(SimulatedCase{tools::Structure::nuclear, 8},
                                           SimulatedCase{tools::Structure::large, 2},
                                           SimulatedCase{tools::Structure::threegen, 3},
                                           SimulatedCase{tools::Structure::fourgen, 1},
                                           SimulatedCase{tools::Structure::disjoint, 3},
                                           SimulatedCase{tools::Structure::mixed, 3}),
                         [](const ::testing::TestParamInfo<SimulatedCase>& info) {
                           return std::string(tools::structure_name(info.param.structure));
                         });

// ---------------------------------------------------------------------------
// Brute force: the posterior of every state of every member, and every
// child's expected recombinations, as sums over the joint states of all
// members of the family's nuclear families, weighted by the product of the
// factors massix gives and the transmissions of every child.

// A recombinant haplotype from a parent of joint genotype g is one of its own
// haplotypes' recombinants: one that is neither of them.
bool recombinant(int g, int h) {
  using namespace kerneltest::reference;
  return h != first_haplotype(g) && h != second_haplotype(g);
}

// The expected number of recombinant haplotypes of a child of joint genotype
// c given its parents', from the gametes of the independent reference.
double expected_recombinants(int c, int father, int mother, double theta) {
  using namespace kerneltest::reference;
  double all = 0.0;
  double recombinants = 0.0;
  for (int k = 1; k <= 4; ++k) {
    for (int l = 1; l <= 4; ++l) {
      if (joint_of(k, l) != c) continue;
      const double p = gamete(father, k, theta) * gamete(mother, l, theta);
      all += p;
      recombinants += p * ((recombinant(father, k) ? 1 : 0) + (recombinant(mother, l) ? 1 : 0));
    }
  }
  return all > 0.0 ? recombinants / all : 0.0;
}

struct Enumeration {
  std::vector<std::vector<double>> posterior;  // by person (from 1) and state (k - 1) npol + c - 1
  std::vector<double> recombinations;          // by person
};

Enumeration enumerate(Model& model, textio::Channels& io, const kerneltest::Family& family, double theta) {
  massix(model, io, 1);
  const int npol = model.pg.npol;
  const int persons = static_cast<int>(family.persons.size());
  std::vector<int> members;
  std::vector<bool> member(static_cast<std::size_t>(persons + 1), false);
  for (const kerneltest::NuclearFamily& nf : family.nuclear) {
    for (const int m : nf.members) member[static_cast<std::size_t>(m)] = true;
  }
  for (int p = 1; p <= persons; ++p) {
    if (member[static_cast<std::size_t>(p)]) members.push_back(p);
  }
  const auto states = [&](int p) { return model.genot.n_gen(p) * npol; };
  const auto factor = [&](int p, int s) { return model.xx.xx(s % npol + 1, model.genot.i_start(p) + s / npol + 1); };
  const auto genotype = [&](int p, int s) { return model.genot.l_gen(model.genot.i_start(p) + s / npol + 1); };
  Enumeration result;
  result.posterior.assign(static_cast<std::size_t>(persons + 1), {});
  for (const int p : members) result.posterior[static_cast<std::size_t>(p)].assign(static_cast<std::size_t>(states(p)), 0.0);
  result.recombinations.assign(static_cast<std::size_t>(persons + 1), 0.0);
  std::vector<int> state(static_cast<std::size_t>(persons + 1), 0);
  double total = 0.0;
  for (bool more = true; more;) {
    double weight = 1.0;
    for (const int p : members) weight *= factor(p, state[static_cast<std::size_t>(p)]);
    std::vector<double> recombinations(static_cast<std::size_t>(persons + 1), 0.0);
    for (const kerneltest::NuclearFamily& nf : family.nuclear) {
      const int fa = nf.members[0];
      const int mo = nf.members[1];
      const int sf = state[static_cast<std::size_t>(fa)];
      const int sm = state[static_cast<std::size_t>(mo)];
      for (std::size_t i = 2; i < nf.members.size(); ++i) {
        const int d = nf.members[i];
        const int sd = state[static_cast<std::size_t>(d)];
        weight *= model.tranc.tgen(genotype(d, sd), genotype(mo, sm), genotype(fa, sf)) *
                  model.tranc.tpol(sd % npol, sm % npol, sf % npol);
        recombinations[static_cast<std::size_t>(d)] =
            expected_recombinants(genotype(d, sd), genotype(fa, sf), genotype(mo, sm), theta);
      }
    }
    total += weight;
    for (const int p : members) {
      result.posterior[static_cast<std::size_t>(p)][static_cast<std::size_t>(state[static_cast<std::size_t>(p)])] += weight;
      result.recombinations[static_cast<std::size_t>(p)] += weight * recombinations[static_cast<std::size_t>(p)];
    }
    more = false;
    for (const int p : members) {
      int& s = state[static_cast<std::size_t>(p)];
      if (++s < states(p)) {
        more = true;
        break;
      }
      s = 0;
    }
  }
  for (const int p : members) {
    for (double& v : result.posterior[static_cast<std::size_t>(p)]) v /= total;
    result.recombinations[static_cast<std::size_t>(p)] /= total;
  }
  return result;
}

double joint_states(const Model& model, const kerneltest::Family& family) {
  double size = 1.0;
  for (int p = 1; p <= static_cast<int>(family.persons.size()); ++p) size *= model.genot.n_gen(p) * model.pg.npol;
  return size;
}

TEST(PosteriorKernelBruteForce, PosteriorsAndRecombinationsOfTinyPedigrees) {
  using namespace kerneltest;
  textio::Channels io;
  Model& model = shared_model();
  Random random(5150);
  int compared = 0;
  for (const Shape& shape : all_shapes()) {
    for (int draw = 0; draw < 4; ++draw) {
      Parameters p = random_parameters(random);
      std::vector<int> truth;
      Family family{random_persons(shape, p, random, truth), {}};
      family.nuclear = shape.descriptions[static_cast<std::size_t>(draw) % shape.descriptions.size()];
      prepare(model, {family}, p, draw % 2 == 0);
      PosteriorKernel kernel(1);
      ParameterGradient gradient;
      if (!std::isfinite(posterior_value(model, io, kernel, gradient))) continue;
      if (joint_states(model, family) > 3e6) continue;
      const Enumeration brute = enumerate(model, io, family, p.theta);
      ++compared;
      for (int person = 1; person <= shape.persons; ++person) {
        const std::vector<double>& expected = brute.posterior[static_cast<std::size_t>(person)];
        const std::string what = shape.name + ", draw " + std::to_string(draw) + ", person " + std::to_string(person);
        for (std::size_t s = 0; s < expected.size(); ++s) {
          const int k = static_cast<int>(s) / model.pg.npol + 1;
          const int c = static_cast<int>(s) % model.pg.npol + 1;
          EXPECT_NEAR(kernel.posterior(model, person, k, c), expected[s], 1e-12) << what << ", state " << s;
        }
        if (kernel.in_likelihood(person)) {
          EXPECT_NEAR(kernel.expected_recombinations(person), brute.recombinations[static_cast<std::size_t>(person)],
                      1e-12)
              << what;
        }
      }
    }
  }
  EXPECT_GT(compared, 40);
}

}  // namespace
}  // namespace bravik::testing

#pragma once
// An independent statement of the trait model, used to check the kernel:
// transmission rebuilt from haplotypes and recombination, the hypergeometric
// polygenic transmission, founder priors, the phenotype density, and the
// likelihood of a family as a plain sum over every genotype and class of every
// member. Nothing here reads the kernel's tables.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <functional>
#include <numeric>
#include <vector>

#include "tests/kernel_fixture.hpp"

namespace kerneltest::reference {

inline constexpr int joint_count = 10;
inline constexpr int class_count = 7;
inline constexpr int polygenic_alleles = 6;  // per person; a parent passes on half of them

// Haplotype h = 2(a-1)+b carries major-gene allele a and marker allele b.
inline int trait_allele(int h) { return (h + 1) / 2; }
inline int marker_allele(int h) { return h % 2 == 1 ? 1 : 2; }
inline int haplotype(int trait, int marker) { return 2 * (trait - 1) + marker; }

// The joint genotypes in their numbering order: unordered haplotype pairs.
inline constexpr std::array<std::array<int, 2>, joint_count> joint_pairs = {
    {{1, 1}, {1, 2}, {1, 3}, {1, 4}, {2, 2}, {2, 3}, {2, 4}, {3, 3}, {3, 4}, {4, 4}}};

inline int joint_of(int h1, int h2) {
  for (int g = 1; g <= joint_count; ++g) {
    const auto& pair = joint_pairs[static_cast<std::size_t>(g - 1)];
    if ((pair[0] == h1 && pair[1] == h2) || (pair[0] == h2 && pair[1] == h1)) return g;
  }
  return 0;
}

inline int first_haplotype(int g) { return joint_pairs[static_cast<std::size_t>(g - 1)][0]; }
inline int second_haplotype(int g) { return joint_pairs[static_cast<std::size_t>(g - 1)][1]; }
// Genotype class at one locus: 1 = 11, 2 = 12, 3 = 22.
inline int trait_class(int g) { return trait_allele(first_haplotype(g)) + trait_allele(second_haplotype(g)) - 1; }
inline int marker_class(int g) { return marker_allele(first_haplotype(g)) + marker_allele(second_haplotype(g)) - 1; }

// Probability that a parent of joint genotype g passes on haplotype h: each of
// its two haplotypes with (1-theta)/2, each of the two recombinants with theta/2.
inline double gamete(int g, int h, double theta) {
  const int k = first_haplotype(g);
  const int l = second_haplotype(g);
  const struct {
    int hap;
    double probability;
  } gametes[4] = {{k, (1.0 - theta) / 2.0},
                  {l, (1.0 - theta) / 2.0},
                  {haplotype(trait_allele(k), marker_allele(l)), theta / 2.0},
                  {haplotype(trait_allele(l), marker_allele(k)), theta / 2.0}};
  double p = 0.0;
  for (const auto& gam : gametes) p += gam.hap == h ? gam.probability : 0.0;
  return p;
}

// Probability of a child's joint genotype given its parents'.
inline double child_genotype(int child, int father, int mother, double theta) {
  double p = 0.0;
  for (int hf = 1; hf <= 4; ++hf) {
    for (int hm = 1; hm <= 4; ++hm) {
      if (joint_of(hf, hm) == child) p += gamete(father, hf, theta) * gamete(mother, hm, theta);
    }
  }
  return p;
}

inline double binomial(int n, int k) {
  if (k < 0 || k > n) return 0.0;
  double value = 1.0;
  for (int i = 1; i <= k; ++i) value = value * (n - k + i) / i;
  return value;
}

// A parent with i increasing polygenic alleles passes j of them: three drawn
// without replacement out of six.
inline double half_transmission(int j, int i) {
  const int half = polygenic_alleles / 2;
  return binomial(i, j) * binomial(polygenic_alleles - i, half - j) / binomial(polygenic_alleles, half);
}

// Probability of a child's polygenic class given its parents' (classes 1..7,
// class k having k-1 increasing alleles).
inline double child_class(int child, int father, int mother) {
  double p = 0.0;
  const int count = child - 1;
  for (int j = 0; j <= count; ++j) p += half_transmission(j, father - 1) * half_transmission(count - j, mother - 1);
  return p;
}

// Population weight of a polygenic class: binomial over six alleles, each
// increasing with probability one half; a single class has weight 1.
inline double class_weight(int k, int npol) {
  return npol == 1 ? 1.0 : binomial(polygenic_alleles, k - 1) / std::pow(2.0, polygenic_alleles);
}

// Population frequency of a joint genotype under Hardy-Weinberg and linkage equilibrium.
inline double joint_frequency(int g, const Parameters& p) {
  const auto frequency = [&p](int h) {
    return (trait_allele(h) == 1 ? p.q : 1.0 - p.q) * (marker_allele(h) == 1 ? p.p1 : p.p2);
  };
  const int k = first_haplotype(g);
  const int l = second_haplotype(g);
  return frequency(k) * frequency(l) * (k == l ? 1.0 : 2.0);
}

// The factor of a person's own data. A typed person's genotype must carry the
// observed marker class (the genotype lists enforce this even for a person
// whose trait is skipped entirely); a measured trait adds the normal density
// without its 1/sqrt(2 pi).
inline double own_factor(const Person& person, int g, int k, const Parameters& p) {
  if (person.marker != 0 && person.marker != marker_class(g)) return 0.0;
  if (person.trait <= -998.0) return 1.0;
  const double means[3] = {p.mean11, p.mean12, p.mean22};
  const double sd = std::sqrt(p.variance);
  const double z = (means[trait_class(g) - 1] + (k - 4) * p.step - person.trait) / sd;
  return std::exp(-0.5 * z * z) / sd;
}

// The likelihood of one family summed over the joint genotype and polygenic
// class of every member of its nuclear families. Persons in no nuclear family
// take no part. Connected parts are independent, and a child who is a parent
// nowhere appears in its own transmission only, so its sum is taken given its
// parents (the distributive law); every other member is enumerated.
class BruteForce {
 public:
  BruteForce(const Family& family, const Parameters& parameters, int npol)
      : family_(family), parameters_(parameters), npol_(npol), states_(joint_count * npol) {
    const int n = static_cast<int>(family.persons.size());
    father_.assign(static_cast<std::size_t>(n + 1), 0);
    mother_.assign(static_cast<std::size_t>(n + 1), 0);
    is_member_.assign(static_cast<std::size_t>(n + 1), false);
    is_parent_.assign(static_cast<std::size_t>(n + 1), false);
    part_.resize(static_cast<std::size_t>(n + 1));
    std::iota(part_.begin(), part_.end(), 0);
    for (const NuclearFamily& nf : family.nuclear) {
      for (std::size_t i = 0; i < nf.members.size(); ++i) {
        const int person = nf.members[i];
        is_member_[static_cast<std::size_t>(person)] = true;
        join(person, nf.members[0]);
        if (i < 2) {
          is_parent_[static_cast<std::size_t>(person)] = true;
        } else {
          father_[static_cast<std::size_t>(person)] = nf.members[0];
          mother_[static_cast<std::size_t>(person)] = nf.members[1];
        }
      }
    }
    tabulate();
  }

  long double likelihood() {
    long double product = 1.0L;
    const int n = static_cast<int>(family_.persons.size());
    for (int root = 1; root <= n; ++root) {
      if (is_member_[static_cast<std::size_t>(root)] && find(root) == root) product *= part_likelihood(root);
    }
    return product;
  }

  // The number of joint states of the enumerated members of the largest part.
  double enumeration_size() {
    double largest = 0.0;
    const int n = static_cast<int>(family_.persons.size());
    for (int root = 1; root <= n; ++root) {
      if (!is_member_[static_cast<std::size_t>(root)] || find(root) != root) continue;
      double size = 1.0;
      for (int person : enumerated_members(root)) {
        const Person& data = family_.persons[static_cast<std::size_t>(person - 1)];
        size *= npol_ * (data.marker == 0 ? 10 : data.marker == 2 ? 4 : 3);
      }
      largest = std::max(largest, size);
    }
    return largest;
  }

 private:
  int genotype_of(int state) const { return state / npol_ + 1; }
  int class_of(int state) const { return state % npol_ + 1; }
  const Person& person(int p) const { return family_.persons[static_cast<std::size_t>(p - 1)]; }
  bool founder(int p) const { return father_[static_cast<std::size_t>(p)] == 0; }

  int find(int p) {
    while (part_[static_cast<std::size_t>(p)] != p) p = part_[static_cast<std::size_t>(p)];
    return p;
  }
  void join(int a, int b) { part_[static_cast<std::size_t>(find(a))] = find(b); }

  // The parents of the part, ordered so that a person's parents come first.
  std::vector<int> enumerated_members(int root) {
    std::vector<int> order;
    std::vector<bool> placed(family_.persons.size() + 1, false);
    const int n = static_cast<int>(family_.persons.size());
    for (bool progress = true; progress;) {
      progress = false;
      for (int p = 1; p <= n; ++p) {
        const std::size_t i = static_cast<std::size_t>(p);
        if (placed[i] || !is_parent_[i] || find(p) != root) continue;
        if (!founder(p) && !(placed[static_cast<std::size_t>(father_[i])] && placed[static_cast<std::size_t>(mother_[i])]))
          continue;
        placed[i] = true;
        order.push_back(p);
        progress = true;
      }
    }
    return order;
  }

  // Probability of state s of person p given the states of its parents, times
  // its own factor; a founder takes the population priors instead.
  double factor(int p, int s, int father_state, int mother_state) const {
    const double own = own_[static_cast<std::size_t>(p)][static_cast<std::size_t>(s)];
    if (own == 0.0 || founder(p)) return own;
    const int g = genotype_of(s);
    const int k = class_of(s);
    const double genotype =
        genotype_transmission_[static_cast<std::size_t>(g - 1)][static_cast<std::size_t>(genotype_of(father_state) - 1)]
                              [static_cast<std::size_t>(genotype_of(mother_state) - 1)];
    const double polygenic =
        class_transmission_[static_cast<std::size_t>(k - 1)][static_cast<std::size_t>(class_of(father_state) - 1)]
                           [static_cast<std::size_t>(class_of(mother_state) - 1)];
    return genotype * polygenic * own;
  }

  // Own factors of every person and state (times the priors for a founder),
  // and the two transmission tables at the family's parameters.
  void tabulate() {
    const double theta = parameters_.theta;
    for (int c = 1; c <= joint_count; ++c) {
      for (int f = 1; f <= joint_count; ++f) {
        for (int m = 1; m <= joint_count; ++m) {
          genotype_transmission_[static_cast<std::size_t>(c - 1)][static_cast<std::size_t>(f - 1)]
                                [static_cast<std::size_t>(m - 1)] = child_genotype(c, f, m, theta);
        }
      }
    }
    for (int c = 1; c <= npol_; ++c) {
      for (int f = 1; f <= npol_; ++f) {
        for (int m = 1; m <= npol_; ++m) {
          class_transmission_[static_cast<std::size_t>(c - 1)][static_cast<std::size_t>(f - 1)]
                             [static_cast<std::size_t>(m - 1)] = npol_ == 1 ? 1.0 : child_class(c, f, m);
        }
      }
    }
    own_.assign(family_.persons.size() + 1, std::vector<double>(static_cast<std::size_t>(states_), 0.0));
    for (std::size_t p = 1; p <= family_.persons.size(); ++p) {
      for (int s = 0; s < states_; ++s) {
        const int g = genotype_of(s);
        const int k = class_of(s);
        double value = own_factor(family_.persons[p - 1], g, k, parameters_);
        if (founder(static_cast<int>(p))) value = joint_frequency(g, parameters_) * class_weight(k, npol_) * value;
        own_[p][static_cast<std::size_t>(s)] = value;
      }
    }
  }

  // For a child who is a parent nowhere: its sum over its own states, for
  // every pair of parental states.
  std::vector<long double> child_sums(int child) const {
    std::vector<long double> table(static_cast<std::size_t>(states_ * states_), 0.0L);
    for (int sf = 0; sf < states_; ++sf) {
      for (int sm = 0; sm < states_; ++sm) {
        long double sum = 0.0L;
        for (int s = 0; s < states_; ++s) sum += factor(child, s, sf, sm);
        table[static_cast<std::size_t>(sf * states_ + sm)] = sum;
      }
    }
    return table;
  }

  struct Leaf {
    int father;
    int mother;
    std::vector<long double> sums;
  };

  long double part_likelihood(int root) {
    order_ = enumerated_members(root);
    position_.assign(family_.persons.size() + 1, -1);
    for (std::size_t i = 0; i < order_.size(); ++i) position_[static_cast<std::size_t>(order_[i])] = static_cast<int>(i);
    // Each child who is a parent nowhere joins the level of its later parent.
    leaves_at_.assign(order_.size(), {});
    const int n = static_cast<int>(family_.persons.size());
    for (int p = 1; p <= n; ++p) {
      const std::size_t i = static_cast<std::size_t>(p);
      if (!is_member_[i] || is_parent_[i] || find(p) != root) continue;
      const int level = std::max(position_[static_cast<std::size_t>(father_[i])],
                                 position_[static_cast<std::size_t>(mother_[i])]);
      leaves_at_[static_cast<std::size_t>(level)].push_back({father_[i], mother_[i], child_sums(p)});
    }
    state_.assign(family_.persons.size() + 1, 0);
    return sum_from(0);
  }

  long double sum_from(std::size_t level) {
    if (level == order_.size()) return 1.0L;
    const int p = order_[level];
    const std::size_t i = static_cast<std::size_t>(p);
    long double sum = 0.0L;
    for (int s = 0; s < states_; ++s) {
      const int fs = founder(p) ? 0 : state_[static_cast<std::size_t>(father_[i])];
      const int ms = founder(p) ? 0 : state_[static_cast<std::size_t>(mother_[i])];
      long double term = factor(p, s, fs, ms);
      if (term == 0.0L) continue;
      state_[i] = s;
      for (const Leaf& leaf : leaves_at_[level]) {
        term *= leaf.sums[static_cast<std::size_t>(state_[static_cast<std::size_t>(leaf.father)] * states_ +
                                                   state_[static_cast<std::size_t>(leaf.mother)])];
      }
      if (term == 0.0L) continue;
      sum += term * sum_from(level + 1);
    }
    return sum;
  }

  const Family& family_;
  Parameters parameters_;
  int npol_;
  int states_;
  std::vector<int> father_;
  std::vector<int> mother_;
  std::vector<bool> is_member_;
  std::vector<bool> is_parent_;
  std::vector<int> part_;
  std::vector<int> order_;
  std::vector<int> position_;
  std::vector<std::vector<Leaf>> leaves_at_;
  std::vector<int> state_;
  std::vector<std::vector<double>> own_;
  using Table = std::array<std::array<std::array<double, joint_count>, joint_count>, joint_count>;
  Table genotype_transmission_{};
  std::array<std::array<std::array<double, class_count>, class_count>, class_count> class_transmission_{};
};

// The total log-likelihood: the log of each family's likelihood, added up.
inline double log_likelihood(const std::vector<Family>& families, const Parameters& parameters, int npol) {
  long double total = 0.0L;
  for (const Family& family : families) total += std::log(BruteForce(family, parameters, npol).likelihood());
  return static_cast<double>(total);
}

}  // namespace kerneltest::reference

#pragma once
// Small pedigree shapes, each with several descriptions in peeling order that
// choose different connectors, and random data for them.
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "tests/kernel_fixture.hpp"

namespace kerneltest {

struct Shape {
  std::string name;
  int persons = 0;
  // Valid descriptions of the same pedigree; the first fixes who is whose child.
  std::vector<std::vector<NuclearFamily>> descriptions;
};

inline std::vector<int> concat(std::vector<int> a, const std::vector<int>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Father 1, mother 2, children 3, 4, ...
inline Shape one_nuclear_family(int children) {
  std::vector<int> kids;
  for (int c = 3; c < 3 + children; ++c) kids.push_back(c);
  const std::vector<int> reversed(kids.rbegin(), kids.rend());
  Shape shape{"nuclear family with " + std::to_string(children) + " children", 2 + children, {}};
  shape.descriptions = {{nuclear(concat({1, 2}, kids), 0)},
                        {nuclear(concat({1, 2}, kids), 1)},
                        {nuclear(concat({1, 2}, kids), 2)},
                        {nuclear(concat({1, 2}, kids), 3)},
                        {nuclear(concat({1, 2}, reversed), 0)}};
  if (children >= 2) shape.descriptions.push_back({nuclear(concat({1, 2}, reversed), reversed.front())});
  return shape;
}

enum class Extra { none, sibling, second_grandchild };

// Grandparents 1 and 2, their child P = 3, P's spouse 4, grandchild 5, and
// person 6 as P's sibling or as a second grandchild.
inline Shape three_generations(bool p_is_mother, Extra extra) {
  const std::vector<int> upper_kids = extra == Extra::sibling ? std::vector<int>{3, 6} : std::vector<int>{3};
  const std::vector<int> lower_kids = extra == Extra::second_grandchild ? std::vector<int>{5, 6} : std::vector<int>{5};
  const std::vector<int> lower = concat(p_is_mother ? std::vector<int>{4, 3} : std::vector<int>{3, 4}, lower_kids);
  const std::vector<int> upper = concat({1, 2}, upper_kids);
  Shape shape{std::string("three generations, P is ") + (p_is_mother ? "mother" : "father") +
                  (extra == Extra::sibling ? ", with a sibling" : extra == Extra::second_grandchild ? ", two grandchildren" : ""),
              extra == Extra::none ? 5 : 6,
              {}};
  shape.descriptions = {
      {nuclear(upper, 3), nuclear(lower, 0)},  // down through a child connector
      {nuclear(upper, 3), nuclear(lower, 5)},  // ends in a grandchild connector
      {nuclear(upper, 3), nuclear(lower, 4)},  // ends in the spouse
      {nuclear(lower, 3), nuclear(upper, 0)},  // up through a parent connector
      {nuclear(lower, 3), nuclear(upper, 2)},  // ends in the grandmother
  };
  if (extra == Extra::sibling) shape.descriptions.push_back({nuclear(lower, 3), nuclear({1, 2, 6, 3}, 6)});
  return shape;
}

// P = 1 with spouse 2 (child 4) and spouse 3 (child 5, and 6 when asked).
inline Shape two_spouses(bool p_is_mother, bool two_children_with_second) {
  const auto parents = [p_is_mother](int spouse) {
    return p_is_mother ? std::vector<int>{spouse, 1} : std::vector<int>{1, spouse};
  };
  const std::vector<int> first = concat(parents(2), {4});
  const std::vector<int> second = concat(parents(3), two_children_with_second ? std::vector<int>{5, 6} : std::vector<int>{5});
  Shape shape{std::string("person with two spouses, as ") + (p_is_mother ? "mother" : "father"),
              two_children_with_second ? 6 : 5,
              {}};
  shape.descriptions = {
      {nuclear(first, 1), nuclear(second, 0)}, {nuclear(second, 1), nuclear(first, 0)},
      {nuclear(first, 1), nuclear(second, 5)}, {nuclear(second, 1), nuclear(first, 2)},
      {nuclear(second, 1), nuclear(first, 4)}, {nuclear(first, 1), nuclear(second, 3)},
  };
  return shape;
}

// Two trios in one family with no link between them.
inline Shape two_unconnected_trios() {
  Shape shape{"two unconnected trios", 6, {}};
  shape.descriptions = {
      {nuclear({1, 2, 3}, 0), nuclear({4, 5, 6}, 0)},
      {nuclear({4, 5, 6}, 0), nuclear({1, 2, 3}, 0)},
      {nuclear({1, 2, 3}, 2), nuclear({4, 5, 6}, 6)},
      {nuclear({4, 5, 6}, 4), nuclear({1, 2, 3}, 3)},
  };
  return shape;
}

// A trio and persons who belong to no nuclear family.
inline Shape trio_with_lone_persons(int lone) {
  Shape shape{"trio with " + std::to_string(lone) + " lone persons", 3 + lone, {}};
  shape.descriptions = {{nuclear({1, 2, 3}, 0)}, {nuclear({1, 2, 3}, 3)}, {nuclear({1, 2, 3}, 2)}};
  return shape;
}

// A family of one person and no nuclear family.
inline Shape lone_person() { return Shape{"lone person", 1, {{}}}; }

inline std::vector<Shape> all_shapes() {
  std::vector<Shape> shapes;
  for (int children = 1; children <= 4; ++children) shapes.push_back(one_nuclear_family(children));
  for (bool mother : {false, true}) {
    for (Extra extra : {Extra::none, Extra::sibling, Extra::second_grandchild}) shapes.push_back(three_generations(mother, extra));
    shapes.push_back(two_spouses(mother, false));
    shapes.push_back(two_spouses(mother, true));
  }
  shapes.push_back(two_unconnected_trios());
  shapes.push_back(trio_with_lone_persons(1));
  shapes.push_back(trio_with_lone_persons(2));
  shapes.push_back(lone_person());
  return shapes;
}

// Why a description breaks the peeling order the kernel relies on, or "" when
// it keeps it: member lists hold both parents and a child; a member is
// ordinary where it is not the connector (the father of a terminal nuclear
// family is its connector); nobody is ordinary twice; a connector's nuclear
// family comes before the one where it is ordinary; a child connector of
// several children is listed first.
inline std::string peeling_order_problem(const std::vector<NuclearFamily>& description) {
  std::vector<int> ordinary_in(64, -1);
  std::vector<std::vector<int>> connector_of(64);
  for (std::size_t i = 0; i < description.size(); ++i) {
    const std::vector<int>& members = description[i].members;
    if (members.size() < 3) return "nuclear family without a child";
    const int q = description[i].connector == 0 ? members[0] : description[i].connector;
    bool q_is_member = false;
    for (std::size_t j = 0; j < members.size(); ++j) {
      if (members[j] == q) {
        q_is_member = true;
        if (j >= 2 && members.size() > 3 && j != 2) return "child connector is not the first child";
        continue;
      }
      int& slot = ordinary_in[static_cast<std::size_t>(members[j])];
      if (slot >= 0) return "person " + std::to_string(members[j]) + " ordinary twice";
      slot = static_cast<int>(i);
    }
    if (!q_is_member) return "connector is no member";
    connector_of[static_cast<std::size_t>(q)].push_back(static_cast<int>(i));
  }
  for (std::size_t person = 0; person < connector_of.size(); ++person) {
    for (int i : connector_of[person]) {
      if (ordinary_in[person] >= 0 && ordinary_in[person] < i) return "person " + std::to_string(person) + " peeled too late";
    }
  }
  return "";
}

// Deterministic draws that do not depend on the library's distributions.
class Random {
 public:
  explicit Random(std::uint32_t seed) : engine_(seed) {}
  double uniform(double lo, double hi) { return lo + (hi - lo) * (static_cast<double>(engine_()) / 4294967296.0); }
  int integer(int lo, int hi) { return lo + static_cast<int>(engine_() % static_cast<std::uint32_t>(hi - lo + 1)); }
  bool chance(double p) { return uniform(0.0, 1.0) < p; }

 private:
  std::mt19937 engine_;
};

inline Parameters random_parameters(Random& random) {
  Parameters p;
  p.q = random.uniform(0.05, 0.95);
  p.mean11 = random.uniform(9.0, 13.0);
  p.mean22 = random.chance(0.1) ? p.mean11 : p.mean11 - random.uniform(0.5, 4.0);
  p.mean12 = random.uniform(p.mean22 - 1.0, p.mean11 + 1.0);
  const int theta_kind = random.integer(0, 5);
  p.theta = theta_kind == 0 ? 0.0 : theta_kind == 1 ? 0.5 : random.uniform(0.0, 0.5);
  p.variance = random.uniform(0.4, 3.0);
  p.step = random.chance(0.15) ? 0.0 : random.uniform(-0.8, 0.8);
  p.p1 = random.uniform(0.1, 0.9);
  p.p2 = 1.0 - p.p1;
  return p;
}

// Persons with marker genotypes drawn down the pedigree (so they never
// contradict Mendel), some of them untyped, and trait values near the means,
// some not measured (-999 or -998) or skipped entirely (-10,000,000 or below).
inline std::vector<int> simulate_markers(const Shape& shape, const Parameters& p, Random& random) {
  const std::size_t n = static_cast<std::size_t>(shape.persons);
  std::vector<int> allele1(n + 1, 0);
  std::vector<int> allele2(n + 1, 0);
  const auto draw = [&random, &p] { return random.chance(p.p1) ? 1 : 2; };
  for (std::size_t person = 1; person <= n; ++person) {
    allele1[person] = draw();
    allele2[person] = draw();
  }
  // The first description lists a child's own nuclear family before the one
  // where that child is a parent, so parents are drawn before their children.
  for (const NuclearFamily& nf : shape.descriptions.front()) {
    for (std::size_t i = 2; i < nf.members.size(); ++i) {
      const std::size_t c = static_cast<std::size_t>(nf.members[i]);
      const std::size_t f = static_cast<std::size_t>(nf.members[0]);
      const std::size_t m = static_cast<std::size_t>(nf.members[1]);
      allele1[c] = random.chance(0.5) ? allele1[f] : allele2[f];
      allele2[c] = random.chance(0.5) ? allele1[m] : allele2[m];
    }
  }
  std::vector<int> codes(n + 1, 0);
  for (std::size_t person = 1; person <= n; ++person) codes[person] = allele1[person] + allele2[person] - 1;
  return codes;
}

inline std::vector<Person> random_persons(const Shape& shape, const Parameters& p, Random& random,
                                          std::vector<int>& true_markers) {
  true_markers = simulate_markers(shape, p, random);
  std::vector<Person> persons(static_cast<std::size_t>(shape.persons));
  for (std::size_t i = 0; i < persons.size(); ++i) {
    Person& person = persons[i];
    person.marker = random.chance(0.55) ? true_markers[i + 1] : 0;
    const double draw = random.uniform(0.0, 1.0);
    if (draw < 0.1) {
      person.trait = random.chance(0.5) ? -999.0 : -998.0;
    } else if (draw < 0.18) {
      person.trait = random.chance(0.5) ? -10'000'000.0 : -2.0e7;
    } else {
      person.trait = random.uniform(p.mean22 - 2.5, p.mean11 + 2.5);
    }
  }
  return persons;
}

}  // namespace kerneltest

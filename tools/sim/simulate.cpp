#include "tools/sim/simulate.hpp"

#include <cmath>

#include "pedfile/input_error.hpp"
#include "pedfile/random.hpp"
#include "textio/message_text.hpp"

namespace bravik::tools {
namespace {

constexpr int polygenic_alleles = 6;
constexpr int polygenic_transmitted = 3;
constexpr int polygenic_middle = 3;  // count of the class without shift

struct SimPerson {
  int father = -1;
  int mother = -1;
  int sex = sex_male;
  std::array<int, 2> major{};                  // allele on each chromosome (0 = allele 1, 1 = allele 2)
  std::vector<std::array<std::uint8_t, 2>> marker;  // marker allele (0/1) on each chromosome
  int polygenic = 0;                            // increasing alleles, 0..6
  bool without_data = false;
};

class FamilyBuilder {
 public:
  FamilyBuilder(const SimulationModel& model, Random& random, bool linked)
      : model_(model), random_(random), linked_(linked) {}

  int founder(int sex, bool without_data = false) {
    SimPerson p;
    p.sex = sex;
    p.without_data = without_data;
    for (int c = 0; c < 2; ++c) p.major[static_cast<std::size_t>(c)] = random_.chance(model_.gene_freq) ? 0 : 1;
    p.marker.resize(model_.theta.size());
    for (std::size_t m = 0; m < p.marker.size(); ++m)
      for (auto& allele : p.marker[m]) allele = random_.chance(marker_freq(m)) ? 0 : 1;
    for (int a = 0; a < polygenic_alleles; ++a) p.polygenic += random_.chance(0.5) ? 1 : 0;
    return add(std::move(p));
  }

  // A founder of the other sex who marries `person`.
  int spouse_of(int person) { return founder(persons_[static_cast<std::size_t>(person)].sex == sex_male ? sex_female : sex_male); }

  int child(int a, int b) {
    const bool a_is_father = persons_[static_cast<std::size_t>(a)].sex == sex_male;
    SimPerson p;
    p.father = a_is_father ? a : b;
    p.mother = a_is_father ? b : a;
    p.sex = random_.chance(0.5) ? sex_male : sex_female;
    p.marker.resize(model_.theta.size());
    transmit(persons_[static_cast<std::size_t>(p.father)], p, 0);
    transmit(persons_[static_cast<std::size_t>(p.mother)], p, 1);
    p.polygenic = transmitted_polygenic(persons_[static_cast<std::size_t>(p.father)].polygenic) +
                  transmitted_polygenic(persons_[static_cast<std::size_t>(p.mother)].polygenic);
    return add(std::move(p));
  }

  // Children of a couple: between lo and hi of them.
  std::vector<int> children(int a, int b, int lo, int hi) {
    std::vector<int> kids;
    for (int k = random_.integer(lo, hi); k > 0; --k) kids.push_back(child(a, b));
    return kids;
  }

  void write(const std::string& family, PedigreeFile& file, std::vector<TrueState>* truth) {
    for (std::size_t i = 0; i < persons_.size(); ++i) {
      const SimPerson& p = persons_[i];
      if (truth != nullptr) {
        static constexpr int genotypes[] = {11, 12, 22};
        truth->push_back({family, std::to_string(i + 1), genotypes[p.major[0] + p.major[1]], p.polygenic, linked_});
      }
      PedigreeRow row;
      row.family = family;
      row.person = std::to_string(i + 1);
      row.father = p.father < 0 ? "0" : std::to_string(p.father + 1);
      row.mother = p.mother < 0 ? "0" : std::to_string(p.mother + 1);
      row.sex = p.sex;
      if (!p.without_data && !random_.chance(model_.trait_missing_rate)) row.trait = trait(p);
      row.line = static_cast<long>(file.rows.size()) + 1;
      file.rows.push_back(std::move(row));
      for (const auto& alleles : p.marker) {
        const bool typed = !p.without_data && !random_.chance(model_.untyped_rate);
        file.codes.push_back(static_cast<std::uint8_t>(typed ? 1 + alleles[0] + alleles[1] : 0));
      }
    }
  }

 private:
  double marker_freq(std::size_t m) const { return model_.marker_freq.size() == 1 ? model_.marker_freq[0] : model_.marker_freq[m]; }

  int add(SimPerson p) {
    persons_.push_back(std::move(p));
    return static_cast<int>(persons_.size()) - 1;
  }

  // The haplotype that `parent` passes on becomes chromosome `slot` of the child:
  // the major-gene allele of a random chromosome, and at each marker the allele
  // of the same chromosome unless a recombination (chance theta) intervenes.
  void transmit(const SimPerson& parent, SimPerson& child, int slot) {
    const int chromosome = random_.integer(0, 1);
    child.major[static_cast<std::size_t>(slot)] = parent.major[static_cast<std::size_t>(chromosome)];
    for (std::size_t m = 0; m < child.marker.size(); ++m) {
      const int from = random_.chance(linked_ ? model_.theta[m] : 0.5) ? 1 - chromosome : chromosome;
      child.marker[m][static_cast<std::size_t>(slot)] = parent.marker[m][static_cast<std::size_t>(from)];
    }
  }

  // Increasing alleles among three drawn without replacement from the six of a parent.
  int transmitted_polygenic(int increasing) {
    int drawn = 0;
    int left = polygenic_alleles;
    for (int d = 0; d < polygenic_transmitted; ++d, --left)
      if (random_.integer(1, left) <= increasing) {
        ++drawn;
        --increasing;
      }
    return drawn;
  }

  // Rounded to four decimals, as a measured value would be.
  double trait(const SimPerson& p) {
    const int genotype = p.major[0] + p.major[1];  // 0 = 11, 1 = 12, 2 = 22
    const double value = model_.means[static_cast<std::size_t>(genotype)] +
                         (p.polygenic - polygenic_middle) * model_.polygenic_step +
                         std::sqrt(model_.variance) * random_.normal();
    return std::round(value * 1e4) / 1e4;
  }

  const SimulationModel& model_;
  Random& random_;
  bool linked_;
  std::vector<SimPerson> persons_;
};

void build_nuclear(FamilyBuilder& b, int lo, int hi) {
  const int father = b.founder(sex_male);
  const int mother = b.founder(sex_female);
  b.children(father, mother, lo, hi);
}

// Marries `person` to `spouses` new founders, each couple with lo..hi children.
std::vector<int> marry(FamilyBuilder& b, int person, int spouses, int lo, int hi) {
  std::vector<int> kids;
  for (int s = 0; s < spouses; ++s) {
    const std::vector<int> more = b.children(person, b.spouse_of(person), lo, hi);
    kids.insert(kids.end(), more.begin(), more.end());
  }
  return kids;
}

void build_three_generations(FamilyBuilder& b, Random& random, const SimulationDesign& d) {
  const int grandfather = b.founder(sex_male, d.untyped_grandparents);
  const int grandmother = b.founder(sex_female, d.untyped_grandparents);
  const std::vector<int> kids = b.children(grandfather, grandmother, 2, 4);
  for (std::size_t k = 0; k < kids.size(); ++k)
    if (k == 0 || random.chance(0.75)) marry(b, kids[k], 1, 1, 4);
}

// Every child of the founders marries once or twice (half-sibs); their
// children marry, once or twice, with chance 0.4, the first of them always so
// that four generations occur. About 40 persons a family.
void build_four_generations(FamilyBuilder& b, Random& random, const SimulationDesign& d) {
  const int founder_male = b.founder(sex_male, d.untyped_grandparents);
  const int founder_female = b.founder(sex_female, d.untyped_grandparents);
  bool fourth_generation = false;
  for (const int second : b.children(founder_male, founder_female, 2, 4)) {
    for (const int third : marry(b, second, random.chance(0.4) ? 2 : 1, 1, 4)) {
      if (fourth_generation && !random.chance(0.4)) continue;
      marry(b, third, random.chance(0.25) ? 2 : 1, 1, 4);
      fourth_generation = true;
    }
  }
}

void build_disjoint(FamilyBuilder& b) {
  build_nuclear(b, 1, 4);
  build_nuclear(b, 1, 4);
  b.founder(sex_female);
}

void build_family(FamilyBuilder& b, Random& random, const SimulationDesign& d, Structure s) {
  switch (s) {
    case Structure::nuclear: return build_nuclear(b, 1, 6);
    case Structure::large: return build_nuclear(b, 8, 12);
    case Structure::threegen: return build_three_generations(b, random, d);
    case Structure::fourgen: return build_four_generations(b, random, d);
    case Structure::disjoint: return build_disjoint(b);
    case Structure::mixed: {
      constexpr Structure kinds[] = {Structure::nuclear, Structure::large, Structure::threegen, Structure::fourgen};
      return build_family(b, random, d, kinds[random.integer(0, 3)]);
    }
  }
}

constexpr std::pair<Structure, const char*> structure_names[] = {
    {Structure::nuclear, "nuclear"}, {Structure::large, "large"},       {Structure::threegen, "threegen"},
    {Structure::fourgen, "fourgen"}, {Structure::disjoint, "disjoint"}, {Structure::mixed, "mixed"},
};

void check_fraction(double value, double lo, double hi, const char* what) {
  if (!(value >= lo && value <= hi))
    throw InputError(std::string(what) + " " + std::to_string(value) + " is outside " + std::to_string(lo) + " to " +
                     std::to_string(hi));
}

}  // namespace

Structure parse_structure(std::string_view name) {
  for (const auto& [s, text] : structure_names)
    if (name == text) return s;
  throw InputError("unknown family structure " + textio::quoted(name) +
                   " (nuclear, large, threegen, fourgen, disjoint, mixed)");
}

const char* structure_name(Structure s) {
  for (const auto& [kind, text] : structure_names)
    if (kind == s) return text;
  return "?";
}

void check_simulation(const SimulationModel& model, const SimulationDesign& design) {
  check_fraction(model.gene_freq, 0.0, 1.0, "major-gene allele frequency");
  if (!(model.variance > 0.0)) throw InputError("the residual variance must be positive");
  for (const double t : model.theta) check_fraction(t, 0.0, 0.5, "recombination fraction");
  for (const double p : model.marker_freq) check_fraction(p, 0.0, 1.0, "marker allele frequency");
  if (model.marker_freq.size() != 1 && model.marker_freq.size() != model.theta.size())
    throw InputError(std::to_string(model.marker_freq.size()) + " marker allele frequencies for " +
                     std::to_string(model.theta.size()) + " markers (give one, or one per marker)");
  check_fraction(model.untyped_rate, 0.0, 1.0, "untyped rate");
  check_fraction(model.trait_missing_rate, 0.0, 1.0, "trait missing rate");
  check_fraction(model.linked_share, 0.0, 1.0, "linked share");
  if (design.families < 1) throw InputError("at least one family");
}

bool family_linked(const SimulationModel& model, int f) {
  return std::floor(f * model.linked_share) > std::floor((f - 1) * model.linked_share);
}

std::string truth_table(const std::vector<TrueState>& truth) {
  std::string text = "fid\tiid\tgenotype\tpolygenic\tlinked\n";
  for (const TrueState& t : truth) {
    text += t.family;
    text.append("\t").append(t.person).append("\t").append(std::to_string(t.genotype));
    text.append("\t").append(std::to_string(t.polygenic)).append(t.linked ? "\tyes\n" : "\tno\n");
  }
  return text;
}

PedigreeFile simulate(const SimulationModel& model, const SimulationDesign& design, std::uint64_t seed,
                      std::vector<TrueState>* truth) {
  check_simulation(model, design);
  Random random(seed);
  PedigreeFile file;
  file.name = "simulated";
  file.markers = static_cast<int>(model.theta.size());
  for (int f = 1; f <= design.families; ++f) {
    FamilyBuilder builder(model, random, family_linked(model, f));
    build_family(builder, random, design, design.structure);
    std::string id = "F";  // appended, not "F" + ..., which trips a false -Wrestrict in GCC 12
    id += std::to_string(f);
    builder.write(id, file, truth);
  }
  return file;
}

}  // namespace bravik::tools

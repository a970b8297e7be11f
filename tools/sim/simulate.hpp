#pragma once
// Simulation of pedigree data under the analysis model: a major gene with two
// alleles, a polygenic component of six transmitted alleles (classes 0..6
// increasing alleles, shift (count - 3) x step), a normal residual, and
// two-allele markers, each linked to the major gene with its own
// recombination fraction (markers are independent of one another given the
// major gene).
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "pedfile/pedigree_file.hpp"

namespace bravik::tools {

struct SimulationModel {
  double gene_freq = 0.3;                        // frequency of major-gene allele 1
  std::array<double, 3> means = {2.0, 1.0, 0.0};  // trait means of genotypes 11, 12, 22
  double variance = 0.5;                         // residual variance
  double polygenic_step = 0.15;                  // shift per polygenic class
  std::vector<double> theta = {0.0, 0.05, 0.1, 0.2, 0.5};  // one per marker
  std::vector<double> marker_freq = {0.5};       // frequency of marker allele 1: one for all, or one per marker
  double untyped_rate = 0.0;                     // chance that a genotype is not typed
  double trait_missing_rate = 0.0;               // chance that a trait value is missing
  // Share of families whose markers are linked at `theta`; the others' markers
  // are unlinked (recombination fraction 0.5). Families F1, F2, ... are linked
  // at even intervals: family f is when floor(f share) > floor((f - 1) share).
  double linked_share = 1.0;
};

// Whether family f (from 1) is one of the linked ones.
bool family_linked(const SimulationModel& model, int f);

// nuclear: two parents, 1-6 children; large: 8-12 children; threegen:
// grandparents, 2-4 children of whom most marry and have 1-4 children;
// fourgen: four generations in which people marry once or twice (half-sibs);
// disjoint: two unrelated nuclear families and one unrelated person under one
// family id; mixed: nuclear, large, threegen or fourgen drawn per family.
enum class Structure { nuclear, large, threegen, fourgen, disjoint, mixed };

struct SimulationDesign {
  Structure structure = Structure::mixed;
  int families = 50;
  bool untyped_grandparents = false;  // top generation of threegen and fourgen without data
};

// Parses a structure name; throws InputError for an unknown one.
Structure parse_structure(std::string_view name);
const char* structure_name(Structure s);

// Throws InputError when a quantity is outside its range or the marker lists
// do not match.
void check_simulation(const SimulationModel& model, const SimulationDesign& design);

// What the data do not show of one person: the major-gene genotype (11, 12
// or 22), the polygenic class (increasing alleles, 0..6) and whether the
// family's markers are linked.
struct TrueState {
  std::string family, person;
  int genotype = 11;
  int polygenic = 3;
  bool linked = true;
};

// Families F1, F2, ... with persons 1, 2, ... (parents before children); the
// true states of the rows, in their order, when `truth` is given.
PedigreeFile simulate(const SimulationModel& model, const SimulationDesign& design, std::uint64_t seed,
                      std::vector<TrueState>* truth = nullptr);

// The true states as a table: a header line, then fid iid genotype polygenic linked.
std::string truth_table(const std::vector<TrueState>& truth);

}  // namespace bravik::tools

#pragma once
// From the rows of a pedigree file to families of nuclear families in peeling
// order, with every structural check of the file on the way.
#include <cstdint>
#include <string>
#include <vector>

#include "pedfile/pedigree_file.hpp"

namespace bravik::tools {

// Which nuclear family of each connected part is peeled last (the root): the
// first or last in order of the children's lines, or one drawn with a seed.
enum class RootChoice { first, last, random };

struct PeelingOptions {
  RootChoice root = RootChoice::first;
  std::uint64_t seed = 1;
};

// Persons are numbered within their family from 0 (local number - 1).
struct NuclearFamily {
  int father = -1;
  int mother = -1;
  std::vector<int> children;  // a child connector stands first
  int connector = -1;         // the member that joins later nuclear families; -1 when last of its part
};

struct Family {
  std::string id;                      // the file's family id; empty for the family of unattached persons
  std::vector<std::size_t> rows;       // the file row of each person, in local order
  std::vector<NuclearFamily> nuclear;  // in peeling order
};

struct PreparedPedigree {
  std::vector<Family> families;  // the family of unattached persons, when there is one, is last
  std::vector<std::string> notes;
  std::size_t persons() const;
};

// Checks the structure and orders each family for peeling. Throws InputError
// naming file, line, family and persons for: a person listed twice, a parent
// not in the family, one parent known and the other not, a father not male or
// a mother not female, a person who is their own ancestor, a marriage or
// consanguinity loop, and more families, persons or member-list entries than
// the analysis holds. Persons in no nuclear family are moved, with a note, to
// one extra family at the end.
PreparedPedigree prepare_structure(const PedigreeFile& file, const PeelingOptions& options);

}  // namespace bravik::tools

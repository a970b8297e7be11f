#pragma once
// Shared by the genotype-source tests: every marker of a source, read through.
#include <cstdint>
#include <vector>

#include "genotypes/source.hpp"

namespace bravik::testing {

struct SourceMarker {
  genotypes::MarkerInfo info;
  std::vector<std::uint8_t> codes;
};

// Reads the source to its end; codes start at 9 so that a row the source
// fails to set shows.
inline std::vector<SourceMarker> read_all(genotypes::GenotypeSource& source, std::size_t rows) {
  std::vector<SourceMarker> out;
  SourceMarker m;
  m.codes.assign(rows, 9);
  while (source.next(m.info, m.codes)) out.push_back(m);
  return out;
}

}  // namespace bravik::testing

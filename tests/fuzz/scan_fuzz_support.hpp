#pragma once
// Shared pieces of the fuzz targets of the scan's readers: an input cut into
// the files of one data set, a small pedigree to match them to, and a run of
// every marker a genotype source yields.
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "genotypes/source.hpp"
#include "pedfile/pedigree_file.hpp"
#include "tests/fuzz/fuzz_support.hpp"

namespace fuzz {

// The separator of the files within one input.
inline constexpr std::string_view file_separator = "\n#%#\n";

// The first `count - 1` separated parts, then the rest whole (binary data
// such as a .bed goes last); missing parts are empty.
inline std::vector<std::string_view> split_files(std::string_view input, std::size_t count) {
  std::vector<std::string_view> parts;
  while (parts.size() + 1 < count) {
    const std::size_t at = input.find(file_separator);
    if (at == std::string_view::npos) break;
    parts.push_back(input.substr(0, at));
    input.remove_prefix(at + file_separator.size());
  }
  parts.push_back(input);
  parts.resize(count);
  return parts;
}

// Six persons of two families, by FID and IID.
inline const bravik::tools::PedigreeFile& small_pedigree() {
  static const bravik::tools::PedigreeFile pedigree = bravik::tools::parse_pedigree_text(
      "F 1 0 0 1 1.5\nF 2 0 0 2 0.5\nF 3 1 2 1 x\nG 1 0 0 1 2\nG 2 0 0 2 1\nG 3 1 2 2 0.3\n", "small.ped");
  return pedigree;
}

// Reads every marker; each code must be one the analysis knows.
inline void read_every_marker(bravik::genotypes::GenotypeSource& source, std::size_t rows) {
  std::vector<std::uint8_t> codes(rows);
  bravik::genotypes::MarkerInfo info;
  while (source.next(info, codes))
    for (const std::uint8_t code : codes)
      if (code > 3) __builtin_trap();
  (void)source.notes();
  (void)source.skipped();
}

}  // namespace fuzz

#pragma once
// The standard pedigree file: one person a line, whitespace separated:
//   family person father mother sex trait  a1 b1  a2 b2 ...
// Ids are any tokens; "0" as father or mother means "not in the pedigree".
// Sex is 1 (male), 2 (female) or 0 (unknown, allowed for non-parents). The
// trait is a real; "x", "NA", "." or any value of -998 or below mean missing.
// Each marker has two alleles 1 or 2; "0 0" means untyped.
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bravik::tools {

inline constexpr int sex_unknown = 0;
inline constexpr int sex_male = 1;
inline constexpr int sex_female = 2;
inline constexpr double missing_trait = -999.0;  // how a missing trait is written to the phenotype file
inline constexpr double missing_threshold = -998.0;  // values at or below it mean "not measured"
inline constexpr double plink_missing_trait = -9.0;  // the default of --missing-phenotype

struct PedigreeRow {
  std::string family;
  std::string person;
  std::string father;  // "0" when not in the pedigree
  std::string mother;
  int sex = sex_unknown;
  std::optional<double> trait;  // empty when not measured
  long line = 0;                // line of the file, from 1
};

// Marker codes as the analysis reads them: 0 untyped, 1 = 11, 2 = 12, 3 = 22.
struct PedigreeFile {
  std::string name;  // for messages
  int markers = 0;
  std::vector<PedigreeRow> rows;
  std::vector<std::uint8_t> codes;  // rows x markers, row after row

  std::uint8_t& code(std::size_t row, int marker) {
    return codes[row * static_cast<std::size_t>(markers) + static_cast<std::size_t>(marker)];
  }
  std::uint8_t code(std::size_t row, int marker) const {
    return codes[row * static_cast<std::size_t>(markers) + static_cast<std::size_t>(marker)];
  }
  // "file:line: family F, person P: " for messages about a row.
  std::string where(const PedigreeRow& row) const;
};

// The blank- or tab-separated fields of a line (a trailing '\r' is a blank).
std::vector<std::string_view> split_fields(std::string_view line);

// A trait value: empty for x, NA, . and values of -998 or below; an error
// text in `error` when the token is no number.
std::optional<double> parse_trait(std::string_view token, std::string& error);

// The genotype of a marker code as two alleles ("1/2"; "0/0" untyped).
std::string alleles_of_code(int code);

// Reads the file; throws InputError naming every malformed row (file, line,
// family and person ids, what is wrong), and when the markers exceed N_LOCI.
// Blank lines and lines starting with '#' are skipped.
PedigreeFile read_pedigree_file(const std::string& path);
PedigreeFile parse_pedigree_text(const std::string& text, const std::string& name);

// Sets to "not measured" every trait equal to `missing_value` (the reader
// already takes x, NA, . and values of -998 or below as missing).
void mark_missing_traits(PedigreeFile& file, double missing_value);

// Writes the rows in the same convention (missing trait as "x").
void write_pedigree_file(std::ostream& out, const PedigreeFile& file);

}  // namespace bravik::tools

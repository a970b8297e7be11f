#pragma once
// Line-by-line reading of the whitespace-separated text files around the
// genotypes (.fam, .bim, .map, phenotype tables, id lists), with the file and
// line at hand for messages.
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "genotypes/source.hpp"

namespace bravik::genotypes {

class LineReader {
 public:
  // Throws tools::InputError "PATH: cannot open the WHAT" when unreadable.
  LineReader(std::string path, std::string_view what);

  // The fields of the next line that has any; false at the end. The views
  // stay valid until the next call.
  bool next(std::vector<std::string_view>& fields);

  const std::string& path() const { return path_; }
  long line() const { return line_; }
  // "PATH:LINE: " for messages about the current line.
  std::string at() const;
  // Throws tools::InputError unless the line has `count` fields; `layout`
  // names them for the message.
  void expect_columns(const std::vector<std::string_view>& fields, std::size_t count, std::string_view layout) const;

 private:
  std::string path_;
  std::ifstream in_;
  std::string text_;
  long line_ = 0;
};

// The largest base-pair position read (PLINK 2's limit, 2^31 - 2).
inline constexpr long long max_base_pair = 2'147'483'646;

// Chromosome, id, cM and bp from the first four fields of a .bim or .map line
// (InputError naming the line for a position that is not a number, a cM that
// is not finite, a bp below 0 or above max_base_pair).
void read_marker_place(const LineReader& reader, const std::vector<std::string_view>& fields, MarkerInfo& info);

// The count of lines with any field, from a pass over the file.
long count_field_lines(const std::string& path, std::string_view what);

}  // namespace bravik::genotypes

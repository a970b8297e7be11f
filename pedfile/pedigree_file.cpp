#include "pedfile/pedigree_file.hpp"

#include <charconv>
#include <cmath>
#include <fstream>
#include <sstream>
#include <string_view>

#include "pedfile/input_error.hpp"
#include "pedigree/blocks.hpp"
#include "textio/message_text.hpp"

namespace bravik::tools {
namespace {

constexpr int fixed_columns = 6;

}  // namespace

std::vector<std::string_view> split_fields(std::string_view line) {
  std::vector<std::string_view> tokens;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
    const std::size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
    if (i > start) tokens.push_back(line.substr(start, i - start));
  }
  return tokens;
}

namespace {

bool is_missing_token(std::string_view t) { return t == "x" || t == "NA" || t == "." ; }

}  // namespace

std::optional<double> parse_trait(std::string_view token, std::string& error) {
  if (is_missing_token(token)) return std::nullopt;
  double value = 0.0;
  const char* first = token.data() + (token.front() == '+' ? 1 : 0);
  const auto [end, ec] = std::from_chars(first, token.data() + token.size(), value);
  if (ec != std::errc() || end != token.data() + token.size() || !std::isfinite(value)) {
    error = "trait value " + textio::quoted(token) + " is not a number (missing is x, NA or .)";
    return std::nullopt;
  }
  if (value <= missing_threshold) return std::nullopt;
  return value;
}

namespace {

// Code 0..3 of an allele pair, or -1 with an error text.
int parse_genotype(std::string_view a, std::string_view b, int marker, std::string& error) {
  const auto allele = [](std::string_view t) { return t.size() == 1 && t[0] >= '0' && t[0] <= '2' ? t[0] - '0' : -1; };
  const int x = allele(a);
  const int y = allele(b);
  const std::string pair = textio::quoted(std::string(a) + " " + std::string(b));
  if (x < 0 || y < 0) {
    error = "marker " + std::to_string(marker) + ": allele pair " + pair + " (alleles are 0, 1 or 2)";
    return -1;
  }
  if ((x == 0) != (y == 0)) {
    error = "marker " + std::to_string(marker) + ": half-typed genotype " + pair + " (untyped is 0 0)";
    return -1;
  }
  return x == 0 ? 0 : x + y - 1;
}

int parse_sex(std::string_view t) {
  if (t == "1") return sex_male;
  if (t == "2") return sex_female;
  if (t == "0") return sex_unknown;
  return -1;
}

}  // namespace

void mark_missing_traits(PedigreeFile& file, double missing_value) {
  for (PedigreeRow& row : file.rows)
    if (row.trait == missing_value) row.trait.reset();
}

std::string PedigreeFile::where(const PedigreeRow& row) const {
  return name + ":" + std::to_string(row.line) + ": family " + textio::short_text(row.family) + ", person " +
         textio::short_text(row.person) + ": ";
}

std::string alleles_of_code(int code) {
  static const char* const text[] = {"0/0", "1/1", "1/2", "2/2"};
  return text[code];
}

PedigreeFile parse_pedigree_text(const std::string& text, const std::string& name) {
  PedigreeFile file;
  file.name = name;
  Diagnostics errors;
  std::size_t expected_columns = 0;
  long line_number = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    const std::string_view line(text.data() + pos, end - pos);
    pos = end + 1;
    ++line_number;
    const std::vector<std::string_view> tokens = split_fields(line);
    if (tokens.empty() || tokens[0].front() == '#') continue;

    const std::string at = name + ":" + std::to_string(line_number) + ": ";
    if (expected_columns == 0) {
      if (tokens.size() < fixed_columns || (tokens.size() - fixed_columns) % 2 != 0) {
        errors.add(at + "expected 6 columns and two per marker, read " + std::to_string(tokens.size()));
        errors.throw_if_any();
      }
      expected_columns = tokens.size();
      file.markers = static_cast<int>((expected_columns - fixed_columns) / 2);
      if (file.markers > N_LOCI) {
        errors.add(at + std::to_string(file.markers) + " markers, more than the " +
                   std::to_string(N_LOCI) + " that the analysis holds (N_LOCI)");
        errors.throw_if_any();
      }
    }
    PedigreeRow row;
    row.line = line_number;
    row.family = std::string(tokens[0]);
    if (tokens.size() >= 2) row.person = std::string(tokens[1]);
    if (tokens.size() != expected_columns) {
      errors.add(file.where(row) + "expected " +
                 std::to_string(expected_columns) + " columns (as the first row), read " +
                 std::to_string(tokens.size()));
      continue;
    }
    row.father = std::string(tokens[2]);
    row.mother = std::string(tokens[3]);
    const std::string who = file.where(row);
    row.sex = parse_sex(tokens[4]);
    if (row.sex < 0) errors.add(who + "sex " + textio::quoted(tokens[4]) + " (1 male, 2 female, 0 unknown)");
    std::string error;
    row.trait = parse_trait(tokens[5], error);
    if (!error.empty()) errors.add(who + error);
    for (int m = 0; m < file.markers; ++m) {
      error.clear();
      const int code = parse_genotype(tokens[fixed_columns + 2 * m], tokens[fixed_columns + 2 * m + 1], m + 1, error);
      if (code < 0) errors.add(who + error);
      file.codes.push_back(static_cast<std::uint8_t>(code < 0 ? 0 : code));
    }
    file.rows.push_back(std::move(row));
  }
  if (file.rows.empty() && errors.empty()) errors.add(name + ": no pedigree rows");
  errors.throw_if_any();
  return file;
}

PedigreeFile read_pedigree_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw InputError(path + ": cannot open the pedigree file");
  std::ostringstream content;
  content << in.rdbuf();
  return parse_pedigree_text(content.str(), path);
}

void write_pedigree_file(std::ostream& out, const PedigreeFile& file) {
  static const char* const pair[] = {"0 0", "1 1", "1 2", "2 2"};
  for (std::size_t r = 0; r < file.rows.size(); ++r) {
    const PedigreeRow& row = file.rows[r];
    out << row.family << ' ' << row.person << ' ' << row.father << ' ' << row.mother << ' ' << row.sex << ' ';
    if (row.trait) {
      char buffer[32];
      const auto result = std::to_chars(buffer, buffer + sizeof buffer, *row.trait);
      out.write(buffer, result.ptr - buffer);
    } else {
      out << 'x';
    }
    for (int m = 0; m < file.markers; ++m) out << "  " << pair[file.code(r, m)];
    out << '\n';
  }
}

}  // namespace bravik::tools

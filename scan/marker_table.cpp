#include "scan/marker_table.hpp"

#include <charconv>
#include <sstream>

#include "pedfile/command_line.hpp"
#include "pedfile/input_error.hpp"
#include "results/text_file.hpp"

namespace bravik::scan {
namespace {

std::vector<std::string> fields_of(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (std::size_t tab = line.find('\t'); tab != std::string::npos; tab = line.find('\t', start)) {
    fields.push_back(line.substr(start, tab - start));
    start = tab + 1;
  }
  fields.push_back(line.substr(start));
  return fields;
}

MarkerRow parse_row(const std::vector<std::string>& f) {
  MarkerRow row;
  row.chromosome = f[0];
  if (f[1] != "NA") row.position = tools::parse_int(f[1], "position", 0, 2'000'000'000);
  if (f[2] != "NA") row.centimorgans = tools::parse_real(f[2], "cM");
  row.id = f[3];
  row.allele1 = f[4];
  row.allele2 = f[5];
  if (f[6] != "NA") row.frequency = tools::parse_real_in(f[6], "freq", 0.0, 1.0);
  row.typed = tools::parse_int(f[7], "typed", 0, 2'000'000'000);
  return row;
}

}  // namespace

std::string full_precision(std::optional<double> value) {
  if (!value) return "NA";
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, *value);
  return std::string(buffer, result.ptr);
}

std::string marker_table_line(const MarkerRow& row) {
  return row.chromosome + '\t' + (row.position ? std::to_string(*row.position) : "NA") + '\t' +
         full_precision(row.centimorgans) + '\t' +
         row.id + '\t' + row.allele1 + '\t' + row.allele2 + '\t' + full_precision(row.frequency) + '\t' +
         std::to_string(row.typed);
}

std::vector<MarkerRow> read_marker_table(const std::string& path) {
  std::istringstream in(results::read_text_file(path, "marker table"));
  std::string line;
  if (!std::getline(in, line) || line != marker_table_header)
    throw tools::InputError(path + ":1: expected the header '" + std::string(marker_table_header) + "'");
  std::vector<MarkerRow> rows;
  for (long number = 2; std::getline(in, line); ++number) {
    const std::vector<std::string> fields = fields_of(line);
    const std::string at = path + ":" + std::to_string(number) + ": ";
    if (fields.size() != 8)
      throw tools::InputError(at + "expected 8 tab-separated columns, read " + std::to_string(fields.size()));
    try {
      rows.push_back(parse_row(fields));
    } catch (const tools::InputError& e) {
      throw tools::InputError(at + e.what());
    }
  }
  return rows;
}

}  // namespace bravik::scan

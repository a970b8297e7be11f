#include "genotypes/text_lines.hpp"

#include <charconv>

#include "pedfile/input_error.hpp"
#include "pedfile/pedigree_file.hpp"

namespace bravik::genotypes {
namespace {

template <class Number>
Number parse_number(std::string_view text, const LineReader& reader, std::string_view what) {
  Number value{};
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size())
    throw tools::InputError(reader.at() + std::string(what) + " '" + std::string(text) + "' is not a number");
  return value;
}

}  // namespace

LineReader::LineReader(std::string path, std::string_view what) : path_(std::move(path)), in_(path_, std::ios::binary) {
  if (!in_) throw tools::InputError(path_ + ": cannot open the " + std::string(what));
}

bool LineReader::next(std::vector<std::string_view>& fields) {
  while (std::getline(in_, text_)) {
    ++line_;
    fields = tools::split_fields(text_);
    if (!fields.empty()) return true;
  }
  if (in_.bad()) throw tools::InputError(path_ + ": read error after line " + std::to_string(line_));
  return false;
}

std::string LineReader::at() const { return path_ + ":" + std::to_string(line_) + ": "; }

void LineReader::expect_columns(const std::vector<std::string_view>& fields, std::size_t count,
                                std::string_view layout) const {
  if (fields.size() == count) return;
  throw tools::InputError(at() + "expected " + std::to_string(count) + " columns (" + std::string(layout) + "), read " +
                          std::to_string(fields.size()) + ": '" + text_ + "'");
}

void read_marker_place(const LineReader& reader, const std::vector<std::string_view>& fields, MarkerInfo& info) {
  info.chromosome.assign(fields[0]);
  info.id.assign(fields[1]);
  info.centimorgans = parse_number<double>(fields[2], reader, "cM position");
  info.position = parse_number<long long>(fields[3], reader, "bp position");
}

long count_field_lines(const std::string& path, std::string_view what) {
  LineReader reader(path, what);
  std::vector<std::string_view> fields;
  long count = 0;
  while (reader.next(fields)) ++count;
  return count;
}

}  // namespace bravik::genotypes

#include "genotypes/text_lines.hpp"

#include "tools/pedfile/input_error.hpp"
#include "tools/pedfile/pedigree_file.hpp"

namespace bravik::genotypes {

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

long count_field_lines(const std::string& path, std::string_view what) {
  LineReader reader(path, what);
  std::vector<std::string_view> fields;
  long count = 0;
  while (reader.next(fields)) ++count;
  return count;
}

}  // namespace bravik::genotypes

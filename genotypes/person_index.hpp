#pragma once
// Finding a pedigree row from the ids a genotype file gives: family and person
// id (.fam, pedigree file), or one sample name (VCF: IID, or FID_IID as PLINK
// writes it).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <span>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "pedfile/pedigree_file.hpp"

namespace bravik::genotypes {

class PersonIndex {
 public:
  explicit PersonIndex(const tools::PedigreeFile& pedigree);

  std::optional<std::size_t> find(std::string_view family, std::string_view person) const;
  // FID_IID when it names one person; else IID when one person carries it.
  std::optional<std::size_t> find_sample(std::string_view name) const;

 private:
  std::map<std::string, std::size_t, std::less<>> by_family_and_person_;
  std::map<std::string, std::size_t, std::less<>> by_joined_name_;
  std::map<std::string, std::size_t, std::less<>> by_unique_person_;
};

// The pedigree row of each person of a genotype file, in the file's order,
// and the spreading of a marker's calls onto the pedigree's rows.
class RowMap {
 public:
  explicit RowMap(std::size_t pedigree_rows) : pedigree_rows_(pedigree_rows) {}

  void add(std::optional<std::size_t> row) {
    rows_.push_back(row.value_or(absent));
    held_ += row.has_value();
  }
  std::size_t persons_held() const { return held_; }
  std::size_t file_persons() const { return rows_.size(); }

  // Sets every pedigree row's code: code_of(i) for the file's person i, 0
  // for persons the file lacks.
  template <class CodeOf>
  void fill(std::span<std::uint8_t> codes, CodeOf code_of) const {
    if (codes.size() != pedigree_rows_) throw std::invalid_argument("genotype source: one code per pedigree row is needed");
    std::fill(codes.begin(), codes.end(), std::uint8_t{0});
    for (std::size_t i = 0; i < rows_.size(); ++i)
      if (rows_[i] != absent) codes[rows_[i]] = code_of(i);
  }

 private:
  static constexpr std::size_t absent = static_cast<std::size_t>(-1);
  std::size_t pedigree_rows_;
  std::vector<std::size_t> rows_;
  std::size_t held_ = 0;
};

}  // namespace bravik::genotypes

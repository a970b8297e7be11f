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

// How the persons of a file (genotype file, phenotype table) met the
// pedigree: counts and a few names of each side, so that a file that matches
// few persons is reported in a few lines, not one line per person.
class MatchTally {
 public:
  enum class Rule { family_and_person, sample_name };
  // `file` and `unit` ("sample", "row") for the notes.
  MatchTally(std::string file, std::string unit, Rule rule) : file_(std::move(file)), unit_(std::move(unit)), rule_(rule) {}

  void add(std::string_view name, bool matched);
  std::size_t unmatched() const { return unmatched_; }
  // A note on the file's persons that match nobody, and, when the file
  // matches fewer than half of the pedigree's persons (`pedigree_matched`),
  // one with the counts, how persons are matched and examples of both sides.
  std::vector<std::string> notes(const tools::PedigreeFile& pedigree, std::size_t pedigree_matched) const;

 private:
  static constexpr std::size_t examples = 3;
  std::string file_, unit_;
  Rule rule_;
  std::size_t seen_ = 0, unmatched_ = 0;
  std::vector<std::string> matched_names_, unmatched_names_;  // the first few
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

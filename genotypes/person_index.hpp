#pragma once
// Finding a pedigree row from the ids a genotype file gives: family and person
// id (.fam, pedigree file), or one sample name (VCF: IID, or FID_IID as PLINK
// writes it).
#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "tools/pedfile/pedigree_file.hpp"

namespace bravik::genotypes {

class PersonIndex {
 public:
  explicit PersonIndex(const tools::PedigreeFile& pedigree);

  std::optional<std::size_t> find(std::string_view family, std::string_view person) const;
  // FID_IID first; then IID when exactly one person carries it.
  std::optional<std::size_t> find_sample(std::string_view name) const;

 private:
  std::map<std::string, std::size_t, std::less<>> by_family_and_person_;
  std::map<std::string, std::size_t, std::less<>> by_joined_name_;
  std::map<std::string, std::size_t, std::less<>> by_unique_person_;
};

}  // namespace bravik::genotypes

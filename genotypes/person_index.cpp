#include "genotypes/person_index.hpp"

namespace bravik::genotypes {
namespace {

constexpr std::size_t not_unique = static_cast<std::size_t>(-1);

std::string family_and_person(std::string_view family, std::string_view person) {
  std::string key(family);
  key += '\t';
  key += person;
  return key;
}

// Keeps the row under the key, or marks the key ambiguous when taken.
void add_unique(std::map<std::string, std::size_t, std::less<>>& map, std::string key, std::size_t row) {
  const auto [it, inserted] = map.emplace(std::move(key), row);
  if (!inserted) it->second = not_unique;
}

std::optional<std::size_t> lookup(const std::map<std::string, std::size_t, std::less<>>& map, std::string_view key) {
  const auto it = map.find(key);
  if (it == map.end() || it->second == not_unique) return std::nullopt;
  return it->second;
}

}  // namespace

PersonIndex::PersonIndex(const tools::PedigreeFile& pedigree) {
  for (std::size_t r = 0; r < pedigree.rows.size(); ++r) {
    const tools::PedigreeRow& row = pedigree.rows[r];
    by_family_and_person_.emplace(family_and_person(row.family, row.person), r);
    add_unique(by_joined_name_, row.family + "_" + row.person, r);
    add_unique(by_unique_person_, row.person, r);
  }
}

std::optional<std::size_t> PersonIndex::find(std::string_view family, std::string_view person) const {
  return lookup(by_family_and_person_, family_and_person(family, person));
}

std::optional<std::size_t> PersonIndex::find_sample(std::string_view name) const {
  if (const auto row = lookup(by_joined_name_, name)) return row;
  return lookup(by_unique_person_, name);
}

}  // namespace bravik::genotypes

#include "genotypes/person_index.hpp"

#include "textio/message_text.hpp"

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

std::string listed(const std::vector<std::string>& names, std::size_t total) {
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : ", ") + textio::short_text(name);
  return text + (total > names.size() ? ", ..." : "");
}

}  // namespace

void MatchTally::add(std::string_view name, bool matched) {
  ++seen_;
  unmatched_ += !matched;
  std::vector<std::string>& names = matched ? matched_names_ : unmatched_names_;
  if (names.size() < examples) names.emplace_back(name);
}

std::vector<std::string> MatchTally::notes(const tools::PedigreeFile& pedigree, std::size_t pedigree_matched) const {
  const bool by_name = rule_ == Rule::sample_name;
  const std::string how = by_name ? "a sample name is FID_IID or an IID that one person carries"
                                  : "a person is matched by FID and IID";
  std::vector<std::string> notes;
  if (unmatched_ > 0)
    notes.push_back(file_ + ": " + std::to_string(unmatched_) + " of " + std::to_string(seen_) + " " + unit_ +
                    "s match no person of " + pedigree.name + " and are ignored (" + how +
                    "): " + listed(unmatched_names_, unmatched_));
  if (2 * pedigree_matched >= pedigree.rows.size()) return notes;
  std::vector<std::string> persons;
  for (std::size_t r = 0; r < std::min(examples, pedigree.rows.size()); ++r)
    persons.push_back(pedigree.rows[r].family + (by_name ? "_" : " ") + pedigree.rows[r].person);
  notes.push_back(file_ + " matches only " + std::to_string(pedigree_matched) + " of the " +
                  std::to_string(pedigree.rows.size()) + " persons of " + pedigree.name + " (" + how + "); " +
                  pedigree.name + " names persons like " + listed(persons, pedigree.rows.size()) + ", " + file_ +
                  " has " + unit_ + "s like " + listed(unmatched_names_.empty() ? matched_names_ : unmatched_names_, seen_));
  return notes;
}

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

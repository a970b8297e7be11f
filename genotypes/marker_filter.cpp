#include "genotypes/marker_filter.hpp"

#include <algorithm>
#include <array>
#include <cctype>

#include "genotypes/text_lines.hpp"
#include "textio/message_text.hpp"

namespace bravik::genotypes {
namespace {

constexpr std::array<std::string_view, 9> non_autosomal_names = {"X", "Y", "XY", "MT", "M", "23", "24", "25", "26"};

std::set<std::string> read_id_list(const std::string& path, std::string_view what) {
  std::set<std::string> ids;
  if (path.empty()) return ids;
  LineReader list(path, what);
  std::vector<std::string_view> fields;
  while (list.next(fields)) ids.emplace(fields[0]);
  return ids;
}

// "LIST FILE: 3 of 10 ids match no marker: a, b, c, ..." when any does not.
void note_unmatched(std::vector<std::string>& notes, const std::string& what, const std::string& path,
                    const std::set<std::string>& ids, const std::set<std::string>& met) {
  constexpr std::size_t shown = 5;
  std::vector<std::string> unmatched;
  for (const std::string& id : ids)
    if (!met.contains(id)) unmatched.push_back(id);
  if (unmatched.empty()) return;
  std::string note = what + " " + path + ": " + std::to_string(unmatched.size()) + " of " + std::to_string(ids.size()) +
                     " ids match no marker of the data: ";
  for (std::size_t i = 0; i < std::min(shown, unmatched.size()); ++i)
    note += (i > 0 ? ", " : "") + textio::short_text(unmatched[i]);
  notes.push_back(note + (unmatched.size() > shown ? ", ..." : ""));
}

}  // namespace

std::vector<std::string> MarkerSelection::unmatched_id_notes() const {
  std::vector<std::string> notes;
  note_unmatched(notes, "--extract", filter_.extract_path, extract_, met_);
  note_unmatched(notes, "--exclude", filter_.exclude_path, exclude_, met_);
  return notes;
}

std::string_view decision_name(MarkerDecision decision) {
  switch (decision) {
    case MarkerDecision::keep: return "kept";
    case MarkerDecision::non_autosomal: return "non-autosomal";
    case MarkerDecision::other_chromosome: return "other chromosome";
    case MarkerDecision::outside_range: return "outside the bp range";
    case MarkerDecision::not_extracted: return "not in --extract";
    case MarkerDecision::excluded: return "in --exclude";
    case MarkerDecision::too_missing: return "too many missing calls";
    case MarkerDecision::rare: return "minor allele frequency below --maf";
  }
  return "unknown";
}

AlleleCount count_alleles(std::span<const std::uint8_t> codes) {
  std::array<std::size_t, 4> count{};
  for (const std::uint8_t code : codes) ++count[code & 3];
  AlleleCount out;
  out.typed = count[1] + count[2] + count[3];
  if (out.typed > 0)
    out.allele1_frequency = static_cast<double>(2 * count[1] + count[2]) / static_cast<double>(2 * out.typed);
  return out;
}

std::string normalized_chromosome(std::string_view chromosome) {
  std::string name(chromosome);
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  if (name.size() > 3 && name.starts_with("CHR")) name.erase(0, 3);
  return name;
}

bool is_autosomal(std::string_view chromosome) {
  const std::string name = normalized_chromosome(chromosome);
  return std::find(non_autosomal_names.begin(), non_autosomal_names.end(), name) == non_autosomal_names.end();
}

MarkerSelection::MarkerSelection(const MarkerFilter& filter, std::size_t persons_held)
    : filter_(filter),
      extract_(read_id_list(filter.extract_path, "--extract list")),
      exclude_(read_id_list(filter.exclude_path, "--exclude list")),
      persons_held_(persons_held) {
  for (const std::string& chromosome : filter.chromosomes) chromosomes_.insert(normalized_chromosome(chromosome));
}

MarkerDecision MarkerSelection::decide_by_place(const MarkerInfo& info) const {
  if (!is_autosomal(info.chromosome)) return MarkerDecision::non_autosomal;
  if (!chromosomes_.empty() && !chromosomes_.contains(normalized_chromosome(info.chromosome)))
    return MarkerDecision::other_chromosome;
  if ((filter_.from_bp && info.position < *filter_.from_bp) || (filter_.to_bp && info.position > *filter_.to_bp))
    return MarkerDecision::outside_range;
  if (!filter_.extract_path.empty() && !extract_.contains(info.id)) return MarkerDecision::not_extracted;
  if (exclude_.contains(info.id)) return MarkerDecision::excluded;
  return MarkerDecision::keep;
}

MarkerDecision MarkerSelection::decide(const MarkerInfo& info, std::span<const std::uint8_t> codes) {
  if (extract_.contains(info.id) || exclude_.contains(info.id)) met_.insert(info.id);
  const MarkerDecision by_place = decide_by_place(info);
  if (by_place != MarkerDecision::keep) return by_place;
  const AlleleCount alleles = count_alleles(codes);
  const double held = static_cast<double>(std::max<std::size_t>(persons_held_, 1));
  const double missing = 1.0 - static_cast<double>(std::min(alleles.typed, persons_held_)) / held;
  if (missing > filter_.max_missing) return MarkerDecision::too_missing;
  const double minor = std::min(alleles.allele1_frequency, 1.0 - alleles.allele1_frequency);
  if (minor < filter_.min_maf) return MarkerDecision::rare;
  return MarkerDecision::keep;
}

}  // namespace bravik::genotypes

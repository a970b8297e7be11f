#include "scan/trait_notes.hpp"

#include <algorithm>
#include <cmath>

#include "textio/message_text.hpp"

namespace bravik::scan {
namespace {

constexpr std::size_t persons_named = 5;

double median_of(std::vector<double> values) {
  const std::size_t half = values.size() / 2;
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(half), values.end());
  const double upper = values[half];
  if (values.size() % 2 == 1) return upper;
  return 0.5 * (upper + *std::max_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(half)));
}

// -9, 99, -99, 999, 9999...: codes cohort files use for "not measured".
bool looks_like_missing_code(double value) {
  const double size = std::fabs(value);
  if (value == -9.0) return true;
  for (double nines = 99.0; nines < 1e7; nines = 10.0 * nines + 9.0)
    if (size == nines) return true;
  return false;
}

// "N persons ... : family F, person P: V, ..." or nothing when none.
template <class Chosen>
void note_persons(std::vector<std::string>& notes, const tools::PedigreeFile& persons, const std::string& what,
                  Chosen chosen) {
  std::size_t count = 0;
  std::string named;
  for (const tools::PedigreeRow& row : persons.rows) {
    if (!row.trait || !chosen(*row.trait)) continue;
    if (++count <= persons_named)
      named += std::string(count > 1 ? "; " : "") + "family " + textio::short_text(row.family) + ", person " +
               textio::short_text(row.person) + ": " + textio::number_text(*row.trait);
  }
  if (count == 0) return;
  notes.push_back(persons.name + ": " + std::to_string(count) + " trait values " + what + ": " + named +
                  (count > persons_named ? "; ..." : ""));
}

}  // namespace

std::size_t measured_persons(const tools::PedigreeFile& persons) {
  return static_cast<std::size_t>(
      std::count_if(persons.rows.begin(), persons.rows.end(), [](const tools::PedigreeRow& r) { return r.trait.has_value(); }));
}

std::vector<std::string> trait_notes(const tools::PedigreeFile& persons) {
  std::vector<double> values;
  for (const tools::PedigreeRow& row : persons.rows)
    if (row.trait) values.push_back(*row.trait);
  std::vector<std::string> notes;
  if (values.empty()) return notes;
  const double median = median_of(values);
  std::vector<double> deviations;
  for (const double v : values) deviations.push_back(std::fabs(v - median));
  const double spread = 1.4826 * median_of(deviations);
  if (spread > 0.0)
    note_persons(notes, persons,
                 "lie more than " + textio::number_text(outlying_trait_spread) + " robust standard deviations (" +
                     textio::number_text(spread) + ") from the median " + textio::number_text(median) +
                     "; such a value can make its family's likelihood underflow (every LOD then fails)",
                 [&](double v) { return std::fabs(v - median) > outlying_trait_spread * spread; });
  note_persons(notes, persons,
               "look like missing codes; if they mean not measured, give --missing-phenotype VALUE or set them to NA",
               looks_like_missing_code);
  return notes;
}

}  // namespace bravik::scan

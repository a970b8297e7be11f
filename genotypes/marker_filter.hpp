#pragma once
// Marker selection of a scan: which markers of a source are analysed, and why
// the others are not, so that a summary can count the dropped ones by reason.
// The transmission model is autosomal: X, Y, XY, MT (and 23-26, with or
// without a "chr" prefix) are always dropped.
#include <cstdint>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "genotypes/source.hpp"

namespace bravik::genotypes {

// The options as the command line gives them; empty or default = no limit.
struct MarkerFilter {
  std::vector<std::string> chromosomes;  // --chr (a "chr" prefix is ignored)
  std::optional<long long> from_bp;      // --from-bp, inclusive
  std::optional<long long> to_bp;        // --to-bp, inclusive
  std::string extract_path;              // --extract: ids to keep, the first word of each line
  std::string exclude_path;              // --exclude: ids to drop
  double min_maf = 0;                    // --maf: drop below this minor allele frequency
  double max_missing = 1;                // --max-missing: drop above this share of missing calls
};

enum class MarkerDecision {
  keep,
  non_autosomal,
  other_chromosome,  // not among --chr
  outside_range,     // before --from-bp or after --to-bp
  not_extracted,     // not in the --extract list
  excluded,          // in the --exclude list
  too_missing,       // more missing calls than --max-missing
  rare,              // minor allele frequency below --maf (0 when nobody is typed)
};

// A short lower-case name of the decision for summaries ("non-autosomal").
std::string_view decision_name(MarkerDecision decision);

// Typed persons of a marker and the frequency of allele 1 among them
// (0 when nobody is typed).
struct AlleleCount {
  std::size_t typed = 0;
  double allele1_frequency = 0;
};
AlleleCount count_alleles(std::span<const std::uint8_t> codes);

// Chromosome name without a "chr" prefix, upper case ("chrx" -> "X").
std::string normalized_chromosome(std::string_view chromosome);
bool is_autosomal(std::string_view chromosome);

class MarkerSelection {
 public:
  // Reads the --extract and --exclude lists (InputError naming the file when
  // unreadable). `persons_held` is the count the missing share is taken of.
  MarkerSelection(const MarkerFilter& filter, std::size_t persons_held);

  // The place and id are checked before the codes, so the first failing
  // reason is reported. Remembers the listed ids it met.
  MarkerDecision decide(const MarkerInfo& info, std::span<const std::uint8_t> codes);
  // The same from the place and id alone (keep when the codes may still pass).
  MarkerDecision decide_by_place(const MarkerInfo& info) const;

  // One note per list with ids that no marker decided so far carries: how
  // many of how many, and the first few (a typing error, another build).
  std::vector<std::string> unmatched_id_notes() const;

 private:
  MarkerFilter filter_;
  std::set<std::string> chromosomes_;
  std::set<std::string> extract_;
  std::set<std::string> exclude_;
  std::set<std::string> met_;  // listed ids some marker carries
  std::size_t persons_held_;
};

}  // namespace bravik::genotypes

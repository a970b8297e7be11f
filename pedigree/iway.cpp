#include "pedigree/iway.hpp"

#include <cmath>
#include <cstdint>
#include <string>

#include "pedigree/validate.hpp"
#include "textio/layout.hpp"
#include "textio/list_input.hpp"
#include "textio/run_end.hpp"

namespace bravik {
namespace {

constexpr int input_unit = 2;
constexpr int console_unit = textio::stdout_unit;
constexpr std::string_view description_file = "IWAY.DAT";
constexpr std::size_t phenotype_name_length = 10;
constexpr int max_families = N_FAM - 2;
constexpr double measured_above = -990.0;

// Ends the run with the capacity message when a count exceeds its limit; called
// as soon as the count is read, before any value beyond the array is stored.
void check_capacity(int count, int limit, std::string_view message) {
  if (count > limit) textio::stop(message, textio::exit_error_stop);
}

// Reads the values of positions first..last of a record into slot(position).
template <class Slot>
void read_values(textio::ListInput& in, int first, int last, Slot&& slot) {
  for (int position = first; position <= last; ++position) in.get(slot(position));
}

// Record 1: N, then nfam and ifst(1..N+1).
int read_family_table(buf1_block& buf1, textio::Channels& channels) {
  textio::ListInput in(channels, input_unit);
  std::int32_t n = 0;
  in.get(n);
  check_capacity(n, max_families, "N_FAM exceed. Correct and recompile");
  read_values(in, 0, n + 1,
              [&](int position) -> std::int32_t& { return position == 0 ? buf1.nfam : buf1.ifst(position); });
  return n;
}

// Record 2: an unused value, then inuc(1..N+1).
void read_nuclear_offsets(buf3_block& buf3, textio::Channels& channels, int n) {
  textio::ListInput in(channels, input_unit);
  std::int32_t unused = 0;
  read_values(in, 0, n + 1,
              [&](int position) -> std::int32_t& { return position == 0 ? unused : buf3.inuc(position); });
}

// Records 3 and 4: a count within N_WAY, then that many values from position 0.
template <class List>
int read_counted_list(List& list, textio::Channels& channels) {
  textio::ListInput in(channels, input_unit);
  std::int32_t count = 0;
  in.get(count);
  check_capacity(count, N_WAY, "N_WAY exceed. Correct and recompile");
  read_values(in, 0, count - 1, list);
  return count;
}

// Record 5: icon(1..M-2). The record takes its line even when it has no value.
void read_connectors(buf15_block& buf15, textio::Channels& channels, int m) {
  textio::ListInput in(channels, input_unit);
  read_values(in, 1, m - 2, buf15.icon);
}

// Records 6 and 7: the two per-person lists. Only their length P is kept.
int read_person_lists(textio::Channels& channels) {
  std::int32_t npers = 0;
  std::int32_t discarded = 0;
  auto discard = [&](int) -> std::int32_t& { return discarded; };
  {
    textio::ListInput in(channels, input_unit);
    in.get(npers);
    check_capacity(npers, N_SIZE, "N_SIZE exceed. Correct and recompile");
    read_values(in, 1, npers, discard);
  }
  textio::ListInput in(channels, input_unit);
  read_values(in, 1, npers, discard);
  return npers;
}

DescriptionCounts read_description(Pedigree& ped, textio::Channels& channels) {
  channels.open(input_unit, description_file, textio::Access::read);
  DescriptionCounts counts;
  counts.n = read_family_table(ped.buf1, channels);
  read_nuclear_offsets(ped.buf3, channels, counts.n);
  counts.m = read_counted_list(ped.buf14.imem, channels);
  counts.k = read_counted_list(ped.buf16.mem, channels);
  read_connectors(ped.buf15, channels, counts.m);
  ped.npers = read_person_lists(channels);
  channels.close(input_unit);
  return counts;
}

// A trait value that overflowed to an infinity would make every likelihood NaN.
void check_trait_value(const textio::Channels& channels, int person, double value) {
  if (std::isfinite(value)) return;
  textio::fail(channels.name(input_unit) + ", line " + std::to_string(channels.line_number(input_unit)) +
                   ": the trait value of person " + std::to_string(person) + " is not finite (read as " +
                   (std::isnan(value) ? "NaN" : value > 0 ? "+Infinity" : "-Infinity") +
                   "); trait values must be finite numbers, -999 for a person not measured\n",
               textio::exit_input_error);
}

void read_phenotypes(Pedigree& ped, textio::Channels& channels, std::string_view fnphen) {
  channels.open(input_unit, fnphen.substr(0, phenotype_name_length), textio::Access::read);
  {
    textio::ListInput in(channels, input_unit);
    for (int p = 1; p <= ped.npers; ++p) {
      in.get(ped.buf2.yph(p));
      check_trait_value(channels, p, ped.buf2.yph(p));
    }
  }
  channels.close(input_unit);
}

std::int32_t count_measured(const Pedigree& ped) {
  std::int32_t count = 0;
  for (int p = 1; p <= ped.npers; ++p) {
    if (ped.buf2.yph(p) > measured_above) ++count;
  }
  return count;
}

}  // namespace

void wwdat(Pedigree& ped, textio::Channels& channels, std::string_view fnphen) {
  const DescriptionCounts counts = read_description(ped, channels);
  validate_pedigree(ped, counts, description_file);
  read_phenotypes(ped, channels, fnphen);
  textio::write_list(channels, console_unit,
                     {std::string_view{"Number of measured persons="}, count_measured(ped)});
}

}  // namespace bravik

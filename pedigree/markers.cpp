#include "pedigree/markers.hpp"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "textio/layout.hpp"
#include "textio/list_input.hpp"
#include "textio/pause.hpp"
#include "textio/run_end.hpp"
#include "textio/status_line.hpp"

namespace bravik {
namespace {

constexpr int marker_unit = 1;
constexpr int console_unit = textio::stdout_unit;
constexpr std::int32_t highest_code = 3;  // 0 untyped, 1 = 11, 2 = 12, 3 = 22

[[noreturn]] void reject_marker_file(const textio::Channels& channels, const std::string& what) {
  textio::fail(channels.name(marker_unit) + ", " + what + "\n", textio::exit_input_error);
}

// Record 0: the marker count, which must fit the N_LOCI columns of mgt.
std::int32_t read_marker_count(textio::Channels& channels) {
  std::int32_t nmark = 0;
  {
    textio::ListInput in(channels, marker_unit);
    in.get(nmark);
  }
  if (nmark > N_LOCI) {
    textio::write_list(channels, console_unit, {std::string_view{"Increase N_LOCI size in mas_size"}});
    textio::pause(channels);
    textio::stop("", textio::exit_error_stop);
  }
  return nmark;
}

// Row r is about to count as a person row: it must fit the N_SIZE rows of mgt.
void check_row_capacity(const textio::Channels& channels, int r) {
  if (r > N_SIZE) {
    reject_marker_file(channels, "row " + std::to_string(r) + ": more than " + std::to_string(N_SIZE) +
                                     " person rows, the most the pedigree arrays hold (N_SIZE)");
  }
}

void check_codes(const textio::Channels& channels, int r, std::span<const std::int32_t> row) {
  for (std::size_t i = 0; i < row.size(); ++i) {
    if (row[i] < 0 || row[i] > highest_code) {
      reject_marker_file(channels, "row " + std::to_string(r) + " (person " + std::to_string(r) + "), marker " +
                                       std::to_string(i + 1) + ": code " + std::to_string(row[i]) +
                                       " is not a marker genotype (0 untyped, 1 = 11, 2 = 12, 3 = 22)");
    }
  }
}

// One record of marker codes; false when the end of the file cuts it short.
bool read_row(textio::Channels& channels, std::span<std::int32_t> row) {
  textio::ListInput in(channels, marker_unit, textio::EndOfFile::report);
  for (std::int32_t& code : row) {
    if (!in.get(code)) return false;
  }
  return true;
}

// Rows of nmark codes until the end of the file; returns the complete rows.
// A row beyond N_SIZE is read into a scratch row so that it is an error only
// when it is complete.
int read_rows(Pedigree& ped, textio::Channels& channels) {
  const auto width = static_cast<std::size_t>(ped.nmark);
  std::vector<std::int32_t> beyond_capacity(width);
  int r = 1;
  for (;; ++r) {
    const std::span<std::int32_t> row =
        r <= N_SIZE ? std::span<std::int32_t>(&ped.buf2.mgt(r, 1), width) : std::span<std::int32_t>(beyond_capacity);
    if (!read_row(channels, row)) break;
    check_row_capacity(channels, r);
    check_codes(channels, r, row);
  }
  return r - 1;
}

// With no marker every record is a read of zero values, which still takes one
// line: the rows are the remaining lines.
int count_rows_without_markers(textio::Channels& channels) {
  std::string line;
  int r = 0;
  while (channels.next_line(marker_unit, line)) check_row_capacity(channels, ++r);
  return r;
}

// "person 7" or "persons 7 to 9".
std::string span_text(const std::string& noun, int first, int last) {
  if (first == last) return noun + " " + std::to_string(first);
  return noun + "s " + std::to_string(first) + " to " + std::to_string(last);
}

}  // namespace

void read_marker_file(Pedigree& ped, textio::Channels& channels) {
  ped.nmark = read_marker_count(channels);
  ped.nrow = ped.nmark > 0 ? read_rows(ped, channels) : count_rows_without_markers(channels);
  channels.close(marker_unit);
}

void warn_about_row_count(const Pedigree& ped, std::string_view marker_file) {
  if (ped.nrow == ped.npers) return;
  std::string text = "warning: " + std::string(marker_file) + " has " + std::to_string(ped.nrow) +
                     " complete rows of marker codes for the " + std::to_string(ped.npers) +
                     " persons of IWAY.DAT; ";
  if (ped.nrow < ped.npers) {
    text += span_text("person", ped.nrow + 1, ped.npers) +
            " without a row: untyped at every marker (a missing row shifts every later person)\n";
  } else {
    text += span_text("row", ped.npers + 1, ped.nrow) + " beyond the persons: not used\n";
  }
  textio::console_write(stderr, text);
}

void select_marker(Pedigree& ped, int t) {
  for (int r = 1; r <= ped.nrow; ++r) ped.buf2.mgt(r, 0) = ped.buf2.mgt(r, t);
}

}  // namespace bravik

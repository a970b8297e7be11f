// Fuzz target for markers.tsv: every row read is written back by the table's
// writer into a line that reads as the same row.
#include <cstdint>

#include "pedfile/input_error.hpp"
#include "scan/marker_table.hpp"
#include "tests/fuzz/fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace bravik::scan;
  fuzz::write_file("markers.tsv", fuzz::bytes(data, size));
  try {
    const std::vector<MarkerRow> rows = read_marker_table("markers.tsv");
    std::string text = std::string(marker_table_header) + "\n";
    for (const MarkerRow& row : rows) text += marker_table_line(row) + "\n";
    fuzz::write_file("again.tsv", text);
    const std::vector<MarkerRow> again = read_marker_table("again.tsv");
    if (again.size() != rows.size()) __builtin_trap();
    for (std::size_t i = 0; i < rows.size(); ++i)
      if (marker_table_line(again[i]) != marker_table_line(rows[i])) __builtin_trap();
  } catch (const bravik::tools::InputError&) {
  }
  return 0;
}

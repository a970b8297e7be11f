#pragma once
// The table of a scan's selected markers (OUT/markers.tsv): tab-separated,
// one header line, one row per marker in the order of the plan.
#include <optional>
#include <string>
#include <vector>

namespace bravik::scan {

struct MarkerRow {
  std::string chromosome;
  std::optional<long long> position;   // empty when not known (a run folder of the preparation tool)
  std::optional<double> centimorgans;
  std::string id;
  std::string allele1;
  std::string allele2;
  std::optional<double> frequency;  // of allele 1 among typed persons; empty when nobody is typed
  long typed = 0;
};

inline constexpr const char* marker_table_header = "chr\tpos\tcm\tid\ta1\ta2\tfreq\ttyped";

// A real in the shortest text that reads back as the same double; "NA" when empty.
std::string full_precision(std::optional<double> value);
std::string marker_table_line(const MarkerRow& row);  // without the line end
// Throws InputError naming file, line and value of a malformed row.
std::vector<MarkerRow> read_marker_table(const std::string& path);

}  // namespace bravik::scan

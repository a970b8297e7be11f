#pragma once
// Readers of the files a LOD scan leaves: the LOD result file of the analysis
// programs, the map file beside it, and the reals the result files write.
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bravik::results {

// One line of a LOD result file: marker, null and alternative log-likelihoods, LOD.
struct LodPoint {
  int marker = 0;
  double null_lnl = 0.0;
  double alt_lnl = 0.0;
  double lod = 0.0;
};

// One line of a map file: marker number, name, optional position in cM.
struct MapEntry {
  std::string name;
  std::optional<double> position;
};
using MarkerMap = std::map<int, MapEntry>;

// Both readers throw tools::InputError naming file and line of a malformed
// line. Blank lines and lines starting with '#' are skipped.
std::vector<LodPoint> parse_lod_text(const std::string& text, const std::string& name);
MarkerMap parse_map_text(const std::string& text, const std::string& name);
// A real as the result files write it, including an exponent without its
// letter ("0.1234-100"), "NaN" and "Infinity"; empty when the token is not one.
std::optional<double> parse_result_real(std::string_view token);

}  // namespace bravik::results

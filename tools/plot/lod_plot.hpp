#pragma once
// The picture of a LOD scan: an SVG plot of the LOD score by marker.
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bravik::tools {

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

// Both readers throw InputError naming file and line of a malformed line.
// Blank lines and lines starting with '#' are skipped.
std::vector<LodPoint> parse_lod_text(const std::string& text, const std::string& name);
MarkerMap parse_map_text(const std::string& text, const std::string& name);
// A real as the result files write it, including an exponent without its
// letter ("0.1234-100"), "NaN" and "Infinity"; empty when the token is not one.
std::optional<double> parse_result_real(std::string_view token);
std::string read_text_file(const std::string& path, const char* what);

// The plot: one point per line of the LOD file (a LOD that is not finite is
// drawn hollow on the lower edge), dashed lines at LOD 3 and -2, the markers'
// names from the map (as axis labels when there are few markers, and beside
// every point of LOD 3 or more), and positions on the x axis when the map
// gives one for every plotted marker (marker numbers otherwise).
std::string render_lod_svg(const std::vector<LodPoint>& points, const MarkerMap& map, const std::string& title);

}  // namespace bravik::tools

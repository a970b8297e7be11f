#pragma once
// The picture of a LOD scan: an SVG plot of the LOD score by marker.
#include <string>
#include <vector>

#include "results/lod_file.hpp"

namespace bravik::tools {

// The plot: one point per line of the LOD file (a LOD that is not finite is
// drawn hollow on the lower edge), dashed lines at LOD 3 and -2, the markers'
// names from the map (as axis labels when there are few markers, and beside
// every point of LOD 3 or more), and positions on the x axis when the map
// gives one for every plotted marker (marker numbers otherwise).
std::string render_lod_svg(const std::vector<results::LodPoint>& points, const results::MarkerMap& map,
                           const std::string& title);

}  // namespace bravik::tools

// Fuzz target for the map file of bravik_plot: a parsed map is drawn with a
// LOD point for each of its markers, so that its positions set the x axis.
#include <cstdint>
#include <string>

#include "pedfile/input_error.hpp"
#include "tests/fuzz/fuzz_support.hpp"
#include "tools/plot/lod_plot.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace bravik::results;
  using namespace bravik::tools;
  try {
    const MarkerMap map = parse_map_text(std::string(fuzz::bytes(data, size)), "fuzz.map");
    std::vector<LodPoint> points;
    double lod = -3.0;
    for (const auto& entry : map) points.push_back({entry.first, -100.0, -100.0 + lod, lod += 0.7});
    render_lod_svg(points, map, "fuzz");
  } catch (const InputError&) {
  }
  return 0;
}

// Fuzz target for the LOD file of bravik_plot: parsed points are drawn; the
// result is a picture or an InputError, never a crash or an endless loop.
#include <cstdint>
#include <string>

#include "pedfile/input_error.hpp"
#include "tests/fuzz/fuzz_support.hpp"
#include "tools/plot/lod_plot.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace bravik::results;
  using namespace bravik::tools;
  try {
    const std::vector<LodPoint> points = parse_lod_text(std::string(fuzz::bytes(data, size)), "fuzz.lod");
    render_lod_svg(points, MarkerMap{}, "fuzz");
  } catch (const InputError&) {
  }
  return 0;
}

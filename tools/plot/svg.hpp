#pragma once
// Pieces of the LOD plots: number texts, axes, and the lines at LOD 3 and -2.
#include <cmath>
#include <ostream>
#include <string>
#include <string_view>

namespace bravik::tools {

inline constexpr double lod_upper_threshold = 3.0;
inline constexpr double lod_lower_threshold = -2.0;

// A linear map from data values lo..hi to pixels pixel_lo..pixel_hi.
struct Axis {
  double lo, hi, pixel_lo, pixel_hi;
  double at(double v) const { return pixel_lo + (v - lo) / (hi - lo) * (pixel_hi - pixel_lo); }
};

std::string svg_number(double v);  // a pixel position, one decimal
std::string svg_label(double v);    // a value for people ("%g", no "-0")
std::string svg_escaped(std::string_view text);
// A tick step of 1, 2 or 5 times a power of ten giving at most about 10 ticks.
double tick_step(double span);

// At most this many ticks on an axis, whatever rounding does to the step.
inline constexpr int max_ticks = 100;

// Calls `each(v)` for the multiples of `step` within the axis, counted by an
// index so that a step too small to change a large value cannot stall the loop.
template <class Each>
void for_each_tick(const Axis& axis, double step, Each each) {
  const double first = std::ceil(axis.lo / step);
  for (int k = 0; k < max_ticks; ++k) {
    const double v = (first + k) * step;
    if (v > axis.hi) break;
    each(v);
  }
}

// The opening tag, a white background and the title.
void write_svg_head(std::ostream& svg, double width, double height, const std::string& title);
// Horizontal grid lines with their LOD labels left of `left`.
void write_lod_grid(std::ostream& svg, const Axis& y, double left, double right);
// The line at LOD 0 and the dashed, labelled lines at LOD 3 and -2.
void write_lod_reference_lines(std::ostream& svg, const Axis& y, double left, double right);

}  // namespace bravik::tools

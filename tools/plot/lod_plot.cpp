#include "tools/plot/lod_plot.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "pedfile/input_error.hpp"
#include "tools/plot/svg.hpp"

namespace bravik::tools {

using results::LodPoint;
using results::MapEntry;
using results::MarkerMap;

namespace {

constexpr double width = 960;
constexpr double height = 520;
constexpr double left = 80;
constexpr double right = 30;
constexpr double top = 50;
constexpr double bottom = 110;
constexpr std::size_t max_name_labels = 40;
// Width of a character of a 12-pixel label, enough for the widest digits and letters.
constexpr double label_char_width = 7.5;

struct PlotPoint {
  LodPoint lod;
  double x;
  std::string name;
};

// The picture needs spans that are finite and wider than rounding at their ends.
void check_drawable(double lo, double hi, const char* what) {
  if (!std::isfinite(hi - lo) || !(hi - lo > 1e-12 * std::max(std::abs(lo), std::abs(hi))))
    throw InputError(std::string("cannot draw the ") + what + " from " + svg_label(lo) + " to " + svg_label(hi) +
                     ": the range is too wide or too narrow for its values");
}

}  // namespace

std::string render_lod_svg(const std::vector<LodPoint>& lods, const MarkerMap& map, const std::string& title) {
  const auto entry = [&map](int marker) { const auto it = map.find(marker); return it == map.end() ? nullptr : &it->second; };
  const bool by_position = !lods.empty() && std::all_of(lods.begin(), lods.end(), [&](const LodPoint& p) {
    const MapEntry* e = entry(p.marker);
    return e != nullptr && e->position.has_value();
  });
  std::vector<PlotPoint> points;
  for (const LodPoint& p : lods) {
    const MapEntry* e = entry(p.marker);
    points.push_back({p, by_position ? *e->position : static_cast<double>(p.marker),
                      e != nullptr ? e->name : "marker " + std::to_string(p.marker)});
  }
  std::stable_sort(points.begin(), points.end(), [](const PlotPoint& a, const PlotPoint& b) { return a.x < b.x; });

  double x_lo = points.empty() ? 0.0 : points.front().x;
  double x_hi = points.empty() ? 1.0 : points.back().x;
  if (x_hi - x_lo < 1e-9) {  // one place: a range around it, wide enough to survive rounding
    const double half = std::max(1.0, 1e-3 * std::abs(x_lo));
    x_lo -= half;
    x_hi += half;
  }
  check_drawable(x_lo, x_hi, by_position ? "positions" : "marker numbers");
  const double x_pad = 0.02 * (x_hi - x_lo);
  double y_lo = lod_lower_threshold - 0.5;
  double y_hi = lod_upper_threshold + 0.5;
  for (const PlotPoint& p : points)
    if (std::isfinite(p.lod.lod)) { y_lo = std::min(y_lo, p.lod.lod); y_hi = std::max(y_hi, p.lod.lod); }
  check_drawable(y_lo, y_hi, "LOD scores");
  const double y_pad = 0.05 * (y_hi - y_lo);
  const Axis x{x_lo - x_pad, x_hi + x_pad, left, width - right};
  const Axis y{y_lo - y_pad, y_hi + y_pad, height - bottom, top};

  std::ostringstream svg;
  write_svg_head(svg, width, height, title);
  write_lod_grid(svg, y, left, width - right);
  // Names under the axis when they fit; numbers when there are no names, or positions.
  const bool name_ticks = !map.empty() && points.size() <= max_name_labels;
  if (by_position || !name_ticks) {
    const double x_step = std::max(tick_step(x.hi - x.lo), by_position ? 0.0 : 1.0);
    for_each_tick(x, x_step, [&](double v) {
      svg << "<text x=\"" << svg_number(x.at(v)) << "\" y=\"" << height - bottom + 18 << "\" text-anchor=\"middle\">"
          << svg_label(v) << "</text>\n";
    });
  }
  if (name_ticks) {
    const double name_top = height - bottom + (by_position ? 32 : 14);
    for (const PlotPoint& p : points)
      svg << "<text class=\"marker-name\" transform=\"translate(" << svg_number(x.at(p.x)) << ',' << name_top
          << ") rotate(-45)\" text-anchor=\"end\" font-size=\"10\">" << svg_escaped(p.name) << "</text>\n";
  }
  svg << "<rect class=\"frame\" x=\"" << left << "\" y=\"" << top << "\" width=\"" << width - left - right
      << "\" height=\"" << height - top - bottom << "\" fill=\"none\" stroke=\"black\"/>\n"
      << "<text x=\"" << (left + width - right) / 2 << "\" y=\"" << height - 12 << "\" text-anchor=\"middle\">"
      << (by_position ? "position (cM)" : "marker") << "</text>\n"
      << "<text transform=\"translate(22," << (top + height - bottom) / 2
      << ") rotate(-90)\" text-anchor=\"middle\">LOD score</text>\n";

  write_lod_reference_lines(svg, y, left, width - right);

  // The scan: a line through the finite points, then the points.
  svg << "<polyline class=\"lod-curve\" fill=\"none\" stroke=\"#455a64\" stroke-width=\"1\" points=\"";
  for (const PlotPoint& p : points)
    if (std::isfinite(p.lod.lod)) svg << svg_number(x.at(p.x)) << ',' << svg_number(y.at(p.lod.lod)) << ' ';
  svg << "\"/>\n";
  double free_from = -width;  // where the next name beside a point may start without overlapping
  for (const PlotPoint& p : points) {
    const bool finite = std::isfinite(p.lod.lod);
    const double py = finite ? y.at(p.lod.lod) : y.pixel_lo;
    svg << "<circle class=\"lod-point\" data-marker=\"" << p.lod.marker << "\" cx=\"" << svg_number(x.at(p.x))
        << "\" cy=\"" << svg_number(py) << "\" r=\"3.5\" "
        << (finite ? "fill=\"#263238\"" : "fill=\"white\" stroke=\"#c62828\"") << "><title>" << svg_escaped(p.name)
        << " (marker " << p.lod.marker << (by_position ? ", " + svg_label(p.x) + " cM" : std::string()) << "): LOD "
        << svg_label(p.lod.lod) << "</title></circle>\n";
    const double name_x = x.at(p.x) + 6;
    if (finite && p.lod.lod >= lod_upper_threshold && !name_ticks && name_x >= free_from) {
      svg << "<text class=\"marker-name\" x=\"" << svg_number(name_x) << "\" y=\"" << svg_number(py - 6) << "\">"
          << svg_escaped(p.name) << "</text>\n";
      free_from = name_x + label_char_width * static_cast<double>(p.name.size());
    }
  }
  svg << "</svg>\n";
  return svg.str();
}

}  // namespace bravik::tools

#include "tools/plot/svg.hpp"

#include <cmath>
#include <cstdio>
#include <utility>

namespace bravik::tools {

std::string svg_number(double v) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.1f", v);
  return buffer;
}

std::string svg_label(double v) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%g", std::abs(v) < 1e-12 ? 0.0 : v);
  return buffer;
}

std::string svg_escaped(std::string_view text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

double tick_step(double span) {
  const double raw = span / 8.0;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (const double factor : {1.0, 2.0, 5.0})
    if (factor * power >= raw) return factor * power;
  return 10.0 * power;
}

void write_svg_head(std::ostream& svg, double width, double height, const std::string& title) {
  svg << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << height
      << "\" viewBox=\"0 0 " << width << ' ' << height << "\" font-family=\"sans-serif\" font-size=\"12\">\n"
      << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
      << "<text class=\"title\" x=\"" << width / 2 << "\" y=\"28\" text-anchor=\"middle\" font-size=\"16\">"
      << svg_escaped(title) << "</text>\n";
}

void write_lod_grid(std::ostream& svg, const Axis& y, double left, double right) {
  const double y_step = tick_step(y.hi - y.lo);
  for_each_tick(y, y_step, [&](double v) {
    svg << "<line class=\"grid\" x1=\"" << left << "\" x2=\"" << right << "\" y1=\"" << svg_number(y.at(v))
        << "\" y2=\"" << svg_number(y.at(v)) << "\" stroke=\"#e4e4e4\"/>\n"
        << "<text x=\"" << left - 6 << "\" y=\"" << svg_number(y.at(v) + 4) << "\" text-anchor=\"end\">"
        << svg_label(v) << "</text>\n";
  });
}

void write_lod_reference_lines(std::ostream& svg, const Axis& y, double left, double right) {
  svg << "<line class=\"zero\" x1=\"" << left << "\" x2=\"" << right << "\" y1=\"" << svg_number(y.at(0))
      << "\" y2=\"" << svg_number(y.at(0)) << "\" stroke=\"#888\"/>\n";
  for (const auto& [value, colour] :
       {std::pair{lod_upper_threshold, "#c62828"}, std::pair{lod_lower_threshold, "#1565c0"}}) {
    svg << "<line class=\"threshold\" data-lod=\"" << svg_label(value) << "\" x1=\"" << left << "\" x2=\"" << right
        << "\" y1=\"" << svg_number(y.at(value)) << "\" y2=\"" << svg_number(y.at(value)) << "\" stroke=\"" << colour
        << "\" stroke-width=\"1.5\" stroke-dasharray=\"8 5\"/>\n"
        << "<text x=\"" << right - 4 << "\" y=\"" << svg_number(y.at(value) - 5) << "\" text-anchor=\"end\" fill=\""
        << colour << "\">LOD " << svg_label(value) << "</text>\n";
  }
}

}  // namespace bravik::tools

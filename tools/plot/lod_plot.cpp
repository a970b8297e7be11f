#include "tools/plot/lod_plot.hpp"

#include <algorithm>
#include <charconv>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string_view>
#include <utility>

#include "textio/message_text.hpp"
#include "tools/pedfile/input_error.hpp"
#include "tools/pedfile/pedigree_file.hpp"
#include "tools/plot/svg.hpp"

namespace bravik::tools {
namespace {

constexpr double width = 960;
constexpr double height = 520;
constexpr double left = 80;
constexpr double right = 30;
constexpr double top = 50;
constexpr double bottom = 110;
constexpr std::size_t max_name_labels = 40;
// A file of the wrong kind fails on every line: show a few errors and a count.
constexpr std::size_t errors_shown = 5;
// Width of a character of a 12-pixel label, enough for the widest digits and letters.
constexpr double label_char_width = 7.5;

std::vector<std::string_view> tokens_of(std::string_view line) {
  std::vector<std::string_view> tokens;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
    const std::size_t start = i;
    while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i]))) ++i;
    if (i > start) tokens.push_back(line.substr(start, i - start));
  }
  return tokens;
}

// Calls `each(line number, tokens)` for every line that is neither blank nor a comment.
template <class Each>
void for_each_data_line(const std::string& text, Each each) {
  std::istringstream in(text);
  std::string line;
  for (long number = 1; std::getline(in, line); ++number) {
    const std::vector<std::string_view> tokens = tokens_of(line);
    if (!tokens.empty() && tokens[0].front() != '#') each(number, tokens);
  }
}

std::optional<int> parse_marker_number(std::string_view token) {
  int value = 0;
  const auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), value);
  if (ec != std::errc() || end != token.data() + token.size() || value < 1) return std::nullopt;
  return value;
}

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

std::optional<double> parse_result_real(std::string_view token) {
  std::string text(token);
  if (text.size() > 1 && text[0] == '+') text.erase(0, 1);
  const std::size_t sign = text.find_first_of("+-", 1);
  if (sign != std::string::npos && std::isdigit(static_cast<unsigned char>(text[sign - 1]))) {
    std::string with_letter(text, 0, sign);
    with_letter.push_back('E');
    with_letter.append(text, sign, std::string::npos);
    text = std::move(with_letter);
  }
  double value = 0.0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::string read_text_file(const std::string& path, const char* what) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw InputError(path + ": cannot open the " + what);
  std::ostringstream content;
  content << in.rdbuf();
  std::string text = content.str();
  drop_byte_order_mark(text);
  return text;
}

std::vector<LodPoint> parse_lod_text(const std::string& text, const std::string& name) {
  std::vector<LodPoint> points;
  Diagnostics errors(errors_shown);
  for_each_data_line(text, [&](long line, const std::vector<std::string_view>& t) {
    const std::optional<int> marker = t.size() == 4 ? parse_marker_number(t[0]) : std::nullopt;
    std::optional<double> values[3];
    for (std::size_t k = 0; k < 3 && t.size() == 4; ++k) values[k] = parse_result_real(t[k + 1]);
    if (!marker || !values[0] || !values[1] || !values[2]) {
      errors.add(name + ":" + std::to_string(line) +
                 ": expected marker number, null and alternative log-likelihoods and LOD score");
      return;
    }
    points.push_back({*marker, *values[0], *values[1], *values[2]});
  });
  errors.throw_if_any();
  return points;
}

MarkerMap parse_map_text(const std::string& text, const std::string& name) {
  MarkerMap map;
  Diagnostics errors(errors_shown);
  bool first_line = true;
  for_each_data_line(text, [&](long line, const std::vector<std::string_view>& t) {
    const std::string at = name + ":" + std::to_string(line) + ": ";
    const bool header = std::exchange(first_line, false) && !parse_marker_number(t[0]);
    if (header) return;
    const std::optional<int> marker = t.size() >= 2 && t.size() <= 3 ? parse_marker_number(t[0]) : std::nullopt;
    if (!marker) {
      errors.add(at + "expected marker number, name and an optional position in cM");
      return;
    }
    MapEntry entry{std::string(t[1]), std::nullopt};
    if (t.size() == 3) {
      entry.position = parse_result_real(t[2]);
      if (!entry.position || !std::isfinite(*entry.position)) {
        errors.add(at + "position " + textio::quoted(t[2]) + " is not a number");
        return;
      }
    }
    if (!map.emplace(*marker, entry).second) errors.add(at + "marker " + std::to_string(*marker) + " listed twice");
  });
  errors.throw_if_any();
  return map;
}

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

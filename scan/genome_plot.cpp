#include "scan/genome_plot.hpp"

#include <algorithm>
#include <cmath>
#include <map>
#include <sstream>

#include "tools/plot/svg.hpp"

namespace bravik::scan {
namespace {

constexpr double width = 1200;
constexpr double height = 520;
constexpr double left = 80;
constexpr double right = 30;
constexpr double top = 50;
constexpr double bottom = 80;
constexpr double gap_share = 0.01;  // of the whole x range, between chromosomes
const char* const colours[2] = {"#263238", "#1e88e5"};
// LODs beyond are drawn at it, so that the axis span stays a finite number.
constexpr double largest_drawn_lod = 1e300;

struct Point {
  double x;  // within the chromosome
  double lod;
  const std::string* id;
};

struct ChromosomeSpan {
  std::string name;
  std::vector<Point> points;
  double lo = 0, hi = 0, offset = 0;  // offset: where lo sits on the genome axis
};

// A chromosome's number for ordering, or -1 when it is not a number.
long chromosome_number(const std::string& name) {
  const std::string digits = name.rfind("chr", 0) == 0 ? name.substr(3) : name;
  const auto is_digit = [](char c) { return c >= '0' && c <= '9'; };
  if (digits.empty() || digits.size() > 9 || !std::all_of(digits.begin(), digits.end(), is_digit)) return -1;
  return std::stol(digits);
}

// Markers are placed by position when every plotted one has one; else by rank.
bool placed_by_position(const std::vector<ResultRow>& rows) {
  return std::all_of(rows.begin(), rows.end(), [](const ResultRow& r) {
    return !r.result || !std::isfinite(r.result->lod) || r.marker.position.value_or(0) > 0;
  });
}

// Failed markers (a log-likelihood not finite) are not drawn.
bool plotted(const ResultRow& r) { return r.result && std::isfinite(r.result->lod) && r.status != "failed"; }

std::vector<ChromosomeSpan> spans_of(const std::vector<ResultRow>& rows, bool by_position) {
  std::map<std::string, ChromosomeSpan, bool (*)(const std::string&, const std::string&)> spans(chromosome_before);
  for (const ResultRow& r : rows) {
    ChromosomeSpan& span = spans[r.marker.chromosome];
    span.name = r.marker.chromosome;
    const double rank = static_cast<double>(span.points.size());
    if (plotted(r))
      span.points.push_back({by_position ? static_cast<double>(*r.marker.position) : rank,
                             std::clamp(r.result->lod, -largest_drawn_lod, largest_drawn_lod), &r.marker.id});
  }
  std::vector<ChromosomeSpan> ordered;
  for (auto& [name, span] : spans) {
    if (span.points.empty()) continue;
    const auto [lo, hi] = std::minmax_element(span.points.begin(), span.points.end(),
                                              [](const Point& a, const Point& b) { return a.x < b.x; });
    span.lo = lo->x;
    span.hi = std::max(hi->x, lo->x + 1.0);
    ordered.push_back(std::move(span));
  }
  return ordered;
}

// Lays the chromosomes out one after another; returns the length of the axis.
double lay_out(std::vector<ChromosomeSpan>& spans) {
  double length = 0;
  for (const ChromosomeSpan& s : spans) length += s.hi - s.lo;
  const double gap = gap_share * length;
  double offset = 0;
  for (ChromosomeSpan& s : spans) {
    s.offset = offset;
    offset += s.hi - s.lo + gap;
  }
  return std::max(offset - gap, 1.0);
}

tools::Axis lod_axis(const std::vector<ChromosomeSpan>& spans, const std::vector<double>& levels) {
  double lo = tools::lod_lower_threshold - 0.5;
  double hi = tools::lod_upper_threshold + 0.5;
  for (const double level : levels)
    if (std::isfinite(level)) { lo = std::min(lo, level); hi = std::max(hi, level); }
  for (const ChromosomeSpan& s : spans)
    for (const Point& p : s.points) { lo = std::min(lo, p.lod); hi = std::max(hi, p.lod); }
  const double pad = 0.05 * (hi - lo);
  return {lo - pad, hi + pad, height - bottom, top};
}

// The best point of each chromosome, highest first, at most `labelled_peaks`, LOD above 0.
std::vector<std::pair<const ChromosomeSpan*, const Point*>> peaks_of(const std::vector<ChromosomeSpan>& spans) {
  std::vector<std::pair<const ChromosomeSpan*, const Point*>> peaks;
  for (const ChromosomeSpan& s : spans) {
    const Point& best = *std::max_element(s.points.begin(), s.points.end(),
                                          [](const Point& a, const Point& b) { return a.lod < b.lod; });
    if (best.lod > 0) peaks.emplace_back(&s, &best);
  }
  std::stable_sort(peaks.begin(), peaks.end(), [](const auto& a, const auto& b) { return a.second->lod > b.second->lod; });
  if (peaks.size() > labelled_peaks) peaks.resize(labelled_peaks);
  return peaks;
}

// Ticks and labels in Mb under the plot of one chromosome.
void write_megabase_ticks(std::ostream& svg, const ChromosomeSpan& span) {
  constexpr double base_pairs_per_mb = 1e6;
  const tools::Axis mb{span.lo / base_pairs_per_mb, span.hi / base_pairs_per_mb, left, width - right};
  tools::for_each_tick(mb, tools::tick_step(mb.hi - mb.lo), [&](double v) {
    svg << "<line class=\"tick\" x1=\"" << tools::svg_number(mb.at(v)) << "\" x2=\"" << tools::svg_number(mb.at(v))
        << "\" y1=\"" << height - bottom << "\" y2=\"" << height - bottom + 5 << "\" stroke=\"black\"/>\n"
        << "<text class=\"tick-label\" x=\"" << tools::svg_number(mb.at(v)) << "\" y=\"" << height - bottom + 18
        << "\" text-anchor=\"middle\">" << tools::svg_label(v) << "</text>\n";
  });
}

// The empirical thresholds: significant solid red, suggestive solid orange, each named at the right.
void write_empirical_levels(std::ostream& svg, const tools::Axis& y, const std::vector<double>& levels) {
  const char* const names[] = {"significant", "suggestive"};
  const char* const strokes[] = {"#c62828", "#ef6c00"};
  for (std::size_t i = 0; i < std::min<std::size_t>(levels.size(), 2); ++i) {
    if (!std::isfinite(levels[i])) continue;
    const std::string py = tools::svg_number(y.at(levels[i]));
    svg << "<line class=\"" << names[i] << "\" x1=\"" << left << "\" x2=\"" << width - right << "\" y1=\"" << py
        << "\" y2=\"" << py << "\" stroke=\"" << strokes[i] << "\" stroke-width=\"1.5\"/>\n<text x=\"" << width - right - 4
        << "\" y=\"" << tools::svg_number(y.at(levels[i]) - 4) << "\" text-anchor=\"end\" fill=\"" << strokes[i] << "\">"
        << names[i] << " (LOD " << tools::svg_label(levels[i]) << ")</text>\n";
  }
}

}  // namespace

bool chromosome_before(const std::string& a, const std::string& b) {
  const long na = chromosome_number(a);
  const long nb = chromosome_number(b);
  if ((na < 0) != (nb < 0)) return na >= 0;
  if (na >= 0 && na != nb) return na < nb;
  return a < b;
}

std::string render_genome_svg(const std::vector<ResultRow>& rows, const std::string& title, const std::vector<double>& levels) {
  const bool by_position = placed_by_position(rows);
  std::vector<ChromosomeSpan> spans = spans_of(rows, by_position);
  const bool one_chromosome_in_mb = spans.size() == 1 && by_position;
  const tools::Axis x{0, lay_out(spans), left, width - right};
  const tools::Axis y = lod_axis(spans, levels);
  const auto px = [&](const ChromosomeSpan& s, const Point& p) { return tools::svg_number(x.at(s.offset + p.x - s.lo)); };

  std::ostringstream svg;
  tools::write_svg_head(svg, width, height, title);
  tools::write_lod_grid(svg, y, left, width - right);
  svg << "<rect class=\"frame\" x=\"" << left << "\" y=\"" << top << "\" width=\"" << width - left - right
      << "\" height=\"" << height - top - bottom << "\" fill=\"none\" stroke=\"black\"/>\n"
      << "<text x=\"" << (left + width - right) / 2 << "\" y=\"" << height - 12 << "\" text-anchor=\"middle\">"
      << (one_chromosome_in_mb ? "position on chromosome " + tools::svg_escaped(spans[0].name) + " (Mb)" : "chromosome")
      << "</text>\n"
      << "<text transform=\"translate(22," << (top + height - bottom) / 2
      << ") rotate(-90)\" text-anchor=\"middle\">LOD score</text>\n";
  tools::write_lod_reference_lines(svg, y, left, width - right);
  write_empirical_levels(svg, y, levels);
  if (one_chromosome_in_mb) write_megabase_ticks(svg, spans[0]);
  for (std::size_t c = 0; c < spans.size(); ++c) {
    const ChromosomeSpan& s = spans[c];
    svg << "<polyline class=\"chromosome\" data-chr=\"" << tools::svg_escaped(s.name) << "\" fill=\"none\" stroke=\""
        << colours[c % 2] << "\" stroke-width=\"1\" points=\"";
    for (const Point& p : s.points) svg << px(s, p) << ',' << tools::svg_number(y.at(p.lod)) << ' ';
    svg << "\"/>\n";
    if (one_chromosome_in_mb) continue;  // the axis title names it
    svg << "<text class=\"chromosome-name\" x=\"" << tools::svg_number(x.at(s.offset + (s.hi - s.lo) / 2))
        << "\" y=\"" << height - bottom + 18 << "\" text-anchor=\"middle\" fill=\"" << colours[c % 2] << "\">"
        << tools::svg_escaped(s.name) << "</text>\n";
  }
  for (const auto& [span, point] : peaks_of(spans))
    svg << "<circle class=\"peak\" cx=\"" << px(*span, *point) << "\" cy=\"" << tools::svg_number(y.at(point->lod))
        << "\" r=\"3.5\" fill=\"#c62828\"/>\n<text class=\"peak-name\" x=\"" << px(*span, *point) << "\" y=\""
        << tools::svg_number(y.at(point->lod) - 8) << "\" text-anchor=\"middle\">" << tools::svg_escaped(*point->id)
        << " (LOD " << tools::svg_label(point->lod) << ")</text>\n";
  svg << "</svg>\n";
  return svg.str();
}

}  // namespace bravik::scan

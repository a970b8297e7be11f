// The LOD plot: reading LOD and map files, and the content of the picture.
#include <gtest/gtest.h>

#include <cmath>

#include "tools/plot/lod_plot.hpp"
#include "tools_test_support.hpp"

namespace {

using bravik::testing::error_of;
using namespace bravik::results;
using namespace bravik::tools;

// The LOD file of a scan, as the programs write it (I4,2E14.6,3X,E11.4).
const char* const scan =
    "   1 -0.896686E+01 -0.879332E+01    0.7545E-01\n"
    "   2 -0.880432E+01 -0.883058E+01   -0.1142E-01\n"
    "   4 -0.714745E+01 -0.710943E+01    0.3000E+01\n"
    "   5 -0.100000+101 -0.100000+101    0.5000E+01\n"
    "   7 -0.714745E+01 -0.710943E+01   -0.2500E+01\n";

int count(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// The value of attribute `name` in the first element that contains `marker_text`.
double attribute(const std::string& svg, const std::string& marker_text, const std::string& name) {
  const std::size_t element = svg.rfind('<', svg.find(marker_text));
  const std::string tag = svg.substr(element, svg.find('>', element) - element);
  const std::string key = " " + name + "=\"";
  const std::size_t at = tag.find(key);
  EXPECT_NE(at, std::string::npos) << tag;
  if (at == std::string::npos) return 0.0;
  const std::size_t start = at + key.size();
  return std::stod(tag.substr(start, tag.find('"', start) - start));
}

TEST(LodPlotInput, ReadsResultLinesIncludingExponentsWithoutLetter) {
  const std::vector<LodPoint> points = parse_lod_text(scan, "lod.out");
  ASSERT_EQ(points.size(), 5u);
  EXPECT_EQ(points[2].marker, 4);
  EXPECT_DOUBLE_EQ(points[0].null_lnl, -8.96686);
  EXPECT_DOUBLE_EQ(points[0].alt_lnl, -8.79332);
  EXPECT_DOUBLE_EQ(points[1].lod, -0.01142);
  EXPECT_DOUBLE_EQ(points[3].null_lnl, -0.1e101);
  const std::vector<LodPoint> odd = parse_lod_text("   3           NaN     -Infinity    -Infinity\n", "lod.out");
  ASSERT_EQ(odd.size(), 1u);
  EXPECT_TRUE(std::isnan(odd[0].null_lnl));
  EXPECT_TRUE(std::isinf(odd[0].lod));
}

TEST(LodPlotInput, NamesMalformedLinesOfLodAndMapFiles) {
  EXPECT_NE(error_of([] { parse_lod_text("   1 -0.89E+01 -0.87E+01 0.07\n   2 -0.88E+01 oops 0.1\n", "lod.out"); })
                .find("lod.out:2: expected marker number, null and alternative log-likelihoods and LOD score"),
            std::string::npos);
  const std::string message = error_of([] {
    parse_map_text("# number name cM\n1 D1S1 0\n2 D1S2 far\nD1S3 3\n1 D1S9 4\n", "map.txt");
  });
  EXPECT_NE(message.find("map.txt:3: position 'far' is not a number"), std::string::npos) << message;
  EXPECT_NE(message.find("map.txt:4: expected marker number, name and an optional position in cM"), std::string::npos)
      << message;
  EXPECT_NE(message.find("map.txt:5: marker 1 listed twice"), std::string::npos) << message;
  const MarkerMap map = parse_map_text("1 D1S1 12.5\n2 D1S2\n", "map.txt");
  EXPECT_EQ(map.at(1).name, "D1S1");
  EXPECT_EQ(map.at(1).position, 12.5);
  EXPECT_FALSE(map.at(2).position.has_value());
}

TEST(LodPlotPicture, OnePointPerMarkerAndBothThresholdLines) {
  const std::string svg = render_lod_svg(parse_lod_text(scan, "lod.out"), {}, "scan");
  EXPECT_EQ(svg.rfind("<svg xmlns=\"http://www.w3.org/2000/svg\"", 0), 0u);
  EXPECT_EQ(count(svg, "class=\"lod-point\""), 5);
  for (const char* marker : {"1", "2", "4", "5", "7"})
    EXPECT_EQ(count(svg, std::string("data-marker=\"") + marker + "\""), 1) << marker;
  EXPECT_EQ(count(svg, "class=\"threshold\""), 2);
  // The threshold lines stand where a point of that LOD is drawn.
  EXPECT_NEAR(attribute(svg, "data-lod=\"3\"", "y1"), attribute(svg, "data-marker=\"4\"", "cy"), 0.051);
  EXPECT_LT(attribute(svg, "data-lod=\"3\"", "y1"), attribute(svg, "data-lod=\"-2\"", "y1"));
  EXPECT_GT(attribute(svg, "data-marker=\"7\"", "cy"), attribute(svg, "data-lod=\"-2\"", "y1"));
  // Without a map the x axis counts markers: 7 lies right of 5, at the same spacing as 1 to 2 per marker.
  const double step = attribute(svg, "data-marker=\"2\"", "cx") - attribute(svg, "data-marker=\"1\"", "cx");
  EXPECT_NEAR(attribute(svg, "data-marker=\"7\"", "cx") - attribute(svg, "data-marker=\"5\"", "cx"), 2 * step, 0.11);
  EXPECT_NE(svg.find(">marker</text>"), std::string::npos);
  EXPECT_NE(svg.find("<title>marker 4 (marker 4): LOD 3</title>"), std::string::npos);
}

TEST(LodPlotPicture, NamesAndPositionsFromTheMap) {
  const MarkerMap map = parse_map_text("1 D1S101 40\n2 D1S102 10\n4 D1S104 20\n5 D1S105 30\n7 D1S107 35.5\n", "map");
  const std::string svg = render_lod_svg(parse_lod_text(scan, "lod.out"), map, "scan");
  for (const char* name : {"D1S101", "D1S102", "D1S104", "D1S105", "D1S107"})
    EXPECT_GE(count(svg, std::string(">") + name + "</text>"), 1) << name << " is not written under the axis";
  EXPECT_NE(svg.find("position (cM)"), std::string::npos);
  // Positions, not numbers, order the points: 2 (10 cM) < 4 (20) < 5 (30) < 7 (35.5) < 1 (40).
  double previous = 0;
  for (const char* marker : {"2", "4", "5", "7", "1"}) {
    const double x = attribute(svg, std::string("data-marker=\"") + marker + "\"", "cx");
    EXPECT_GT(x, previous) << marker;
    previous = x;
  }
  EXPECT_NE(svg.find("<title>D1S107 (marker 7, 35.5 cM): LOD -2.5</title>"), std::string::npos);

  // A marker without a position puts marker numbers back on the axis; names stay.
  const std::string partial = render_lod_svg(parse_lod_text(scan, "lod.out"),
                                             parse_map_text("1 D1S101 40\n2 D1S102\n", "map"), "scan");
  EXPECT_NE(partial.find(">marker</text>"), std::string::npos);
  EXPECT_NE(partial.find(">D1S102</text>"), std::string::npos);
}

TEST(LodPlotPicture, LongScansLabelOnlyMarkersAboveThreeAndKeepUndefinedPoints) {
  std::string lines;
  MarkerMap map;
  for (int m = 1; m <= 100; ++m) {
    char line[64];
    std::snprintf(line, sizeof line, "%4d -0.100000E+02 -0.100000E+02    %s\n", m,
                  m == 50 ? "0.4200E+01" : (m == 60 ? "        NaN" : "0.1000E+00"));
    lines += line;
    map[m] = MapEntry{std::string(1, 'M').append(std::to_string(m)), std::nullopt};
  }
  const std::string svg = render_lod_svg(parse_lod_text(lines, "lod"), map, "long");
  EXPECT_EQ(count(svg, "class=\"lod-point\""), 100);
  EXPECT_EQ(count(svg, "class=\"marker-name\""), 1);
  EXPECT_NE(svg.find(">M50</text>"), std::string::npos);
  EXPECT_NE(svg.find("<title>M60 (marker 60): LOD nan</title>"), std::string::npos);
  EXPECT_EQ(svg.find("nan,"), std::string::npos) << "the curve skips undefined points";
}

TEST(LodPlotPicture, EscapesNamesForXml) {
  const std::string svg =
      render_lod_svg(parse_lod_text("   1 -0.1E+01 -0.1E+01 0.0E+00\n", "lod"), parse_map_text("1 A<&>\"B\n", "map"), "t&t");
  EXPECT_NE(svg.find("A&lt;&amp;&gt;&quot;B"), std::string::npos);
  EXPECT_NE(svg.find(">t&amp;t</text>"), std::string::npos);
}

}  // namespace

namespace {

// The x positions and texts of the names written beside the points.
std::vector<std::pair<double, std::string>> names_beside_points(const std::string& svg) {
  std::vector<std::pair<double, std::string>> names;
  const std::string start = "<text class=\"marker-name\" x=\"";
  for (std::size_t at = svg.find(start); at != std::string::npos; at = svg.find(start, at + 1)) {
    const double x = std::stod(svg.substr(at + start.size()));
    const std::size_t text = svg.find('>', at) + 1;
    names.emplace_back(x, svg.substr(text, svg.find('<', text) - text));
  }
  return names;
}

TEST(LodPlotPicture, NamesBesidePointsWithoutAMapDoNotOverlap) {
  std::string lines;
  for (int m = 1; m <= 60; ++m) lines += std::to_string(m) + " -0.1E+02 -0.1E+02 0.5000E+01\n";
  const std::string svg = render_lod_svg(parse_lod_text(lines, "lod"), {}, "all high");
  const auto names = names_beside_points(svg);
  ASSERT_GE(names.size(), 5u);
  EXPECT_LT(names.size(), 60u);
  EXPECT_EQ(names.front().second, "marker 1");
  // A 12-pixel sans-serif character is at most about 7 pixels wide.
  for (std::size_t i = 1; i < names.size(); ++i)
    EXPECT_GE(names[i].first, names[i - 1].first + 7.0 * static_cast<double>(names[i - 1].second.size()))
        << names[i - 1].second << " and " << names[i].second;
}

// Finite inputs the picture cannot be made of, or that once stalled it: each
// ends in a picture or an error, never in an endless loop.
struct Extreme {
  const char* lod;
  const char* map;
  bool drawable;
};

void PrintTo(const Extreme& e, std::ostream* os) { *os << e.lod << " / " << e.map; }

class LodPlotExtremes : public ::testing::TestWithParam<Extreme> {};

TEST_P(LodPlotExtremes, EndInAPictureOrAnError) {
  const Extreme& e = GetParam();
  const auto draw = [&] { return render_lod_svg(parse_lod_text(e.lod, "lod"), parse_map_text(e.map, "map"), "t"); };
  if (e.drawable) {
    const std::string svg = draw();
    EXPECT_NE(svg.find("</svg>"), std::string::npos);
  } else {
    EXPECT_NE(error_of(draw).find("cannot draw the"), std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, LodPlotExtremes,
    ::testing::Values(Extreme{"1 -1 -1 1\n2 -1 -1 2\n", "1 a 4.5e15\n2 b 4.500000000000001e15\n", false},
                      Extreme{"1 -1 -1 1\n2 -1 -1 2\n", "1 a 4.5e15\n2 b 4.6e15\n", true},
                      Extreme{"1 -1 -1 1\n", "1 a 4.5e15\n", true},
                      Extreme{"2147483647 -1 -1 1\n", "", true},
                      Extreme{"1 -1 -1 1\n2 -1 -1 2\n", "1 a -1.7e308\n2 b 1.7e308\n", false},
                      Extreme{"1 -1 -1 1.7e308\n2 -1 -1 -1.7e308\n", "", false},
                      Extreme{"1 -1 -1 1e300\n2 -1 -1 -2\n", "", true}));

TEST(LodPlotInput, AFileOfTheWrongKindGivesAFewErrorsAndACount) {
  std::string text;
  for (int line = 0; line < 1113; ++line) text.append("F").append(std::to_string(line)).append(" 1 0 0 1 x 1 1\n");
  const std::string message = error_of([&] { parse_lod_text(text, "ped.txt"); });
  EXPECT_EQ(count(message, "\n"), 6) << message;
  EXPECT_NE(message.find("ped.txt:5: expected marker number"), std::string::npos) << message;
  EXPECT_NE(message.find("... and 1108 more errors\n"), std::string::npos) << message;
  EXPECT_EQ(count(error_of([&] { parse_map_text("1 a b c\n" + text, "map"); }), "\n"), 6);
}

TEST(LodPlotInput, MapFileMayStartWithAHeaderLine) {
  const MarkerMap map = parse_map_text("# comment\nmarker name position\n1 D1S1 12.5\n", "map.txt");
  ASSERT_EQ(map.size(), 1u);
  EXPECT_EQ(map.at(1).position, 12.5);
  EXPECT_NE(error_of([] { parse_map_text("1 D1S1 0\nmarker name position\n", "map.txt"); })
                .find("map.txt:2: expected marker number"),
            std::string::npos);
}

TEST(LodPlotInput, AHugeTokenIsQuotedCutShort) {
  const std::string huge(1'000'000, '7');
  const std::string message = error_of([&] { parse_map_text("1 a 1x" + huge + "\n", "map.txt"); });
  EXPECT_LT(message.size(), 200u) << message.substr(0, 300);
  // The first 40 characters of the token, then its length.
  EXPECT_NE(message.find("position '1x" + std::string(38, '7') + "...' (1000002 characters) is not a number"),
            std::string::npos)
      << message;
}

}  // namespace

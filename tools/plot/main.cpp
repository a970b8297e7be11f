// bravik_plot: draws the LOD score of each analysed marker as an SVG picture.
#include <fstream>
#include <iostream>

#include "pedfile/command_line.hpp"
#include "pedfile/input_error.hpp"
#include "results/text_file.hpp"
#include "textio/file_identity.hpp"
#include "textio/message_text.hpp"
#include "tools/plot/lod_plot.hpp"

namespace {

using namespace bravik::results;
using namespace bravik::tools;

// The picture goes to a new .svg name, never over one of the inputs (a
// forgotten output name would otherwise take the map file's place).
void check_output_name(const std::string& output, const std::vector<std::string>& inputs) {
  if (!output.ends_with(".svg"))
    throw InputError("the output name " + textio::quoted(output) + " does not end in .svg (the picture is SVG)");
  for (const std::string& input : inputs) {
    if (textio::same_file(output, input))
      throw InputError("the output " + textio::quoted(output) + " is the input " + textio::quoted(input) +
                       "; name a new .svg file");
  }
}

int plot(const std::vector<std::string>& args) {
  std::string title;
  CommandLine cl("bravik_plot", "[options] LOD_FILE [MAP_FILE] OUTPUT.svg",
                 "Plots the LOD score of every marker of a LOD result file, with lines at LOD 3 and -2.\n"
                 "A map file (an optional header line, then one line a marker: number, name, optional\n"
                 "position in cM) adds the names, and, when it gives every plotted marker a position,\n"
                 "puts the positions on the x axis.");
  cl.option("--title", "TEXT", "title above the plot (default: LOD score by marker, and the file name)",
            [&title](std::string_view v) { title = v; });
  const std::vector<std::string> paths = cl.parse(args);
  if (cl.help_requested()) {
    std::cout << cl.usage();
    return 0;
  }
  if (paths.size() != 2 && paths.size() != 3) throw InputError("expected LOD_FILE [MAP_FILE] OUTPUT.svg\n" + cl.usage());
  const std::vector<LodPoint> points = parse_lod_text(read_text_file(paths[0], "LOD file"), paths[0]);
  const MarkerMap map = paths.size() == 3 ? parse_map_text(read_text_file(paths[1], "map file"), paths[1]) : MarkerMap{};
  if (title.empty()) title = "LOD score by marker: " + paths[0];
  const std::string& output = paths.back();
  check_output_name(output, {paths.begin(), paths.end() - 1});
  std::ofstream out(output, std::ios::binary | std::ios::trunc);
  if (!out) throw InputError(output + ": cannot write the file");
  out << render_lod_svg(points, map, title);
  out.close();
  if (!out) throw InputError(output + ": writing failed");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return run_tool("bravik_plot", [&] { return plot(args); });
}

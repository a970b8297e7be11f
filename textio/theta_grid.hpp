#pragma once
// The grid of recombination fractions of the LOD over theta, as the command
// lines of the maximizing program and of the scan give it (header only: the
// scan's libraries use textio's headers alone).
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace textio {

// The grid a scan uses when none is given.
inline constexpr std::string_view default_theta_grid = "0,0.01,0.05,0.1,0.2,0.3,0.4";

// "0,0.01,0.05" (or "none", an empty grid): thetas in [0, 0.5), sorted and
// without repeats. Throws std::invalid_argument naming the bad entry.
inline std::vector<double> parse_theta_grid(std::string_view text) {
  std::vector<double> grid;
  if (text == "none") return grid;
  std::size_t begin = 0;
  while (begin <= text.size()) {
    const std::size_t comma = std::min(text.find(',', begin), text.size());
    const std::string entry(text.substr(begin, comma - begin));
    char* end = nullptr;
    errno = 0;
    const double theta = entry.empty() ? std::nan("") : std::strtod(entry.c_str(), &end);
    if (entry.empty() || end != entry.c_str() + entry.size() || errno != 0 || !(theta >= 0.0 && theta < 0.5)) {
      throw std::invalid_argument("theta grid entry '" + entry + "' is not a number in [0, 0.5)");
    }
    grid.push_back(theta);
    begin = comma + 1;
  }
  std::sort(grid.begin(), grid.end());
  grid.erase(std::unique(grid.begin(), grid.end()), grid.end());
  return grid;
}

}  // namespace textio

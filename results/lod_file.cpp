#include "results/lod_file.hpp"

#include <cctype>
#include <charconv>
#include <cmath>
#include <sstream>
#include <utility>

#include "pedfile/input_error.hpp"
#include "textio/message_text.hpp"

namespace bravik::results {
namespace {

using tools::Diagnostics;

// A file of the wrong kind fails on every line: show a few errors and a count.
constexpr std::size_t errors_shown = 5;

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

}  // namespace bravik::results

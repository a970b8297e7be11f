#include "run/trait_maxima.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "textio/run_end.hpp"

namespace bravik {
namespace {

constexpr int parameters = 7;

[[noreturn]] void fail_at(const std::string& path, long line, const std::string& what) {
  textio::fail(path + ":" + std::to_string(line) + ": " + what + "\n", textio::exit_input_error);
}

double parse_value(const std::string& word, const std::string& path, long line) {
  double value = 0.0;
  const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), value);
  if (ec != std::errc() || end != word.data() + word.size() || !std::isfinite(value))
    fail_at(path, line, "'" + word + "' is not a finite number");
  return value;
}

}  // namespace

std::string trait_maxima_text(const TraitMaxima& maxima) {
  std::string text;
  char number[32];
  for (const std::vector<double>& par : maxima) {
    for (int i = 1; i <= parameters; ++i) {
      std::snprintf(number, sizeof number, "%.17g", par[static_cast<std::size_t>(i)]);
      text += (i > 1 ? " " : "") + std::string(number);
    }
    text += '\n';
  }
  return text;
}

TraitMaxima read_trait_maxima(const std::string& path) {
  std::ifstream in(path);
  if (!in) textio::fail(path + ": cannot read the trait part's maxima\n", textio::exit_input_error);
  TraitMaxima maxima;
  std::string line;
  for (long number = 1; std::getline(in, line); ++number) {
    std::istringstream words(line);
    std::vector<double> par{0.0};
    for (std::string word; words >> word;) par.push_back(parse_value(word, path, number));
    if (par.size() != parameters + 1)
      fail_at(path, number, "expected " + std::to_string(parameters) + " parameters, read " + std::to_string(par.size() - 1));
    maxima.push_back(std::move(par));
  }
  if (maxima.empty()) textio::fail(path + ": holds no maximum\n", textio::exit_input_error);
  return maxima;
}

void write_trait_maxima(const std::string& path, const TraitMaxima& maxima) {
  std::ofstream out(path, std::ios::trunc);
  out << trait_maxima_text(maxima);
  out.close();
  if (!out) textio::fail(path + ": cannot write the trait part's maxima\n", textio::exit_input_error);
}

}  // namespace bravik

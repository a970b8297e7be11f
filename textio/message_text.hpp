#pragma once
// Pieces of messages: how a number and an offending token are shown.
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

namespace textio {

// A real with up to `digits` significant digits.
inline std::string number_text(double value, int digits = 10) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.*g", digits, value);
  return buffer;
}

// A field of a result table: the number, or NA when it is not finite.
inline std::string table_number(double value, int digits) {
  return std::isfinite(value) ? number_text(value, digits) : "NA";
}

// Error texts quote a token cut to a short prefix, so that a huge token cannot
// flood the console: 'token', or 'its first 40 characters...' (N characters).
inline constexpr std::size_t quoted_prefix_length = 40;

inline std::string quoted(std::string_view token) {
  std::string text(1, '\'');
  text.append(token.substr(0, quoted_prefix_length));
  if (token.size() <= quoted_prefix_length) return text.append(1, '\'');
  return text.append("...' (").append(std::to_string(token.size())).append(" characters)");
}

// An id shown as it is when short, quoted and cut like any token otherwise.
inline std::string short_text(std::string_view token) {
  return token.size() <= quoted_prefix_length ? std::string(token) : quoted(token);
}

}  // namespace textio

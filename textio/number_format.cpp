#include "textio/number_format.hpp"

#include <charconv>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string_view>

namespace textio {
namespace {

// Decimal digits of a double with `digits` significant digits, correctly
// rounded (ties to even), and the exponent of its first digit:
// |value| ~= d.ddd * 10^exponent.
struct Decimal {
  std::string digits;
  int exponent = 0;
};

Decimal decimal_digits(double magnitude, int digits) {
  // d.ddd...e-324: the digits, the point, and at most six more characters
  std::string buffer(static_cast<std::size_t>(digits) + 8, '\0');
  const auto end = std::to_chars(buffer.data(), buffer.data() + buffer.size(), magnitude,
                                 std::chars_format::scientific, digits - 1)
                       .ptr;
  const std::string_view text(buffer.data(), static_cast<std::size_t>(end - buffer.data()));
  const std::size_t e = text.find('e');
  Decimal result;
  result.digits.reserve(digits);
  for (char c : text.substr(0, e)) {
    if (c != '.') result.digits += c;
  }
  std::from_chars(text.data() + e + (text[e + 1] == '+' ? 2 : 1), text.data() + text.size(),
                  result.exponent);
  return result;
}

std::string right_justified(std::string_view text, int w) {
  std::string field(static_cast<std::size_t>(w) - text.size(), ' ');
  field += text;
  return field;
}

std::string asterisks(int w) { return std::string(static_cast<std::size_t>(std::max(w, 0)), '*'); }

// NaN and infinities in a w-column field: the full word when it fits, its
// three-letter short form when only that fits, asterisks otherwise.
std::string non_finite_field(double value, int w) {
  const bool negative = value < 0;
  std::string_view word = std::isnan(value) ? "NaN" : negative ? "-Infinity" : "Infinity";
  if (std::isinf(value) && static_cast<int>(word.size()) > w) word = negative ? "-Inf" : "Inf";
  if (static_cast<int>(word.size()) > w) return asterisks(w);
  return right_justified(word, w);
}

// Exponent of an E field: "E+03", or without the letter when three digits
// are needed ("-119").
std::string e_exponent(int exponent) {
  const int magnitude = std::abs(exponent);
  std::string text;
  if (magnitude < 100) text += 'E';
  text += exponent < 0 ? '-' : '+';
  if (magnitude < 10) text += '0';
  text += std::to_string(magnitude);
  return text;
}

// A free-format exponent: letter E, sign, at least two digits.
std::string list_exponent(int exponent) {
  std::string text = exponent < 0 ? "E-" : "E+";
  if (std::abs(exponent) < 10) text += '0';
  text += std::to_string(std::abs(exponent));
  return text;
}

std::string without_trailing_zeros(std::string_view digits) {
  const std::size_t last = digits.find_last_not_of('0');
  return std::string(digits.substr(0, last == std::string_view::npos ? 0 : last + 1));
}

constexpr int list_real_digits = 9;
constexpr int list_fixed_min_exponent = -4;
constexpr int list_fixed_max_exponent = 8;

}  // namespace

std::string format_i(std::int32_t value, int w) {
  const std::string text = std::to_string(value);
  if (static_cast<int>(text.size()) > w) return asterisks(w);
  return right_justified(text, w);
}

std::string format_e(double value, int w, int d) {
  if (!std::isfinite(value)) return non_finite_field(value, w);
  const bool negative = value < 0;  // false for a negative zero
  const int room = w - d - 5 - (negative ? 1 : 0);
  if (room < 0 || d < 1) return asterisks(w);

  Decimal decimal;
  if (value == 0) {
    decimal.digits.assign(static_cast<std::size_t>(d), '0');
    decimal.exponent = -1;  // written as E+00
  } else {
    decimal = decimal_digits(std::fabs(value), d);
  }
  std::string field(static_cast<std::size_t>(room > 0 ? room - 1 : 0), ' ');
  if (negative) field += '-';
  if (room > 0) field += '0';
  field += '.';
  field += decimal.digits;
  field += e_exponent(decimal.exponent + 1);
  return field;
}

std::string format_list_real(double value) {
  std::string text = value < 0 ? " -" : "  ";
  if (!std::isfinite(value)) return text + (std::isnan(value) ? "NaN" : "Infinity");
  if (value == 0) return text + "0.";

  const Decimal decimal = decimal_digits(std::fabs(value), list_real_digits);
  const std::string_view digits = decimal.digits;
  const int x = decimal.exponent;
  if (x < list_fixed_min_exponent || x > list_fixed_max_exponent) {
    text += digits[0];
    text += '.';
    text += without_trailing_zeros(digits.substr(1));
    text += list_exponent(x);
  } else if (x >= 0) {
    text += digits.substr(0, static_cast<std::size_t>(x) + 1);
    text += '.';
    text += without_trailing_zeros(digits.substr(static_cast<std::size_t>(x) + 1));
  } else {
    text += "0.";
    text.append(static_cast<std::size_t>(-x - 1), '0');
    text += without_trailing_zeros(digits);
  }
  return text;
}

std::string format_list_int(std::int32_t value) { return ' ' + std::to_string(value); }

}  // namespace textio

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "textio/number_format.hpp"

using textio::format_e;
using textio::format_i;
using textio::format_list_int;
using textio::format_list_real;

namespace {

// Exact decimal expansion of a finite positive double, computed with a
// big integer held in base-1e9 limbs: value = 0.digits * 10^exponent.
struct ExactDecimal {
  std::string digits;
  int exponent;
};

class BigDecimal {
 public:
  explicit BigDecimal(std::uint64_t value) {
    do {
      limbs_.push_back(static_cast<std::uint32_t>(value % base));
      value /= base;
    } while (value != 0);
  }
  void multiply(std::uint32_t factor) {
    std::uint64_t carry = 0;
    for (auto& limb : limbs_) {
      const std::uint64_t product = std::uint64_t{limb} * factor + carry;
      limb = static_cast<std::uint32_t>(product % base);
      carry = product / base;
    }
    while (carry != 0) {
      limbs_.push_back(static_cast<std::uint32_t>(carry % base));
      carry /= base;
    }
  }
  void multiply_power(std::uint32_t factor, std::uint32_t chunk, int chunk_power, int power) {
    for (; power >= chunk_power; power -= chunk_power) multiply(chunk);
    for (; power > 0; --power) multiply(factor);
  }
  std::string text() const {
    std::string out = std::to_string(limbs_.back());
    for (std::size_t i = limbs_.size() - 1; i-- > 0;) {
      const std::string part = std::to_string(limbs_[i]);
      out += std::string(9 - part.size(), '0') + part;
    }
    return out;
  }

 private:
  static constexpr std::uint64_t base = 1'000'000'000;
  std::vector<std::uint32_t> limbs_;
};

ExactDecimal exact_decimal(double value) {
  const auto bits = std::bit_cast<std::uint64_t>(value);
  const int biased = static_cast<int>((bits >> 52) & 0x7ff);
  std::uint64_t mantissa = bits & ((std::uint64_t{1} << 52) - 1);
  int power_of_two = -1074;
  if (biased != 0) {
    mantissa |= std::uint64_t{1} << 52;
    power_of_two = biased - 1075;
  }
  BigDecimal number(mantissa);
  int point_shift = 0;  // value = number / 10^point_shift
  if (power_of_two >= 0) {
    number.multiply_power(2, 1u << 29, 29, power_of_two);
  } else {
    number.multiply_power(5, 1'220'703'125u, 13, -power_of_two);  // 5^13
    point_shift = -power_of_two;
  }
  const std::string digits = number.text();
  return {digits, static_cast<int>(digits.size()) - point_shift};
}

// The first d significant digits, rounded to nearest with ties to even.
ExactDecimal rounded(ExactDecimal exact, int d) {
  std::string kept = exact.digits.substr(0, d);
  kept.resize(d, '0');
  const std::string rest = exact.digits.size() > static_cast<std::size_t>(d) ? exact.digits.substr(d) : "";
  bool up = false;
  if (!rest.empty() && rest[0] > '5') up = true;
  if (!rest.empty() && rest[0] == '5') {
    const bool beyond_half = rest.find_first_not_of('0', 1) != std::string::npos;
    up = beyond_half || (kept.back() - '0') % 2 == 1;
  }
  if (up) {
    int i = d - 1;
    while (i >= 0 && kept[i] == '9') kept[i--] = '0';
    if (i >= 0) {
      ++kept[i];
    } else {
      kept[0] = '1';  // 99..9 became 00..0
      ++exact.exponent;
    }
  }
  return {kept, exact.exponent};
}

// Reads back an E field: digits after the point and the exponent, either
// "E+03" or the three-digit form "-119".
ExactDecimal parse_e_field(const std::string& field, bool& negative) {
  const std::size_t point = field.find('.');
  const std::size_t exponent_at = field.size() - 4;
  negative = field.find('-') < point;
  const std::string exponent = field.substr(exponent_at);
  const int sign = exponent[exponent[0] == 'E' ? 1 : 0] == '-' ? -1 : 1;
  const int magnitude = std::stoi(exponent.substr(exponent[0] == 'E' ? 2 : 1));
  return {field.substr(point + 1, exponent_at - point - 1), sign * magnitude};
}

void expect_correct_e(double value, int w, int d) {
  SCOPED_TRACE(testing::Message() << std::hexfloat << value << " E" << w << "." << d);
  const std::string field = format_e(value, w, d);
  ASSERT_EQ(field.size(), static_cast<std::size_t>(w));
  bool negative = false;
  const ExactDecimal shown = parse_e_field(field, negative);
  const ExactDecimal expected = rounded(exact_decimal(std::fabs(value)), d);
  EXPECT_EQ(negative, value < 0);
  EXPECT_EQ(shown.digits, expected.digits);
  EXPECT_EQ(shown.exponent, expected.exponent);
}

}  // namespace

TEST(EFormat, ExamplesOfTheWidthsInUse) {
  EXPECT_EQ(format_e(123.456, 15, 8), " 0.12345600E+03");
  EXPECT_EQ(format_e(-123.456, 15, 8), "-0.12345600E+03");
  EXPECT_EQ(format_e(0.0, 15, 8), " 0.00000000E+00");
  EXPECT_EQ(format_e(-2345.678, 20, 8), "     -0.23456780E+04");
  EXPECT_EQ(format_e(0.5, 11, 4), " 0.5000E+00");
  EXPECT_EQ(format_e(0.123456789, 13, 6), " 0.123457E+00");
  EXPECT_EQ(format_e(1.0, 14, 6), "  0.100000E+01");
  EXPECT_EQ(format_e(-1234.5, 15, 8), "-0.12345000E+04");
}

TEST(EFormat, NegativeZeroIsWrittenAsZero) {
  EXPECT_EQ(format_e(-0.0, 15, 8), " 0.00000000E+00");
  EXPECT_EQ(format_e(-0.0, 11, 4), " 0.0000E+00");
}

TEST(EFormat, ThreeDigitExponentsDropTheLetter) {
  EXPECT_EQ(format_e(1e-120, 15, 8), " 0.10000000-119");
  EXPECT_EQ(format_e(1e98, 15, 8), " 0.10000000E+99");
  EXPECT_EQ(format_e(1e99, 15, 8), " 0.10000000+100");
  EXPECT_EQ(format_e(1e-99, 15, 8), " 0.10000000E-98");
  EXPECT_EQ(format_e(1e-100, 15, 8), " 0.10000000E-99");
  EXPECT_EQ(format_e(1.5e-101, 15, 8), " 0.15000000-100");
  EXPECT_EQ(format_e(-1.7976931348623157e308, 15, 8), "-0.17976931+309");
  EXPECT_EQ(format_e(5e-324, 15, 8), " 0.49406565-323");
}

TEST(EFormat, RoundingCarriesIntoTheExponent) {
  EXPECT_EQ(format_e(9.9999, 11, 2), "   0.10E+02");
  EXPECT_EQ(format_e(9.9999e98, 12, 3), "   0.100+100");
  EXPECT_EQ(format_e(-0.99999999999, 15, 8), "-0.10000000E+01");
}

TEST(EFormat, ExactDecimalTiesRoundToEven) {
  EXPECT_EQ(format_e(0.125, 12, 2), "    0.12E+00");
  EXPECT_EQ(format_e(0.375, 12, 2), "    0.38E+00");
  EXPECT_EQ(format_e(2.5, 8, 1), " 0.2E+01");
  EXPECT_EQ(format_e(3.5, 8, 1), " 0.4E+01");
  // 0.15 is not a tie: its double lies below 0.15
  EXPECT_EQ(format_e(0.15, 8, 1), " 0.1E+00");
}

TEST(EFormat, RoomBeforeThePointDecidesLeadingZeroAndAsterisks) {
  EXPECT_EQ(format_e(1.0, 14, 8), "0.10000000E+01");   // r = 1
  EXPECT_EQ(format_e(1.0, 13, 8), ".10000000E+01");    // r = 0
  EXPECT_EQ(format_e(-1.0, 14, 8), "-.10000000E+01");  // r = 0 with sign
  EXPECT_EQ(format_e(-1.0, 13, 8), "*************");
  EXPECT_EQ(format_e(1.0, 12, 8), "************");
  EXPECT_EQ(format_e(1e-200, 13, 8), ".10000000-199");
}

TEST(EFormat, NonFiniteValuesAreNamedAndCutToFit) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(format_e(nan, 15, 8), "            NaN");
  EXPECT_EQ(format_e(inf, 15, 8), "       Infinity");
  EXPECT_EQ(format_e(-inf, 15, 8), "      -Infinity");
  EXPECT_EQ(format_e(-inf, 8, 1), "    -Inf");
  EXPECT_EQ(format_e(inf, 7, 1), "    Inf");
  EXPECT_EQ(format_e(inf, 3, 1), "Inf");
  EXPECT_EQ(format_e(-inf, 3, 1), "***");
  EXPECT_EQ(format_e(nan, 2, 1), "**");
}

TEST(EFormat, MatchesExactDecimalExpansionForRandomBitPatterns) {
  std::mt19937_64 random(20240611);
  const int widths[][2] = {{11, 4}, {13, 6}, {14, 7}, {15, 8}, {20, 8}, {25, 17}, {30, 20}, {8, 1}};
  for (int i = 0; i < 4000; ++i) {
    const double value = std::bit_cast<double>(random());
    if (!std::isfinite(value)) continue;
    const auto& wd = widths[i % std::size(widths)];
    expect_correct_e(value, wd[0], wd[1]);
  }
}

TEST(EFormat, MatchesExactDecimalExpansionForSubnormals) {
  std::mt19937_64 random(7);
  for (int i = 0; i < 500; ++i) {
    const int bits = 1 + static_cast<int>(random() % 52);  // subnormals of every size
    const std::uint64_t mantissa = (random() & ((std::uint64_t{1} << bits) - 1)) | 1;
    const double value = std::bit_cast<double>(mantissa | (i % 2 == 0 ? 0 : std::uint64_t{1} << 63));
    const int d = 1 + i % 17;
    expect_correct_e(value, d + 7 + i % 5, d);
  }
  expect_correct_e(std::numeric_limits<double>::denorm_min(), 15, 8);
  expect_correct_e(std::numeric_limits<double>::min(), 15, 8);
  expect_correct_e(std::nextafter(std::numeric_limits<double>::min(), 0.0), 30, 20);
}

TEST(EFormat, MatchesExactDecimalExpansionOnDecimalTies) {
  // Short binary fractions n / 2^k have short exact decimal expansions, so
  // many of them sit exactly halfway at some digit count.
  std::mt19937_64 random(99);
  for (int i = 0; i < 2000; ++i) {
    const double value = std::ldexp(static_cast<double>(random() % 100000), -static_cast<int>(random() % 12));
    if (value == 0) continue;
    for (int d = 1; d <= 6; ++d) expect_correct_e(value, d + 8, d);
  }
}

TEST(IFormat, RightJustifiedWithSignOrAsterisks) {
  EXPECT_EQ(format_i(12345, 4), "****");
  EXPECT_EQ(format_i(-5, 2), "-5");
  EXPECT_EQ(format_i(-5, 1), "*");
  EXPECT_EQ(format_i(7, 3), "  7");
  EXPECT_EQ(format_i(0, 2), " 0");
  EXPECT_EQ(format_i(std::numeric_limits<std::int32_t>::min(), 11), "-2147483648");
  EXPECT_EQ(format_i(std::numeric_limits<std::int32_t>::min(), 10), "**********");
}

TEST(ListReal, NineSignificantDigitsInPlainOrExponentForm) {
  EXPECT_EQ(format_list_real(5.0), "  5.");
  EXPECT_EQ(format_list_real(1e20), "  1.E+20");
  EXPECT_EQ(format_list_real(0.0), "  0.");
  EXPECT_EQ(format_list_real(-0.0), "  0.");
  EXPECT_EQ(format_list_real(-0.5), " -0.5");
  EXPECT_EQ(format_list_real(1.0 / 3.0), "  0.333333333");
  EXPECT_EQ(format_list_real(2.0 / 3.0), "  0.666666667");
  EXPECT_EQ(format_list_real(-1234.5), " -1234.5");
  EXPECT_EQ(format_list_real(123456789.0), "  123456789.");
  EXPECT_EQ(format_list_real(1e100), "  1.E+100");
  EXPECT_EQ(format_list_real(-2.5e-300), " -2.5E-300");
}

TEST(ListReal, FormChangesAtTheDecimalExponentsMinusFourAndNine) {
  EXPECT_EQ(format_list_real(1e-4), "  0.0001");
  EXPECT_EQ(format_list_real(1.23456789e-4), "  0.000123456789");
  EXPECT_EQ(format_list_real(9.99999999e-5), "  9.99999999E-05");
  EXPECT_EQ(format_list_real(999999999.0), "  999999999.");
  EXPECT_EQ(format_list_real(1e9), "  1.E+09");
  // rounding to nine digits decides the form
  EXPECT_EQ(format_list_real(999999999.6), "  1.E+09");
  EXPECT_EQ(format_list_real(9.999999999e-5), "  0.0001");
}

TEST(ListInt, BlankThenDigits) {
  EXPECT_EQ(format_list_int(57), " 57");
  EXPECT_EQ(format_list_int(-3), " -3");
  EXPECT_EQ(format_list_int(0), " 0");
}

#pragma once
// Number rendering shared by the layout and free-format writers.
#include <cstdint>
#include <string>

namespace textio {

// Iw: right-justified in w columns, or w asterisks when it does not fit.
std::string format_i(std::int32_t value, int w);
// Ew.d: correctly rounded (ties to even on exact decimal ties), see layout.hpp.
// NaN and infinities are written right-justified as "NaN", "Infinity" or
// "-Infinity", cut to "Inf" / "-Inf" when the field is narrower than the word.
std::string format_e(double value, int w, int d);
// A free-format real: blank, sign or blank, 9 significant digits, general form.
std::string format_list_real(double value);
// A free-format integer: blank, then the digits.
std::string format_list_int(std::int32_t value);

}  // namespace textio

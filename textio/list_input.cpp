#include "textio/list_input.hpp"

#include <charconv>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "textio/message_text.hpp"

namespace textio {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool ends_value(char c) { return is_blank(c) || c == ',' || c == '/'; }
bool is_quote(char c) { return c == '\'' || c == '"'; }

// Optional sign and decimal digits that fit 32 bits.
std::optional<std::int32_t> integer_value(std::string_view text) {
  std::size_t i = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) ++i;
  if (i == text.size()) return std::nullopt;
  const std::int64_t limit = negative ? std::int64_t{1} << 31 : (std::int64_t{1} << 31) - 1;
  std::int64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    if (!is_digit(text[i])) return std::nullopt;
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > limit) return std::nullopt;
  }
  return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

std::size_t digits_from(std::string_view text, std::size_t i) {
  while (i < text.size() && is_digit(text[i])) ++i;
  return i;
}

// Optional sign, digits with an optional point (at least one digit), and an
// optional exponent of E, e, D or d, an optional sign and digits.
bool is_real_text(std::string_view text) {
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  const std::size_t integer_end = digits_from(text, i);
  std::size_t mantissa_digits = integer_end - i;
  i = integer_end;
  if (i < text.size() && text[i] == '.') {
    const std::size_t fraction_end = digits_from(text, i + 1);
    mantissa_digits += fraction_end - i - 1;
    i = fraction_end;
  }
  if (mantissa_digits == 0) return false;
  if (i == text.size()) return true;
  if (std::string_view("EeDd").find(text[i]) == std::string_view::npos) return false;
  ++i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  const std::size_t exponent_end = digits_from(text, i);
  return exponent_end > i && exponent_end == text.size();
}

// Converts text accepted by is_real_text, correctly rounded; values beyond the
// range of a double become infinities or zeros.
double real_value(std::string_view text, std::string& buffer) {
  buffer.clear();
  for (char c : text) {
    if (c == 'D' || c == 'd') c = 'e';
    if (c != '+' || !buffer.empty()) buffer += c;
  }
  double value = 0;
  const auto result = std::from_chars(buffer.data(), buffer.data() + buffer.size(), value);
  if (result.ec == std::errc::result_out_of_range) value = std::strtod(buffer.c_str(), nullptr);
  return value;
}

}  // namespace

// The state of one read: the line being scanned, and what remains of a
// repeated value or of a read ended by a slash.
struct ListInput::Scanner {
  enum class Kind { value, null, end_of_file };
  struct Value {
    Kind kind;
    std::string_view text;
    bool quoted;
  };

  Channels& channels;
  int unit;
  EndOfFile on_end;
  std::string line;
  std::size_t pos = 0;
  bool at_end = false;       // the end of the file was met
  bool slashed = false;      // a slash ended the read
  bool after_value = false;  // the separator after the last value is not consumed yet
  int repeats_left = 0;      // further copies of the last r*v or r*
  Value repeated{Kind::null, {}, false};
  std::string repeated_text;  // the v of r*v, kept while its copies last
  std::string quoted_text;    // a quoted string without its quotes
  std::string number_buffer;

  Scanner(Channels& channels_, int unit_, EndOfFile on_end_)
      : channels(channels_), unit(unit_), on_end(on_end_) {
    if (unit < 0 || unit > max_unit) abnormal_end(channels, unit, "list in", "illegal unit number", true);
    if (!load_line()) at_end = true;
  }

  bool load_line() {
    pos = 0;
    if (channels.next_line(unit, line)) return true;
    line.clear();
    if (on_end == EndOfFile::fail) {
      abnormal_end(channels, unit, "list in", "end of file", true,
                   "at the end of " + source() + " after line " +
                       std::to_string(channels.line_number(unit)));
    }
    return false;
  }

  std::string source() const {
    const std::string name = channels.name(unit);
    return name.empty() ? "the console" : name;
  }

  // Moves to the first character of the next value, over blanks, line ends
  // and the comma that ends the previous value; false at the end of the file.
  bool skip_to_value() {
    for (;;) {
      while (pos < line.size() && is_blank(line[pos])) ++pos;
      if (pos == line.size()) {
        if (!load_line()) return false;
      } else if (after_value && line[pos] == ',') {
        ++pos;
        after_value = false;
      } else {
        return true;
      }
    }
  }

  Value next() {
    if (at_end) return {Kind::end_of_file, {}, false};
    if (slashed) return {Kind::null, {}, false};
    if (repeats_left > 0) {
      --repeats_left;
      return repeated;
    }
    if (!skip_to_value()) {
      at_end = true;
      return {Kind::end_of_file, {}, false};
    }
    switch (line[pos]) {
      case '/':
        slashed = true;
        return {Kind::null, {}, false};
      case ',':
        ++pos;
        after_value = false;
        return {Kind::null, {}, false};
      default:
        after_value = true;
        return value_with_repeat();
    }
  }

  // A value, or r*v, or r* (r null values).
  Value value_with_repeat() {
    const int count = repeat_count();
    if (count == 0) return token();
    const bool null = pos == line.size() || ends_value(line[pos]);
    Value value = null ? Value{Kind::null, {}, false} : token();
    if (count > 1 && value.kind == Kind::value) {
      repeated_text.assign(value.text);
      value.text = repeated_text;
    }
    repeats_left = count - 1;
    repeated = value;
    return value;
  }

  // The r of an r* in front of the value (consumed), or 0 when there is none.
  int repeat_count() {
    std::size_t i = pos;
    if (line[i] == '+' || line[i] == '-') ++i;
    const std::size_t digits_end = digits_from(line, i);
    if (digits_end == i || digits_end == line.size() || line[digits_end] != '*') return 0;
    const std::string_view text(line.data() + pos, digits_end - pos);
    const auto count = integer_value(text);
    if (i != pos || !count || *count <= 0) fail("lread", "bad repetition count", text);
    pos = digits_end + 1;
    return *count;
  }

  Value token() {
    if (is_quote(line[pos])) return quoted();
    const std::size_t start = pos;
    while (pos < line.size() && !ends_value(line[pos])) ++pos;
    return {Kind::value, std::string_view(line).substr(start, pos - start), false};
  }

  // A string between quotes, a doubled quote standing for one; an unclosed
  // string ends with its line.
  Value quoted() {
    const char quote = line[pos++];
    quoted_text.clear();
    while (pos < line.size()) {
      const char c = line[pos++];
      if (c == quote) {
        if (pos == line.size() || line[pos] != quote) break;
        ++pos;
      }
      quoted_text += c;
    }
    return {Kind::value, quoted_text, true};
  }

  [[noreturn]] void fail(std::string_view operation, std::string_view error,
                         std::string_view text) const {
    abnormal_end(channels, unit, operation, error, true,
                 "at line " + std::to_string(channels.line_number(unit)) + " of " + source() +
                     ": " + textio::quoted(text));
  }
};

ListInput::ListInput(Channels& channels, int unit, EndOfFile on_end)
    : scanner_(new Scanner(channels, unit, on_end)) {}

ListInput::~ListInput() { delete scanner_; }

bool ListInput::get(std::int32_t& item) {
  const Scanner::Value value = scanner_->next();
  if (value.kind != Scanner::Kind::value) return value.kind != Scanner::Kind::end_of_file;
  const auto number = value.quoted ? std::nullopt : integer_value(value.text);
  if (!number) scanner_->fail("lread", "invalid integer", value.text);
  item = *number;
  return true;
}

bool ListInput::get(double& item) {
  const Scanner::Value value = scanner_->next();
  if (value.kind != Scanner::Kind::value) return value.kind != Scanner::Kind::end_of_file;
  if (value.quoted || !is_real_text(value.text)) scanner_->fail("lread", "invalid number", value.text);
  item = real_value(value.text, scanner_->number_buffer);
  return true;
}

bool ListInput::get(std::string& item, std::size_t length) {
  const Scanner::Value value = scanner_->next();
  if (value.kind != Scanner::Kind::value) return value.kind != Scanner::Kind::end_of_file;
  item.assign(value.text.substr(0, length));
  item.resize(length, ' ');
  return true;
}

}  // namespace textio

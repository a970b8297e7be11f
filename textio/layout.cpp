#include "textio/layout.hpp"

#include <stdexcept>
#include <vector>

#include "textio/number_format.hpp"

namespace textio {
namespace {

// One edit descriptor of a layout; a group holds the descriptors between its
// parentheses.
struct Descriptor {
  enum class Kind { literal, skip, newline, integer, real, group };
  Kind kind;
  int repeat = 1;
  int width = 0;   // Iw, Ew.d; the n of nX
  int digits = 0;  // the d of Ew.d
  std::string text;
  std::vector<Descriptor> group;
};

// Turns layout text such as "(I3,' initial LH=',E15.8)" into descriptors. A
// malformed layout is a fault of the calling code, reported by an exception.
class LayoutParser {
 public:
  explicit LayoutParser(std::string_view layout) : text_(layout) {}

  std::vector<Descriptor> parse() {
    skip_blanks();
    expect('(');
    std::vector<Descriptor> list = parse_list();
    skip_blanks();
    if (pos_ != text_.size()) fault("text after the closing parenthesis");
    return list;
  }

 private:
  std::vector<Descriptor> parse_list() {
    std::vector<Descriptor> list;
    for (;;) {
      skip_blanks();
      while (peek() == ',') {
        ++pos_;
        skip_blanks();
      }
      if (peek() == ')') {
        ++pos_;
        return list;
      }
      list.push_back(parse_descriptor());
    }
  }

  Descriptor parse_descriptor() {
    const bool counted = is_digit(peek());
    const int count = counted ? number() : 1;
    const char c = upper(take());
    switch (c) {
      case '\'':
      case '"':
        return {Descriptor::Kind::literal, 1, 0, 0, quoted(c), {}};
      case 'X':
        return {Descriptor::Kind::skip, 1, count, 0, {}, {}};
      case '/':
        return {Descriptor::Kind::newline, count, 0, 0, {}, {}};
      case 'I':
        return {Descriptor::Kind::integer, count, number(), 0, {}, {}};
      case 'E': {
        const int width = number();
        expect('.');
        return {Descriptor::Kind::real, count, width, number(), {}, {}};
      }
      case '(':
        return {Descriptor::Kind::group, count, 0, 0, {}, parse_list()};
      default:
        fault("unknown edit descriptor");
    }
  }

  std::string quoted(char quote) {
    std::string text;
    for (;;) {
      const char c = take();
      if (c == quote) {
        if (peek() != quote) return text;
        ++pos_;
      }
      text += c;
    }
  }

  int number() {
    if (!is_digit(peek())) fault("number expected");
    int value = 0;
    while (is_digit(peek())) value = value * 10 + (take() - '0');
    return value;
  }

  static bool is_digit(char c) { return c >= '0' && c <= '9'; }
  static char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
  char peek() const { return pos_ < text_.size() ? text_[pos_] : '\0'; }
  char take() {
    if (pos_ >= text_.size()) fault("unexpected end");
    return text_[pos_++];
  }
  void expect(char c) {
    if (take() != c) fault(std::string("'") + c + "' expected");
  }
  void skip_blanks() {
    while (peek() == ' ') ++pos_;
  }
  [[noreturn]] void fault(const std::string& what) const {
    throw std::invalid_argument("layout " + std::string(text_) + ": " + what + " at position " +
                                std::to_string(pos_ + 1));
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

// Renders items under parsed descriptors, line by line.
class LayoutWriter {
 public:
  explicit LayoutWriter(std::span<const OutItem> items) : items_(items) {}

  std::string render(const std::vector<Descriptor>& layout) {
    const std::size_t restart = reversion_point(layout);
    bool more = run(layout, 0);
    while (more && next_ < items_.size()) {
      const std::size_t before = next_;
      end_line();
      more = run(layout, restart);
      if (next_ == before) throw std::invalid_argument("layout without I or E descriptor");
    }
    end_line();
    return out_;
  }

 private:
  // Where the layout is taken up again when items remain at its end: its last
  // top-level group, or its start.
  static std::size_t reversion_point(const std::vector<Descriptor>& layout) {
    for (std::size_t i = layout.size(); i-- > 0;) {
      if (layout[i].kind == Descriptor::Kind::group) return i;
    }
    return 0;
  }

  // Follows the descriptors from `first`; false when the items ran out at an I
  // or E descriptor, which ends the write.
  bool run(const std::vector<Descriptor>& list, std::size_t first) {
    for (std::size_t i = first; i < list.size(); ++i) {
      if (!run_one(list[i])) return false;
    }
    return true;
  }

  bool run_one(const Descriptor& descriptor) {
    switch (descriptor.kind) {
      case Descriptor::Kind::literal:
        emit(descriptor.text);
        return true;
      case Descriptor::Kind::skip:
        pending_blanks_ += static_cast<std::size_t>(descriptor.width);
        return true;
      case Descriptor::Kind::newline:
        for (int r = 0; r < descriptor.repeat; ++r) end_line();
        return true;
      case Descriptor::Kind::group:
        for (int r = 0; r < descriptor.repeat; ++r) {
          if (!run(descriptor.group, 0)) return false;
        }
        return true;
      case Descriptor::Kind::integer:
      case Descriptor::Kind::real:
        for (int r = 0; r < descriptor.repeat; ++r) {
          if (next_ == items_.size()) return false;
          emit(field(descriptor, items_[next_++]));
        }
        return true;
    }
    return true;
  }

  static std::string field(const Descriptor& descriptor, const OutItem& item) {
    if (descriptor.kind == Descriptor::Kind::integer) {
      if (const auto* value = std::get_if<std::int32_t>(&item)) return format_i(*value, descriptor.width);
      throw std::invalid_argument("I descriptor needs an integer item");
    }
    if (const auto* value = std::get_if<double>(&item)) {
      return format_e(*value, descriptor.width, descriptor.digits);
    }
    throw std::invalid_argument("E descriptor needs a real item");
  }

  // Skipped columns become blanks only when something follows them.
  void emit(std::string_view text) {
    line_.append(pending_blanks_, ' ');
    pending_blanks_ = 0;
    line_ += text;
  }

  void end_line() {
    out_ += line_;
    out_ += '\n';
    line_.clear();
    pending_blanks_ = 0;
  }

  std::span<const OutItem> items_;
  std::size_t next_ = 0;
  std::string out_;
  std::string line_;
  std::size_t pending_blanks_ = 0;
};

constexpr int list_line_width = 80;

// One free-format item as written at a line start or within a line.
std::string list_item(const OutItem& item, bool line_start) {
  if (const auto* value = std::get_if<std::int32_t>(&item)) return format_list_int(*value);
  if (const auto* value = std::get_if<double>(&item)) return format_list_real(*value);
  const std::string_view text = std::get<std::string_view>(item);
  return line_start ? ' ' + std::string(text) : std::string(text);
}

// Hands the lines of a rendered write to the channel, one by one.
void put_lines(Channels& channels, int unit, std::string_view lines) {
  while (!lines.empty()) {
    const std::size_t end = lines.find('\n');
    channels.put(unit, lines.substr(0, end));
    channels.end_line(unit);
    lines.remove_prefix(end + 1);
  }
}

bool is_legal_unit(int unit) { return unit >= 0 && unit <= max_unit; }

}  // namespace

std::string format_layout(std::string_view layout, std::span<const OutItem> items) {
  return LayoutWriter(items).render(LayoutParser(layout).parse());
}

void write_layout(Channels& channels, int unit, std::string_view layout,
                  std::initializer_list<OutItem> items) {
  write_layout(channels, unit, layout, std::span<const OutItem>(items.begin(), items.size()));
}

void write_layout(Channels& channels, int unit, std::string_view layout,
                  std::span<const OutItem> items) {
  if (!is_legal_unit(unit)) {
    abnormal_end_layout(channels, unit, "layout out", "illegal unit number", layout);
  }
  put_lines(channels, unit, format_layout(layout, items));
}

std::string format_list(std::span<const OutItem> items) {
  std::string out;
  std::size_t column = 0;
  for (const OutItem& item : items) {
    std::string text = list_item(item, column == 0);
    if (column > 0 && column + text.size() >= list_line_width) {
      out += '\n';
      column = 0;
      text = list_item(item, true);
    }
    out += text;
    column += text.size();
  }
  out += '\n';
  return out;
}

void write_list(Channels& channels, int unit, std::initializer_list<OutItem> items) {
  if (!is_legal_unit(unit)) abnormal_end(channels, unit, "list out", "illegal unit number", false);
  put_lines(channels, unit, format_list(std::span<const OutItem>(items.begin(), items.size())));
}

}  // namespace textio

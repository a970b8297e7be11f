#include "textio/channels.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "textio/run_end.hpp"
#include "textio/status_line.hpp"

namespace textio {

// One numbered stream. The console channels wrap the standard streams; a file
// channel owns its stream.
struct Channel {
  std::string name;  // empty for the console
  std::FILE* file = nullptr;
  bool owned = false;    // a file channel, closed (and cut) by close
  bool writing = false;  // the last transfer was a write
  bool written = false;  // written since opened, so already cut at the first write
  int column = 0;
  long line = 0;
  char* read_buffer = nullptr;  // getline's buffer, kept across lines
  std::size_t read_capacity = 0;

  Channel(std::string name_, std::FILE* file_, bool owned_)
      : name(std::move(name_)), file(file_), owned(owned_) {}
  ~Channel() {
    std::free(read_buffer);
    if (owned) std::fclose(file);
  }
  Channel(const Channel&) = delete;
  Channel& operator=(const Channel&) = delete;
};

namespace {

bool is_legal_unit(int unit) { return unit >= 0 && unit <= max_unit; }

// A console channel on a terminal shares the screen with the status line.
bool is_terminal(const Channel& channel) { return !channel.owned && ::isatty(::fileno(channel.file)) == 1; }

std::string fort_name(int unit) { return "fort." + std::to_string(unit); }

std::string_view without_trailing_blanks(std::string_view name) {
  const std::size_t last = name.find_last_not_of(' ');
  return last == std::string_view::npos ? std::string_view() : name.substr(0, last + 1);
}

// Writes the diagnostic of an abnormal end on standard error and ends the run.
[[noreturn]] void end_abnormally(int unit, std::string_view name, std::string_view operation,
                                 std::string_view error, bool reading, std::string_view layout,
                                 std::string_view detail, std::string missing_input = {}) {
  std::string text;
  text.append(operation).append(": ").append(error).append("\n");
  text.append("apparent state: unit ").append(std::to_string(unit)).append(" ");
  text.append(name.empty() ? std::string("(unnamed)") : "named " + std::string(name)).append("\n");
  if (!layout.empty()) text.append("last format: ").append(layout).append("\n");
  text.append("lately ").append(reading ? "reading" : "writing");
  text.append(" sequential formatted external IO\n");
  if (!detail.empty()) text.append(detail).append("\n");
  console_write(stderr, text);
  throw RunEnd(exit_input_error, false, std::move(missing_input));
}

// Opens a file for a channel: an input file must exist; an output file is
// created when missing and is never cut here.
std::FILE* open_file(const std::string& name, Access access) {
  if (access == Access::read) return std::fopen(name.c_str(), "r");
  const int fd = ::open(name.c_str(), O_RDWR | O_CREAT, 0666);
  if (fd < 0) return nullptr;
  std::FILE* file = ::fdopen(fd, "r+");
  if (file == nullptr) ::close(fd);
  return file;
}

// Cuts an owned file at its current position.
bool cut_here(Channel& channel) {
  if (std::fflush(channel.file) != 0) return false;
  const long position = std::ftell(channel.file);
  return position >= 0 && ::ftruncate(::fileno(channel.file), position) == 0;
}

std::optional<std::string> read_terminal_line() {
  std::FILE* terminal = std::fopen("/dev/tty", "r");
  if (terminal == nullptr) return std::nullopt;
  char* buffer = nullptr;
  std::size_t capacity = 0;
  const ssize_t length = ::getline(&buffer, &capacity, terminal);
  std::string answer = length > 0 ? std::string(buffer, static_cast<std::size_t>(length)) : "";
  std::free(buffer);
  std::fclose(terminal);
  if (!answer.empty() && answer.back() == '\n') answer.pop_back();
  return answer;
}

}  // namespace

Channels::Channels() : pause_answer(read_terminal_line) {
  table_[stderr_unit] = std::make_unique<Channel>("", stderr, false);
  table_[stdin_unit] = std::make_unique<Channel>("", stdin, false);
  table_[stdout_unit] = std::make_unique<Channel>("", stdout, false);
}

Channels::~Channels() { close_all(); }

void Channels::open(int unit, std::string_view name, Access access) {
  const bool reading = access == Access::read;
  if (!is_legal_unit(unit)) end_abnormally(unit, "", "open", "illegal unit number", reading, {}, {});
  const std::string file_name(without_trailing_blanks(name));
  if (file_name.empty()) {
    end_abnormally(unit, this->name(unit), "open", "null file name", reading, {}, {});
  }
  if (table_[unit] && table_[unit]->name == file_name) return;
  close(unit);
  std::FILE* file = open_file(file_name, access);
  if (file == nullptr) {
    const std::string detail = "cannot open " + file_name + " for " +
                               (reading ? "reading: " : "writing: ") + std::strerror(errno);
    const bool missing = reading && errno == ENOENT;
    end_abnormally(unit, file_name, "open", reading ? "can't read file" : "can't write file", reading,
                   {}, detail, missing ? file_name : std::string());
  }
  table_[unit] = std::make_unique<Channel>(file_name, file, true);
}

void Channels::close(int unit) {
  if (!is_legal_unit(unit)) end_abnormally(unit, "", "close", "illegal unit number", false, {}, {});
  Channel* channel = table_[unit].get();
  if (channel == nullptr) return;
  if (!channel->owned) {
    if (channel->file != stdin) std::fflush(channel->file);
    return;
  }
  if (channel->written) cut_here(*channel);
  table_[unit].reset();
}

// Binding a channel for writing cuts an unwritten file at its position, the start.
void Channels::empty_if_unwritten(int unit) { bound(unit); }

void Channels::close_all() {
  for (int unit = 0; unit <= max_unit; ++unit) close(unit);
}

bool Channels::next_line(int unit, std::string& line) {
  if (!is_legal_unit(unit)) end_abnormally(unit, "", "read", "illegal unit number", true, {}, {});
  if (!table_[unit]) open(unit, fort_name(unit), Access::read);
  Channel& channel = *table_[unit];
  if (channel.writing) {
    std::fflush(channel.file);
    std::fseek(channel.file, 0, SEEK_CUR);
    channel.writing = false;
  }
  ssize_t length = ::getline(&channel.read_buffer, &channel.read_capacity, channel.file);
  if (length < 0) return false;
  if (length > 0 && channel.read_buffer[length - 1] == '\n') --length;
  if (length > 0 && channel.read_buffer[length - 1] == '\r') --length;
  line.assign(channel.read_buffer, static_cast<std::size_t>(length));
  ++channel.line;
  return true;
}

long Channels::line_number(int unit) const {
  return is_legal_unit(unit) && table_[unit] ? table_[unit]->line : 0;
}

// The channel to write on: an unopened channel is bound to fort.N; a file
// switches from reading at its current position and is cut at its first write.
Channel& Channels::bound(int unit) {
  if (!is_legal_unit(unit)) end_abnormally(unit, "", "write", "illegal unit number", false, {}, {});
  if (!table_[unit]) open(unit, fort_name(unit), Access::write);
  Channel& channel = *table_[unit];
  if (!channel.writing) {
    if (channel.owned) std::fseek(channel.file, 0, SEEK_CUR);
    channel.writing = true;
  }
  if (channel.owned && !channel.written) {
    if (!cut_here(channel)) {
      end_abnormally(unit, channel.name, "write", "can't write file", false, {},
                     "cannot cut " + channel.name + ": " + std::strerror(errno));
    }
    channel.written = true;
  }
  return channel;
}

void Channels::put(int unit, std::string_view text) {
  Channel& channel = bound(unit);
  if (is_terminal(channel)) StatusLine::console().hide();
  std::fwrite(text.data(), 1, text.size(), channel.file);
  channel.column += static_cast<int>(text.size());
}

void Channels::end_line(int unit) {
  Channel& channel = bound(unit);
  std::fputc('\n', channel.file);
  channel.column = 0;
  if (std::fflush(channel.file) != 0 && channel.owned) {
    end_abnormally(unit, channel.name, "write", "can't write file", false, {},
                   "cannot write " + channel.name + ": " + std::strerror(errno));
  }
  if (is_terminal(channel)) StatusLine::console().redraw();
}

int Channels::column(int unit) const {
  return is_legal_unit(unit) && table_[unit] ? table_[unit]->column : 0;
}

std::string Channels::name(int unit) const {
  return is_legal_unit(unit) && table_[unit] ? table_[unit]->name : std::string();
}

void abnormal_end(const Channels& channels, int unit, std::string_view operation,
                  std::string_view error, bool reading, std::string_view detail) {
  end_abnormally(unit, channels.name(unit), operation, error, reading, {}, detail);
}

void abnormal_end_layout(const Channels& channels, int unit, std::string_view operation,
                         std::string_view error, std::string_view layout) {
  end_abnormally(unit, channels.name(unit), operation, error, false, layout, {});
}

}  // namespace textio

// Fuzz target for the free-format reader: whatever the bytes, every read ends
// in values, a reported end of file or a clean abnormal end, never a crash.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "textio/channels.hpp"
#include "textio/list_input.hpp"
#include "textio/run_end.hpp"

namespace {

constexpr int input_unit = 3;
constexpr int reads_per_input = 8;
constexpr std::size_t text_length = 12;

// Reads items whose kinds are chosen by the first input byte, so that every
// item kind meets every kind of value.
void read_items(textio::Channels& channels, unsigned kinds) {
  std::int32_t integer = 0;
  double real = 0;
  std::string text(text_length, ' ');  // a null value keeps it
  for (int r = 0; r < reads_per_input; ++r) {
    textio::ListInput read(channels, input_unit, r % 2 == 0 ? textio::EndOfFile::report : textio::EndOfFile::fail);
    for (int item = 0; item < 3; ++item) {
      const unsigned kind = (kinds >> (2 * ((r * 3 + item) % 4))) & 3;
      const bool more = kind == 0   ? read.get(integer)
                        : kind == 1 ? read.get(real)
                                    : read.get(text, text_length);
      if (!more) return;
      if (kind >= 2 && text.size() != text_length) __builtin_trap();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static const std::string path = "/tmp/bravik_fuzz_list_input_" + std::to_string(::getpid());
  std::FILE* file = std::fopen(path.c_str(), "wb");
  std::fwrite(data + 1, 1, size - 1, file);
  std::fclose(file);
  textio::Channels channels;
  try {
    channels.open(input_unit, path, textio::Access::read);
    read_items(channels, data[0]);
  } catch (const textio::RunEnd& end) {
    if (end.status != textio::exit_input_error) __builtin_trap();
  }
  return 0;
}

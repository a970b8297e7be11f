// Fuzz target for task.inp, read as each program reads it (three names of 20
// characters, or four of 15): names or an input error.
#include <cstdint>

#include "run/config.hpp"
#include "tests/fuzz/fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::write_file("task.inp", fuzz::bytes(data, size));
  for (const auto& [records, field_length] : {std::pair{3, 20}, std::pair{4, 15}}) {
    textio::Channels channels;
    fuzz::expect_clean_end([&] { bravik::read_task(channels, records, static_cast<std::size_t>(field_length)); });
  }
  return 0;
}

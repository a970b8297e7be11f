// Fuzz target for maxpar.inp: five records become maximizer settings within
// the limits the maximizer can use, or an input error.
#include <cstdint>

#include "run/config.hpp"
#include "tests/fuzz/fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::write_file("maxpar.inp", fuzz::bytes(data, size));
  textio::Channels channels;
  fuzz::expect_clean_end([&] { bravik::read_maxpar(channels); });
  return 0;
}

// Fuzz target for par.inp: seven parameter records become a parameter record
// the kernel can use, or an input error that names the file and line.
#include <cstdint>
#include <memory>

#include "run/config.hpp"
#include "tests/fuzz/fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const auto model = std::make_unique<bravik::Model>(bravik::Program::maximizing);
  model->imax.npar = 7;
  fuzz::write_file("par.inp", fuzz::bytes(data, size));
  textio::Channels channels;
  fuzz::expect_clean_end([&] { bravik::read_par(*model, channels); });
  return 0;
}

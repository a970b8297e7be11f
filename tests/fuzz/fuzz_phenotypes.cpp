// Fuzz target for the phenotype file, read after the example pedigree's
// description: it yields trait values or an input error, never a crash.
#include <cstdint>
#include <memory>
#include <string>

#include "pedigree/iway.hpp"
#include "tests/fuzz/fuzz_support.hpp"
#include "tools/plot/lod_plot.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const auto pedigree = std::make_unique<bravik::Pedigree>();
  static const bool description_written = [] {
    fuzz::write_file("IWAY.DAT", bravik::tools::read_text_file(BRAVIK_SOURCE_DIR "/examples/IWAY.DAT", "description"));
    return true;
  }();
  (void)description_written;
  fuzz::write_file("phen.dat", fuzz::bytes(data, size));
  textio::Channels channels;
  fuzz::expect_clean_end([&] { bravik::wwdat(*pedigree, channels, "phen.dat"); });
  return 0;
}

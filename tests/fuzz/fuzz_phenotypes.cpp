// Fuzz target for the phenotype file, read after the example pedigree's
// description: it yields trait values or an input error, never a crash.
#include <cstdint>
#include <string>

#include "results/text_file.hpp"
#include "tests/fuzz/fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string description =
      bravik::results::read_text_file(BRAVIK_SOURCE_DIR "/examples/IWAY.DAT", "description");
  fuzz::read_pedigree(description, fuzz::bytes(data, size));
  return 0;
}

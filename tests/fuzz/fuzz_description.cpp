// Fuzz target for the pedigree description IWAY.DAT: whatever its bytes, the
// reading and checking of the description (with a phenotype file long enough
// for any person count) ends in a pedigree, an input error or a capacity stop.
#include <cstdint>
#include <string>

#include "tests/fuzz/fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string phenotypes = [] {
    std::string values;
    for (int p = 0; p < 64; ++p) values += p % 3 == 0 ? "-999 " : "1.5 ";
    return values;
  }();
  fuzz::read_pedigree(fuzz::bytes(data, size), phenotypes);
  return 0;
}

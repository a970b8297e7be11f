// Fuzz target for the pedigree description IWAY.DAT: whatever its bytes, the
// reading and checking of the description (with a phenotype file long enough
// for any person count) ends in a pedigree, an input error or a capacity stop.
#include <cstdint>
#include <memory>
#include <string>

#include "pedigree/iway.hpp"
#include "tests/fuzz/fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const auto pedigree = std::make_unique<bravik::Pedigree>();
  static const bool phenotypes_written = [] {
    std::string values;
    for (int p = 0; p < 64; ++p) values += p % 3 == 0 ? "-999 " : "1.5 ";
    fuzz::write_file("phen.dat", values);
    return true;
  }();
  (void)phenotypes_written;
  fuzz::write_file("IWAY.DAT", fuzz::bytes(data, size));
  textio::Channels channels;
  fuzz::expect_clean_end([&] { bravik::wwdat(*pedigree, channels, "phen.dat"); });
  return 0;
}

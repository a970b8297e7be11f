// Fuzz target for VCF and BCF records through htslib (plain, BGZF or BCF, as
// htslib recognizes the bytes), matched to a small pedigree: every call
// becomes a code the analysis knows, bad data ends in an input error.
#include <cstdint>

#include "genotypes/sources.hpp"
#include "pedfile/input_error.hpp"
#include "tests/fuzz/scan_fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::write_file("fuzz.vcf", fuzz::bytes(data, size));
  try {
    const auto source = bravik::genotypes::open_vcf("fuzz.vcf", fuzz::small_pedigree());
    fuzz::read_every_marker(*source, fuzz::small_pedigree().rows.size());
  } catch (const bravik::tools::InputError&) {
  }
  return 0;
}

// Fuzz target for a phenotype table (header FID IID names..., column "t"),
// applied to a small pedigree: traits are replaced or an input error names
// the line.
#include <cstdint>

#include "genotypes/pedigree_input.hpp"
#include "pedfile/input_error.hpp"
#include "tests/fuzz/scan_fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::write_file("pheno.txt", fuzz::bytes(data, size));
  bravik::tools::PedigreeFile pedigree = fuzz::small_pedigree();
  bravik::genotypes::TraitOptions options;
  options.pheno_path = "pheno.txt";
  options.pheno_name = "t";
  try {
    (void)bravik::genotypes::apply_pheno_table(pedigree, options);
  } catch (const bravik::tools::InputError&) {
  }
  return 0;
}

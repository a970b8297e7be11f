// Fuzz target for a PLINK 1 binary fileset: the input holds the .fam, the
// .bim and the .bed (in this order, cut by fuzz::file_separator). The .fam
// gives the pedigree, the .bed's codes must all be codes the analysis knows,
// and bad data ends in an input error.
#include <cstdint>
#include <string>

#include "genotypes/pedigree_input.hpp"
#include "genotypes/sources.hpp"
#include "pedfile/input_error.hpp"
#include "tests/fuzz/scan_fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string_view> files = fuzz::split_files(fuzz::bytes(data, size), 3);
  fuzz::write_file("fuzz.fam", files[0]);
  fuzz::write_file("fuzz.bim", files[1]);
  fuzz::write_file("fuzz.bed", files[2]);
  try {
    const bravik::genotypes::LoadedPedigree loaded = bravik::genotypes::load_pedigree("fuzz.fam", true, {});
    const auto source = bravik::genotypes::open_bed("fuzz", loaded.persons);
    fuzz::read_every_marker(*source, loaded.persons.rows.size());
  } catch (const bravik::tools::InputError&) {
  }
  return 0;
}

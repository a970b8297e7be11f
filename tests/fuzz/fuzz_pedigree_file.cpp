// Fuzz target for the pedigree file of bravik_prep: parsing, the family
// structure and the Mendelian check end in a prepared pedigree or an
// InputError, never a crash.
#include <cstdint>
#include <string>

#include "pedfile/input_error.hpp"
#include "pedfile/mendel.hpp"
#include "pedfile/pedigree_file.hpp"
#include "pedfile/structure.hpp"
#include "tests/fuzz/fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace bravik::tools;
  try {
    PedigreeFile file = parse_pedigree_text(std::string(fuzz::bytes(data, size)), "fuzz.ped");
    const PreparedPedigree ped = prepare_structure(file, PeelingOptions{});
    check_mendelian(file, ped, size % 2 == 0);
  } catch (const InputError&) {
  }
  return 0;
}

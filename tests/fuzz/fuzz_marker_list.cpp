// Fuzz target for the marker lists of --extract and --exclude: the same
// bytes serve as both lists; a few markers are decided, and the ids that
// match none are noted.
#include <cstdint>

#include "genotypes/marker_filter.hpp"
#include "pedfile/input_error.hpp"
#include "tests/fuzz/scan_fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::write_file("list.txt", fuzz::bytes(data, size));
  bravik::genotypes::MarkerFilter filter;
  filter.extract_path = "list.txt";
  filter.exclude_path = "list.txt";
  try {
    bravik::genotypes::MarkerSelection selection(filter, 4);
    const std::vector<std::uint8_t> codes = {1, 2, 3, 0};
    bravik::genotypes::MarkerInfo info;
    for (const char* id : {"rs1", "rs2", ".", ""}) {
      info.id = id;
      if (selection.decide(info, codes) == bravik::genotypes::MarkerDecision::keep) __builtin_trap();  // excluded
    }
    (void)selection.unmatched_id_notes();
  } catch (const bravik::tools::InputError&) {
  }
  return 0;
}

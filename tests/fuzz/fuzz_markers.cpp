// Fuzz target for the marker genotype file: it yields marker rows (and the
// check of their count against the persons) or an input error.
#include <cstdint>
#include <memory>

#include "pedigree/markers.hpp"
#include "tests/fuzz/fuzz_support.hpp"

namespace {
constexpr int marker_unit = 1;
constexpr int example_persons = 18;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const auto pedigree = std::make_unique<bravik::Pedigree>();
  fuzz::write_file("mark.dat", fuzz::bytes(data, size));
  textio::Channels channels;
  fuzz::expect_clean_end([&] {
    channels.open(marker_unit, "mark.dat", textio::Access::read);
    bravik::read_marker_file(*pedigree, channels);
    pedigree->npers = example_persons;
    bravik::warn_about_row_count(*pedigree, "mark.dat");
    for (int t = 1; t <= pedigree->nmark; ++t) bravik::select_marker(*pedigree, t);
  });
  return 0;
}

// Fuzz target for a chunk's result files: the LOD file, the estimate file and
// the program's standard error (in this order, cut by fuzz::file_separator),
// read as merge reads them and written into the rows of five markers.
#include <cstdint>

#include "pedfile/input_error.hpp"
#include "scan/merge.hpp"
#include "tests/fuzz/scan_fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace bravik::scan;
  const std::vector<std::string_view> files = fuzz::split_files(fuzz::bytes(data, size), 3);
  fuzz::write_file("lod.out", files[0]);
  fuzz::write_file("est.out", files[1]);
  try {
    const RunResults run = read_run_results("lod.out", "est.out", std::string(files[2]), 4);
    std::vector<ResultRow> rows(5);
    fill_results(rows, 0, run, {4, 0, 4, 4, 4}, {0, 0, 1, 0, 0});
    (void)failed_marker_lines(run, 1);
    (void)results_table_text(rows);
  } catch (const bravik::tools::InputError&) {
  }
  return 0;
}

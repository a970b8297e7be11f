// Fuzz target for task.inp, read as each program reads it (three names of 20
// characters, or four of 15), and the check of its result files against the
// inputs: names or an input error.
#include <cstdint>

#include "run/config.hpp"
#include "tests/fuzz/fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::write_file("task.inp", fuzz::bytes(data, size));
  struct Reading {
    int records;
    std::size_t field_length;
    bravik::Program program;
  };
  for (const Reading& reading : {Reading{3, 20, bravik::Program::fixed}, Reading{4, 15, bravik::Program::maximizing}}) {
    textio::Channels channels;
    fuzz::expect_clean_end([&] {
      const bravik::TaskFiles files = bravik::read_task(channels, reading.records, reading.field_length);
      bravik::check_result_files(files, reading.program);
    });
  }
  return 0;
}

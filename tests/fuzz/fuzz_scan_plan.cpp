// Fuzz target for plan.txt: a plan that is read is one its writer gives back
// unchanged, with chunks that cover the markers without gap or overlap.
#include <cstdint>
#include <string>

#include "pedfile/input_error.hpp"
#include "scan/plan.hpp"
#include "tests/fuzz/fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace bravik::scan;
  try {
    const Plan plan = parse_plan(std::string(fuzz::bytes(data, size)), "plan.txt");
    long next = 1;
    for (const Chunk& c : plan.chunks) {
      if (c.first != next || c.last < c.first || c.size() > plan.chunk_size) __builtin_trap();
      next = c.last + 1;
    }
    if (next != plan.markers + 1) __builtin_trap();
    if (plan_text(parse_plan(plan_text(plan), "again")) != plan_text(plan)) __builtin_trap();
  } catch (const bravik::tools::InputError&) {
  }
  return 0;
}

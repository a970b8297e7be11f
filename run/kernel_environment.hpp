#pragma once
// The two environment variables that choose how the likelihood is computed:
// BRAVIK_KERNEL (fast, the default, or reference: the literal kernel on one
// thread) and BRAVIK_THREADS (the fast kernel's threads; all cores by default).
#include <string_view>

#include "model/blocks.hpp"

namespace bravik {

inline constexpr int most_threads = 256;

// Sets model.kernel and model.threads from the two values (nullptr = unset);
// ends the run with exit_input_error on a value it does not know.
void choose_kernel(Model& model, const char* kernel, const char* threads);

// The same from the environment of the process.
void choose_kernel_from_environment(Model& model);

}  // namespace bravik

#pragma once
// The environment variables that choose how the likelihood is computed:
// BRAVIK_KERNEL (fast, the default, or reference: the literal kernel on one
// thread), BRAVIK_THREADS (the fast kernel's threads; all cores by default)
// and BRAVIK_KERNEL_PATH (the fast kernel's vector instructions: avx512, avx2
// or baseline; the widest the machine runs by default).
#include <string_view>
#include <vector>

#include "model/blocks.hpp"

namespace bravik {

inline constexpr int most_threads = 256;

// Sets model.kernel and model.threads from the two values (nullptr = unset);
// ends the run with exit_input_error on a value it does not know.
void choose_kernel(Model& model, const char* kernel, const char* threads);

// Sets model.path from the value (nullptr or empty = the widest); ends the run
// with exit_input_error on a name it does not know or a path not in runnable.
void choose_machine_path(Model& model, const char* path, const std::vector<MachinePath>& runnable);

// All three from the environment of the process.
void choose_kernel_from_environment(Model& model);

}  // namespace bravik

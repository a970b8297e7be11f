#include "run/kernel_environment.hpp"

#include <charconv>
#include <cstdlib>
#include <string>
#include <thread>

#include "textio/message_text.hpp"
#include "textio/run_end.hpp"

namespace bravik {
namespace {

int default_threads() {
  const unsigned cores = std::thread::hardware_concurrency();
  if (cores == 0) return 1;
  return cores > static_cast<unsigned>(most_threads) ? most_threads : static_cast<int>(cores);
}

int thread_count(std::string_view text) {
  int count = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count);
  if (error != std::errc{} || end != text.data() + text.size() || count < 1 || count > most_threads) {
    textio::fail("BRAVIK_THREADS=" + textio::quoted(text) + " is not a number of threads from 1 to " +
                     std::to_string(most_threads) + "\n",
                 textio::exit_input_error);
  }
  return count;
}

}  // namespace

void choose_kernel(Model& model, const char* kernel, const char* threads) {
  const std::string_view kernel_name = kernel == nullptr ? "" : kernel;
  if (kernel_name.empty() || kernel_name == "fast") {
    model.kernel = KernelChoice::fast;
  } else if (kernel_name == "reference") {
    model.kernel = KernelChoice::reference;
  } else {
    textio::fail("BRAVIK_KERNEL=" + textio::quoted(kernel_name) + " is neither fast nor reference\n",
                 textio::exit_input_error);
  }
  const std::string_view thread_text = threads == nullptr ? "" : threads;
  model.threads = thread_text.empty() ? default_threads() : thread_count(thread_text);
  if (model.kernel == KernelChoice::reference) model.threads = 1;
}

void choose_kernel_from_environment(Model& model) {
  choose_kernel(model, std::getenv("BRAVIK_KERNEL"), std::getenv("BRAVIK_THREADS"));
}

}  // namespace bravik

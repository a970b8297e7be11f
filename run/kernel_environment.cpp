#include "run/kernel_environment.hpp"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <string>
#include <thread>

#include "model/fast/fast_family.hpp"
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

void choose_machine_path(Model& model, const char* path, const std::vector<MachinePath>& runnable) {
  const std::string_view name = path == nullptr ? "" : path;
  if (name.empty()) {
    model.path = MachinePath::widest;
    return;
  }
  const std::string quoted = "BRAVIK_KERNEL_PATH='" + std::string(name) + "'";
  const MachinePath known[] = {MachinePath::avx512, MachinePath::avx2, MachinePath::baseline};
  const auto named = std::find_if(std::begin(known), std::end(known),
                                  [name](MachinePath p) { return path_name(p) == name; });
  if (named == std::end(known)) {
    textio::fail(quoted + " is none of avx512, avx2, baseline\n", textio::exit_input_error);
  }
  if (std::find(runnable.begin(), runnable.end(), *named) == runnable.end()) {
    std::string runs;
    for (const MachinePath p : runnable) runs += (runs.empty() ? "" : ", ") + std::string(path_name(p));
    textio::fail(quoted + " is a path this machine or build cannot run (it runs " + runs + ")\n",
                 textio::exit_input_error);
  }
  model.path = *named;
}

void choose_kernel_from_environment(Model& model) {
  choose_kernel(model, std::getenv("BRAVIK_KERNEL"), std::getenv("BRAVIK_THREADS"));
  choose_machine_path(model, std::getenv("BRAVIK_KERNEL_PATH"), runnable_paths());
}

}  // namespace bravik

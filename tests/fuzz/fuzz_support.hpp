#pragma once
// Shared pieces of the fuzz targets: each input becomes a file in a private
// scratch folder (the readers open files by name in the working folder), and
// a run may end only in the ways the programs end on bad input.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "pedigree/iway.hpp"
#include "textio/run_end.hpp"

namespace fuzz {

// Moves the process into a folder of its own once, so that the fixed file
// names of the readers never meet another process's files. Corpus folders and
// artifact prefixes given to a target must therefore be absolute paths.
inline void enter_scratch_folder() {
  static const bool entered = [] {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("bravik_fuzz_" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    std::filesystem::current_path(folder);
    return true;
  }();
  (void)entered;
}

inline void write_file(const std::string& name, std::string_view content) {
  enter_scratch_folder();
  std::FILE* file = std::fopen(name.c_str(), "wb");
  if (file == nullptr) std::abort();
  std::fwrite(content.data(), 1, content.size(), file);
  std::fclose(file);
}

inline std::string_view bytes(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// Runs a reader; the only acceptable abnormal ends are an input error and a
// capacity stop. Anything else (another status, another exception) traps.
template <class Reader>
void expect_clean_end(Reader&& reader) {
  try {
    reader();
  } catch (const textio::RunEnd& end) {
    if (end.status != textio::exit_input_error && end.status != textio::exit_error_stop) __builtin_trap();
  }
}

// Reads a pedigree description and a phenotype file as a run does.
inline void read_pedigree(std::string_view description, std::string_view phenotypes) {
  static const auto pedigree = std::make_unique<bravik::Pedigree>();
  write_file("IWAY.DAT", description);
  write_file("phen.dat", phenotypes);
  textio::Channels channels;
  expect_clean_end([&] { bravik::wwdat(*pedigree, channels, "phen.dat"); });
}

}  // namespace fuzz

#pragma once
// Whether two names mean one file, so that no program writes over its input.
#include <filesystem>
#include <string>
#include <system_error>

namespace textio {

// The same name (after removing "." and ".." steps), or two names of one
// existing file (a link, another path to it).
inline bool same_file(const std::string& a, const std::string& b) {
  namespace fs = std::filesystem;
  std::error_code error;
  return fs::path(a).lexically_normal() == fs::path(b).lexically_normal() || fs::equivalent(a, b, error);
}

}  // namespace textio

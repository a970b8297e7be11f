#include "results/text_file.hpp"

#include <fstream>
#include <sstream>

#include "pedfile/input_error.hpp"

namespace bravik::results {

std::string read_text_file(const std::string& path, const char* what) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw tools::InputError(path + ": cannot open the " + what);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

}  // namespace bravik::results

#include "run/table_file.hpp"

#include "textio/run_end.hpp"

namespace bravik {

TableFile::TableFile(const std::string& path, const std::string& header)
    : path_(path), file_(std::fopen(path.c_str(), "w")) {
  if (file_ == nullptr) textio::fail(path + ": cannot open the file for writing\n", textio::exit_input_error);
  write(header);
}

TableFile::~TableFile() {
  if (file_ != nullptr) std::fclose(file_);
}

void TableFile::write(const std::string& line) {
  if (std::fputs((line + "\n").c_str(), file_) < 0 || std::fflush(file_) != 0) {
    textio::fail(path_ + ": cannot write the file\n", textio::exit_input_error);
  }
}

}  // namespace bravik

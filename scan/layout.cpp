#include "scan/layout.hpp"

#include <unistd.h>

#include <fstream>
#include <sstream>

#include "pedfile/input_error.hpp"

namespace bravik::scan {

ChunkState ScanFolder::state(int k) const {
  std::error_code ec;
  if (fs::is_directory(chunk(k), ec)) return ChunkState::done;
  if (fs::exists(failure(k), ec)) return ChunkState::failed;
  return ChunkState::pending;
}

ChunkFailure read_failure(const ScanFolder& folder, int k) {
  std::ifstream in(folder.failure(k));
  ChunkFailure failure;
  std::getline(in, failure.ending);
  std::getline(in, failure.first_error_line);
  return failure;
}

void write_file_atomically(const fs::path& path, const std::string& content) {
  std::string hidden(1, '.');
  hidden.append(path.filename().string()).append(1, '.').append(std::to_string(getpid()));
  const fs::path temporary = path.parent_path() / hidden;
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << content;
    out.close();
    if (!out) throw tools::InputError(temporary.string() + ": cannot write the file");
  }
  std::error_code ec;
  fs::rename(temporary, path, ec);
  if (ec) throw tools::InputError(path.string() + ": cannot put the file in place: " + ec.message());
}

}  // namespace bravik::scan

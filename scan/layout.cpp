#include "scan/layout.hpp"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
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

std::string text_of_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::string running_record_name(int k, const std::string& host, long pid) {
  return std::to_string(k) + "." + host + "." + std::to_string(pid);
}

std::vector<RunningChunk> running_chunks(const ScanFolder& folder) {
  std::vector<RunningChunk> chunks;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder.running(), ec)) {
    const std::string name = entry.path().filename().string();
    const std::size_t first_dot = name.find('.');
    const std::size_t last_dot = name.rfind('.');
    if (first_dot == std::string::npos || last_dot == first_dot) continue;
    RunningChunk r{0, name.substr(first_dot + 1, last_dot - first_dot - 1), 0, entry.path(), 0};
    std::istringstream numbers(name.substr(0, first_dot) + " " + name.substr(last_dot + 1));
    std::string done;
    if (!(numbers >> r.chunk >> r.pid) || r.chunk <= 0 || r.pid <= 0) continue;
    std::istringstream text(text_of_file(entry.path()));
    if (text >> done >> r.markers_done && done == "done") chunks.push_back(r);
  }
  return chunks;
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

fs::path ScanFolder::posteriors(const std::string& marker_id) const {
  if (marker_id.empty()) return root / "posteriors.tsv";
  std::string part = marker_id;
  std::replace_if(
      part.begin(), part.end(),
      [](unsigned char c) { return std::isalnum(c) == 0 && std::strchr(".-:_", c) == nullptr; }, '_');
  return root / ("posteriors_" + part + ".tsv");
}

}  // namespace bravik::scan

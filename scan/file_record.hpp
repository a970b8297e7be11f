#pragma once
// The size and a checksum of a file `prepare` wrote, kept in the plan, so that
// later commands notice a file that was changed, cut short or replaced.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace bravik::scan {

struct FileRecord {
  std::string name;           // relative to the scan folder
  std::uintmax_t size = 0;    // bytes
  std::uint64_t checksum = 0;
};

// Throws InputError naming the file when it cannot be read.
FileRecord record_file(const std::filesystem::path& folder, const std::string& name);

// Throws InputError naming the file, the recorded and the found size or
// checksum for the first file that differs from its record.
void check_file_records(const std::filesystem::path& folder, const std::vector<FileRecord>& records);

// "file NAME SIZE CHECKSUM", the checksum in 16 hexadecimal digits.
std::string file_record_line(const FileRecord& record);

}  // namespace bravik::scan

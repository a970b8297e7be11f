#include "scan/file_record.hpp"

#include <array>
#include <bit>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "pedfile/input_error.hpp"

namespace bravik::scan {
namespace {

// A 64-bit hash of the bytes, eight at a time: cheap beside the reading of a
// genotype file of hundreds of MB, and any change of a byte changes it.
class Checksum {
 public:
  void add(const char* bytes, std::size_t count) {
    std::size_t i = 0;
    // Whole words at once where the machine's byte order is the one below.
    for (; std::endian::native == std::endian::little && filled_ == 0 && i + 8 <= count; i += 8) {
      std::memcpy(&word_, bytes + i, 8);
      filled_ = 8;
      mix_word();
    }
    for (; i < count; ++i) {
      word_ |= static_cast<std::uint64_t>(static_cast<unsigned char>(bytes[i])) << (8 * filled_);
      if (++filled_ == 8) mix_word();
    }
  }
  std::uint64_t value() {
    if (filled_ > 0) mix_word();
    std::uint64_t h = state_ ^ length_;
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    return h;
  }

 private:
  void mix_word() {
    state_ ^= word_ * 0x9e3779b97f4a7c15ULL;
    state_ = (state_ << 31 | state_ >> 33) * 0xc2b2ae3d27d4eb4fULL;
    length_ += filled_;
    word_ = 0;
    filled_ = 0;
  }
  std::uint64_t state_ = 0x2545f4914f6cdd1dULL;
  std::uint64_t word_ = 0;
  std::uint64_t length_ = 0;
  unsigned filled_ = 0;
};

std::string hex(std::uint64_t value) {
  std::array<char, 17> text{};
  std::snprintf(text.data(), text.size(), "%016llx", static_cast<unsigned long long>(value));
  return text.data();
}

}  // namespace

FileRecord record_file(const std::filesystem::path& folder, const std::string& name) {
  const std::filesystem::path path = folder / name;
  std::ifstream in(path, std::ios::binary);
  if (!in) throw tools::InputError(path.string() + ": cannot be read");
  FileRecord record{name, 0, 0};
  Checksum sum;
  std::array<char, 1 << 16> buffer{};
  while (in) {
    in.read(buffer.data(), buffer.size());
    const auto got = static_cast<std::size_t>(in.gcount());
    sum.add(buffer.data(), got);
    record.size += got;
  }
  if (in.bad()) throw tools::InputError(path.string() + ": reading failed");
  record.checksum = sum.value();
  return record;
}

void check_file_records(const std::filesystem::path& folder, const std::vector<FileRecord>& records) {
  for (const FileRecord& recorded : records) {
    const FileRecord found = record_file(folder, recorded.name);
    const std::string what = found.size != recorded.size
                                 ? std::to_string(found.size) + " bytes, the plan recorded " + std::to_string(recorded.size)
                             : found.checksum != recorded.checksum
                                 ? "checksum " + hex(found.checksum) + ", the plan recorded " + hex(recorded.checksum)
                                 : "";
    if (!what.empty())
      throw tools::InputError((folder / recorded.name).string() + ": " + what +
                              "; the file changed after prepare, and the chunks' results would not match it: "
                              "prepare the scan again in a new folder");
  }
}

std::string file_record_line(const FileRecord& record) {
  return "file " + record.name + ' ' + std::to_string(record.size) + ' ' + hex(record.checksum);
}

}  // namespace bravik::scan

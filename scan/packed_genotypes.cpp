#include "scan/packed_genotypes.hpp"

#include <system_error>

#include "pedfile/input_error.hpp"

namespace bravik::scan {

std::vector<std::size_t> pedigree_order(const tools::PreparedPedigree& ped) {
  std::vector<std::size_t> order;
  for (const tools::Family& fam : ped.families) order.insert(order.end(), fam.rows.begin(), fam.rows.end());
  return order;
}

PackedGenotypeWriter::PackedGenotypeWriter(const std::filesystem::path& path, std::size_t persons)
    : path_(path), file_(std::fopen(path.c_str(), "wb")), packed_(packed_bytes_per_marker(persons)) {
  if (file_ == nullptr) throw tools::InputError(path.string() + ": cannot write the file");
}

PackedGenotypeWriter::~PackedGenotypeWriter() {
  if (file_ != nullptr) std::fclose(file_);
}

void PackedGenotypeWriter::append(std::span<const std::uint8_t> codes, std::span<const std::size_t> order) {
  const std::size_t whole = order.size() / 4;  // bytes of four persons
  for (std::size_t b = 0; b < whole; ++b) {
    const std::size_t* four = &order[4 * b];
    packed_[b] = static_cast<std::uint8_t>((codes[four[0]] & 3u) | (codes[four[1]] & 3u) << 2 |
                                           (codes[four[2]] & 3u) << 4 | (codes[four[3]] & 3u) << 6);
  }
  if (whole < packed_.size()) {
    packed_[whole] = 0;
    for (std::size_t i = 4 * whole; i < order.size(); ++i)
      packed_[whole] = static_cast<std::uint8_t>(packed_[whole] | (codes[order[i]] & 3u) << (2 * (i % 4)));
  }
  if (std::fwrite(packed_.data(), 1, packed_.size(), file_) != packed_.size())
    throw tools::InputError(path_.string() + ": writing failed (disk full?)");
}

void PackedGenotypeWriter::close() {
  const bool failed = std::fclose(file_) != 0;
  file_ = nullptr;
  if (failed) throw tools::InputError(path_.string() + ": writing failed (disk full?)");
}

PackedGenotypeBlock::PackedGenotypeBlock(const std::filesystem::path& path, std::size_t persons, std::size_t markers,
                                         std::size_t first, std::size_t count)
    : bytes_per_marker_(packed_bytes_per_marker(persons)), bytes_(count * bytes_per_marker_) {
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec) throw tools::InputError(path.string() + ": cannot read the genotypes: " + ec.message());
  if (size != markers * bytes_per_marker_)
    throw tools::InputError(path.string() + ": holds " + std::to_string(size) + " bytes, not the " +
                            std::to_string(markers * bytes_per_marker_) + " of " + std::to_string(markers) +
                            " markers of " + std::to_string(persons) + " persons");
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) throw tools::InputError(path.string() + ": cannot open the genotypes");
  const bool read = std::fseek(file, static_cast<long>(first * bytes_per_marker_), SEEK_SET) == 0 &&
                    std::fread(bytes_.data(), 1, bytes_.size(), file) == bytes_.size();
  std::fclose(file);
  if (!read) throw tools::InputError(path.string() + ": cannot read markers " + std::to_string(first + 1) + " to " +
                                     std::to_string(first + count));
}

}  // namespace bravik::scan

#pragma once
// The compact copy of a scan's genotypes: 2 bits per person per marker,
// marker after marker, persons in pedigree order (the layout is described in
// layout.hpp). Written once while the source is streamed; a chunk reads only
// its own markers.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <span>
#include <vector>

#include "pedfile/structure.hpp"

namespace bravik::scan {

// The file row of each person in pedigree order (the order of IWAY.DAT).
std::vector<std::size_t> pedigree_order(const tools::PreparedPedigree& ped);

inline std::size_t packed_bytes_per_marker(std::size_t persons) { return (persons + 3) / 4; }

class PackedGenotypeWriter {
 public:
  PackedGenotypeWriter(const std::filesystem::path& path, std::size_t persons);
  ~PackedGenotypeWriter();
  PackedGenotypeWriter(const PackedGenotypeWriter&) = delete;
  PackedGenotypeWriter& operator=(const PackedGenotypeWriter&) = delete;

  // Appends one marker: person i of the file is codes[order[i]].
  void append(std::span<const std::uint8_t> codes, std::span<const std::size_t> order);
  // Flushes and closes; throws InputError when the disk refused a write.
  void close();

 private:
  std::filesystem::path path_;
  std::FILE* file_ = nullptr;
  std::vector<std::uint8_t> packed_;
};

// Markers first..first+count-1 (from 0) of the file, unpacked on demand.
class PackedGenotypeBlock {
 public:
  // Throws InputError when the file is missing, or its size is not
  // `markers` times the bytes of one marker.
  PackedGenotypeBlock(const std::filesystem::path& path, std::size_t persons, std::size_t markers,
                      std::size_t first, std::size_t count);
  std::uint8_t code(std::size_t marker, std::size_t person) const {
    const std::uint8_t byte = bytes_[marker * bytes_per_marker_ + person / 4];
    return static_cast<std::uint8_t>(byte >> (2 * (person % 4)) & 3u);
  }

 private:
  std::size_t bytes_per_marker_;
  std::vector<std::uint8_t> bytes_;
};

}  // namespace bravik::scan

// PLINK 1 binary fileset: the .fam tells which person each 2-bit slot of a
// .bed block belongs to, the .bim describes one marker per block.
#include <array>
#include <filesystem>
#include <fstream>

#include "genotypes/person_index.hpp"
#include "genotypes/sources.hpp"
#include "genotypes/text_lines.hpp"
#include "pedfile/input_error.hpp"

namespace bravik::genotypes {
namespace {

constexpr std::array<int, 3> bed_header = {0x6c, 0x1b, 0x01};
// Marker code by the integer value of a 2-bit slot: 0 homozygous allele 1,
// 1 missing, 2 heterozygous, 3 homozygous allele 2.
constexpr std::array<std::uint8_t, 4> code_of_slot = {1, 0, 2, 3};

// The pedigree row of each .fam line, with a note for each person the
// pedigree lacks.
RowMap rows_of_fam(const std::string& fam_path, const tools::PedigreeFile& pedigree, std::vector<std::string>& notes) {
  const PersonIndex index(pedigree);
  LineReader fam(fam_path, ".fam file");
  std::vector<std::string_view> fields;
  RowMap rows(pedigree.rows.size());
  while (fam.next(fields)) {
    fam.expect_columns(fields, 6, "FID IID father mother sex trait");
    const auto row = index.find(fields[0], fields[1]);
    if (!row)
      notes.push_back(fam.at() + "family " + std::string(fields[0]) + ", person " + std::string(fields[1]) +
                      " is not in the pedigree " + pedigree.name + "; their genotypes are ignored");
    rows.add(row);
  }
  return rows;
}

// "0x6c", or "missing" for a byte past the end of the file (-1).
std::string byte_text(int value) {
  if (value < 0) return "missing";
  static const char* const digits = "0123456789abcdef";
  return std::string("0x") + digits[value >> 4] + digits[value & 15];
}

class BedSource final : public GenotypeSource {
 public:
  BedSource(const std::string& prefix, const tools::PedigreeFile& pedigree)
      : bed_path_(prefix + ".bed"),
        rows_(rows_of_fam(prefix + ".fam", pedigree, notes_)),
        markers_(count_field_lines(prefix + ".bim", ".bim file")),
        bim_(prefix + ".bim", ".bim file"),
        block_((rows_.file_persons() + 3) / 4) {
    open_checked();
  }

  bool next(MarkerInfo& info, std::span<std::uint8_t> codes) override {
    if (!bim_.next(fields_)) return false;
    read_marker_info(info);
    read_block();
    rows_.fill(codes, [this](std::size_t i) { return code_of_slot[(block_[i / 4] >> (2 * (i % 4))) & 3]; });
    return true;
  }
  std::size_t persons_held() const override { return rows_.persons_held(); }
  std::vector<std::string> notes() const override { return notes_; }

 private:
  void open_checked() {
    bed_.open(bed_path_, std::ios::binary);
    if (!bed_) throw tools::InputError(bed_path_ + ": cannot open the .bed file");
    std::array<char, 3> header{};
    bed_.read(header.data(), header.size());
    const auto got = static_cast<std::size_t>(bed_.gcount());
    for (std::size_t i = 0; i < header.size(); ++i) {
      const int value = i < got ? static_cast<unsigned char>(header[i]) : -1;
      if (value != bed_header[i])
        throw tools::InputError(bed_path_ + ": byte " + std::to_string(i) + " is " + byte_text(value) + ", expected " +
                                byte_text(bed_header[i]) +
                                (i < 2 ? " (not a PLINK 1 .bed file)" : " (only the variant-major mode 0x01 is read)"));
    }
    const auto size = std::filesystem::file_size(bed_path_);
    const auto expected = 3 + static_cast<std::uintmax_t>(markers_) * block_.size();
    if (size != expected)
      throw tools::InputError(bed_path_ + ": size " + std::to_string(size) + " bytes, expected " +
                              std::to_string(expected) + " = 3 + " + std::to_string(markers_) + " markers (.bim) x " +
                              std::to_string(block_.size()) + " bytes for " + std::to_string(rows_.file_persons()) +
                              " persons (.fam)");
  }

  void read_marker_info(MarkerInfo& info) const {
    bim_.expect_columns(fields_, 6, "chromosome id cM bp allele1 allele2");
    read_marker_place(bim_, fields_, info);
    info.allele1.assign(fields_[4]);
    info.allele2.assign(fields_[5]);
  }

  void read_block() {
    bed_.read(reinterpret_cast<char*>(block_.data()), static_cast<std::streamsize>(block_.size()));
    if (!bed_) throw tools::InputError(bed_path_ + ": ends before the block of the marker on " + bim_.at());
  }

  std::string bed_path_;
  std::vector<std::string> notes_;
  RowMap rows_;  // pedigree row of each .fam person
  long markers_;
  LineReader bim_;
  std::vector<std::string_view> fields_;  // of the current .bim line
  std::ifstream bed_;
  std::vector<std::uint8_t> block_;
};

}  // namespace

std::unique_ptr<GenotypeSource> open_bed(const std::string& prefix, const tools::PedigreeFile& pedigree) {
  return std::make_unique<BedSource>(prefix, pedigree);
}

}  // namespace bravik::genotypes

// PLINK 1 binary fileset: the .fam tells which person each 2-bit slot of a
// .bed block belongs to, the .bim describes one marker per block.
#include <array>
#include <charconv>
#include <filesystem>
#include <fstream>

#include "genotypes/person_index.hpp"
#include "genotypes/sources.hpp"
#include "genotypes/text_lines.hpp"
#include "tools/pedfile/input_error.hpp"

namespace bravik::genotypes {
namespace {

constexpr std::array<unsigned char, 3> bed_header = {0x6c, 0x1b, 0x01};
// Marker code by the integer value of a 2-bit slot: 0 homozygous allele 1,
// 1 missing, 2 heterozygous, 3 homozygous allele 2.
constexpr std::array<std::uint8_t, 4> code_of_slot = {1, 0, 2, 3};
constexpr std::size_t absent = static_cast<std::size_t>(-1);

template <class Number>
Number parse_number(std::string_view text, const LineReader& reader, std::string_view what) {
  Number value{};
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size())
    throw tools::InputError(reader.at() + std::string(what) + " '" + std::string(text) + "' is not a number");
  return value;
}

// The pedigree row of each .fam line in order (`absent` for persons the
// pedigree lacks), with a note for each of those.
std::vector<std::size_t> rows_of_fam(const std::string& fam_path, const tools::PedigreeFile& pedigree,
                                     std::vector<std::string>& notes) {
  const PersonIndex index(pedigree);
  LineReader fam(fam_path, ".fam file");
  std::vector<std::string_view> fields;
  std::vector<std::size_t> rows;
  while (fam.next(fields)) {
    fam.expect_columns(fields, 6, "FID IID father mother sex trait");
    const auto row = index.find(fields[0], fields[1]);
    if (!row)
      notes.push_back(fam.at() + "family " + std::string(fields[0]) + ", person " + std::string(fields[1]) +
                      " is not in the pedigree " + pedigree.name + "; their genotypes are ignored");
    rows.push_back(row.value_or(absent));
  }
  return rows;
}

class BedSource final : public GenotypeSource {
 public:
  BedSource(const std::string& prefix, const tools::PedigreeFile& pedigree)
      : bed_path_(prefix + ".bed"),
        rows_(rows_of_fam(prefix + ".fam", pedigree, notes_)),
        markers_(count_field_lines(prefix + ".bim", ".bim file")),
        bim_(prefix + ".bim", ".bim file"),
        block_((rows_.size() + 3) / 4),
        pedigree_rows_(pedigree.rows.size()) {
    for (const std::size_t row : rows_) held_ += row != absent;
    open_checked();
  }

  bool next(MarkerInfo& info, std::span<std::uint8_t> codes) override {
    if (codes.size() != pedigree_rows_) throw std::invalid_argument("BedSource::next: one code per pedigree row is needed");
    std::vector<std::string_view> fields;
    if (!bim_.next(fields)) return false;
    read_marker_info(fields, info);
    read_block();
    decode(codes);
    return true;
  }
  std::size_t persons_held() const override { return held_; }
  std::vector<std::string> notes() const override { return notes_; }

 private:
  void open_checked() {
    bed_.open(bed_path_, std::ios::binary);
    if (!bed_) throw tools::InputError(bed_path_ + ": cannot open the .bed file");
    std::array<char, 3> header{};
    bed_.read(header.data(), header.size());
    for (std::size_t i = 0; i < header.size(); ++i)
      if (!bed_ || static_cast<unsigned char>(header[i]) != bed_header[i])
        throw tools::InputError(bed_path_ + ": byte " + std::to_string(i) + " is " + byte_text(bed_ ? header[i] : -1) +
                                ", expected " + byte_text(static_cast<char>(bed_header[i])) +
                                (i < 2 ? " (not a PLINK 1 .bed file)" : " (only the variant-major mode 0x01 is read)"));
    const auto size = std::filesystem::file_size(bed_path_);
    const auto expected = 3 + static_cast<std::uintmax_t>(markers_) * block_.size();
    if (size != expected)
      throw tools::InputError(bed_path_ + ": size " + std::to_string(size) + " bytes, expected " +
                              std::to_string(expected) + " = 3 + " + std::to_string(markers_) + " markers (.bim) x " +
                              std::to_string(block_.size()) + " bytes for " + std::to_string(rows_.size()) +
                              " persons (.fam)");
  }

  static std::string byte_text(int value) {
    if (value < 0) return "missing";
    static const char* const digits = "0123456789abcdef";
    const auto byte = static_cast<unsigned char>(value);
    return std::string("0x") + digits[byte >> 4] + digits[byte & 15];
  }

  void read_marker_info(const std::vector<std::string_view>& fields, MarkerInfo& info) const {
    bim_.expect_columns(fields, 6, "chromosome id cM bp allele1 allele2");
    info.chromosome.assign(fields[0]);
    info.id.assign(fields[1]);
    info.centimorgans = parse_number<double>(fields[2], bim_, "cM position");
    info.position = parse_number<long long>(fields[3], bim_, "bp position");
    info.allele1.assign(fields[4]);
    info.allele2.assign(fields[5]);
  }

  void read_block() {
    bed_.read(reinterpret_cast<char*>(block_.data()), static_cast<std::streamsize>(block_.size()));
    if (!bed_) throw tools::InputError(bed_path_ + ": ends before the block of " + bim_.at() + "marker");
  }

  void decode(std::span<std::uint8_t> codes) const {
    std::fill(codes.begin(), codes.end(), std::uint8_t{0});
    for (std::size_t i = 0; i < rows_.size(); ++i)
      if (rows_[i] != absent) codes[rows_[i]] = code_of_slot[(block_[i / 4] >> (2 * (i % 4))) & 3];
  }

  std::string bed_path_;
  std::vector<std::string> notes_;
  std::vector<std::size_t> rows_;  // pedigree row of each .fam person
  long markers_;
  LineReader bim_;
  std::ifstream bed_;
  std::vector<std::uint8_t> block_;
  std::size_t pedigree_rows_;
  std::size_t held_ = 0;
};

}  // namespace

std::unique_ptr<GenotypeSource> open_bed(const std::string& prefix, const tools::PedigreeFile& pedigree) {
  return std::make_unique<BedSource>(prefix, pedigree);
}

}  // namespace bravik::genotypes

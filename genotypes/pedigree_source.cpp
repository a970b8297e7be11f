// The project's pedigree file as a genotype source: its codes are read at
// once (the file holds at most N_LOCI markers), then handed out marker by
// marker in the rows of the scan's pedigree. An optional PLINK .map names and
// places the markers.
#include <optional>

#include "genotypes/person_index.hpp"
#include "genotypes/sources.hpp"
#include "genotypes/text_lines.hpp"
#include "pedfile/input_error.hpp"

namespace bravik::genotypes {
namespace {

class PedigreeFileSource final : public GenotypeSource {
 public:
  PedigreeFileSource(const std::string& path, const tools::PedigreeFile& pedigree, const std::string& map_path)
      : genotypes_(tools::read_pedigree_file(path)), rows_(pedigree.rows.size()) {
    match_rows(pedigree);
    if (!map_path.empty()) open_map(map_path);
  }

  bool next(MarkerInfo& info, std::span<std::uint8_t> codes) override {
    if (marker_ == genotypes_.markers) return false;
    describe(info);
    rows_.fill(codes, [this](std::size_t r) { return genotypes_.code(r, marker_); });
    ++marker_;
    return true;
  }

  std::size_t persons_held() const override { return rows_.persons_held(); }
  std::vector<std::string> notes() const override { return notes_; }

 private:
  void match_rows(const tools::PedigreeFile& pedigree) {
    const PersonIndex index(pedigree);
    for (const tools::PedigreeRow& row : genotypes_.rows) {
      const auto match = index.find(row.family, row.person);
      if (!match)
        notes_.push_back(genotypes_.where(row) + "not in the pedigree " + pedigree.name + "; genotypes ignored");
      rows_.add(match);
    }
  }

  void open_map(const std::string& map_path) {
    const long lines = count_field_lines(map_path, "map file");
    if (lines != genotypes_.markers)
      throw tools::InputError(map_path + ": " + std::to_string(lines) + " markers, but " + genotypes_.name + " has " +
                              std::to_string(genotypes_.markers));
    map_.emplace(map_path, "map file");
  }

  void describe(MarkerInfo& info) {
    info.allele1.assign(1, '1');
    info.allele2.assign(1, '2');
    if (!map_) {
      info.chromosome.assign(1, '0');
      info.id = std::to_string(marker_ + 1);
      info.centimorgans = 0;
      info.position = 0;
      return;
    }
    std::vector<std::string_view> fields;
    map_->next(fields);
    map_->expect_columns(fields, 4, "chromosome id cM bp");
    read_marker_place(*map_, fields, info);
  }

  tools::PedigreeFile genotypes_;
  RowMap rows_;  // pedigree row of each row of the genotype file
  std::vector<std::string> notes_;
  std::optional<LineReader> map_;
  int marker_ = 0;
};

}  // namespace

std::unique_ptr<GenotypeSource> open_pedigree_file(const std::string& path, const tools::PedigreeFile& pedigree,
                                                   const std::string& map_path) {
  return std::make_unique<PedigreeFileSource>(path, pedigree, map_path);
}

}  // namespace bravik::genotypes

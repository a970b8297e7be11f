// VCF and BCF through htslib: one record at a time, diploid GT of biallelic
// records turned into marker codes with ALT as allele 1 and REF as allele 2.
#include <htslib/hts.h>
#include <htslib/vcf.h>

#include <cstdlib>
#include <map>

#include "genotypes/person_index.hpp"
#include "genotypes/sources.hpp"
#include "pedfile/input_error.hpp"
#include "textio/message_text.hpp"

namespace bravik::genotypes {
namespace {

struct HtsFileCloser {
  void operator()(htsFile* file) const { hts_close(file); }
};
struct HeaderDestroyer {
  void operator()(bcf_hdr_t* header) const { bcf_hdr_destroy(header); }
};
struct RecordDestroyer {
  void operator()(bcf1_t* record) const { bcf_destroy(record); }
};
struct BufferFreer {
  void operator()(std::int32_t* buffer) const { std::free(buffer); }
};

// Code of one diploid call by the count of ALT alleles (allele 1): two -> 1,
// one -> 2, none -> 3; 0 when either allele is missing.
std::uint8_t code_of_call(std::int32_t first, std::int32_t second) {
  if (bcf_gt_is_missing(first) || bcf_gt_is_missing(second)) return 0;
  const int alt = (bcf_gt_allele(first) == 1) + (bcf_gt_allele(second) == 1);
  return static_cast<std::uint8_t>(3 - alt);
}

// A call of fewer than two alleles; a lone "." is a missing call instead.
bool is_short_call(std::int32_t first, std::int32_t second) {
  return first == bcf_int32_vector_end || (second == bcf_int32_vector_end && !bcf_gt_is_missing(first));
}

// An allele index the record does not have (only REF and ALT exist).
bool names_unknown_allele(std::int32_t value, int alleles) {
  return !bcf_gt_is_missing(value) && bcf_gt_allele(value) >= alleles;
}

class VcfSource final : public GenotypeSource {
 public:
  VcfSource(const std::string& path, const tools::PedigreeFile& pedigree)
      : path_(path), rows_(pedigree.rows.size()) {
    file_.reset(hts_open(path.c_str(), "r"));
    if (!file_) throw tools::InputError(path + ": cannot open the VCF/BCF file");
    header_.reset(bcf_hdr_read(file_.get()));
    if (!header_) throw tools::InputError(path + ": cannot read the VCF/BCF header");
    record_.reset(bcf_init());
    if (!record_) throw std::bad_alloc();
    check_genotype_field();
    match_samples(pedigree);
  }

  bool next(MarkerInfo& info, std::span<std::uint8_t> codes) override {
    while (read_record()) {
      if (record_->n_allele > 2) {
        ++multi_allelic_;
        continue;
      }
      const int values = genotype_values();
      if (values != 2 * bcf_hdr_nsamples(header_.get())) {
        ++not_diploid_;
        continue;
      }
      describe(info);
      decode(codes);
      return true;
    }
    return false;
  }

  std::size_t persons_held() const override { return rows_.persons_held(); }

  std::vector<SkippedRecords> skipped() const override {
    std::vector<SkippedRecords> out;
    if (multi_allelic_ > 0) out.push_back({"multi-allelic", multi_allelic_});
    if (not_diploid_ > 0) out.push_back({"not diploid", not_diploid_});
    return out;
  }

  std::vector<std::string> notes() const override {
    std::vector<std::string> out = sample_notes_;
    if (not_diploid_ > 0)
      out.push_back(path_ + ": calls not diploid: " + std::to_string(not_diploid_) + " records skipped");
    if (short_calls_ > 0)
      out.push_back(path_ + ": haploid calls in diploid records: " + std::to_string(short_calls_) + " read as untyped");
    return out;
  }

 private:
  void check_genotype_field() const {
    const int id = bcf_hdr_id2int(header_.get(), BCF_DT_ID, "GT");
    if (!bcf_hdr_idinfo_exists(header_.get(), BCF_HL_FMT, id))
      throw tools::InputError(path_ + ": the header declares no FORMAT field GT; genotypes are read from GT");
    if (bcf_hdr_nsamples(header_.get()) == 0) throw tools::InputError(path_ + ": the file holds no samples");
  }

  // Two samples that resolve to one person are refused: one would silently
  // overwrite the other.
  void match_samples(const tools::PedigreeFile& pedigree) {
    const PersonIndex index(pedigree);
    MatchTally tally(path_, "sample", MatchTally::Rule::sample_name);
    std::map<std::size_t, std::string> sample_of_row;
    const int samples = bcf_hdr_nsamples(header_.get());
    for (int s = 0; s < samples; ++s) {
      const std::string name = header_->samples[s];
      const auto row = index.find_sample(name);
      if (row && !sample_of_row.emplace(*row, name).second)
        throw tools::InputError(path_ + ": samples " + textio::short_text(sample_of_row[*row]) + " and " +
                                textio::short_text(name) + " are both family " +
                                textio::short_text(pedigree.rows[*row].family) + ", person " +
                                textio::short_text(pedigree.rows[*row].person) + " of " + pedigree.name +
                                "; keep one of them (bcftools view -s) or rename the other");
      tally.add(name, row.has_value());
      rows_.add(row);
    }
    sample_notes_ = tally.notes(pedigree, rows_.persons_held());
  }

  // The next record; false at the end. Throws for a record htslib rejects.
  bool read_record() {
    const int status = bcf_read(file_.get(), header_.get(), record_.get());
    if (status == -1) return false;
    ++records_;
    // A contig or tag missing from the header is added to it by htslib, as
    // other readers do; every other error stops.
    const int fatal = record_->errcode & ~(BCF_ERR_CTG_UNDEF | BCF_ERR_TAG_UNDEF);
    if (status < -1 || fatal != 0)
      throw tools::InputError(path_ + ": record " + std::to_string(records_) + ": htslib cannot read it (error " +
                              std::to_string(status < -1 ? status : fatal) + ")");
    if (bcf_unpack(record_.get(), BCF_UN_STR) < 0 || record_->n_allele < 1)
      throw tools::InputError(path_ + ": record " + std::to_string(records_) + ": cannot read its alleles");
    return true;
  }

  // The number of GT values of the record; throws when it has none. GT
  // values that are not integers (a damaged FORMAT such as ":GT") are refused
  // here: htslib would end the program on them.
  int genotype_values() {
    const bcf_fmt_t* gt = bcf_get_fmt(header_.get(), record_.get(), "GT");
    if (gt != nullptr && gt->type != BCF_BT_INT8 && gt->type != BCF_BT_INT16 && gt->type != BCF_BT_INT32)
      throw tools::InputError(path_ + ": record " + std::to_string(records_) + " (" + place() +
                              "): its GT values are not stored as integers (type " + std::to_string(gt->type) +
                              "); is its FORMAT column damaged?");
    std::int32_t* buffer = genotypes_.release();
    const int values = bcf_get_genotypes(header_.get(), record_.get(), &buffer, &capacity_);
    genotypes_.reset(buffer);
    if (values <= 0)
      throw tools::InputError(path_ + ": record " + std::to_string(records_) + " (" + place() + "): no GT values");
    return values;
  }

  std::string place() const {
    return std::string(bcf_seqname_safe(header_.get(), record_.get())) + ":" + std::to_string(record_->pos + 1) +
           " " + record_->d.id;
  }

  void describe(MarkerInfo& info) const {
    info.chromosome = bcf_seqname_safe(header_.get(), record_.get());
    info.position = record_->pos + 1;
    info.centimorgans = 0;
    info.id = record_->d.id;
    info.allele2 = record_->d.allele[0];
    info.allele1 = record_->n_allele > 1 ? record_->d.allele[1] : ".";
  }

  void decode(std::span<std::uint8_t> codes) {
    const std::int32_t* gt = genotypes_.get();
    rows_.fill(codes, [this, gt](std::size_t s) {
      const std::int32_t first = gt[2 * s];
      const std::int32_t second = gt[2 * s + 1];
      if (is_short_call(first, second)) {
        ++short_calls_;
        return std::uint8_t{0};
      }
      if (names_unknown_allele(first, record_->n_allele) || names_unknown_allele(second, record_->n_allele))
        throw tools::InputError(path_ + ": record " + std::to_string(records_) + " (" + place() + "): sample " +
                                header_->samples[s] + ": GT names an allele the record does not have");
      return code_of_call(first, second);
    });
  }

  std::string path_;
  RowMap rows_;  // pedigree row of each sample
  std::unique_ptr<htsFile, HtsFileCloser> file_;
  std::unique_ptr<bcf_hdr_t, HeaderDestroyer> header_;
  std::unique_ptr<bcf1_t, RecordDestroyer> record_;
  std::unique_ptr<std::int32_t, BufferFreer> genotypes_;
  int capacity_ = 0;
  std::vector<std::string> sample_notes_;
  long records_ = 0;
  long multi_allelic_ = 0;
  long not_diploid_ = 0;
  long short_calls_ = 0;  // of fewer than two alleles in a diploid record
};

}  // namespace

std::unique_ptr<GenotypeSource> open_vcf(const std::string& path, const tools::PedigreeFile& pedigree) {
  return std::make_unique<VcfSource>(path, pedigree);
}

}  // namespace bravik::genotypes

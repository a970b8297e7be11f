#pragma once
// Genotype sources of a genome-wide scan: PLINK 1 binary files, VCF/BCF and
// the project's pedigree file, behind one interface that yields, marker by
// marker, the codes of the pedigree's persons. Nothing here holds all markers
// at once; the rest of the scan never knows which source it reads.
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "pedfile/pedigree_file.hpp"

namespace bravik::genotypes {

// Where a marker sits and which allele is which. Allele 1 is the allele whose
// homozygote is code 1: the .bim's first allele (A1), the VCF's ALT allele.
struct MarkerInfo {
  std::string chromosome;    // as the source writes it ("1", "chr1", "X", "23")
  long long position = 0;    // base pairs; 0 when not known
  double centimorgans = 0;   // genetic position; 0 when not known
  std::string id;            // the source's variant id; "." when it has none
  std::string allele1 = "1";
  std::string allele2 = "2";
};

// Records a source passed over, by reason ("multi-allelic", "not diploid"...).
struct SkippedRecords {
  std::string reason;
  long count = 0;
};

// Marker codes as the analysis reads them: 0 untyped, 1 = 11, 2 = 12, 3 = 22.
class GenotypeSource {
 public:
  virtual ~GenotypeSource() = default;
  // Reads the next marker: its description and one code per row of the
  // pedigree the source was opened with, in the order of its rows (a person
  // the source does not hold is 0). Returns false after the last marker.
  // Throws tools::InputError naming the file and record of bad data.
  virtual bool next(MarkerInfo& info, std::span<std::uint8_t> codes) = 0;
  // Persons of the pedigree the source holds genotypes for: the share of
  // missing calls of a marker is taken among them, not among persons the
  // source never typed.
  virtual std::size_t persons_held() const = 0;
  // Records passed over so far, for the summary of a scan.
  virtual std::vector<SkippedRecords> skipped() const { return {}; }
  // Notes for standard error (samples matched to no person, ...).
  virtual std::vector<std::string> notes() const { return {}; }
};

}  // namespace bravik::genotypes

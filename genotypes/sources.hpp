#pragma once
// Opening the genotype sources of a scan. Each source is matched to the rows
// of a pedigree read beforehand (see pedigree_input.hpp): persons of the
// pedigree that the source lacks are untyped, persons of the source that the
// pedigree lacks are passed over with a note.
#include <memory>
#include <string>

#include "genotypes/source.hpp"
#include "pedfile/pedigree_file.hpp"

namespace bravik::genotypes {

// PLINK 1 binary fileset PREFIX.bed/.bim/.fam. Checks the magic bytes
// 0x6c 0x1b, the variant-major mode 0x01 and the size 3 + V * ceil(N / 4) at
// once; reads one block of the .bed and one .bim line per marker. Persons are
// matched by FID and IID. Allele 1 is the .bim's first allele (column 5).
// Throws tools::InputError naming the file, line or byte offset and value.
std::unique_ptr<GenotypeSource> open_bed(const std::string& prefix, const tools::PedigreeFile& pedigree);

// VCF or BCF (plain or compressed), read through htslib record by record.
// Biallelic records only (others are skipped and counted); diploid GT, phased
// or not (records of other ploidy are skipped and counted, a haploid call in
// a diploid record is untyped and noted). Samples match a person by IID, or
// by FID_IID as PLINK writes them. Allele 1 is ALT, allele 2 REF. Throws
// tools::InputError for a file htslib cannot read or a header without GT.
std::unique_ptr<GenotypeSource> open_vcf(const std::string& path, const tools::PedigreeFile& pedigree);

// The project's pedigree file with marker columns; persons matched by family
// and person id. Markers are named by an optional PLINK .map (chromosome, id,
// cM, bp; one line per marker); without one, chromosome "0", id the marker's
// number from 1, position 0. Alleles are "1" and "2".
std::unique_ptr<GenotypeSource> open_pedigree_file(const std::string& path, const tools::PedigreeFile& pedigree,
                                                   const std::string& map_path = "");

}  // namespace bravik::genotypes

#pragma once
// The pedigree and the trait of a scan, without genotypes: from a PLINK .fam,
// from the project's pedigree file (its marker columns, if any, are left
// aside), and the trait optionally replaced from a phenotype table. The
// structure (persons listed twice, parents outside the family, ...) is checked
// afterwards by tools::prepare_structure, as for any pedigree file.
#include <optional>
#include <string>

#include "pedfile/pedigree_file.hpp"

namespace bravik::genotypes {

// How a trait value reads as "not measured". Besides `missing_value`, the
// tokens NA, x and . and any value of -998 or below are always missing.
struct TraitOptions {
  double missing_value = tools::plink_missing_trait;  // --missing-phenotype
  std::string pheno_path;         // --pheno: table "FID IID name..." with a header line; empty = none
  std::string pheno_name;         // --pheno-name: the column of the table that holds the trait
};

// Reads a .fam: six columns a line (FID IID father mother sex trait). Throws
// tools::InputError naming the file, line and value of every bad row.
// The result has markers = 0.
tools::PedigreeFile read_fam(const std::string& path, const TraitOptions& options);

// Reads the project's pedigree file; marker columns, when present, are
// dropped (markers = 0), so that one file can serve as pedigree and source.
tools::PedigreeFile read_pedigree_only(const std::string& path, const TraitOptions& options);

// Replaces every person's trait by the column `options.pheno_name` of the
// table `options.pheno_path`, matched by FID and IID; persons the table lacks
// become not measured. Throws tools::InputError naming the file, line and
// value for an unknown column name, a row with the wrong number of columns,
// a value that is not a number, or a person listed twice.
void apply_pheno_table(tools::PedigreeFile& pedigree, const TraitOptions& options);

// The pedigree of a scan as the options describe it: `read_fam` or
// `read_pedigree_only` by `path`'s kind (`is_fam`), then the phenotype table
// when one is named.
tools::PedigreeFile load_pedigree(const std::string& path, bool is_fam, const TraitOptions& options);

}  // namespace bravik::genotypes

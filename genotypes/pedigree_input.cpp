#include "genotypes/pedigree_input.hpp"

#include <algorithm>
#include <set>

#include "genotypes/person_index.hpp"
#include "genotypes/text_lines.hpp"
#include "pedfile/input_error.hpp"

namespace bravik::genotypes {
namespace {

constexpr std::string_view fam_layout = "FID IID father mother sex trait";

void expect_fam_columns(const std::string& path) {
  LineReader fam(path, ".fam file");
  std::vector<std::string_view> fields;
  while (fam.next(fields)) fam.expect_columns(fields, 6, fam_layout);
}

// The header's column of the trait; throws naming the table and the name.
std::size_t trait_column(const LineReader& table, const std::vector<std::string_view>& header,
                         const std::string& name) {
  const bool has_ids = header.size() >= 2 && (header[0] == "FID" || header[0] == "#FID") && header[1] == "IID";
  if (!has_ids) throw tools::InputError(table.at() + "the header must start with FID IID, read '" +
                                        std::string(header[0]) + "'");
  const auto column = std::find(header.begin() + 2, header.end(), name);
  if (column != header.end()) return static_cast<std::size_t>(column - header.begin());
  std::string names;
  for (std::size_t c = 2; c < header.size(); ++c) {
    if (c > 2) names += ", ";
    names += header[c];
  }
  throw tools::InputError(table.at() + "no column '" + name + "' in the header (columns: " + names + ")");
}

}  // namespace

tools::PedigreeFile read_fam(const std::string& path, const TraitOptions& options) {
  expect_fam_columns(path);
  tools::PedigreeFile pedigree = tools::read_pedigree_file(path);
  tools::mark_missing_traits(pedigree, options.missing_value);
  return pedigree;
}

tools::PedigreeFile read_pedigree_only(const std::string& path, const TraitOptions& options) {
  tools::PedigreeFile pedigree = tools::read_pedigree_file(path);
  pedigree.markers = 0;
  pedigree.codes.clear();
  tools::mark_missing_traits(pedigree, options.missing_value);
  return pedigree;
}

void apply_pheno_table(tools::PedigreeFile& pedigree, const TraitOptions& options) {
  LineReader table(options.pheno_path, "phenotype table");
  std::vector<std::string_view> fields;
  if (!table.next(fields)) throw tools::InputError(options.pheno_path + ": the phenotype table is empty");
  const std::size_t columns = fields.size();
  const std::size_t column = trait_column(table, fields, options.pheno_name);

  for (tools::PedigreeRow& row : pedigree.rows) row.trait.reset();
  const PersonIndex index(pedigree);
  std::set<std::size_t> seen;
  tools::Diagnostics errors;
  while (table.next(fields)) {
    if (fields.size() != columns) {
      errors.add(table.at() + "expected " + std::to_string(columns) + " columns (as the header), read " +
                 std::to_string(fields.size()));
      continue;
    }
    const auto row = index.find(fields[0], fields[1]);
    if (!row) continue;  // persons outside the pedigree do not take part
    if (!seen.insert(*row).second) {
      errors.add(table.at() + "family " + std::string(fields[0]) + ", person " + std::string(fields[1]) +
                 " is listed twice");
      continue;
    }
    std::string error;
    std::optional<double> trait = tools::parse_trait(fields[column], error);
    if (!error.empty()) errors.add(table.at() + "column " + options.pheno_name + ": " + error);
    if (trait == options.missing_value) trait.reset();
    pedigree.rows[*row].trait = trait;
  }
  errors.throw_if_any();
}

tools::PedigreeFile load_pedigree(const std::string& path, bool is_fam, const TraitOptions& options) {
  tools::PedigreeFile pedigree = is_fam ? read_fam(path, options) : read_pedigree_only(path, options);
  if (!options.pheno_path.empty()) apply_pheno_table(pedigree, options);
  return pedigree;
}

}  // namespace bravik::genotypes

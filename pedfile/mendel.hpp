#pragma once
// Mendelian consistency of the marker genotypes within each family.
#include <string>
#include <vector>

#include "pedfile/pedigree_file.hpp"
#include "pedfile/structure.hpp"

namespace bravik::tools {

// Checks every marker of every family by genotype elimination over its
// nuclear families (complete for pedigrees without loops). Each inconsistency
// is named by marker, family and the members of the nuclear family where it
// shows, with their genotypes. With `untype` false the check throws
// InputError listing them all; with `untype` true the genotypes of that
// nuclear family are set untyped at that marker (in `file`) and the check
// goes on; the returned notes say what was untyped, and `resets`, when given,
// receives per marker the number of nuclear families set untyped.
std::vector<std::string> check_mendelian(PedigreeFile& file, const PreparedPedigree& ped, bool untype,
                                         std::vector<int>* resets = nullptr);

}  // namespace bravik::tools

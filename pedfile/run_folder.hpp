#pragma once
// Writes the input files of an analysis run from a prepared pedigree.
#include <filesystem>
#include <string>
#include <vector>

#include "pedfile/pedigree_file.hpp"
#include "pedfile/structure.hpp"

namespace bravik::tools {

// Longest names that both programs read whole from task.inp.
inline constexpr std::size_t max_phenotype_name = 10;
inline constexpr std::size_t max_file_name = 15;

struct RunFileNames {
  std::string phenotypes = "phen.dat";
  std::string markers = "mark.dat";
  std::string lod = "lod.out";
  std::string estimates = "est.out";
  std::string id_table = "ids.txt";
};

// Throws InputError when a name does not fit its task.inp field or holds a
// blank, comma, slash or quote (which would end a plain name early).
void check_run_file_names(const RunFileNames& names);

// The pedigree description in the record layout of IWAY.DAT.
struct Description {
  int nfam = 0;
  std::vector<int> ifst;  // ifst(1..N+1), stored from index 0
  std::vector<int> inuc;  // inuc(1..N+1)
  std::vector<int> imem;  // imem(0..M-1)
  std::vector<int> mem;   // mem(0..K-1), family-local numbers from 1
  std::vector<int> icon;  // icon(1..M-2)
  int persons = 0;
};
Description describe_pedigree(const PreparedPedigree& ped);

// Writes the marker file: the marker count, then one line of codes per person
// in the order of the prepared families.
void write_marker_file(const std::filesystem::path& path, const PedigreeFile& file, const PreparedPedigree& ped);

// Writes IWAY.DAT, the phenotype and marker files, task.inp, par.inp (starting
// values from the measured traits), maxpar.inp and the table of global person
// numbers with their family and person ids, into `folder` (created if needed).
void write_run_folder(const std::filesystem::path& folder, const PedigreeFile& file, const PreparedPedigree& ped,
                      const RunFileNames& names);

}  // namespace bravik::tools

// bravik_prep: turns a standard pedigree file into the input folder of an
// analysis run (IWAY.DAT in peeling order, phenotypes, markers, task.inp,
// par.inp, maxpar.inp and the table of person numbers).
#include <chrono>
#include <iostream>

#include "pedfile/command_line.hpp"
#include "pedfile/input_error.hpp"
#include "pedfile/mendel.hpp"
#include "pedfile/pedigree_file.hpp"
#include "pedfile/run_folder.hpp"
#include "pedfile/structure.hpp"
#include "textio/message_text.hpp"

namespace {

using namespace bravik::tools;

struct PrepSettings {
  PeelingOptions peeling;
  RunFileNames names;
  bool untype_inconsistent = false;
  double missing_phenotype = plink_missing_trait;
  bool quiet = false;
};

CommandLine prep_command_line(PrepSettings& s) {
  CommandLine cl("bravik_prep", "[options] PEDIGREE_FILE OUTPUT_FOLDER",
                 "Reads a pedigree file (family person father mother sex trait, then two alleles per\n"
                 "marker; 0 = parent not in the pedigree; trait -9, x, NA, . or <= -998 = missing;\n"
                 "alleles 1 or 2, 0 0 = untyped) and writes the input files of an analysis run into the folder.");
  add_peeling_options(cl, s.peeling);
  cl.option("--untype-inconsistent", "",
            "set a nuclear family untyped at a marker where it breaks Mendelian inheritance, instead of stopping",
            [&s](std::string_view) { s.untype_inconsistent = true; });
  cl.option("--missing-phenotype", "VALUE", "trait value that means not measured (default -9), besides x, NA, . and <= -998",
            [&s](std::string_view v) { s.missing_phenotype = parse_real(v, "missing phenotype"); });
  cl.option("--phenotypes", "NAME", "phenotype file name, at most 10 characters (default phen.dat)",
            [&s](std::string_view v) { s.names.phenotypes = v; });
  cl.option("--markers", "NAME", "marker file name, at most 15 characters (default mark.dat)",
            [&s](std::string_view v) { s.names.markers = v; });
  cl.option("--lod", "NAME", "LOD result file named in task.inp (default lod.out)",
            [&s](std::string_view v) { s.names.lod = v; });
  cl.option("--estimates", "NAME", "estimate file named in task.inp (default est.out)",
            [&s](std::string_view v) { s.names.estimates = v; });
  cl.option("--ids", "NAME", "table of global person numbers and ids (default ids.txt)",
            [&s](std::string_view v) { s.names.id_table = v; });
  cl.option("--quiet", "", "no notes and no summary line", [&s](std::string_view) { s.quiet = true; });
  return cl;
}

int prep(const std::vector<std::string>& args) {
  PrepSettings settings;
  CommandLine cl = prep_command_line(settings);
  const std::vector<std::string> paths = cl.parse(args);
  if (cl.help_requested()) {
    std::cout << cl.usage();
    return 0;
  }
  if (paths.size() != 2) throw InputError("expected PEDIGREE_FILE and OUTPUT_FOLDER\n" + cl.usage());
  check_run_file_names(settings.names);

  const auto start = std::chrono::steady_clock::now();
  PedigreeFile file = read_pedigree_file(paths[0]);
  mark_missing_traits(file, settings.missing_phenotype);
  const PreparedPedigree ped = prepare_structure(file, settings.peeling);
  const std::vector<std::string> mendel_notes = check_mendelian(file, ped, settings.untype_inconsistent);
  write_run_folder(paths[1], file, ped, settings.names);
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;

  if (!settings.quiet) {
    for (const std::string& note : ped.notes) std::cerr << "note: " << note << '\n';
    for (const std::string& note : mendel_notes) std::cerr << "note: " << note << '\n';
    std::size_t nuclear = 0;
    for (const Family& f : ped.families) nuclear += f.nuclear.size();
    std::cout << "bravik_prep: " << ped.families.size() << " families, " << ped.persons() << " persons, " << nuclear
              << " nuclear families, " << file.markers << " markers written to " << paths[1] << " in "
              << elapsed.count() << " s\n";
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return run_tool("bravik_prep", [&] { return prep(args); });
}

#include "scan/chunk_setup.hpp"

#include <fstream>
#include <sstream>

#include "pedfile/input_error.hpp"
#include "pedfile/mendel.hpp"
#include "pedfile/run_folder.hpp"
#include "results/text_file.hpp"
#include "scan/packed_genotypes.hpp"
#include "scan/process.hpp"

namespace bravik::scan {
namespace {

void fill_codes(tools::PedigreeFile& file, const std::vector<std::size_t>& order, const PackedGenotypeBlock& block) {
  for (std::size_t i = 0; i < order.size(); ++i)
    for (int m = 0; m < file.markers; ++m) file.code(order[i], m) = block.code(static_cast<std::size_t>(m), i);
}

std::string mendel_table(const tools::PedigreeFile& file, const std::vector<int>& resets) {
  std::ostringstream out;
  out << "marker\tmendel_reset\ttyped\n";
  for (int m = 0; m < file.markers; ++m) {
    long typed = 0;
    for (std::size_t row = 0; row < file.rows.size(); ++row) typed += file.code(row, m) != 0;
    out << m + 1 << '\t' << resets[static_cast<std::size_t>(m)] << '\t' << typed << '\n';
  }
  return out.str();
}

}  // namespace

void write_text(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) throw tools::InputError(path.string() + ": cannot write the file");
}

void copy_shared_inputs(const ScanFolder& folder, const fs::path& dir) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder.input(), ec)) {
    if (!entry.is_regular_file()) continue;
    fs::copy_file(entry.path(), dir / entry.path().filename(), fs::copy_options::overwrite_existing, ec);
    if (ec) throw tools::InputError(entry.path().string() + ": cannot copy into " + dir.string() + ": " + ec.message());
  }
  if (ec) throw tools::InputError(folder.input().string() + ": cannot read the shared inputs: " + ec.message());
}

fs::path analysis_program(AnalysisMode mode) {
  return own_folder() / (mode == AnalysisMode::fixed ? "bravik_2point" : "bravik_2point_max");
}

std::vector<std::string> analysis_arguments(AnalysisMode mode) {
  if (mode == AnalysisMode::robust) return {"--robust"};
  return {};
}

std::vector<std::string> data_chunk_arguments(AnalysisMode mode, const ScanFolder& folder) {
  std::vector<std::string> arguments = analysis_arguments(mode);
  if (mode != AnalysisMode::robust) return arguments;
  arguments.insert(arguments.end(), {"--standard-errors", "se.tsv"});
  if (!fs::exists(folder.theta_grid())) return arguments;
  std::istringstream grid(results::read_text_file(folder.theta_grid().string(), "theta grid"));
  std::string list;
  grid >> list;
  arguments.insert(arguments.end(), {"--theta-grid", list, "--theta-table", "lod_theta.tsv"});
  return arguments;
}

void set_up_chunk(const ScanFolder& folder, const Plan& plan, const Chunk& chunk, const fs::path& dir,
                  const CodeReplacement& replace) {
  copy_shared_inputs(folder, dir);
  tools::PedigreeFile file = tools::read_pedigree_file(folder.pedigree().string());
  const tools::PreparedPedigree ped = tools::prepare_structure(file, plan.peeling);
  if (static_cast<long>(ped.persons()) != plan.persons)
    throw tools::InputError(folder.pedigree().string() + ": holds " + std::to_string(ped.persons()) +
                            " persons, the plan " + std::to_string(plan.persons));
  file.markers = static_cast<int>(chunk.size());
  file.codes.assign(file.rows.size() * static_cast<std::size_t>(file.markers), 0);
  const std::vector<std::size_t> order = pedigree_order(ped);
  const PackedGenotypeBlock block(folder.genotypes(), order.size(), static_cast<std::size_t>(plan.markers),
                                  static_cast<std::size_t>(chunk.first - 1), static_cast<std::size_t>(chunk.size()));
  fill_codes(file, order, block);
  std::vector<int> resets;
  tools::check_mendelian(file, ped, true, &resets);
  if (replace) replace(file, ped, order);
  tools::write_marker_file(dir / "mark.dat", file, ped);
  write_text(dir / "mendel.tsv", mendel_table(file, resets));
}

}  // namespace bravik::scan

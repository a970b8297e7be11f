#include "scan/prepare.hpp"

#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

#include "pedfile/input_error.hpp"
#include "pedfile/run_folder.hpp"
#include "scan/genome_plot.hpp"
#include "scan/layout.hpp"
#include "scan/marker_table.hpp"
#include "scan/packed_genotypes.hpp"
#include "scan/plan.hpp"

namespace bravik::scan {
namespace {

MarkerRow row_of(const genotypes::MarkerInfo& info, std::span<const std::uint8_t> codes) {
  const genotypes::AlleleCount count = genotypes::count_alleles(codes);
  MarkerRow row{info.chromosome, info.position, info.centimorgans, info.id, info.allele1, info.allele2, {},
                static_cast<long>(count.typed)};
  if (count.typed > 0) row.frequency = count.allele1_frequency;
  return row;
}

std::string place_of(const MarkerRow& row) { return row.chromosome + ":" + std::to_string(row.position.value_or(0)); }

void check_theta_grid(const std::string& text) {
  try {
    textio::parse_theta_grid(text);
  } catch (const std::invalid_argument& e) {
    throw tools::InputError(std::string("--theta-grid: ") + e.what());
  }
}

void start_folder(const ScanFolder& folder) {
  if (fs::exists(folder.plan()))
    throw tools::InputError(folder.root.string() + ": holds a prepared scan already (" + folder.plan().string() +
                            "); remove the folder or choose another");
  std::error_code ec;
  fs::create_directories(folder.chunks(), ec);
  if (ec) throw tools::InputError(folder.chunks().string() + ": cannot create the folder: " + ec.message());
}

tools::PedigreeFile without_markers(const tools::PedigreeFile& persons) {
  tools::PedigreeFile rows{persons.name, 0, persons.rows, {}};
  return rows;
}

void write_shared_inputs(const ScanFolder& folder, const tools::PedigreeFile& rows, const tools::PreparedPedigree& ped,
                         const PrepareSettings& settings) {
  const tools::RunFileNames names;
  tools::write_run_folder(folder.input(), rows, ped, names);
  fs::remove(folder.input() / names.markers);  // each chunk writes its own
  const auto replace = [&](const fs::path& from, const char* name) {
    if (from.empty()) return;
    std::error_code ec;
    fs::copy_file(from, folder.input() / name, fs::copy_options::overwrite_existing, ec);
    if (ec) throw tools::InputError(from.string() + ": cannot copy to " + (folder.input() / name).string() + ": " +
                                    ec.message());
  };
  replace(settings.par, "par.inp");
  replace(settings.maxpar, "maxpar.inp");
  if (settings.theta_grid != "none") write_file_atomically(folder.theta_grid(), settings.theta_grid + "\n");
  std::ofstream out(folder.pedigree(), std::ios::binary | std::ios::trunc);
  tools::write_pedigree_file(out, rows);
  if (!out) throw tools::InputError(folder.pedigree().string() + ": cannot write the file");
}

struct StreamedMarkers {
  long read = 0;
  std::vector<std::string> places;                    // "chr:pos" of each kept marker
  std::map<genotypes::MarkerDecision, long> dropped;  // by reason
  long out_of_order = 0;                              // kept markers placed before the one kept ahead of them
};

bool placed_before(const MarkerRow& a, const MarkerRow& b) {
  if (a.chromosome != b.chromosome) return chromosome_before(a.chromosome, b.chromosome);
  return a.position.value_or(0) < b.position.value_or(0);
}

StreamedMarkers stream_markers(const ScanFolder& folder, genotypes::GenotypeSource& source, std::size_t rows,
                               const std::vector<std::size_t>& order, const genotypes::MarkerFilter& filter) {
  const genotypes::MarkerSelection selection(filter, source.persons_held());
  PackedGenotypeWriter writer(folder.genotypes(), order.size());
  std::ofstream table(folder.markers(), std::ios::binary | std::ios::trunc);
  table << marker_table_header << '\n';
  std::vector<std::uint8_t> codes(rows);
  genotypes::MarkerInfo info;
  StreamedMarkers streamed;
  std::optional<MarkerRow> previous;
  while (source.next(info, codes)) {
    ++streamed.read;
    const genotypes::MarkerDecision decision = selection.decide(info, codes);
    if (decision != genotypes::MarkerDecision::keep) {
      ++streamed.dropped[decision];
      continue;
    }
    const MarkerRow row = row_of(info, codes);
    writer.append(codes, order);
    table << marker_table_line(row) << '\n';
    streamed.places.push_back(place_of(row));
    streamed.out_of_order += previous && placed_before(row, *previous);
    previous = row;
  }
  writer.close();
  table.close();
  if (!table) throw tools::InputError(folder.markers().string() + ": writing failed");
  return streamed;
}

std::string summary_text(const tools::PreparedPedigree& ped, const StreamedMarkers& streamed,
                         const genotypes::GenotypeSource& source, const Plan& plan) {
  std::size_t nuclear = 0;
  for (const tools::Family& f : ped.families) nuclear += f.nuclear.size();
  std::ostringstream out;
  out << "persons " << ped.persons() << "\nfamilies " << ped.families.size() << "\nnuclear_families " << nuclear
      << "\nmarkers_read " << streamed.read << "\nmarkers_kept " << plan.markers << '\n';
  for (const auto& [decision, count] : streamed.dropped)
    out << "dropped " << count << ' ' << genotypes::decision_name(decision) << '\n';
  for (const genotypes::SkippedRecords& s : source.skipped()) out << "skipped " << s.count << ' ' << s.reason << '\n';
  out << "chunks " << plan.chunks.size() << " of at most " << plan.chunk_size << " markers\n";
  for (const std::string& note : ped.notes) out << "note: " << note << '\n';
  for (const std::string& note : source.notes()) out << "note: " << note << '\n';
  if (streamed.out_of_order > 0)
    out << "note: " << streamed.out_of_order
        << " markers come before the marker read ahead of them in genome order; chunks and results keep the order of "
           "the source\n";
  return out.str();
}

}  // namespace

std::string prepare_scan(const tools::PedigreeFile& persons, genotypes::GenotypeSource& source,
                         const PrepareSettings& settings, const fs::path& out) {
  const ScanFolder folder{out};
  check_theta_grid(settings.theta_grid);
  const tools::PedigreeFile rows = without_markers(persons);
  const tools::PreparedPedigree ped = tools::prepare_structure(rows, settings.peeling);
  start_folder(folder);
  const StreamedMarkers streamed = stream_markers(folder, source, rows.rows.size(), pedigree_order(ped), settings.filter);
  if (streamed.places.empty()) throw tools::InputError("no marker is left to analyse");
  write_shared_inputs(folder, rows, ped, settings);

  Plan plan;
  plan.persons = static_cast<long>(ped.persons());
  plan.families = static_cast<long>(ped.families.size());
  plan.markers = static_cast<long>(streamed.places.size());
  plan.chunk_size = settings.chunk_size;
  plan.peeling = settings.peeling;
  plan.chunks = cut_into_chunks(plan.markers, plan.chunk_size,
                                [&](long m) { return streamed.places[static_cast<std::size_t>(m - 1)]; });
  const std::string summary = summary_text(ped, streamed, source, plan);
  write_file_atomically(folder.summary(), summary);
  write_file_atomically(folder.plan(), plan_text(plan));
  return summary;
}

}  // namespace bravik::scan

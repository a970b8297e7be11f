#include "scan/prepare.hpp"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "pedfile/input_error.hpp"
#include "pedfile/run_folder.hpp"
#include "scan/genome_plot.hpp"
#include "scan/file_record.hpp"
#include "scan/layout.hpp"
#include "scan/marker_table.hpp"
#include "scan/packed_genotypes.hpp"
#include "scan/plan.hpp"
#include "scan/process.hpp"
#include "scan/task.hpp"
#include "scan/trait_notes.hpp"

namespace bravik::scan {
namespace {

MarkerRow row_of(const genotypes::MarkerInfo& info, std::span<const std::uint8_t> codes) {
  const genotypes::AlleleCount count = genotypes::count_alleles(codes);
  MarkerRow row{info.chromosome, info.position, info.centimorgans, info.id, info.allele1, info.allele2, {},
                static_cast<long>(count.typed)};
  if (count.typed > 0) row.frequency = count.allele1_frequency;
  return row;
}

// "chr:pos" as one word of the plan: a blank in a chromosome name (a VCF
// contig may hold one) becomes '_'.
std::string place_of(const MarkerRow& row) {
  std::string place = row.chromosome + ":" + std::to_string(row.position.value_or(0));
  std::replace_if(place.begin(), place.end(), [](unsigned char c) { return std::isspace(c) != 0; }, '_');
  return place;
}

void check_theta_grid(const std::string& text) {
  try {
    textio::parse_theta_grid(text);
  } catch (const std::invalid_argument& e) {
    throw tools::InputError(std::string("--theta-grid: ") + e.what());
  }
}

// A folder with the plan, the chunks, the failures, the mode or the results
// of a scan is refused: they belong to another preparation, and a new plan
// beside them would mix two scans.
void start_folder(const ScanFolder& folder) {
  std::error_code ec;
  const bool chunks_held = fs::exists(folder.chunks()) && !fs::is_empty(folder.chunks(), ec);
  for (const fs::path& held : {folder.plan(), folder.failures(), folder.mode(), folder.results_table(),
                               folder.results_plot()})
    if (fs::exists(held) || chunks_held)
      throw tools::InputError(folder.root.string() + ": holds a prepared scan already (" +
                              (chunks_held ? folder.chunks() : held).string() +
                              "); remove the folder or choose another");
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

// The program's complaint without its notes on the empty marker file.
std::string complaint_of(const std::string& errors) {
  std::string text;
  std::istringstream in(errors);
  for (std::string line; std::getline(in, line);)
    if (line.rfind("warning: ", 0) != 0 && line.rfind("no marker was analysed", 0) != 0) text += "\n  " + line;
  return text;
}

// Runs the analysis program on a copy of the shared inputs with no marker: it
// reads par.inp and maxpar.inp with its own checks, which name the file, the
// line and the value of the first fault. Every chunk would fail on them.
void check_run_inputs(const ScanFolder& folder, const PrepareSettings& settings) {
  if (settings.input_checker.empty()) return;
  const fs::path dir = folder.root / ".input-check";
  std::error_code ec;
  fs::remove_all(dir, ec);
  fs::create_directories(dir, ec);
  copy_shared_inputs(folder, dir);
  write_file_atomically(dir / "mark.dat", "0\n");
  const Command command{settings.input_checker, {}, dir, dir / "stdout.txt", dir / "stderr.txt"};
  const ProcessEnd end = wait_for(start(command));
  const std::string errors = text_of_file(dir / "stderr.txt");
  fs::remove_all(dir, ec);
  if (end.succeeded()) return;
  const auto source = [](const fs::path& given, const char* name) {
    return given.empty() ? std::string(name) + " (the template)" : given.string() + " (" + name + ")";
  };
  throw tools::InputError(source(settings.par, "par.inp") + ", " + source(settings.maxpar, "maxpar.inp") + ": " +
                          command.program.filename().string() + " refuses them (" + end.text() +
                          "), so every chunk would fail:" + complaint_of(errors));
}

struct StreamedMarkers {
  long read = 0;
  std::vector<std::string> places;                    // "chr:pos" of each kept marker
  std::map<genotypes::MarkerDecision, long> dropped;  // by reason
  long out_of_order = 0;                              // kept markers placed before the one kept ahead of them
  std::vector<std::string> notes;                     // ids of --extract and --exclude that match no marker
};

bool placed_before(const MarkerRow& a, const MarkerRow& b) {
  if (a.chromosome != b.chromosome) return chromosome_before(a.chromosome, b.chromosome);
  return a.position.value_or(0) < b.position.value_or(0);
}

StreamedMarkers stream_markers(const ScanFolder& folder, genotypes::GenotypeSource& source, std::size_t rows,
                               const std::vector<std::size_t>& order, const genotypes::MarkerFilter& filter) {
  genotypes::MarkerSelection selection(filter, source.persons_held());
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
  streamed.notes = selection.unmatched_id_notes();
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
  return out.str();
}

std::string notes_text(const std::vector<std::vector<std::string>>& groups) {
  std::string text;
  for (const std::vector<std::string>& notes : groups)
    for (const std::string& note : notes) text += "note: " + note + '\n';
  return text;
}

std::string joined_lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += "\n  " + line;
  return text;
}

// A scan of nobody measured or nobody genotyped would give LOD 0 everywhere.
void check_someone_is_measured_and_typed(const genotypes::LoadedPedigree& persons,
                                         const genotypes::GenotypeSource& source) {
  if (measured_persons(persons.persons) == 0)
    throw tools::InputError(persons.persons.name + ": no person has a measured trait, so every LOD would be 0" +
                            joined_lines(persons.notes));
  if (source.persons_held() == 0)
    throw tools::InputError("the genotypes hold no person of " + persons.persons.name + joined_lines(source.notes()));
}

std::string out_of_order_note(const StreamedMarkers& streamed) {
  if (streamed.out_of_order == 0) return {};
  return std::to_string(streamed.out_of_order) +
         " markers come before the marker read ahead of them in genome order; chunks and results keep the order of "
         "the source";
}

}  // namespace

int default_chunk_size(long markers, unsigned cores) {
  constexpr long chunks_per_core = 4;
  constexpr long smallest = 25;
  const long chunks = chunks_per_core * std::max(1u, cores);
  const long per_chunk = (markers + chunks - 1) / chunks;
  return static_cast<int>(std::clamp<long>(per_chunk, smallest, max_chunk_size));
}

PrepareReport prepare_scan(const genotypes::LoadedPedigree& persons, genotypes::GenotypeSource& source,
                           const PrepareSettings& settings, const fs::path& out) {
  const ScanFolder folder{out};
  check_theta_grid(settings.theta_grid);
  const tools::PedigreeFile rows = without_markers(persons.persons);
  const tools::PreparedPedigree ped = tools::prepare_structure(rows, settings.peeling);
  check_someone_is_measured_and_typed(persons, source);
  start_folder(folder);
  write_shared_inputs(folder, rows, ped, settings);
  check_run_inputs(folder, settings);
  const StreamedMarkers streamed = stream_markers(folder, source, rows.rows.size(), pedigree_order(ped), settings.filter);
  if (streamed.places.empty()) throw tools::InputError("no marker is left to analyse");

  Plan plan;
  plan.persons = static_cast<long>(ped.persons());
  plan.families = static_cast<long>(ped.families.size());
  plan.markers = static_cast<long>(streamed.places.size());
  plan.chunk_size = settings.chunk_size > 0 ? settings.chunk_size
                                            : default_chunk_size(plan.markers, std::thread::hardware_concurrency());
  plan.peeling = settings.peeling;
  plan.files = {record_file(out, folder.markers().filename().string()),
                record_file(out, folder.genotypes().filename().string())};
  plan.chunks = cut_into_chunks(plan.markers, plan.chunk_size,
                                [&](long m) { return streamed.places[static_cast<std::size_t>(m - 1)]; });
  std::vector<std::string> order_note;
  if (const std::string note = out_of_order_note(streamed); !note.empty()) order_note.push_back(note);
  const PrepareReport report{summary_text(ped, streamed, source, plan),
                             notes_text({persons.notes, trait_notes(rows), ped.notes, source.notes(), streamed.notes,
                                         order_note})};
  write_file_atomically(folder.summary(), report.summary + report.notes);
  write_file_atomically(folder.plan(), plan_text(plan));
  return report;
}

}  // namespace bravik::scan

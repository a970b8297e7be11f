#include "pedfile/run_folder.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>

#include "pedfile/input_error.hpp"
#include "textio/message_text.hpp"

namespace bravik::tools {
namespace {

constexpr std::size_t values_per_line = 20;

std::ofstream open_output(const std::filesystem::path& path) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw InputError(path.string() + ": cannot write the file");
  return out;
}

void close_output(std::ofstream& out, const std::filesystem::path& path) {
  out.close();
  if (!out) throw InputError(path.string() + ": writing failed");
}

// One free-format record: the values, a line break after every 20.
void write_record(std::ostream& out, const std::vector<int>& values) {
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i > 0) out << (i % values_per_line == 0 ? '\n' : ' ');
    out << values[i];
  }
  out << '\n';
}

std::vector<int> counted(int count, const std::vector<int>& values) {
  std::vector<int> record{count};
  record.insert(record.end(), values.begin(), values.end());
  return record;
}

void write_iway(const std::filesystem::path& path, const Description& d) {
  std::ofstream out = open_output(path);
  const int n = static_cast<int>(d.ifst.size()) - 1;
  std::vector<int> record1{n, d.nfam};
  record1.insert(record1.end(), d.ifst.begin(), d.ifst.end());
  write_record(out, record1);
  write_record(out, counted(0, d.inuc));
  write_record(out, counted(static_cast<int>(d.imem.size()), d.imem));
  write_record(out, counted(static_cast<int>(d.mem.size()), d.mem));
  write_record(out, d.icon);
  // The two per-person lists are read and kept by the analysis, never used.
  write_record(out, counted(d.persons, std::vector<int>(static_cast<std::size_t>(d.persons), 1)));
  write_record(out, std::vector<int>(static_cast<std::size_t>(d.persons), 0));
  close_output(out, path);
}

std::string shortest(double value) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

// A round figure with four significant digits, for the par.inp template.
std::string rounded(double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.4g", value);
  return buffer;
}

void write_phenotypes(const std::filesystem::path& path, const PedigreeFile& file, const PreparedPedigree& ped) {
  std::ofstream out = open_output(path);
  for (const Family& fam : ped.families)
    for (const std::size_t row : fam.rows) {
      const std::optional<double>& trait = file.rows[row].trait;
      out << (trait ? shortest(*trait) : shortest(missing_trait)) << '\n';
    }
  close_output(out, path);
}

void write_task(const std::filesystem::path& path, const RunFileNames& names) {
  std::ofstream out = open_output(path);
  out << names.phenotypes << '\n' << names.markers << '\n' << names.lod << '\n' << names.estimates << '\n';
  close_output(out, path);
}

struct TraitSummary {
  double mean = 0.0;
  double variance = 1.0;
};

TraitSummary summarize_traits(const PedigreeFile& file) {
  double sum = 0.0;
  double squares = 0.0;
  int count = 0;
  for (const PedigreeRow& row : file.rows)
    if (row.trait) {
      sum += *row.trait;
      squares += *row.trait * *row.trait;
      ++count;
    }
  if (count < 2) return {count == 1 ? sum : 0.0, 1.0};
  const double mean = sum / count;
  const double variance = (squares - sum * mean) / (count - 1);
  return {mean, variance > 0.0 ? variance : 1.0};
}

// Starting values around the observed mean and spread: a major gene that
// separates the homozygote means by two standard deviations, half the variance
// residual, a small polygenic step. Only text after the sixth value of a line
// (and the heading line) is commentary, which the programs skip.
void write_par(const std::filesystem::path& path, const PedigreeFile& file) {
  const TraitSummary t = summarize_traits(file);
  const double sd = std::sqrt(t.variance);
  struct Line {
    int free;
    double value, step, low, high;
    const char* meaning;
  };
  const Line lines[7] = {
      {1, 0.5, 0.05, 0.0, 1.0, "frequency of major-gene allele 1"},
      {1, t.mean + sd, 0.1 * sd, t.mean - 10 * sd, t.mean + 10 * sd, "trait mean of major-gene genotype 11"},
      {1, t.mean, 0.1 * sd, t.mean - 10 * sd, t.mean + 10 * sd, "trait mean of genotype 12"},
      {1, t.mean - sd, 0.1 * sd, t.mean - 10 * sd, t.mean + 10 * sd, "trait mean of genotype 22 (not above that of 11)"},
      {0, 0.05, 0.05, 0.0, 0.5, "recombination fraction of the alternative (the null uses 0.5)"},
      {1, 0.5 * t.variance, 0.05 * t.variance, 0.0, 10 * t.variance, "residual variance"},
      {1, 0.1 * sd, 0.02 * sd, -sd, sd, "polygenic step (0 and fixed: no polygenic component)"},
  };
  std::ofstream out = open_output(path);
  out << " link free  value  step  low  high   (this heading line is skipped)\n";
  for (int i = 0; i < 7; ++i) {
    const Line& l = lines[i];
    out << ' ' << i + 1 << ' ' << l.free << ' ' << rounded(l.value) << ' ' << rounded(l.step) << ' '
        << rounded(l.low) << ' ' << rounded(l.high) << "   " << l.meaning << '\n';
  }
  close_output(out, path);
}

// The iteration limit is far above what searches of ordinary data sets need:
// a search that reaches it has not found a maximum.
void write_maxpar(const std::filesystem::path& path) {
  std::ofstream out = open_output(path);
  out << "0        (not used)\n"
         "1.0e-4   relative step tolerance\n"
         "1000     iteration limit\n"
         "0.5      shrink factor of a failed pattern move\n"
         "1.0e-6   smallest gain of the log-likelihood per iteration\n";
  close_output(out, path);
}

void write_id_table(const std::filesystem::path& path, const PedigreeFile& file, const PreparedPedigree& ped) {
  std::ofstream out = open_output(path);
  out << "# global family local family_id person_id line\n";
  int global = 0;
  for (std::size_t f = 0; f < ped.families.size(); ++f) {
    const Family& fam = ped.families[f];
    for (std::size_t local = 0; local < fam.rows.size(); ++local) {
      const PedigreeRow& row = file.rows[fam.rows[local]];
      out << ++global << ' ' << f + 1 << ' ' << local + 1 << ' ' << row.family << ' ' << row.person << ' '
          << row.line << '\n';
    }
  }
  close_output(out, path);
}

bool plain_name(const std::string& name) {
  return !name.empty() && name.find_first_of(" \t,/'\"") == std::string::npos;
}

}  // namespace

void write_marker_file(const std::filesystem::path& path, const PedigreeFile& file, const PreparedPedigree& ped) {
  std::ofstream out = open_output(path);
  out << file.markers << '\n';
  std::string line;
  for (const Family& fam : ped.families)
    for (const std::size_t row : fam.rows) {
      line.clear();
      for (int m = 0; m < file.markers; ++m) {
        if (m > 0) line += ' ';
        line += static_cast<char>('0' + file.code(row, m));
      }
      out << line << '\n';
    }
  close_output(out, path);
}

void check_run_file_names(const RunFileNames& names) {
  const auto check = [](const std::string& name, std::size_t limit, const char* what) {
    if (!plain_name(name)) throw InputError(std::string(what) + " name " + textio::quoted(name) + " must be one word without , / or quotes");
    if (name.size() > limit)
      throw InputError(std::string(what) + " name " + textio::quoted(name) + " is longer than " + std::to_string(limit) +
                       " characters, the length that the programs read");
  };
  check(names.phenotypes, max_phenotype_name, "phenotype file");
  check(names.markers, max_file_name, "marker file");
  check(names.lod, max_file_name, "LOD file");
  check(names.estimates, max_file_name, "estimate file");
  if (!plain_name(names.id_table)) throw InputError("id table name " + textio::quoted(names.id_table) + " must be one word");
}

Description describe_pedigree(const PreparedPedigree& ped) {
  Description d;
  d.nfam = static_cast<int>(ped.families.size());
  d.imem.push_back(0);  // imem(0) is not used
  d.imem.push_back(0);
  int persons = 0;
  int nuclear = 0;
  for (const Family& fam : ped.families) {
    d.ifst.push_back(persons);
    d.inuc.push_back(nuclear);
    persons += static_cast<int>(fam.rows.size());
    for (const NuclearFamily& nuc : fam.nuclear) {
      ++nuclear;
      d.mem.push_back(nuc.father + 1);
      d.mem.push_back(nuc.mother + 1);
      for (const int child : nuc.children) d.mem.push_back(child + 1);
      d.imem.push_back(static_cast<int>(d.mem.size()));
      d.icon.push_back(nuc.connector + 1);  // -1 (last of its part) becomes 0
    }
  }
  d.ifst.push_back(persons);
  d.inuc.push_back(nuclear);
  d.persons = persons;
  return d;
}

void write_run_folder(const std::filesystem::path& folder, const PedigreeFile& file, const PreparedPedigree& ped,
                      const RunFileNames& names) {
  check_run_file_names(names);
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) throw InputError(folder.string() + ": cannot create the folder: " + ec.message());
  write_iway(folder / "IWAY.DAT", describe_pedigree(ped));
  write_phenotypes(folder / names.phenotypes, file, ped);
  write_marker_file(folder / names.markers, file, ped);
  write_task(folder / "task.inp", names);
  write_par(folder / "par.inp", file);
  write_maxpar(folder / "maxpar.inp");
  write_id_table(folder / names.id_table, file, ped);
}

}  // namespace bravik::tools

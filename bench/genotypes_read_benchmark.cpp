// Reading speed of the genotype sources on a synthetic data set: a PLINK 1
// fileset of P persons (families of a couple and three children) and M
// markers with random calls, and a VCF of the same persons holding the first
// V markers. Prints the time to load the pedigree, to stream every marker of
// the .bed (with the allele count and marker selection a scan does per
// marker) and of the VCF, and the peak memory, which must not grow with M.
// Usage: bravik_genotypes_benchmark [PERSONS [MARKERS [VCF_MARKERS [FOLDER]]]]
// (defaults 25000 100000 2000 bench-data/genotypes; the files are kept).
#include <sys/resource.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "genotypes/marker_filter.hpp"
#include "genotypes/pedigree_input.hpp"
#include "genotypes/sources.hpp"

namespace {

namespace fs = std::filesystem;
using namespace bravik::genotypes;
using Clock = std::chrono::steady_clock;

// Deterministic calls: a 64-bit linear congruential generator's top bits.
class Calls {
 public:
  int next_slot() {
    state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<int>(state_ >> 62);
  }

 private:
  std::uint64_t state_ = 12345;
};

std::string person_line(std::size_t i) {
  std::string f = "F";
  f += std::to_string(i / 5);
  const std::size_t member = i % 5;
  std::string line = f + " " + f + "_" + std::to_string(member);
  line += member >= 2 ? " " + f + "_0 " + f + "_1" : std::string(" 0 0");
  line += member == 1 ? " 2 " : " 1 ";
  line += i % 7 == 0 ? std::string("-9") : std::to_string(static_cast<double>(i % 100) / 10.0);
  return line;
}

void write_data(const fs::path& folder, std::size_t persons, std::size_t markers, std::size_t vcf_markers) {
  fs::create_directories(folder);
  std::ofstream fam(folder / "d.fam");
  for (std::size_t i = 0; i < persons; ++i) fam << person_line(i) << '\n';
  std::ofstream bim(folder / "d.bim");
  std::ofstream bed(folder / "d.bed", std::ios::binary);
  std::ofstream vcf(folder / "d.vcf");
  vcf << "##fileformat=VCFv4.2\n##contig=<ID=1>\n##FORMAT=<ID=GT,Number=1,Type=String,Description=\"Genotype\">\n"
      << "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT";
  for (std::size_t i = 0; i < persons; ++i) vcf << "\tF" << i / 5 << '_' << i % 5;
  vcf << '\n';
  bed.write("\x6c\x1b\x01", 3);
  static const char* const vcf_call[] = {"\t1/1", "\t./.", "\t0/1", "\t0/0"};
  Calls calls;
  std::vector<char> block((persons + 3) / 4);
  std::string record;
  for (std::size_t m = 0; m < markers; ++m) {
    const std::string id = "rs" + std::to_string(m + 1);
    const std::string bp = std::to_string(1000 * (m + 1));
    bim << "1 " << id << " 0 " << bp << " A G\n";
    std::fill(block.begin(), block.end(), 0);
    record = "1\t" + bp + "\t" + id + "\tG\tA\t.\t.\t.\tGT";
    for (std::size_t i = 0; i < persons; ++i) {
      const int slot = calls.next_slot();
      block[i / 4] = static_cast<char>(block[i / 4] | (slot << (2 * (i % 4))));
      if (m < vcf_markers) record += vcf_call[slot];
    }
    bed.write(block.data(), static_cast<std::streamsize>(block.size()));
    if (m < vcf_markers) vcf << record << '\n';
  }
}

// Peak resident memory of the process so far, in MB (VmHWM).
double peak_megabytes() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.starts_with("VmHWM:")) return std::stod(line.substr(6)) / 1024.0;
  return 0;
}

std::string processor() {
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string model, flags;
  for (std::string line; std::getline(cpuinfo, line);) {
    if (model.empty() && line.starts_with("model name")) model = line.substr(line.find(':') + 2);
    if (flags.empty() && line.starts_with("flags")) flags = line;
  }
  std::string vectors;
  for (const char* f : {" avx2", " avx512f", " avx512bw", " avx512vl"})
    if (flags.find(std::string(f) + " ") != std::string::npos) vectors += f;
  return model + " (" + (vectors.empty() ? std::string(" no AVX2/AVX-512") : vectors) + " )";
}

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Processor time of the process (user and system), which other programs on a
// shared machine do not inflate as they do the elapsed time.
double cpu_seconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Streams every marker through the selection a scan applies; returns the count kept.
std::size_t stream(GenotypeSource& source, std::size_t rows) {
  MarkerSelection selection(MarkerFilter{}, source.persons_held());
  std::vector<std::uint8_t> codes(rows);
  MarkerInfo info;
  std::size_t kept = 0;
  while (source.next(info, codes)) kept += selection.decide(info, codes) == MarkerDecision::keep;
  return kept;
}

// Elapsed and processor time of a step.
struct Timer {
  Clock::time_point start = Clock::now();
  double cpu_start = cpu_seconds();
  double elapsed() const { return seconds_since(start); }
  double cpu() const { return cpu_seconds() - cpu_start; }
};

void report(const char* what, std::size_t markers, std::size_t persons, const Timer& timer, std::uintmax_t bytes) {
  const double cpu = timer.cpu();
  std::printf("%-32s %7zu markers  %7.2f s elapsed  %7.2f s cpu  %8.0f markers/cpu-s  %7.1f MB/cpu-s  "
              "%7.2f cpu-ms per 500 markers x %zu persons\n",
              what, markers, timer.elapsed(), cpu, static_cast<double>(markers) / cpu,
              static_cast<double>(bytes) / cpu / 1e6, 500.0 * cpu / static_cast<double>(markers) * 1e3, persons);
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t persons = argc > 1 ? std::stoul(argv[1]) : 25000;
  const std::size_t markers = argc > 2 ? std::stoul(argv[2]) : 100000;
  const std::size_t vcf_markers = std::min(markers, argc > 3 ? std::stoul(argv[3]) : std::size_t{2000});
  const fs::path folder = argc > 4 ? fs::path(argv[4]) : fs::path("bench-data") / "genotypes";
  std::printf("processor: %s\n", processor().c_str());
  std::printf("data: %zu persons, %zu markers (.bed), %zu markers (VCF) in %s\n", persons, markers, vcf_markers,
              folder.c_str());

  const auto start = Clock::now();
  write_data(folder, persons, markers, vcf_markers);
  std::printf("%-34s %8.2f s\n", "writing the synthetic files", seconds_since(start));
  const double peak_after_writing = peak_megabytes();

  const auto load_start = Clock::now();
  const bravik::tools::PedigreeFile pedigree = load_pedigree((folder / "d.fam").string(), true, TraitOptions{}).persons;
  std::printf("%-34s %8.2f s\n", "loading the pedigree from .fam", seconds_since(load_start));

  const Timer bed_timer;
  const auto bed = open_bed((folder / "d").string(), pedigree);
  const std::size_t bed_kept = stream(*bed, pedigree.rows.size());
  report(".bed: open, read, count, select", bed_kept, persons, bed_timer, fs::file_size(folder / "d.bed"));

  const Timer vcf_timer;
  const auto vcf = open_vcf((folder / "d.vcf").string(), pedigree);
  const std::size_t vcf_kept = stream(*vcf, pedigree.rows.size());
  report("VCF: open, read, count, select", vcf_kept, persons, vcf_timer, fs::file_size(folder / "d.vcf"));

  std::printf("peak memory: %.1f MB after writing the files, %.1f MB after reading (.bed is %.1f MB)\n",
              peak_after_writing, peak_megabytes(), static_cast<double>(fs::file_size(folder / "d.bed")) / 1e6);
  return 0;
}

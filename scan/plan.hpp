#pragma once
// The plan of a scan: which markers each chunk analyses, and what every chunk
// needs to rebuild the pedigree as `prepare` saw it. Plain text:
//
//   bravik_scan plan 1
//   persons 2400
//   families 100
//   markers 1234
//   chunk_size 500
//   root first
//   seed 1
//   chunks 3
//   # chunk  first and last marker (rows of markers.tsv)  from  to
//   chunk 1 1 500 1:55550 3:1020301
//   chunk 2 501 1000 3:1040873 9:88210
//   chunk 3 1001 1234 9:90817 22:50101
//
// Chunk lines come in order, cover the markers without gap or overlap and
// hold at most 500 markers; the last two fields of a chunk line are for people.
#include <algorithm>
#include <string>
#include <vector>

#include "pedfile/structure.hpp"

namespace bravik::scan {

inline constexpr int plan_version = 1;
inline constexpr int max_chunk_size = 500;  // the most markers one run of the programs takes

struct Chunk {
  int number = 0;   // from 1
  long first = 0;   // first marker, from 1
  long last = 0;    // last marker (inclusive)
  std::string from; // "chr:pos" of the first marker, for people
  std::string to;
  long size() const { return last - first + 1; }
};

struct Plan {
  long persons = 0;
  long families = 0;
  long markers = 0;
  int chunk_size = max_chunk_size;
  tools::PeelingOptions peeling;
  std::vector<Chunk> chunks;

  const Chunk& chunk(int k) const;  // throws InputError naming k when there is no such chunk
};

// Cuts markers 1..markers into chunks of `chunk_size`; `place(m)` names marker m.
template <class Place>
std::vector<Chunk> cut_into_chunks(long markers, int chunk_size, Place place) {
  std::vector<Chunk> chunks;
  for (long first = 1; first <= markers; first += chunk_size) {
    const long last = std::min(markers, first + chunk_size - 1);
    chunks.push_back({static_cast<int>(chunks.size()) + 1, first, last, place(first), place(last)});
  }
  return chunks;
}

std::string plan_text(const Plan& plan);
// Throws InputError naming the file, line and value of anything amiss.
Plan parse_plan(const std::string& text, const std::string& name);
Plan read_plan(const std::string& path);

}  // namespace bravik::scan

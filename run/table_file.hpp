#pragma once
// The tables bravik_2point_max writes beside its result files.
#include <cstdio>
#include <string>

namespace bravik {

// A table file (the theta table, the standard errors): the header at
// start-up, then a line per analysed marker, each flushed; a file that cannot
// be written ends the run with exit status 2.
class TableFile {
 public:
  TableFile(const std::string& path, const std::string& header);
  ~TableFile();
  TableFile(const TableFile&) = delete;
  TableFile& operator=(const TableFile&) = delete;
  void write(const std::string& line);

 private:
  std::string path_;
  std::FILE* file_;
};

}  // namespace bravik

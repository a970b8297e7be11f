#pragma once
// Free-format (list-directed) reading. One ListInput object is one read
// operation: it starts at the beginning of the next line of the channel, fills
// items in order (values may run over several lines), and when finished skips
// the rest of its last line.
#include <cstdint>
#include <string>

#include "textio/channels.hpp"

namespace textio {

enum class EndOfFile { fail, report };

class ListInput {
 public:
  // With EndOfFile::report an end of file before all items are filled is
  // reported by get() returning false; with EndOfFile::fail it ends the run
  // abnormally with the "end of file" diagnostic.
  ListInput(Channels& channels, int unit, EndOfFile on_end = EndOfFile::fail);
  ~ListInput();  // skips the rest of the current line
  ListInput(const ListInput&) = delete;
  ListInput& operator=(const ListInput&) = delete;

  // Each fills one item. A null value (empty between commas, r*) or an item
  // after a slash keeps the item's previous value. Returns false only when the
  // end of the file was met (EndOfFile::report).
  bool get(std::int32_t& item);
  bool get(double& item);
  // A text item, stored left-justified in a field of `length` characters:
  // padded with blanks or cut at the length.
  bool get(std::string& item, std::size_t length);

 private:
  struct Scanner;
  Scanner* scanner_;
};

}  // namespace textio

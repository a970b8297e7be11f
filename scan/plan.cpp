#include "scan/plan.hpp"

#include <charconv>
#include <sstream>

#include "pedfile/input_error.hpp"
#include "pedfile/pedigree_file.hpp"
#include "results/text_file.hpp"

namespace bravik::scan {
namespace {

const char* const plan_heading = "bravik_scan plan";

std::string root_name(tools::RootChoice root) {
  switch (root) {
    case tools::RootChoice::first: return "first";
    case tools::RootChoice::last: return "last";
    case tools::RootChoice::random: return "random";
  }
  return "first";
}

// Reads the plan line by line, naming the place of the first fault.
class PlanReader {
 public:
  PlanReader(const std::string& text, const std::string& name) : in_(text), name_(name) {}

  Plan read() {
    expect_heading();
    Plan plan;
    plan.persons = number_after("persons", 1, 1L << 40);
    plan.families = number_after("families", 1, 1L << 40);
    plan.markers = number_after("markers", 1, 1L << 40);
    plan.chunk_size = static_cast<int>(number_after("chunk_size", 1, max_chunk_size));
    plan.peeling.root = root_after("root");
    plan.peeling.seed = static_cast<std::uint64_t>(number_after("seed", 0, 1L << 62));
    const long count = number_after("chunks", 1, 1L << 40);
    for (long k = 1; k <= count; ++k) plan.chunks.push_back(chunk_line(static_cast<int>(k), plan));
    if (plan.chunks.back().last != plan.markers)
      fail("the chunks end at marker " + std::to_string(plan.chunks.back().last) + ", not at the last marker " +
           std::to_string(plan.markers));
    if (next_line()) fail("unexpected line after the last chunk: '" + line_ + "'");
    return plan;
  }

 private:
  [[noreturn]] void fail(const std::string& what) const {
    throw tools::InputError(name_ + ":" + std::to_string(number_) + ": " + what);
  }

  // The next line that is neither blank nor a comment; false at the end.
  bool next_line() {
    while (std::getline(in_, line_)) {
      ++number_;
      const std::size_t start = line_.find_first_not_of(" \t\r");
      if (start != std::string::npos && line_[start] != '#') return true;
    }
    return false;
  }

  std::vector<std::string_view> words_named(const std::string& key, std::size_t count) {
    if (!next_line()) fail("the plan ends before '" + key + "'");
    std::vector<std::string_view> words = tools::split_fields(line_);
    if (words.size() != count || words[0] != key)
      fail("expected '" + key + "' and " + std::to_string(count - 1) + " value(s), read '" + line_ + "'");
    return words;
  }

  long number(std::string_view text, const std::string& what, long lo, long hi) const {
    long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < lo || value > hi)
      fail(what + " '" + std::string(text) + "' is not an integer from " + std::to_string(lo) + " to " + std::to_string(hi));
    return value;
  }

  long number_after(const std::string& key, long lo, long hi) { return number(words_named(key, 2)[1], key, lo, hi); }

  tools::RootChoice root_after(const std::string& key) {
    const std::string value(words_named(key, 2)[1]);
    for (const tools::RootChoice r : {tools::RootChoice::first, tools::RootChoice::last, tools::RootChoice::random})
      if (root_name(r) == value) return r;
    fail("root '" + value + "' is not first, last or random");
  }

  void expect_heading() {
    const std::string heading = std::string(plan_heading) + " " + std::to_string(plan_version);
    if (!next_line() || tools::split_fields(line_) != tools::split_fields(heading))
      fail("not a plan of this version: expected '" + heading + "', read '" + line_ + "'");
  }

  Chunk chunk_line(int k, const Plan& plan) {
    const std::vector<std::string_view> w = words_named("chunk", 6);
    Chunk c{static_cast<int>(number(w[1], "chunk number", k, k)), 0, 0, std::string(w[4]), std::string(w[5])};
    const long expected_first = plan.chunks.empty() ? 1 : plan.chunks.back().last + 1;
    c.first = number(w[2], "first marker", expected_first, expected_first);
    c.last = number(w[3], "last marker", c.first, std::min(plan.markers, c.first + plan.chunk_size - 1));
    return c;
  }

  std::istringstream in_;
  std::string name_;
  std::string line_;
  long number_ = 0;
};

}  // namespace

const Chunk& Plan::chunk(int k) const {
  if (k < 1 || k > static_cast<int>(chunks.size()))
    throw tools::InputError("chunk " + std::to_string(k) + " is not in the plan (chunks 1 to " +
                            std::to_string(chunks.size()) + ")");
  return chunks[static_cast<std::size_t>(k - 1)];
}

std::string plan_text(const Plan& plan) {
  std::ostringstream out;
  out << plan_heading << ' ' << plan_version << '\n'
      << "persons " << plan.persons << '\n'
      << "families " << plan.families << '\n'
      << "markers " << plan.markers << '\n'
      << "chunk_size " << plan.chunk_size << '\n'
      << "root " << root_name(plan.peeling.root) << '\n'
      << "seed " << plan.peeling.seed << '\n'
      << "chunks " << plan.chunks.size() << '\n'
      << "# chunk  first and last marker (rows of markers.tsv)  from  to\n";
  for (const Chunk& c : plan.chunks)
    out << "chunk " << c.number << ' ' << c.first << ' ' << c.last << ' ' << c.from << ' ' << c.to << '\n';
  return out.str();
}

Plan parse_plan(const std::string& text, const std::string& name) { return PlanReader(text, name).read(); }

Plan read_plan(const std::string& path) { return parse_plan(results::read_text_file(path, "plan"), path); }

}  // namespace bravik::scan

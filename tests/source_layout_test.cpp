// The folder map of the README holds for the sources: every include stays in
// its folder or goes to a folder that the including folder's row names (and
// that row stands above it), no two units (a header with its source file)
// include each other through any chain, and every source file lies in a
// folder of the map.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.hpp"

namespace bravik::testing {
namespace {

namespace fs = std::filesystem;

const fs::path source_root{BRAVIK_SOURCE_DIR};

struct FolderRow {
  std::string folder;                // "model/fast/"
  std::set<std::string> may_include; // folders, without the folder itself
};

std::vector<std::string> backticked(const std::string& text) {
  std::vector<std::string> found;
  static const std::regex code("`([^`]+)`");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), code); it != std::sregex_iterator(); ++it)
    found.push_back((*it)[1]);
  return found;
}

// The rows of the README's layout table, in order. "any folder above" lets a
// row include every folder of the rows before it.
std::vector<FolderRow> folder_map() {
  std::istringstream readme(read_file(source_root / "README.md"));
  std::vector<FolderRow> rows;
  bool in_layout = false;
  for (std::string line; std::getline(readme, line);) {
    if (line.rfind("## ", 0) == 0) in_layout = line == "## Layout";
    if (!in_layout || line.rfind("| `", 0) != 0) continue;
    const std::size_t third = line.find('|', line.find('|', 1) + 1);
    const std::vector<std::string> folder = backticked(line.substr(0, line.find('|', 1)));
    FolderRow row{folder.at(0), {}};
    const std::string allowed = line.substr(third);
    if (allowed.find("any folder above") != std::string::npos) {
      for (const FolderRow& above : rows) row.may_include.insert(above.folder);
    }
    for (const std::string& name : backticked(allowed)) row.may_include.insert(name);
    rows.push_back(row);
  }
  return rows;
}

// The row whose folder holds `path` (relative to the source root): the longest
// folder that is a prefix of it, so that model/fast/ wins over model/.
const FolderRow* row_of(const std::vector<FolderRow>& rows, const std::string& path) {
  const FolderRow* best = nullptr;
  for (const FolderRow& row : rows) {
    if (path.rfind(row.folder, 0) == 0 && (best == nullptr || row.folder.size() > best->folder.size())) best = &row;
  }
  return best;
}

bool is_source(const fs::path& path) { return path.extension() == ".cpp" || path.extension() == ".hpp"; }

// Every source file below the root, relative to it, outside build folders.
std::vector<std::string> source_files() {
  std::vector<std::string> files;
  for (auto it = fs::recursive_directory_iterator(source_root); it != fs::recursive_directory_iterator(); ++it) {
    const std::string name = it->path().filename().string();
    if (it->is_directory() && (name == "build" || name.front() == '.' || name == "bench-data")) {
      it.disable_recursion_pending();
    } else if (it->is_regular_file() && is_source(it->path())) {
      files.push_back(fs::relative(it->path(), source_root).generic_string());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

// The project files a source file includes, relative to the root: a quoted
// include names a file beside the includer, below the root, or (for the
// benchmarks) below tests/.
std::vector<std::string> project_includes(const std::string& file) {
  std::istringstream text(read_file(source_root / file));
  static const std::regex include(R"(^\s*#\s*include\s*"([^"]+)\")");
  std::vector<std::string> found;
  for (std::string line; std::getline(text, line);) {
    std::smatch match;
    if (!std::regex_search(line, match, include)) continue;
    const fs::path named = match[1].str();
    for (const fs::path& base : {fs::path(file).parent_path(), fs::path(), fs::path("tests")}) {
      const fs::path candidate = (base / named).lexically_normal();
      if (fs::exists(source_root / candidate)) {
        found.push_back(candidate.generic_string());
        break;
      }
    }
  }
  return found;
}

TEST(SourceLayout, EveryIncludeFollowsTheReadmeMap) {
  const std::vector<FolderRow> rows = folder_map();
  ASSERT_GE(rows.size(), 10u) << "the README's layout table was not found";
  std::map<std::string, std::size_t> position;
  for (std::size_t i = 0; i < rows.size(); ++i) position[rows[i].folder] = i;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    for (const std::string& allowed : rows[i].may_include) {
      EXPECT_TRUE(position.count(allowed) == 1 && position[allowed] < i)
          << rows[i].folder << " may include " << allowed << ", which is not a folder above it in the table";
    }
  }
  for (const std::string& file : source_files()) {
    const FolderRow* from = row_of(rows, file);
    if (from == nullptr) {
      ADD_FAILURE() << file << " lies in a folder that the README's layout table does not name";
      continue;
    }
    for (const std::string& target : project_includes(file)) {
      const FolderRow* to = row_of(rows, target);
      const bool allowed = to != nullptr && (to == from || from->may_include.count(to->folder) == 1);
      EXPECT_TRUE(allowed) << file << " includes " << target << ", against the README's layout table";
    }
  }
}

// Depth-first search over the include graph; a file met again while it is on
// the current path closes a cycle.
class CycleFinder {
 public:
  explicit CycleFinder(std::map<std::string, std::vector<std::string>> graph) : graph_(std::move(graph)) {}

  std::vector<std::string> cycles() {
    for (const auto& node : graph_) visit(node.first);
    return cycles_;
  }

 private:
  void visit(const std::string& file) {
    if (done_.count(file) == 1) return;
    const auto open = std::find(path_.begin(), path_.end(), file);
    if (open != path_.end()) {
      std::string cycle;
      for (auto it = open; it != path_.end(); ++it) cycle += *it + " -> ";
      cycles_.push_back(cycle + file);
      return;
    }
    path_.push_back(file);
    for (const std::string& next : graph_[file]) visit(next);
    path_.pop_back();
    done_.insert(file);
  }

  std::map<std::string, std::vector<std::string>> graph_;
  std::vector<std::string> path_;
  std::set<std::string> done_;
  std::vector<std::string> cycles_;
};

// A header and its source file are one unit: x.cpp calling into y while y.cpp
// calls into x is a cycle even though no header includes another.
std::string unit_of(const std::string& file) { return fs::path(file).replace_extension().generic_string(); }

TEST(SourceLayout, NoIncludeCycleBetweenUnits) {
  std::map<std::string, std::vector<std::string>> graph;
  for (const std::string& file : source_files()) {
    std::vector<std::string>& edges = graph[unit_of(file)];
    for (const std::string& target : project_includes(file)) {
      if (unit_of(target) != unit_of(file)) edges.push_back(unit_of(target));
    }
  }
  EXPECT_GT(graph.size(), 100u);
  for (const std::string& cycle : CycleFinder(graph).cycles()) ADD_FAILURE() << "include cycle: " << cycle;
}

}  // namespace
}  // namespace bravik::testing

#include "scan/mode.hpp"

#include <array>

#include "pedfile/input_error.hpp"
#include "pedfile/pedigree_file.hpp"
#include "results/text_file.hpp"
#include "textio/message_text.hpp"

namespace bravik::scan {
namespace {

constexpr std::array<AnalysisMode, 3> modes = {AnalysisMode::robust, AnalysisMode::classic, AnalysisMode::fixed};


}  // namespace

std::string mode_name(AnalysisMode mode) {
  switch (mode) {
    case AnalysisMode::classic: return "classic";
    case AnalysisMode::fixed: return "fixed";
    case AnalysisMode::robust: break;
  }
  return "robust";
}

std::string mode_option(AnalysisMode mode) { return mode == AnalysisMode::robust ? "" : "--" + mode_name(mode); }

std::optional<AnalysisMode> read_mode(const fs::path& path) {
  if (!fs::exists(path)) return std::nullopt;
  const std::string text = results::read_text_file(path.string(), "mode record");
  const std::string first_line = text.substr(0, text.find('\n'));
  const std::vector<std::string_view> words = tools::split_fields(first_line);
  for (const AnalysisMode mode : modes)
    if (words.size() == 1 && words[0] == mode_name(mode)) return mode;
  throw tools::InputError(path.string() + ":1: expected robust, classic or fixed, read " + textio::quoted(first_line));
}

void write_mode(const fs::path& path, AnalysisMode mode) { write_file_atomically(path, mode_name(mode) + "\n"); }

}  // namespace bravik::scan

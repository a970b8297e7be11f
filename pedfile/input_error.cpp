#include "pedfile/input_error.hpp"

namespace bravik::tools {

void Diagnostics::add(std::string message) { messages_.push_back(std::move(message)); }

void Diagnostics::throw_if_any() const {
  if (messages_.empty()) return;
  std::string text;
  for (std::size_t i = 0; i < messages_.size() && i < max_shown_; ++i) text += messages_[i] + '\n';
  if (messages_.size() > max_shown_)
    text += "... and " + std::to_string(messages_.size() - max_shown_) + " more errors\n";
  throw InputError(text);
}

}  // namespace bravik::tools

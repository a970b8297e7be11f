#pragma once
// Fixed-column (layout-driven) writing and free-format writing.
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "textio/channels.hpp"

namespace textio {

using OutItem = std::variant<std::int32_t, double, std::string_view>;

// Renders one write of a layout such as "(I4,2E14.6,3X,E11.4)" with its items;
// the result holds every line of the write, each ended by '\n'.
std::string format_layout(std::string_view layout, std::span<const OutItem> items);
// WriteLayout(channel, layout, items...).
void write_layout(Channels& channels, int unit, std::string_view layout,
                  std::initializer_list<OutItem> items);
void write_layout(Channels& channels, int unit, std::string_view layout,
                  std::span<const OutItem> items);

// Renders one free-format write (80 columns, 9 significant digits for reals).
std::string format_list(std::span<const OutItem> items);
// WriteList(channel, items...).
void write_list(Channels& channels, int unit, std::initializer_list<OutItem> items);

}  // namespace textio

// The failures a call reports before (or instead of) doing its work, and the numbers in their
// messages, written the way the caller would type them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "types.hpp"

namespace strandify {

// Shortest decimal that reads back to the same double, never in exponent form; NaN, inf, -inf.
std::string format_float(double value);

// The one check every entry point makes before any work.
std::optional<Failure> validate_feature_size(double feature_size);

// Width lists that do not match their curves: an entry for a curve that is not there, or a
// non-empty list whose length differs from its curve's.
std::optional<Failure> check_width_lists(const std::vector<Curve>& curves,
                                         const std::optional<WidthLists>& widths);

// The max_nodes check on the skeleton graph's node count.
std::optional<Failure> check_node_limit(std::size_t nodes, std::optional<std::uint64_t> max_nodes);

// A union whose estimated sweep steps (`work`) exceed `limit`: "the union of <buffers> would
// take about ...; <remedy>".
Failure union_too_costly(const std::string& buffers, double work, double limit,
                         const std::string& remedy);

}  // namespace strandify

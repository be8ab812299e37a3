// The centerline entry driver: strandify_inner, from the caller's curves to finished chains,
// over the whole drawing at once or tile by tile.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "background.hpp"
#include "settings.hpp"
#include "types.hpp"

namespace strandify {

struct CenterlineOptions {
  double buffer_distance = 0.0;
  double feature_size = 1.0;  // validated by the caller
  TuningOptions tuning;
  std::optional<WidthLists> per_curve_widths;
  bool compute_widths = false;
  std::optional<std::uint64_t> max_nodes;
};

// Prepares and buffers the curves, then runs centerlines_of_polygons; with Partition::tiles,
// plans the tiles, runs them on the call's threads and stitches them instead.
Outcome<CenterlineResult> strandify_inner(const std::vector<Curve>& curves,
                                          const CenterlineOptions& options,
                                          const KeepGoing& keep_going = {});

}  // namespace strandify

// The centerline entry driver: strandify_inner, from the caller's curves to finished chains,
// over the whole drawing at once or tile by tile.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "background.hpp"
#include "lost_groups.hpp"
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

// A result with the separate groups of the caller's curves that gave no chain at all, which
// only a call that holds both the curves and the chains can tell cheaply.
struct CheckedCenterlines {
  CenterlineResult result;
  LostGroups lost;
};

// strandify_inner, then the groups of `curves` that its chains do not reach (lost_groups.hpp).
Outcome<CheckedCenterlines> centerlines_and_lost_groups(const std::vector<Curve>& curves,
                                                        const CenterlineOptions& options,
                                                        const KeepGoing& keep_going = {});

}  // namespace strandify

// The filled-shape entry driver: the caller's polygons repaired into union output, then run
// through the stages after inflation as strandify_inner runs them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "background.hpp"
#include "settings.hpp"
#include "types.hpp"

namespace strandify {

// A scale left out is derived from the repaired shapes: the buffer distance is their mean
// half-width (shape_half_width), the feature size kFeaturePerHalfWidth times it. With partition
// components each separate region of the repaired shapes then gets its own scale and runs on its
// own, so that its chains do not depend on the other shapes of the call; max_nodes then bounds
// each region's skeleton.
struct PolygonCenterlineOptions {
  std::optional<double> feature_size;  // validated by the caller when given
  // The radius the stroke pipeline would have buffered with; it sizes boundary refinement.
  std::optional<double> buffer_distance;
  TuningOptions tuning;  // merge_tolerance has no meaning here and is ignored
  bool compute_widths = false;
  std::optional<std::uint64_t> max_nodes;
};

// A filled shape's derived feature size per unit of its mean half-width: a road 10 wide gets
// 7.5, a disk of radius 8 gets 6.
inline constexpr double kFeaturePerHalfWidth = 1.5;

// The whole polygon pipeline: the buffer_distance check, repair, then the stages after
// inflation of strandify_inner. Long stages run as centerlines_of_polygons describes.
Outcome<CenterlineResult> polygon_centerlines_inner(std::vector<Polygon> polygons,
                                                    const PolygonCenterlineOptions& options,
                                                    const KeepGoing& keep_going = {});

// A result with the shapes that gave no chain (by their index among the given polygons).
struct CheckedPolygonCenterlines {
  CenterlineResult result;
  std::vector<std::size_t> lost;
};

// polygon_centerlines_inner, then the shapes its chains do not enter (lost_shapes.hpp).
Outcome<CheckedPolygonCenterlines> polygon_centerlines_and_lost_shapes(
    std::vector<Polygon> polygons, const PolygonCenterlineOptions& options,
    const KeepGoing& keep_going = {});

}  // namespace strandify

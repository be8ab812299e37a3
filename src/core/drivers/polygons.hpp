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

struct PolygonCenterlineOptions {
  double feature_size = 1.0;  // validated by the caller
  // The radius the stroke pipeline would have buffered with; it sizes boundary refinement.
  // Absent: the shape's mean half-width (see shape_half_width).
  std::optional<double> buffer_distance;
  TuningOptions tuning;  // merge_tolerance has no meaning here and is ignored
  bool compute_widths = false;
  std::optional<std::uint64_t> max_nodes;
};

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

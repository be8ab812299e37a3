// Filled shapes as input: the caller's polygons are repaired into the same clean, oriented,
// hole-assigned Polygons a union of buffers produces, and then run through every stage that
// follows inflation in the stroke pipeline.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "pipeline.hpp"
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

// The caller's polygons as union output: each polygon's region is its outer ring minus its
// holes, every ring read under the NonZero rule (so self-intersections, either orientation and
// repeated points are repaired), the regions of all polygons unioned at the inflation's 10^6
// scale, and the resulting rings cleaned, classified and assembled exactly as inflation does.
// Fails for non-finite or out-of-range coordinates and when polygons were given but none
// covers any area.
Outcome<std::vector<Polygon>> repair_polygons(const std::vector<Polygon>& polygons,
                                              const InflationSettings& settings);

// Area divided by boundary length (holes included in both): the half-width of a long strip,
// half the radius of a disk. The buffer radius that would have drawn a shape of strokes.
double shape_half_width(const std::vector<Polygon>& polygons);

// The whole polygon pipeline: the buffer_distance check, repair, then the stages after
// inflation of strandify_inner. Long stages run as centerlines_of_polygons describes.
Outcome<CenterlineResult> polygon_centerlines_inner(std::vector<Polygon> polygons,
                                                    const PolygonCenterlineOptions& options,
                                                    const KeepGoing& keep_going = {});

}  // namespace strandify

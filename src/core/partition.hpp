// Partitioning a drawing into groups of curves whose buffers can touch, so the union (and
// everything after it) runs per group instead of over the whole drawing.
//
// The union sweeps a line over every buffer edge and walks, at every vertex height, all the
// edges the line crosses; that list is as wide as the drawing, so one union over a large
// drawing costs far more than the unions of its separate parts. Curves whose buffers' bounding
// boxes do not overlap, directly or through other curves, can neither intersect nor hand each
// other a hole, so their unions are independent.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "types.hpp"

namespace strandify {

// How a call unions its buffers.
enum class Partition : unsigned char {
  none,        // one union over every buffer: the exact pipeline
  components,  // one union per group of curves with overlapping buffer boxes
  tiles,       // the drawing cut into square tiles run on their own and stitched (drivers/tiles.hpp)
};

// Groups of curve indices, each ascending, in order of their smallest index. A curve's paths
// (the outer ring and the hole of a closed stroke, say) are never split between groups.
struct CurveGroups {
  std::vector<std::size_t> members;  // the groups one after another
  std::vector<std::size_t> starts;   // group g is members[starts[g] .. starts[g + 1])

  std::size_t size() const { return starts.empty() ? 0 : starts.size() - 1; }
  const std::size_t* begin_of(std::size_t g) const { return members.data() + starts[g]; }
  const std::size_t* end_of(std::size_t g) const { return members.data() + starts[g + 1]; }
};

// A box holding every point of the curve's buffer: the curve's own box grown by twice its
// largest radius (a square corner reaches radius x sqrt(2) from the curve, and the margin
// also covers the rounding to the offsetter's integer grid). Empty (nullopt) for a curve that
// adds no buffer: fewer than two points, or a coordinate or radius that is not finite.
std::optional<Box> buffer_box(const Curve& curve, const WidthList* widths, double buffer_distance);

// The connected groups of the present boxes under "overlap" (touching counts), found by a sweep
// over the boxes in order of their left edge. Absent boxes belong to no group.
CurveGroups group_overlapping_boxes(const std::vector<std::optional<Box>>& boxes);

// The connected groups of the curves under "buffer boxes overlap" (touching counts), found by
// a sweep over the boxes in order of their left edge. Curves that add no buffer belong to no
// group.
CurveGroups group_by_buffer_boxes(const std::vector<Curve>& curves,
                                  const std::optional<WidthLists>& widths, double buffer_distance);

}  // namespace strandify

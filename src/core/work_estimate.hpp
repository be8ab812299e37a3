// Estimates of the work a call asks for, made before the work starts, so that a call whose
// parameters make it run for minutes is refused at once with a message naming what to change.
#pragma once

#include <optional>
#include <vector>

#include "partition.hpp"
#include "settings.hpp"
#include "types.hpp"

namespace strandify {

// About how many steps the unions of the buffers cost. A union sweeps a horizontal line over
// its edges and, at every distinct vertex height, merge-sorts the edges the line crosses: A
// edges cost about A x ceil(log2 A) steps there. Two kinds of union run:
//
// - `own`: the offsetter unions each curve's raw offset path with itself. That path has a
//   perpendicular spike of the radius at every bend and folds over itself wherever the curve
//   comes back within two radii, so at a height h it crosses about as many edges as the curve
//   has segments whose span [min y - r, max y + r] contains h. The count runs over the curve's
//   own vertex heights.
// - `overlap`: the union of all buffers sweeps the cleaned outlines, which cross a height about
//   twice per segment whose own y-range contains it, over every vertex height of the call.
//
// The own count also charges the vertex heights that share one integer row at the union's
// scale (a scribble a few integer units per step), whose intersections tie (see Sweep::cost).
//
// Measured on scribbles, smooth dense curves (with and without width lists) and overdrawn
// sketches of up to half a million points: 14 to 40 ns per step, the scribbles dearest.
// Everything is counted from sorted heights in O(n log n), without building any buffer. The
// limit a call is held to is kMaxUnionWork (settings.hpp).
struct UnionWork {
  double own = 0.0;
  double overlap = 0.0;
  double total() const { return own + overlap; }
};

UnionWork union_sweep_work(const std::vector<Curve>& curves, const std::optional<WidthLists>& widths,
                           double buffer_distance);

// The same summed over the groups of a partitioned union: each group's union only sweeps the
// outlines of its own curves.
UnionWork union_sweep_work(const std::vector<Curve>& curves, const std::optional<WidthLists>& widths,
                           double buffer_distance, const CurveGroups& groups);

}  // namespace strandify

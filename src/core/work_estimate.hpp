// Estimates of the work a call asks for, made before the work starts, so that a call whose
// parameters make it run for minutes is refused at once with a message naming what to change.
#pragma once

#include <optional>
#include <vector>

#include "partition.hpp"
#include "settings.hpp"
#include "types.hpp"

namespace strandify {

// About how many steps the unions of the buffers cost. A union sweeps a line up the rows that
// hold its input's vertices; at each it brings the edges crossing the row to their places, merge-
// sorting them (A edges, A x ceil(log2 A) steps), inserts the local minima that start there, and
// swaps the edges that cross before the next row. Two unions run, and each is counted on the
// outline it really sweeps, rebuilt from the curve at the union's scale without building it:
//
// - `own`: the offsetter unions each curve's raw offset with itself. That path goes round the
//   curve a radius out and, on the inner side of every vertex where the curve turns at all, out
//   to the offset, back to the vertex and out again: a spike as long as the radius. Whether a
//   vertex turns is decided as the offsetter decides it, from its integer points, so a straight
//   stroke along an axis or a diagonal has no spike and costs in proportion to its points, while
//   a stroke whose rounding wobbles has a spike at nearly every vertex and, with a radius of many
//   point spacings, thousands crossing every row.
// - `overlap`: the union of all buffers sweeps the outlines the offsetter returns, counted as the
//   two sides of every curve a radius out.
//
// Everything is counted from sorted rows in O(n log n). The weights are fitted to the unions
// timed by bench/bench_union_estimate.py (straight and curved strokes at many spacings and radii,
// sketches, scribbles, streets and country outlines): on its 101 drawings that take 20 ms or
// more, a step took 0.6 to 6 ns, mostly 2 to 3, on one core of a current machine. The limit a
// call is held to is kMaxUnionWork (settings.hpp).
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

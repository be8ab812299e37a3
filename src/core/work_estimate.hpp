// Estimates of the work a call asks for, made before the work starts, so that a call whose
// parameters make it run for minutes is refused at once with a message naming what to change.
#pragma once

#include <optional>
#include <vector>

#include "partition.hpp"
#include "types.hpp"

namespace strandify {

// About how many (edge, scanbeam) visits the union of the buffers costs. The union sweeps a
// horizontal line over all buffer edges and, at every distinct vertex height, walks the edges
// the line crosses; a buffer segment of radius r around the segment a-b spans the heights
// [min(a.y, b.y) - r, max(a.y, b.y) + r]. So the work is the number of (segment, vertex) pairs
// with the vertex's height inside the segment's span: counted exactly here from the sorted
// vertex heights in O(n log n), without building any buffer. The per-curve offsetter sweeps
// each curve's own buffer the same way, and that is part of the same count.
// A curve with a width list is offset point by point and its buffer has several times the
// vertices of a uniform one: its segments count kVariableWidthWeight times (measured: about
// 140 ns per counted visit against 17 for uniform sketch strokes).
double union_sweep_work(const std::vector<Curve>& curves, const std::optional<WidthLists>& widths,
                        double buffer_distance);

// The same summed over the groups of a partitioned union: each group's sweep only crosses the
// edges of its own buffers.
double union_sweep_work(const std::vector<Curve>& curves, const std::optional<WidthLists>& widths,
                        double buffer_distance, const CurveGroups& groups);

inline constexpr double kVariableWidthWeight = 8.0;

// No call's union may cost more than this many counted visits: about half a minute on one
// core of a current machine (an overdrawn sketch of half a million points counts 7e8 and takes
// 13 s). A drawing above it is still fine split into several calls.
inline constexpr double kMaxUnionWork = 2.0e9;

}  // namespace strandify

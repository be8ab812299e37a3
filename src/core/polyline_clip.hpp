// Polylines cut to a rectangle, as tiling cuts curves to a tile's halo and chains to its core.
#pragma once

#include <cstddef>
#include <vector>

#include "types.hpp"

namespace strandify {

// A part of a polyline inside a box.
struct ClippedRun {
  std::vector<Point> points;
  std::vector<double> widths;  // empty unless the polyline had widths
  bool start_cut = false;      // the run starts where the polyline enters the box
  bool end_cut = false;        // ... and ends where it leaves it
};

// The parts of points[first .. last] inside the box, as runs of at least two points.
// Points at the ends of a cut are the polyline's own, bit for bit, so a polyline that lies
// inside the box comes out unchanged. `widths`, when given, are cut along with the points.
std::vector<ClippedRun> clip_polyline(const std::vector<Point>& points,
                                      const std::vector<double>* widths, std::size_t first,
                                      std::size_t last, const Box& box);

// Whether p lies in [min_x, max_x) x [min_y, max_y).
bool inside_half_open(Point p, const Box& b);

// A piece lying wholly on the right or top edge of a core belongs to the neighbouring tile,
// whose core includes that edge.
bool on_far_edge(const std::vector<Point>& points, const Box& core);

}  // namespace strandify

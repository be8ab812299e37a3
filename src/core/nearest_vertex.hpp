// Exact nearest-vertex distances for the width measurement: a tree of boxes over the boundary
// vertices, halved at the median along the longer side, searched nearer box first until no
// box can hold a closer vertex. The answer is the same minimum a scan of every vertex finds,
// bit for bit, because every candidate's squared distance is computed with the same
// expression and a box is skipped only when its nearest point, computed with monotonic
// operations, is no closer than the current best. Unlike a uniform grid, the cost of a query
// does not grow with its distance to the boundary: chain points of a wide shape whose
// boundary is finely subdivided lie thousands of cells from any vertex.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "types.hpp"

namespace strandify {

class NearestVertexIndex {
 public:
  // The index refers to `vertices` and must not outlive it; a temporary would be gone before
  // the first query.
  explicit NearestVertexIndex(const std::vector<Point>& vertices);
  explicit NearestVertexIndex(std::vector<Point>&&) = delete;

  // Smallest (p.x - b.x)^2 + (p.y - b.y)^2 over all vertices b; +infinity when there are none
  // and NaN distances never win.
  double min_squared_distance(Point p) const;

 private:
  struct Box {
    double min_x, min_y, max_x, max_y;
    std::uint32_t first, last;  // its vertices, order_[first, last)
    std::uint32_t low, high;    // children, 0 for a leaf (the root, index 0, is nobody's child)
  };
  double scan_all(Point p) const;
  static double box_distance(const Box& b, Point p);

  const std::vector<Point>& vertices_;
  std::vector<std::uint32_t> order_;  // vertex indices grouped by box
  std::vector<Box> boxes_;
};

}  // namespace strandify

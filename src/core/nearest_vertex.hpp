// Exact nearest-vertex distances for the width measurement: a tree of boxes over the boundary
// vertices, halved at the median along the longer side, searched nearer box first until no
// box can hold a closer vertex. The answer is the same minimum a scan of every vertex finds,
// bit for bit, because every candidate's squared distance is computed with the same
// expression and a box is skipped only when its nearest point, computed with monotonic
// operations, is no closer than the current best. Unlike a uniform grid, the cost of a query
// does not grow with its distance to the boundary: chain points of a wide shape whose
// boundary is finely subdivided lie thousands of cells from any vertex.
#pragma once

#include <vector>

#include "box_tree.hpp"
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
  double scan_all(Point p) const;

  const std::vector<Point>& vertices_;
  BoxTree tree_;
};

}  // namespace strandify

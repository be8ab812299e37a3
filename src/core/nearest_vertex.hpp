// Exact nearest-vertex distances for the width measurement: a uniform grid over the boundary
// vertices, searched ring by ring around the query until no unvisited cell can hold a closer
// vertex. The answer is the same minimum a scan of every vertex finds, bit for bit, because
// every candidate's squared distance is computed with the same expression and only vertices
// provably farther than the current best are skipped.
#pragma once

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
  double scan_all(Point p) const;
  void visit_cell(std::int64_t cx, std::int64_t cy, Point p, double& best) const;

  const std::vector<Point>& vertices_;
  std::vector<std::uint32_t> order_;        // vertex indices grouped by cell
  std::vector<std::uint32_t> cell_start_;   // CSR offsets into order_, one per cell plus one
  double min_x_ = 0.0, min_y_ = 0.0, cell_ = 0.0, inv_cell_ = 0.0;
  std::int64_t nx_ = 0, ny_ = 0;
  bool gridded_ = false;
};

}  // namespace strandify

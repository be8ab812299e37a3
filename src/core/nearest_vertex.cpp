#include "nearest_vertex.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "numeric.hpp"

namespace strandify {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
// Below this many vertices a plain scan is as fast as building a grid.
constexpr std::size_t kMinGridded = 64;
constexpr std::int64_t kMaxCellsPerAxis = 1 << 15;

double squared_distance(Point p, Point b) {
  const double dx = p.x - b.x;
  const double dy = p.y - b.y;
  return dx * dx + dy * dy;
}

}  // namespace

NearestVertexIndex::NearestVertexIndex(const std::vector<Point>& vertices) : vertices_(vertices) {
  const std::size_t n = vertices.size();
  if (n < kMinGridded || n >= std::numeric_limits<std::uint32_t>::max()) return;
  double max_x = -kInf, max_y = -kInf;
  min_x_ = kInf;
  min_y_ = kInf;
  for (const Point& v : vertices) {
    if (!std::isfinite(v.x) || !std::isfinite(v.y)) return;  // keep the plain scan's semantics
    min_x_ = std::min(min_x_, v.x);
    min_y_ = std::min(min_y_, v.y);
    max_x = std::max(max_x, v.x);
    max_y = std::max(max_y, v.y);
  }
  const double w = max_x - min_x_, h = max_y - min_y_;
  // About two vertices per cell over the bounding box, never degenerate.
  double cell = std::sqrt(std::max(w * h, 0.0) / (0.5 * static_cast<double>(n)));
  cell = std::max({cell, w / kMaxCellsPerAxis, h / kMaxCellsPerAxis});
  if (!(cell > 0.0) || !std::isfinite(cell) || !std::isfinite(w) || !std::isfinite(h)) return;
  cell_ = cell;
  inv_cell_ = 1.0 / cell;
  nx_ = std::min<std::int64_t>(floor_i64(w * inv_cell_) + 1, kMaxCellsPerAxis + 1);
  ny_ = std::min<std::int64_t>(floor_i64(h * inv_cell_) + 1, kMaxCellsPerAxis + 1);

  auto cell_of = [&](const Point& v) {
    const std::int64_t cx = std::clamp<std::int64_t>(floor_i64((v.x - min_x_) * inv_cell_), 0, nx_ - 1);
    const std::int64_t cy = std::clamp<std::int64_t>(floor_i64((v.y - min_y_) * inv_cell_), 0, ny_ - 1);
    return static_cast<std::size_t>(cy * nx_ + cx);
  };
  cell_start_.assign(static_cast<std::size_t>(nx_ * ny_) + 1, 0);
  for (const Point& v : vertices) ++cell_start_[cell_of(v) + 1];
  for (std::size_t c = 1; c < cell_start_.size(); ++c) cell_start_[c] += cell_start_[c - 1];
  order_.resize(n);
  std::vector<std::uint32_t> fill(cell_start_.begin(), cell_start_.end() - 1);
  for (std::size_t i = 0; i < n; ++i) order_[fill[cell_of(vertices[i])]++] = static_cast<std::uint32_t>(i);
  gridded_ = true;
}

double NearestVertexIndex::scan_all(Point p) const {
  double best = kInf;
  for (const Point& b : vertices_) {
    const double d = squared_distance(p, b);
    if (d < best) best = d;
  }
  return best;
}

void NearestVertexIndex::visit_cell(std::int64_t cx, std::int64_t cy, Point p, double& best) const {
  if (cx < 0 || cy < 0 || cx >= nx_ || cy >= ny_) return;
  const std::size_t c = static_cast<std::size_t>(cy * nx_ + cx);
  for (std::uint32_t k = cell_start_[c]; k < cell_start_[c + 1]; ++k) {
    const double d = squared_distance(p, vertices_[order_[k]]);
    if (d < best) best = d;
  }
}

double NearestVertexIndex::min_squared_distance(Point p) const {
  if (!gridded_ || !std::isfinite(p.x) || !std::isfinite(p.y)) return scan_all(p);
  // The query's cell may lie just outside the grid; rings are still counted from it.
  const double fx = std::floor((p.x - min_x_) * inv_cell_);
  const double fy = std::floor((p.y - min_y_) * inv_cell_);
  // Chain points lie in or next to the region; a query far off the grid would walk many
  // empty rings, and a scan is cheaper then.
  if (!(fx >= -2.0 && fy >= -2.0 && fx <= static_cast<double>(nx_ + 1) &&
        fy <= static_cast<double>(ny_ + 1)))
    return scan_all(p);
  const auto qx = static_cast<std::int64_t>(fx);
  const auto qy = static_cast<std::int64_t>(fy);
  // Rings beyond this one cannot reach any grid cell.
  const std::int64_t last_ring =
      std::max({qx, nx_ - 1 - qx, qy, ny_ - 1 - qy, std::int64_t{0}});
  double best = kInf;
  for (std::int64_t r = 0; r <= last_ring; ++r) {
    // Every vertex in ring r or beyond is at least (r - 1) cells away on one axis from the
    // query, which lies inside ring 0; with a margin for rounding, a best already below that
    // bound cannot be beaten.
    if (r >= 2) {
      const double gap = static_cast<double>(r - 1) * cell_ * (1.0 - 1e-9);
      if (gap * gap > best) break;
    }
    if (r == 0) {
      visit_cell(qx, qy, p, best);
      continue;
    }
    // Only the part of the ring that overlaps the grid: a query in a wide empty stretch must
    // not pay for cells that do not exist.
    const std::int64_t x0 = std::max(qx - r, std::int64_t{0}), x1 = std::min(qx + r, nx_ - 1);
    const std::int64_t y0 = std::max(qy - r + 1, std::int64_t{0}), y1 = std::min(qy + r - 1, ny_ - 1);
    for (std::int64_t cy : {qy - r, qy + r}) {
      if (cy < 0 || cy >= ny_) continue;
      for (std::int64_t cx = x0; cx <= x1; ++cx) visit_cell(cx, cy, p, best);
    }
    for (std::int64_t cx : {qx - r, qx + r}) {
      if (cx < 0 || cx >= nx_) continue;
      for (std::int64_t cy = y0; cy <= y1; ++cy) visit_cell(cx, cy, p, best);
    }
  }
  return best;
}

}  // namespace strandify

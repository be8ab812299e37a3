#include "nearest_vertex.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace strandify {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
// Below this many vertices a plain scan is as fast as building a tree.
constexpr std::size_t kMinIndexed = 64;
constexpr std::uint32_t kLeafSize = 16;

double squared_distance(Point p, Point b) {
  const double dx = p.x - b.x;
  const double dy = p.y - b.y;
  return dx * dx + dy * dy;
}

}  // namespace

NearestVertexIndex::NearestVertexIndex(const std::vector<Point>& vertices) : vertices_(vertices) {
  const std::size_t n = vertices.size();
  if (n < kMinIndexed || n >= std::numeric_limits<std::uint32_t>::max()) return;
  for (const Point& v : vertices)
    if (!std::isfinite(v.x) || !std::isfinite(v.y)) return;  // keep the plain scan's semantics
  order_.resize(n);
  for (std::size_t i = 0; i < n; ++i) order_[i] = static_cast<std::uint32_t>(i);
  boxes_.reserve(n / 4 + 1);
  boxes_.push_back({0, 0, 0, 0, 0, static_cast<std::uint32_t>(n), 0, 0});
  // Boxes are split in creation order, so every child comes after its parent.
  for (std::size_t b = 0; b < boxes_.size(); ++b) {
    Box box = boxes_[b];
    const Point& first = vertices[order_[box.first]];
    box.min_x = box.max_x = first.x;
    box.min_y = box.max_y = first.y;
    for (std::uint32_t i = box.first; i < box.last; ++i) {
      const Point& v = vertices[order_[i]];
      box.min_x = std::min(box.min_x, v.x);
      box.max_x = std::max(box.max_x, v.x);
      box.min_y = std::min(box.min_y, v.y);
      box.max_y = std::max(box.max_y, v.y);
    }
    if (box.last - box.first > kLeafSize) {
      // Ties in the coordinate fall back to the vertex number, so the split does not depend
      // on the library's selection algorithm.
      const bool along_x = box.max_x - box.min_x >= box.max_y - box.min_y;
      const std::uint32_t mid = box.first + (box.last - box.first) / 2;
      std::nth_element(order_.begin() + box.first, order_.begin() + mid, order_.begin() + box.last,
                       [&](std::uint32_t a, std::uint32_t c) {
                         const double ca = along_x ? vertices[a].x : vertices[a].y;
                         const double cc = along_x ? vertices[c].x : vertices[c].y;
                         return ca < cc || (ca == cc && a < c);
                       });
      box.low = static_cast<std::uint32_t>(boxes_.size());
      boxes_.push_back({0, 0, 0, 0, box.first, mid, 0, 0});
      box.high = static_cast<std::uint32_t>(boxes_.size());
      boxes_.push_back({0, 0, 0, 0, mid, box.last, 0, 0});
    }
    boxes_[b] = box;
  }
}

double NearestVertexIndex::scan_all(Point p) const {
  double best = kInf;
  for (const Point& b : vertices_) {
    const double d = squared_distance(p, b);
    if (d < best) best = d;
  }
  return best;
}

// No more than the squared distance of any vertex of `b`: each gap is at most the vertex's
// own coordinate difference, and rounding keeps that order.
double NearestVertexIndex::box_distance(const Box& b, Point p) {
  const double gx = p.x < b.min_x ? b.min_x - p.x : (p.x > b.max_x ? p.x - b.max_x : 0.0);
  const double gy = p.y < b.min_y ? b.min_y - p.y : (p.y > b.max_y ? p.y - b.max_y : 0.0);
  return gx * gx + gy * gy;
}

double NearestVertexIndex::min_squared_distance(Point p) const {
  if (boxes_.empty() || !std::isfinite(p.x) || !std::isfinite(p.y)) return scan_all(p);
  double best = kInf;
  // Depth-first, the nearer child on top; the tree is balanced (at most 2^32 vertices), so
  // its depth stays far below the stack's size.
  std::array<std::uint32_t, 128> stack;
  std::size_t top = 0;
  stack[top++] = 0;
  while (top > 0) {
    const Box& b = boxes_[stack[--top]];
    if (!(box_distance(b, p) < best)) continue;
    if (b.low == 0 || top + 2 > stack.size()) {
      for (std::uint32_t i = b.first; i < b.last; ++i) {
        const double d = squared_distance(p, vertices_[order_[i]]);
        if (d < best) best = d;
      }
      continue;
    }
    const bool low_nearer = box_distance(boxes_[b.low], p) <= box_distance(boxes_[b.high], p);
    stack[top++] = low_nearer ? b.high : b.low;
    stack[top++] = low_nearer ? b.low : b.high;
  }
  return best;
}

}  // namespace strandify

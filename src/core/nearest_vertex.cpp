#include "nearest_vertex.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

#include "geometry.hpp"

namespace strandify {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
// Below this many vertices a plain scan is as fast as building a tree.
constexpr std::size_t kMinIndexed = 64;
constexpr std::uint32_t kLeafSize = 16;

}  // namespace

NearestVertexIndex::NearestVertexIndex(const std::vector<Point>& vertices) : vertices_(vertices) {
  const std::size_t n = vertices.size();
  if (n < kMinIndexed) return;
  for (const Point& v : vertices)
    if (!std::isfinite(v.x) || !std::isfinite(v.y)) return;  // keep the plain scan's semantics
  if (n >= std::numeric_limits<std::uint32_t>::max()) return;
  std::vector<std::uint32_t> ids(n);
  for (std::size_t i = 0; i < n; ++i) ids[i] = static_cast<std::uint32_t>(i);
  tree_ = BoxTree(std::move(ids), [&](std::uint32_t i) { return vertices[i]; }, kLeafSize);
}

double NearestVertexIndex::scan_all(Point p) const {
  double best = kInf;
  for (const Point& b : vertices_) {
    const double d = squared_distance(p, b);
    if (d < best) best = d;
  }
  return best;
}

double NearestVertexIndex::min_squared_distance(Point p) const {
  if (tree_.empty() || !std::isfinite(p.x) || !std::isfinite(p.y)) return scan_all(p);
  double best = kInf;
  // A box is worth a look while its gap, negated so that nearer is more promising, is below
  // the best distance so far.
  tree_.search([&](std::uint32_t box) { return -BoxTree::gap_squared(tree_.boxes()[box], p); },
               [&](double promise) { return -promise < best; },
               [&](std::uint32_t i) {
                 const double d = squared_distance(p, vertices_[i]);
                 if (d < best) best = d;
               });
  return best;
}

}  // namespace strandify

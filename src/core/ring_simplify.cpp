// Ramer-Douglas-Peucker simplification and edge subdivision of point sequences.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "boundary.hpp"
#include "assert.hpp"
#include "geometry.hpp"
#include "numeric.hpp"

namespace strandify {
namespace {

struct Farthest {
  std::size_t index;  // == lo when no interior point lies strictly above distance 0
  double distance;
};

// Farthest interior point of p[lo..hi] from the line through p[lo] and p[hi]. The first strict
// maximum wins, so ties keep the lowest index and a NaN distance never wins. When both chord
// ends coincide there is no line, and the distance to that shared point is used instead.
Farthest farthest_from_chord(const std::vector<Point>& p, std::size_t lo, std::size_t hi) {
  const Point first = p[lo];
  const double dx = p[hi].x - first.x;
  const double dy = p[hi].y - first.y;
  const double len2 = dx * dx + dy * dy;
  Farthest best{lo, 0.0};
  // The distances compared are square roots, but a square no larger than the best one's has a
  // root no larger than the best (the root is correctly rounded, hence monotonic): only a point
  // whose square is larger needs its root taken and compared. NaN squares fail both tests.
  double best_square = 0.0;
  const auto consider = [&best, &best_square](std::size_t i, double square) {
    if (!(square > best_square)) return;
    const double d = std::sqrt(square);
    if (d > best.distance) {
      best = {i, d};
      best_square = square;
    }
  };
  if (len2 != 0.0) {
    for (std::size_t i = lo + 1; i < hi; ++i) {
      // t is deliberately unclamped: points beyond the chord ends are measured to the line.
      const double t = ((p[i].x - first.x) * dx + (p[i].y - first.y) * dy) / len2;
      consider(i, squared_distance(p[i], {first.x + t * dx, first.y + t * dy}));
    }
  } else {
    for (std::size_t i = lo + 1; i < hi; ++i) consider(i, squared_distance(first, p[i]));
  }
  return best;
}

}  // namespace

// The recursive definition only ever keeps the end points of the sub-paths it visits, and its
// output lists them in index order. Marking those points from an explicit stack of index
// ranges therefore yields the identical subsequence without recursion depth growing with n.
std::vector<Point> rdp(const std::vector<Point>& points, double epsilon) {
  const std::size_t n = points.size();
  if (n <= 2) return points;

  std::vector<unsigned char> keep(n, 0);
  keep[0] = 1;
  keep[n - 1] = 1;
  std::size_t kept = 2;

  std::vector<std::pair<std::size_t, std::size_t>> pending;
  pending.emplace_back(0, n - 1);
  while (!pending.empty()) {
    const auto [lo, hi] = pending.back();
    pending.pop_back();
    if (hi - lo < 2) continue;
    const Farthest f = farthest_from_chord(points, lo, hi);
    // Without any candidate there is nothing to split at, whatever epsilon is (this only
    // matters for epsilon <= 0 or NaN, which callers never pass).
    if (f.index == lo || epsilon >= f.distance) continue;
    keep[f.index] = 1;
    ++kept;
    pending.emplace_back(f.index, hi);
    pending.emplace_back(lo, f.index);
  }

  std::vector<Point> out;
  out.reserve(kept);
  for (std::size_t i = 0; i < n; ++i) {
    if (keep[i]) out.push_back(points[i]);
  }
  return out;
}

namespace {

// Number of pieces an edge of length `len` is cut into; 0 or 1 means it stays whole. An edge
// whose length is not finite (overflowing or infinite coordinates) cannot be cut into a finite
// number of pieces and is left whole rather than emitting an unbounded number of points.
std::uint64_t piece_count(double len, double max_edge) {
  if (!(len > max_edge) || !std::isfinite(len)) return 0;
  return ceil_u64(len / max_edge);
}

}  // namespace

Ring subdivide_ring(const Ring& ring, double max_edge) {
  STRANDIFY_ASSERT(max_edge > 0.0);
  const std::size_t n = ring.size();
  if (n <= 1) return ring;

  std::vector<std::uint64_t> pieces(n);
  for (std::size_t i = 0; i < n; ++i)
    pieces[i] = piece_count(root_sum_squares_distance(ring[i], ring[(i + 1) % n]), max_edge);
  return detail::split_edges(ring, pieces, Ring().max_size());
}

namespace detail {

Ring split_edges(const Ring& ring, const std::vector<std::uint64_t>& pieces,
                 std::uint64_t reserve_limit) {
  const std::size_t n = ring.size();
  std::uint64_t total = n;
  for (const std::uint64_t k : pieces)
    if (k >= 2) total = (total > UINT64_MAX - (k - 1)) ? UINT64_MAX : total + (k - 1);
  Ring out;
  if (total <= reserve_limit) out.reserve(static_cast<std::size_t>(total));
  for (std::size_t i = 0; i < n; ++i) {
    const Point a = ring[i];
    const Point b = ring[(i + 1) % n];
    out.push_back(a);
    const std::uint64_t k = pieces[i];
    if (k < 2) continue;
    const double dx = b.x - a.x;
    const double dy = b.y - a.y;
    const double kd = static_cast<double>(k);
    for (std::uint64_t j = 1; j < k; ++j) {
      const double s = static_cast<double>(j) / kd;
      out.push_back({a.x + s * dx, a.y + s * dy});
    }
  }
  return out;
}

}  // namespace detail

}  // namespace strandify

#include "lost_shapes.hpp"

#include <algorithm>
#include <cmath>

namespace strandify {
namespace {

Ring finite_points(const Ring& ring) {
  Ring out;
  out.reserve(ring.size());
  for (const Point& p : ring)
    if (std::isfinite(p.x) && std::isfinite(p.y)) out.push_back(p);
  return out;
}

// Even-odd crossing test, written as the caller's check always computed it so that a point on
// or near the ring is classified the same way.
bool ring_contains(const Ring& ring, Point p) {
  bool inside = false;
  for (std::size_t i = 0, j = ring.size() - 1; i < ring.size(); j = i++) {
    const Point& a = ring[i];
    const Point& b = ring[j];
    if ((a.y > p.y) != (b.y > p.y) && p.x < (b.x - a.x) * (p.y - a.y) / (b.y - a.y) + a.x)
      inside = !inside;
  }
  return inside;
}

int side(Point p, Point q, Point r) {
  const double c = (q.x - p.x) * (r.y - p.y) - (q.y - p.y) * (r.x - p.x);
  return (c > 0.0) - (c < 0.0);
}

bool crosses_ring(const Ring& ring, const Segment& s) {
  for (std::size_t i = 0; i < ring.size(); ++i) {
    const Point c = ring[i], d = ring[(i + 1) % ring.size()];
    if (side(s.from, s.to, c) * side(s.from, s.to, d) < 0 &&
        side(c, d, s.from) * side(c, d, s.to) < 0)
      return true;
  }
  return false;
}

bool near(const Segment& s, const Box& b) {
  return std::max(s.from.x, s.to.x) >= b.min_x && std::max(s.from.y, s.to.y) >= b.min_y &&
         std::min(s.from.x, s.to.x) <= b.max_x && std::min(s.from.y, s.to.y) <= b.max_y;
}

bool entered(const Ring& ring, const std::vector<Segment>& segments) {
  Box box{ring[0].x, ring[0].y, ring[0].x, ring[0].y};
  for (const Point& p : ring)
    box = {std::min(box.min_x, p.x), std::min(box.min_y, p.y), std::max(box.max_x, p.x),
           std::max(box.max_y, p.y)};
  for (const Segment& s : segments)
    if (near(s, box) && ring_contains(ring, s.from)) return true;
  for (const Segment& s : segments)
    if (near(s, box) && crosses_ring(ring, s)) return true;
  return false;
}

}  // namespace

std::vector<std::size_t> lost_shapes(const std::vector<Ring>& outers,
                                     const std::vector<Curve>& chains) {
  std::vector<Segment> segments;
  for (const Curve& c : chains)
    for (std::size_t i = 1; i < c.size(); ++i) segments.push_back({c[i - 1], c[i]});
  std::vector<std::size_t> lost;
  for (std::size_t k = 0; k < outers.size(); ++k) {
    const Ring ring = finite_points(outers[k]);
    if (ring.size() >= 3 && !entered(ring, segments)) lost.push_back(k);
  }
  return lost;
}

}  // namespace strandify

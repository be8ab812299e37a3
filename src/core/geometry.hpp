// Small geometry helpers on points, polylines and rings that every stage shares.
//
// Two ways of measuring a distance live here side by side, on purpose: std::hypot (distance)
// and the square root of the sum of squares (root_sum_squares_distance). They differ in the
// last bit for ordinary points and hypot alone survives coordinates whose squares overflow, so
// each stage keeps the one it measures with: changing it would change results. The square root
// is correctly rounded, and so the same with every maths library, where hypot need not be.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "types.hpp"

namespace strandify {

// Points as vectors.
inline Point sub(Point a, Point b) { return {a.x - b.x, a.y - b.y}; }
inline Point add(Point a, Point b) { return {a.x + b.x, a.y + b.y}; }
inline Point scale(Point a, double s) { return {a.x * s, a.y * s}; }
inline double dot(Point a, Point b) { return a.x * b.x + a.y * b.y; }
inline double cross(Point a, Point b) { return a.x * b.y - a.y * b.x; }
inline double norm(Point a) { return std::hypot(a.x, a.y); }

// Halfway between a and b, as (a + b) / 2 (the sum is the same in either order).
inline Point midpoint(Point a, Point b) { return {(a.x + b.x) * 0.5, (a.y + b.y) * 0.5}; }

// (b - a) squared, coordinate by coordinate; the order of a and b does not change a bit.
inline double squared_distance(Point a, Point b) {
  const double dx = b.x - a.x;
  const double dy = b.y - a.y;
  return dx * dx + dy * dy;
}

// Euclidean distance by std::hypot: what the graph and stitching stages measure with, and the
// finishing steps outside their walks and boundary distances. Symmetric in a and b to the bit
// (a - b is exactly -(b - a), and hypot ignores signs).
inline double distance(Point a, Point b) { return std::hypot(b.x - a.x, b.y - a.y); }

// Euclidean distance as std::sqrt(squared_distance): what boundary preprocessing measures its
// edges with, and the finishing steps' walks the graph's edges. Symmetric to the bit too.
inline double root_sum_squares_distance(Point a, Point b) {
  return std::sqrt(squared_distance(a, b));
}

// The point of the segment a-b nearest to p (a itself when a and b coincide); the distance to
// the segment is `distance` from p to it.
inline Point nearest_on_segment(Point p, Point a, Point b) {
  const Point e = sub(b, a);
  const double ee = dot(e, e);
  double t = ee > 0.0 ? dot(sub(p, a), e) / ee : 0.0;
  t = t < 0.0 ? 0.0 : (t > 1.0 ? 1.0 : t);
  return add(a, scale(e, t));
}

// Length of an open polyline by `distance`, summed from its first point in order.
inline double polyline_length(const std::vector<Point>& points) {
  double length = 0.0;
  for (std::size_t k = 0; k + 1 < points.size(); ++k) length += distance(points[k], points[k + 1]);
  return length;
}

// Length of a closed ring by `distance`, its closing edge last.
inline double ring_length(const Ring& ring) {
  double length = 0.0;
  for (std::size_t k = 0; k < ring.size(); ++k)
    length += distance(ring[k], ring[(k + 1) % ring.size()]);
  return length;
}

// Signed shoelace area, counter-clockwise positive, taken relative to the first point: on
// absolute coordinates far from the origin the products cancel catastrophically and a ring can
// change sign.
inline double ring_area(const Ring& ring) {
  if (ring.empty()) return 0.0;
  const Point o = ring[0];
  double twice = 0.0;
  for (std::size_t k = 0; k < ring.size(); ++k) {
    const Point& a = ring[k];
    const Point& b = ring[(k + 1) % ring.size()];
    twice += (a.x - o.x) * (b.y - o.y) - (b.x - o.x) * (a.y - o.y);
  }
  return 0.5 * twice;
}

// Bounds of a non-empty point list, grown from its first point by std::min and std::max (so a
// NaN after the first point is passed over).
inline Box bounding_box(const std::vector<Point>& points) {
  Box b{points[0].x, points[0].y, points[0].x, points[0].y};
  for (const Point& p : points) {
    b.min_x = std::min(b.min_x, p.x);
    b.min_y = std::min(b.min_y, p.y);
    b.max_x = std::max(b.max_x, p.x);
    b.max_y = std::max(b.max_y, p.y);
  }
  return b;
}

// Lexicographic order, x first: sorting points, finding repeated ones, searching sorted corners.
inline bool point_less(const Point& a, const Point& b) {
  return a.x < b.x || (a.x == b.x && a.y < b.y);
}

// Points of every ring of the polygon, holes included.
inline std::size_t ring_point_count(const Polygon& polygon) {
  std::size_t n = polygon.outer.size();
  for (const Ring& h : polygon.holes) n += h.size();
  return n;
}

inline std::size_t ring_point_count(const std::vector<Polygon>& polygons) {
  std::size_t n = 0;
  for (const Polygon& p : polygons) n += ring_point_count(p);
  return n;
}

}  // namespace strandify

#include "lost_groups.hpp"

#include <algorithm>
#include <cmath>
#include <optional>

#include "partition.hpp"

namespace strandify {
namespace {

bool is_finite(const Point& p) { return std::isfinite(p.x) && std::isfinite(p.y); }

// The box of the finite points of a stroke; none for a stroke with fewer than two of them,
// which draws nothing.
std::optional<Box> finite_box(const Curve& stroke) {
  std::size_t count = 0;
  Box b{0.0, 0.0, 0.0, 0.0};
  for (const Point& p : stroke) {
    if (!is_finite(p)) continue;
    if (count++ == 0) {
      b = {p.x, p.y, p.x, p.y};
      continue;
    }
    b = {std::min(b.min_x, p.x), std::min(b.min_y, p.y), std::max(b.max_x, p.x),
         std::max(b.max_y, p.y)};
  }
  if (count < 2) return std::nullopt;
  return b;
}

Box grown(const Box& b, double pad) {
  return {b.min_x - pad, b.min_y - pad, b.max_x + pad, b.max_y + pad};
}

Box joined(const Box& a, const Box& b) {
  return {std::min(a.min_x, b.min_x), std::min(a.min_y, b.min_y), std::max(a.max_x, b.max_x),
          std::max(a.max_y, b.max_y)};
}

// Every chain point, in order of x, so that a box's points are found by two binary searches
// and a scan of that slice.
std::vector<Point> points_by_x(const std::vector<Curve>& chains) {
  std::size_t total = 0;
  for (const Curve& c : chains) total += c.size();
  std::vector<Point> pts;
  pts.reserve(total);
  for (const Curve& c : chains) pts.insert(pts.end(), c.begin(), c.end());
  std::stable_sort(pts.begin(), pts.end(), [](const Point& a, const Point& b) { return a.x < b.x; });
  return pts;
}

bool any_point_in(const std::vector<Point>& by_x, const Box& b) {
  const auto lo = std::lower_bound(by_x.begin(), by_x.end(), b.min_x,
                                   [](const Point& p, double x) { return p.x < x; });
  const auto hi = std::upper_bound(lo, by_x.end(), b.max_x,
                                   [](double x, const Point& p) { return x < p.x; });
  return std::any_of(lo, hi, [&b](const Point& p) { return p.y >= b.min_y && p.y <= b.max_y; });
}

}  // namespace

LostGroups lost_groups(const std::vector<Curve>& strokes, const std::vector<Curve>& chains,
                       double buffer_distance) {
  std::vector<std::optional<Box>> boxes(strokes.size());
  std::vector<std::optional<Box>> padded(strokes.size());
  for (std::size_t i = 0; i < strokes.size(); ++i) {
    boxes[i] = finite_box(strokes[i]);
    if (boxes[i]) padded[i] = grown(*boxes[i], buffer_distance);
  }
  const CurveGroups groups = group_overlapping_boxes(padded);
  LostGroups out;
  out.groups = groups.size();
  const std::vector<Point> by_x = points_by_x(chains);
  const double reach = 2.0 * buffer_distance;
  for (std::size_t g = 0; g < groups.size(); ++g) {
    Box box = *boxes[*groups.begin_of(g)];
    for (const std::size_t* i = groups.begin_of(g); i != groups.end_of(g); ++i)
      box = joined(box, *boxes[*i]);
    if (!any_point_in(by_x, grown(box, reach))) out.firsts.push_back(*groups.begin_of(g));
  }
  return out;
}

}  // namespace strandify

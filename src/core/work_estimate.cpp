#include "work_estimate.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "inflate.hpp"
#include "numeric.hpp"

namespace strandify {
namespace {

double radius_at(const WidthList* widths, std::size_t point, double buffer_distance) {
  if (widths) return point < widths->size() ? std::fabs((*widths)[point]) : 0.0;
  return std::fabs(buffer_distance);
}

// Whether inflation offsets the curve at all: as inflate's own check, at least two points, every
// coordinate and radius finite and within the offsetter's range, one width per point.
bool buffered(const Curve& curve, const WidthList* widths, double buffer_distance) {
  if (curve.size() < 2) return false;
  if (widths && widths->size() != curve.size()) return false;
  double radius = 0.0;
  for (std::size_t k = 0; k < curve.size(); ++k) {
    const double r = radius_at(widths, k, buffer_distance);
    if (!std::isfinite(r)) return false;
    radius = std::max(radius, r);
  }
  double extent = 0.0;
  for (const Point& p : curve) {
    if (!std::isfinite(p.x) || !std::isfinite(p.y)) return false;
    extent = std::max({extent, std::fabs(p.x), std::fabs(p.y)});
  }
  return extent + 2.0 * radius <= kMaxInflationExtent;
}

// A curve whose points all coincide at the union's scale is buffered as one square, built
// without the offsetter.
bool one_square(const Curve& curve) {
  const std::int64_t x = round_i64(curve[0].x * kUnionScale);
  const std::int64_t y = round_i64(curve[0].y * kUnionScale);
  for (const Point& p : curve)
    if (round_i64(p.x * kUnionScale) != x || round_i64(p.y * kUnionScale) != y) return false;
  return true;
}

constexpr double kCrowdingShare = 4.0;

// Merge passes over a list of `edges` edges: ceil(log2 edges), at least one.
double merge_passes(std::size_t edges) {
  double passes = 1.0;
  for (std::size_t reach = 2; reach < edges && passes < 64.0; reach *= 2) passes += 1.0;
  return passes;
}

// Heights and segment spans of one sweep, sorted before counting.
struct Sweep {
  std::vector<double> heights, lows, highs;

  void clear() {
    heights.clear();
    lows.clear();
    highs.clear();
  }
  // Sum over the heights h of A x passes(A), A the number of spans [low, high] containing h.
  // With `crowding`, a height that shares its integer row at the union's scale with k - 1 others
  // adds A x (k - 1) / kCrowdingShare: intersections of one row tie in the library's bottom-up
  // order, and each tied one is found by a search along the others. Measured on scribbles a few
  // integer units per step: 7,500 points 60 to a row, a tenth of the steps but 19 s.
  double cost(bool crowding) {
    std::sort(heights.begin(), heights.end());
    std::sort(lows.begin(), lows.end());
    std::sort(highs.begin(), highs.end());
    std::size_t opened = 0, closed = 0;
    double work = 0.0;
    for (std::size_t first = 0; first < heights.size();) {
      std::size_t last = first + 1;
      const std::int64_t row = round_i64(heights[first] * kUnionScale);
      while (last < heights.size() && round_i64(heights[last] * kUnionScale) == row) ++last;
      const double tied = crowding ? static_cast<double>(last - first - 1) / kCrowdingShare : 0.0;
      for (std::size_t i = first; i < last; ++i) {
        const double h = heights[i];
        while (opened < lows.size() && lows[opened] <= h) ++opened;
        while (closed < highs.size() && highs[closed] < h) ++closed;
        const std::size_t active = opened - closed;  // a span closed below h opened below it too
        work += static_cast<double>(active) * (merge_passes(active) + tied);
      }
      first = last;
    }
    return work;
  }
};

// Adds the curve's heights and plain spans to `overlap` and returns the cost of its own offset.
double add_curve(const Curve& c, const WidthList* widths, double buffer_distance, Sweep& own,
                 Sweep& overlap) {
  if (one_square(c)) {
    // Four corners, two sides crossing every height between them.
    const double r = radius_at(widths, 0, buffer_distance);
    const double y = c[0].y;
    overlap.heights.insert(overlap.heights.end(), {y - r, y - r, y + r, y + r});
    overlap.lows.insert(overlap.lows.end(), {y - r, y - r});
    overlap.highs.insert(overlap.highs.end(), {y + r, y + r});
    return 4.0;
  }
  for (const Point& p : c) overlap.heights.push_back(p.y);
  for (std::size_t k = 0; k + 1 < c.size(); ++k) {
    overlap.lows.push_back(std::min(c[k].y, c[k + 1].y));
    overlap.highs.push_back(std::max(c[k].y, c[k + 1].y));
  }
  own.clear();
  for (const Point& p : c) own.heights.push_back(p.y);
  for (std::size_t k = 0; k + 1 < c.size(); ++k) {
    const double r = std::max(radius_at(widths, k, buffer_distance),
                              radius_at(widths, k + 1, buffer_distance));
    own.lows.push_back(std::min(c[k].y, c[k + 1].y) - r);
    own.highs.push_back(std::max(c[k].y, c[k + 1].y) + r);
  }
  return own.cost(true);
}

// The work of the curves curves[*first], ..., curves[*(last - 1)] unioned together.
UnionWork work_of(const std::vector<Curve>& curves, const std::optional<WidthLists>& widths,
                  double buffer_distance, const std::size_t* first, const std::size_t* last,
                  Sweep& own, Sweep& overlap) {
  overlap.clear();
  std::size_t points = 0;
  for (const std::size_t* i = first; i != last; ++i) points += curves[*i].size();
  overlap.heights.reserve(points);
  overlap.lows.reserve(points);
  overlap.highs.reserve(points);
  UnionWork work;
  for (const std::size_t* it = first; it != last; ++it) {
    const Curve& c = curves[*it];
    const WidthList* w = width_list_of(widths, *it);
    if (!buffered(c, w, buffer_distance)) continue;
    work.own += add_curve(c, w, buffer_distance, own, overlap);
  }
  work.overlap = overlap.cost(false);
  return work;
}

}  // namespace

UnionWork union_sweep_work(const std::vector<Curve>& curves, const std::optional<WidthLists>& widths,
                           double buffer_distance) {
  std::vector<std::size_t> all(curves.size());
  for (std::size_t i = 0; i < all.size(); ++i) all[i] = i;
  Sweep own, overlap;
  return work_of(curves, widths, buffer_distance, all.data(), all.data() + all.size(), own,
                 overlap);
}

UnionWork union_sweep_work(const std::vector<Curve>& curves, const std::optional<WidthLists>& widths,
                           double buffer_distance, const CurveGroups& groups) {
  Sweep own, overlap;
  UnionWork work;
  for (std::size_t g = 0; g < groups.size(); ++g) {
    const UnionWork part = work_of(curves, widths, buffer_distance, groups.begin_of(g),
                                   groups.end_of(g), own, overlap);
    work.own += part.own;
    work.overlap += part.overlap;
  }
  return work;
}

}  // namespace strandify

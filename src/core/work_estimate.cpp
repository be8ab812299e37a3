#include "work_estimate.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "inflate.hpp"
#include "numeric.hpp"
#include "radix_sort.hpp"

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

struct Grid {
  std::int64_t x, y;
  bool operator==(const Grid& o) const { return x == o.x && y == o.y; }
};

// The curve at the union's scale without repeated points, as the offsetter strips it.
void grid_path(const Curve& curve, std::vector<Grid>& path) {
  path.clear();
  for (const Point& p : curve) {
    const Grid g{round_i64(p.x * kUnionScale), round_i64(p.y * kUnionScale)};
    if (path.empty() || !(path.back() == g)) path.push_back(g);
  }
}

struct Normal {
  double x = 0.0, y = 0.0;
};

// The offsetter's unit normal of the segment a -> b, computed the way it computes it: whether a
// vertex gets a spike depends on the last bit of these.
Normal unit_normal(Grid a, Grid b) {
  double dx = static_cast<double>(b.x - a.x);
  double dy = static_cast<double>(b.y - a.y);
  const double inverse = 1.0 / std::sqrt(dx * dx + dy * dy);
  dx *= inverse;
  dy *= inverse;
  return {dy, -dx};
}

// The vertices of a closed path at the union's scale, one after another, reduced to what its
// sweep's work depends on: the rows its edges span, the rows of its local minima, its width and
// how far its edges run sideways for every unit they rise.
struct Outline {
  std::vector<std::int64_t> lows, highs, minima;
  std::vector<std::uint64_t> sort_scratch;
  double vertices = 0.0;
  double run = 0.0, rise = 0.0;  // sums of |dx| and |dy| over the edges that are not horizontal
  std::int64_t min_x = 0, max_x = 0;

  void clear() {
    lows.clear();
    highs.clear();
    minima.clear();
    vertices = run = rise = 0.0;
    open_ = false;
  }
  void add(double x, double y) {
    const Grid p{round_i64(x), round_i64(y)};
    vertices += 1.0;
    if (!open_) {
      first_ = last_ = p;
      min_x = max_x = p.x;
      first_rise_ = last_rise_ = 0;
      open_ = true;
      return;
    }
    min_x = std::min(min_x, p.x);
    max_x = std::max(max_x, p.x);
    // A horizontal edge is never in the sweep's list of crossing edges.
    if (p.y != last_.y) {
      const int up = p.y > last_.y ? 1 : -1;
      lows.push_back(std::min(p.y, last_.y));
      highs.push_back(std::max(p.y, last_.y));
      run += std::fabs(static_cast<double>(p.x - last_.x));
      rise += std::fabs(static_cast<double>(p.y - last_.y));
      if (last_rise_ < 0 && up > 0) minima.push_back(last_.y);
      if (first_rise_ == 0) first_rise_ = up;
      last_rise_ = up;
    }
    last_ = p;
  }
  void close() {
    if (!open_) return;
    add(static_cast<double>(first_.x), static_cast<double>(first_.y));
    vertices -= 1.0;  // the first vertex again
    if (last_rise_ < 0 && first_rise_ > 0) minima.push_back(first_.y);
    open_ = false;
  }

 private:
  bool open_ = false;
  Grid first_{0, 0}, last_{0, 0};
  int first_rise_ = 0, last_rise_ = 0;
};

constexpr double kNoOffset = 1e-12;  // the offsetter's floating_point_tolerance

// One side's join at vertex v between the segments of normals `before` and `after`, offset by
// `delta` (scaled, signed): on the concave side the offsetter goes out along one normal, back to
// the vertex and out along the other, leaving a spike as long as the radius; on the convex side
// one mitred point for a turn below 2.5 degrees, two square corners for any other.
void add_join(Grid v, Normal before, Normal after, double delta, Outline& out) {
  const double x = static_cast<double>(v.x), y = static_cast<double>(v.y);
  if (std::fabs(delta) <= kNoOffset) {
    out.add(x, y);
    return;
  }
  const double sin_a = after.y * before.x - before.y * after.x;
  const double cos_a = after.x * before.x + after.y * before.y;
  if (cos_a > -0.999 && sin_a * delta < 0.0) {
    out.add(x + delta * before.x, y + delta * before.y);
    out.add(x, y);
    out.add(x + delta * after.x, y + delta * after.y);
  } else if (cos_a > 0.999) {
    const double q = delta / (cos_a + 1.0);
    out.add(x + (before.x + after.x) * q, y + (before.y + after.y) * q);
  } else {
    out.add(x + delta * before.x, y + delta * before.y);
    out.add(x + delta * after.x, y + delta * after.y);
  }
}

// The square cap at end point v of a curve leaving it in `direction` (a unit vector pointing
// away from the curve): two corners a radius beyond it, on either side.
void add_cap(Grid v, Normal normal, Normal direction, double delta, Outline& out) {
  const double x = static_cast<double>(v.x), y = static_cast<double>(v.y);
  if (std::fabs(delta) <= kNoOffset) {
    out.add(x, y);
    return;
  }
  const double bx = x + std::fabs(delta) * direction.x, by = y + std::fabs(delta) * direction.y;
  out.add(bx - delta * normal.x, by - delta * normal.y);
  out.add(bx + delta * normal.x, by + delta * normal.y);
}

// The offset of one curve before the offsetter's own union: its start cap, the joins of one side
// going forward, the end cap and the joins of the other side coming back.
template <class Radius>
void add_raw_offset(const std::vector<Grid>& path, const std::vector<Normal>& normals,
                    const Radius& delta, Outline& out) {
  const std::size_t last = path.size() - 1;
  const Normal n0 = normals[0], nl = normals[last - 1];
  add_cap(path[0], n0, Normal{n0.y, -n0.x}, delta(0), out);
  for (std::size_t j = 1; j < last; ++j) add_join(path[j], normals[j - 1], normals[j], delta(j), out);
  add_cap(path[last], Normal{-nl.x, -nl.y}, Normal{-nl.y, nl.x}, delta(last), out);
  for (std::size_t j = last - 1; j > 0; --j) {
    const Normal before{-normals[j].x, -normals[j].y}, after{-normals[j - 1].x, -normals[j - 1].y};
    add_join(path[j], before, after, delta(j), out);
  }
  out.close();
}

// The outline the offsetter hands on to the union of all buffers: the two sides a radius out,
// without the spikes its own union removed and without the points it finds collinear.
template <class Radius>
void add_clean_offset(const std::vector<Grid>& path, const std::vector<Normal>& normals,
                      const Radius& delta, Outline& out) {
  const std::size_t last = path.size() - 1;
  for (int side = 1; side >= -1; side -= 2) {
    for (std::size_t step = 0; step <= last; ++step) {
      const std::size_t j = side > 0 ? step : last - step;
      const Normal before = normals[j == 0 ? 0 : j - 1], after = normals[j == last ? j - 1 : j];
      const bool straight = j != 0 && j != last && after.y * before.x - before.y * after.x == 0.0;
      if (straight) continue;
      const double d = side * delta(j);
      const Normal n = j == last ? before : after;
      out.add(static_cast<double>(path[j].x) + d * n.x, static_cast<double>(path[j].y) + d * n.y);
    }
  }
  out.close();
}

// Merge passes over a list of `edges` edges: ceil(log2 edges), at least one.
double merge_passes(double edges) {
  double passes = 1.0;
  for (double reach = 2.0; reach < edges && passes < 64.0; reach *= 2.0) passes += 1.0;
  return passes;
}

// Weights of the sweep's kinds of work, in steps of its merge sort (one edge visited), fitted to
// the unions timed by bench/bench_union_estimate.py.
constexpr double kVertexSteps = 64.0;     // a vertex is read, sorted into its row, handed on
constexpr double kInsertionSteps = 2.0;   // an edge passed while inserting a local minimum
constexpr double kCachedEdges = 4096.0;   // a visit costs 1 + A / kCachedEdges steps with A edges
                                          // crossing the row: ever more of them miss the cache
constexpr double kSearchSteps = 1.0 / 16.0;  // per unit of the tied swaps' search (see below)

// The sweep's work on the outline. At every row that holds a vertex, the library moves the A
// edges crossing the gap up to the next row to their new places and merge-sorts them, and walks
// from the left end of that list to the place of every local minimum of the row. Two edges swap
// places wherever their horizontal runs over the gap bring one past the other: spread over the
// outline's width, about gap x A^2 x (run per rise) / (2 x width) pairs. The swaps of one gap are
// sorted by height and then taken in an order that keeps each pair neighbours, found by a search
// along them; a gap of a unit or a few rounds all of them onto the same few heights, and the
// search then grows with the square of the swaps over the gap (a scribble a unit a step takes
// seconds for a few thousand points). Rows come from the edges' ends: every vertex of a closed
// path ends some edge that is not horizontal, unless the whole path lies in one row and nothing
// crosses anything.
double sweep_steps(Outline& outline) {
  std::vector<std::int64_t>& lows = outline.lows;
  std::vector<std::int64_t>& highs = outline.highs;
  std::vector<std::int64_t>& minima = outline.minima;
  radix_sort(lows, outline.sort_scratch);
  radix_sort(highs, outline.sort_scratch);
  radix_sort(minima, outline.sort_scratch);
  const double run_per_rise = outline.rise > 0.0 ? outline.run / outline.rise : 0.0;
  const double width = std::max(1.0, static_cast<double>(outline.max_x - outline.min_x));
  double steps = kVertexSteps * outline.vertices;
  std::size_t opened = 0, closed = 0, minimum = 0;
  const auto next_row = [&] {
    return opened < lows.size() ? std::min(lows[opened], highs[closed]) : highs[closed];
  };
  while (closed < highs.size()) {
    const std::int64_t row = next_row();
    while (opened < lows.size() && lows[opened] == row) ++opened;
    while (closed < highs.size() && highs[closed] == row) ++closed;
    double starting = 0.0;
    for (; minimum < minima.size() && minima[minimum] <= row; ++minimum)
      starting += minima[minimum] == row ? 1.0 : 0.0;
    const double active = static_cast<double>(opened - closed);  // edges from this row up
    if (active == 0.0) continue;
    const double gap = static_cast<double>(next_row()) - static_cast<double>(row);
    const double visits = active * merge_passes(active) + kInsertionSteps * starting * active / 2.0;
    const double swaps = gap * active * active * run_per_rise / (2.0 * width);
    steps += visits * (1.0 + active / kCachedEdges) + kSearchSteps * swaps * swaps / std::max(1.0, gap);
  }
  return steps;
}

struct Scratch {
  std::vector<Grid> path;
  std::vector<Normal> normals;
  Outline own, overlap;
};

// A curve whose points all coincide at the union's scale is buffered as one square, built
// without the offsetter: four corners, two sides.
void add_square(Grid v, double radius, Outline& overlap) {
  const double x = static_cast<double>(v.x), y = static_cast<double>(v.y);
  const double r = radius * kUnionScale;
  overlap.add(x - r, y - r);
  overlap.add(x + r, y - r);
  overlap.add(x + r, y + r);
  overlap.add(x - r, y + r);
  overlap.close();
}

// Adds the curve's clean outline to `overlap` and returns the cost of its own offset's union.
double add_curve(const Curve& c, const WidthList* widths, double buffer_distance, Scratch& s) {
  grid_path(c, s.path);
  if (s.path.size() < 2) {
    add_square(s.path[0], radius_at(widths, 0, buffer_distance), s.overlap);
    return 0.0;
  }
  s.normals.clear();
  for (std::size_t k = 0; k + 1 < s.path.size(); ++k)
    s.normals.push_back(unit_normal(s.path[k], s.path[k + 1]));
  s.own.clear();
  if (widths) {
    // The offsetter asks the width of the j-th point it kept by that index in the full list.
    const auto delta = [widths](std::size_t j) { return (*widths)[j] * kUnionScale; };
    add_raw_offset(s.path, s.normals, delta, s.own);
    add_clean_offset(s.path, s.normals, delta, s.overlap);
  } else {
    // Under half a unit of the grid the offsetter returns the curve as it is.
    const double scaled = std::fabs(buffer_distance) * kUnionScale;
    const auto delta = [scaled](std::size_t) { return scaled < 0.5 ? 0.0 : scaled; };
    add_raw_offset(s.path, s.normals, delta, s.own);
    add_clean_offset(s.path, s.normals, delta, s.overlap);
  }
  return sweep_steps(s.own);
}

// The work of the curves curves[*first], ..., curves[*(last - 1)] unioned together.
UnionWork work_of(const std::vector<Curve>& curves, const std::optional<WidthLists>& widths,
                  double buffer_distance, const std::size_t* first, const std::size_t* last,
                  Scratch& s) {
  s.overlap.clear();
  UnionWork work;
  for (const std::size_t* it = first; it != last; ++it) {
    const Curve& c = curves[*it];
    const WidthList* w = width_list_of(widths, *it);
    if (!buffered(c, w, buffer_distance)) continue;
    work.own += add_curve(c, w, buffer_distance, s);
  }
  work.overlap = sweep_steps(s.overlap);
  return work;
}

}  // namespace

UnionWork union_sweep_work(const std::vector<Curve>& curves, const std::optional<WidthLists>& widths,
                           double buffer_distance) {
  std::vector<std::size_t> all(curves.size());
  for (std::size_t i = 0; i < all.size(); ++i) all[i] = i;
  Scratch s;
  return work_of(curves, widths, buffer_distance, all.data(), all.data() + all.size(), s);
}

UnionWork union_sweep_work(const std::vector<Curve>& curves, const std::optional<WidthLists>& widths,
                           double buffer_distance, const CurveGroups& groups) {
  Scratch s;
  UnionWork work;
  for (std::size_t g = 0; g < groups.size(); ++g) {
    const UnionWork part = work_of(curves, widths, buffer_distance, groups.begin_of(g),
                                   groups.end_of(g), s);
    work.own += part.own;
    work.overlap += part.overlap;
  }
  return work;
}

}  // namespace strandify

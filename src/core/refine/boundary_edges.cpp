#include "refine/boundary_edges.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "geometry.hpp"

namespace strandify {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
// A grid of up to this many cells beyond four per entry is counted into order, not sorted.
constexpr std::uint64_t kDenseCells = 4096;

// The cell of a position q cells past the grid's corner, clamped to the grid: floor(q), told
// without taking the floor. floor(q) > 0 exactly when q >= 1, it reaches the last cell (an
// integer) exactly when q does, and in between truncation is the floor of a positive number;
// a NaN gives the first cell, as before.
std::int64_t clamped_cell(double q, std::int64_t count) {
  if (!(q >= 1.0)) return 0;
  return q >= static_cast<double>(count - 1) ? count - 1 : static_cast<std::int64_t>(q);
}

// Whether hypot(x, y) > reach. A square sum well inside reach's square (by far more than the
// rounding of either) answers no without the hypot; so does a zero gap, the common case.
bool farther_than(double x, double y, double reach) {
  if (reach > 1e-100 && reach < 1e100 && x * x + y * y < reach * reach * (1.0 - 1e-9)) return false;
  return std::hypot(x, y) > reach;
}

}  // namespace

BoundaryEdges::BoundaryEdges(double cell) : cell_(cell > 0.0 && std::isfinite(cell) ? cell : 1.0) {}

void BoundaryEdges::reserve(std::size_t sides) { sides_.reserve(sides); }

void BoundaryEdges::add_polygon(const Polygon& polygon) {
  const auto id = static_cast<std::uint32_t>(centres_.size());
  auto add_side = [&](Point a, Point b) {
    // Field by field, as the entries below.
    Side& s = sides_.emplace_back();
    s.a = a;
    s.b = b;
    s.polygon = id;
  };
  auto add_ring = [&](const Ring& ring) {
    const std::size_t n = ring.size();
    if (n < 2) return;
    for (std::size_t i = 0; i + 1 < n; ++i) add_side(ring[i], ring[i + 1]);
    add_side(ring[n - 1], ring[0]);
  };
  add_ring(polygon.outer);
  for (const Ring& h : polygon.holes) add_ring(h);
  // Area centroid of the outer ring; its vertex mean when the area vanishes. Both are summed
  // about the ring's first vertex: the shoelace products of absolute coordinates in the
  // millions cancel catastrophically (a dot of radius 2 at a UTM northing landed tens of units
  // off its centre), while those of offsets from a vertex of the ring keep their precision.
  const Ring& r = polygon.outer;
  const Point o = r.empty() ? Point{0.0, 0.0} : r[0];
  double a2 = 0.0, cx = 0.0, cy = 0.0, mx = 0.0, my = 0.0;
  for (std::size_t i = 0; i < r.size(); ++i) {
    const Point p = sub(r[i], o), q = sub(r[i + 1 < r.size() ? i + 1 : 0], o);
    const double c = cross(p, q);
    a2 += c;
    cx += (p.x + q.x) * c;
    cy += (p.y + q.y) * c;
    mx += p.x;
    my += p.y;
  }
  Point centre{0.0, 0.0};
  if (a2 != 0.0 && std::isfinite(a2)) {
    centre = add(o, {cx / (3.0 * a2), cy / (3.0 * a2)});
  } else if (!r.empty()) {
    centre = add(o, {mx / static_cast<double>(r.size()), my / static_cast<double>(r.size())});
  }
  centres_.push_back(centre);
}

std::int64_t BoundaryEdges::column(double x) const { return clamped_cell((x - min_x_) / cell_, nx_); }

std::int64_t BoundaryEdges::row(double y) const { return clamped_cell((y - min_y_) / cell_, ny_); }

void BoundaryEdges::build() {
  if (sides_.empty()) return;
  double min_x = kInf, min_y = kInf, max_x = -kInf, max_y = -kInf;
  for (const Side& s : sides_) {
    for (const Point& p : {s.a, s.b}) {
      min_x = std::min(min_x, p.x);
      min_y = std::min(min_y, p.y);
      max_x = std::max(max_x, p.x);
      max_y = std::max(max_y, p.y);
    }
  }
  min_x_ = min_x;
  min_y_ = min_y;
  max_x_ = max_x;
  // At most 2^31 cells a side: beyond that the grid degenerates into coarser cells, never into
  // an overflowing key.
  constexpr double kMaxCells = 2147483647.0;
  const double wx = std::floor((max_x - min_x) / cell_) + 1.0;
  const double wy = std::floor((max_y - min_y) / cell_) + 1.0;
  if (!(wx < kMaxCells) || !(wy < kMaxCells)) cell_ = std::max(max_x - min_x, max_y - min_y);
  nx_ = static_cast<std::int64_t>(std::min(std::floor((max_x - min_x) / cell_) + 1.0, kMaxCells));
  ny_ = static_cast<std::int64_t>(std::min(std::floor((max_y - min_y) / cell_) + 1.0, kMaxCells));
  entries_.reserve(sides_.size() * 2);
  for (std::size_t i = 0; i < sides_.size(); ++i) {
    const Side& s = sides_[i];
    const std::int64_t x0 = column(std::min(s.a.x, s.b.x)), x1 = column(std::max(s.a.x, s.b.x));
    const std::int64_t y0 = row(std::min(s.a.y, s.b.y)), y1 = row(std::max(s.a.y, s.b.y));
    for (std::int64_t cx = x0; cx <= x1; ++cx) {
      for (std::int64_t cy = y0; cy <= y1; ++cy) {
        // Field by field: an entry built whole on the stack and copied in reads back the two
        // halves just written, a stall per entry that cost more than the rest of the build.
        Entry& e = entries_.emplace_back();
        e.cell = static_cast<std::uint64_t>(cx) * static_cast<std::uint64_t>(ny_) +
                 static_cast<std::uint64_t>(cy);
        e.side = static_cast<std::uint32_t>(i);
      }
    }
  }
  sort_entries();
}

// The entries were made side by side, so a stable order by cell alone is the order by cell,
// then side. Where the grid has few cells for its entries, counting them into place is
// linear; a sparse grid is sorted instead.
void BoundaryEdges::sort_entries() {
  const auto cells = static_cast<std::uint64_t>(nx_) * static_cast<std::uint64_t>(ny_);
  if (cells > 4 * static_cast<std::uint64_t>(entries_.size()) + kDenseCells) {
    std::sort(entries_.begin(), entries_.end(), [](const Entry& l, const Entry& r) {
      return l.cell != r.cell ? l.cell < r.cell : l.side < r.side;
    });
    return;
  }
  // Kept: a dense grid finds a cell's entries without searching. The counts summed up to and
  // including each cell are where its entries end; placing the entries last to first, each one
  // just before the end of its cell, keeps their order within a cell and leaves every cell's
  // mark at its start, so one array serves as the fill marks and the starts.
  cell_starts_.assign(static_cast<std::size_t>(cells) + 1, 0);
  for (const Entry& e : entries_) ++cell_starts_[e.cell];
  for (std::size_t c = 1; c < cell_starts_.size(); ++c) cell_starts_[c] += cell_starts_[c - 1];
  std::vector<Entry> sorted(entries_.size());
  for (std::size_t i = entries_.size(); i-- > 0;) sorted[--cell_starts_[entries_[i].cell]] = entries_[i];
  entries_ = std::move(sorted);
}

std::pair<std::size_t, std::size_t> BoundaryEdges::cell_entries(std::int64_t cx,
                                                                std::int64_t cy) const {
  const std::uint64_t key =
      static_cast<std::uint64_t>(cx) * static_cast<std::uint64_t>(ny_) + static_cast<std::uint64_t>(cy);
  if (!cell_starts_.empty()) return {cell_starts_[key], cell_starts_[key + 1]};
  const auto lo = std::lower_bound(entries_.begin(), entries_.end(), key,
                                   [](const Entry& e, std::uint64_t k) { return e.cell < k; });
  auto hi = lo;
  while (hi != entries_.end() && hi->cell == key) ++hi;
  return {static_cast<std::size_t>(lo - entries_.begin()),
          static_cast<std::size_t>(hi - entries_.begin())};
}

double BoundaryEdges::first_hit(Point o, Point d, double max_t) const {
  if (entries_.empty() || !(max_t > 0.0)) return -1.0;
  const Point end = add(o, scale(d, max_t));
  double best = kInf;
  for (std::int64_t cx = column(std::min(o.x, end.x)); cx <= column(std::max(o.x, end.x)); ++cx) {
    for (std::int64_t cy = row(std::min(o.y, end.y)); cy <= row(std::max(o.y, end.y)); ++cy) {
      const auto [lo, hi] = cell_entries(cx, cy);
      for (std::size_t i = lo; i < hi; ++i) {
        const Side& s = sides_[entries_[i].side];
        const Point e = sub(s.b, s.a);
        const double den = cross(d, e);
        if (den == 0.0) continue;
        const Point ao = sub(s.a, o);
        const double t = cross(ao, e) / den;
        const double u = cross(ao, d) / den;
        if (t > 0.0 && t <= max_t && u >= 0.0 && u <= 1.0 && t < best) best = t;
      }
    }
  }
  return best < kInf ? best : -1.0;
}

// The nearest edge is searched cell by cell, and a cell no nearer to p than the best distance
// found so far is skipped: every edge is filed in each cell its box meets, so the edge's point
// nearest to p lies in a cell at least as near as that point, which is visited. The minimum is
// the same whatever the order; the margin keeps a cell whose bound rounding put a hair beyond
// the best distance.
double BoundaryEdges::distance_within(Point p, double limit) const {
  double best = limit;
  if (entries_.empty() || !(limit > 0.0)) return best;
  const std::int64_t x0 = column(p.x - limit), x1 = column(p.x + limit);
  const std::int64_t y0 = row(p.y - limit), y1 = row(p.y + limit);
  const std::int64_t px = column(p.x), py = row(p.y);
  const double margin = 1e-5 * cell_;
  // An edge whose squared distance exceeds the best distance's square by far more than the
  // rounding of either (a relative 1e-9 against a few units in the last place) lies farther
  // than the best distance: the minimum is the same without measuring it. Squares are compared
  // only where they neither overflow nor lose precision to underflow. A distance is the square
  // root of its square, correctly rounded, as the finishing steps measure edges; hypot takes
  // over where the square would have over- or underflowed.
  double screen = kInf;  // squared distances above this are skipped
  const auto rescreen = [&] {
    screen = best > 1e-100 && best < 1e100 ? best * best * (1.0 + 1e-9) : kInf;
  };
  rescreen();
  auto scan = [&](std::int64_t cx, std::int64_t cy) {
    const auto [lo, hi] = cell_entries(cx, cy);
    for (std::size_t i = lo; i < hi; ++i) {
      const Side& s = sides_[entries_[i].side];
      // The distance to the side, its square screened first.
      const Point q = nearest_on_segment(p, s.a, s.b);
      const double dx = q.x - p.x, dy = q.y - p.y;
      const double squared = dx * dx + dy * dy;
      if (squared > screen) continue;
      const double d =
          squared > 1e-300 && squared < 1e300 ? std::sqrt(squared) : std::hypot(dx, dy);
      if (d < best) {
        best = d;
        rescreen();
      }
    }
  };
  if (px >= x0 && px <= x1 && py >= y0 && py <= y1) scan(px, py);
  for (std::int64_t cx = x0; cx <= x1; ++cx) {
    const double gap_x = axis_gap(p.x, min_x_, cx, nx_);
    if (gap_x > best + margin) continue;
    for (std::int64_t cy = y0; cy <= y1; ++cy) {
      if (cx == px && cy == py) continue;
      const double gap_y = axis_gap(p.y, min_y_, cy, ny_);
      if (farther_than(gap_x, gap_y, best + margin)) continue;
      scan(cx, cy);
    }
  }
  return best;
}

// How far v lies outside the span of cell c along one axis (zero inside). The first and last
// cells also hold whatever lies beyond the grid, so they reach without end on their outer side.
double BoundaryEdges::axis_gap(double v, double origin, std::int64_t c, std::int64_t count) const {
  const double lo = origin + static_cast<double>(c) * cell_;
  const double hi = lo + cell_;
  if (c > 0 && v < lo) return lo - v;
  if (c < count - 1 && v > hi) return v - hi;
  return 0.0;
}

std::int64_t BoundaryEdges::polygon_of(Point p) const {
  if (entries_.empty()) return -1;
  const std::int64_t cy = row(p.y);
  double best = kInf;
  std::int64_t polygon = -1;
  for (std::int64_t cx = column(p.x); cx < nx_; ++cx) {
    const auto [lo, hi] = cell_entries(cx, cy);
    for (std::size_t i = lo; i < hi; ++i) {
      const Side& s = sides_[entries_[i].side];
      if (s.a.y == s.b.y || (s.a.y - p.y) * (s.b.y - p.y) > 0.0) continue;
      const double x = s.a.x + (p.y - s.a.y) * (s.b.x - s.a.x) / (s.b.y - s.a.y);
      if (x > p.x && x < best) {
        best = x;
        polygon = s.polygon;
      }
    }
    // A hit inside this column is nearer than anything a later column can hold.
    if (best <= min_x_ + static_cast<double>(cx + 1) * cell_) break;
  }
  return polygon;
}

}  // namespace strandify

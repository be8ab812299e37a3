#include "inflate.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <exception>

#include "clipper2/clipper.h"
#include "assert.hpp"
#include "geometry.hpp"
#include "numeric.hpp"
#include "parallel.hpp"

namespace strandify {
namespace {

namespace c2 = Clipper2Lib;

constexpr double kScale = kUnionScale;
constexpr double kMinPointGap2 = 1e-10;

double max_abs_coordinate(const Curve& curve) {
  double m = 0.0;
  for (const Point& p : curve) m = std::max({m, std::fabs(p.x), std::fabs(p.y)});
  return m;
}

bool all_finite(const Curve& curve) {
  for (const Point& p : curve)
    if (!std::isfinite(p.x) || !std::isfinite(p.y)) return false;
  return true;
}

// The offsetter converts doubles to 64-bit integers without checking for NaN or overflow, so
// anything it could not represent is refused up front.
bool offsettable(const Curve& curve, double max_abs_radius) {
  if (!std::isfinite(max_abs_radius) || !all_finite(curve)) return false;
  return max_abs_coordinate(curve) + 2.0 * max_abs_radius <= kMaxInflationExtent;
}

c2::Path64 scaled_path(const Curve& curve) { return union_scaled(curve); }

bool all_coincide(const c2::Path64& path) {
  if (path.empty()) return false;
  for (const c2::Point64& p : path)
    if (p != path[0]) return false;
  return true;
}

// A curve whose points all coincide at 10^6 resolution is buffered as an axis-aligned square of
// half-side ceil(delta) scaled units, as the offsetter would, but built here: the offsetter
// keeps that half-side in an int and overflows for radii above about 2147 units. The square
// goes through the same positive-fill clean-up the offsetter gives its own output.
c2::Paths64 square_around(c2::Point64 centre, double scaled_delta) {
  if (!(scaled_delta >= 1.0)) return {};
  const std::int64_t d = saturate_i64(std::ceil(scaled_delta));
  c2::Rect64 square(centre.x - d, centre.y - d, centre.x + d, centre.y + d);
  c2::Clipper64 clipper;
  clipper.PreserveCollinear(false);
  clipper.AddSubject({square.AsPath()});
  c2::Paths64 out;
  clipper.Execute(c2::ClipType::Union, c2::FillRule::Positive, out);
  return out;
}

// Offsets at 10^6 scale; the integer paths go straight into the union, which works at the
// same scale, so no coordinate is rounded twice.
c2::Paths64 inflate_uniform(const Curve& curve, double buffer_distance, double arc_tolerance,
                            bool round_pens) {
  if (!offsettable(curve, std::fabs(buffer_distance))) return {};
  c2::Path64 path = scaled_path(curve);
  // A zero radius leaves the curve as it is: the union then reads it as a closed path.
  if (buffer_distance == 0.0) return {std::move(path)};
  const double delta = buffer_distance * kScale;
  if (std::fabs(delta) >= 0.5 && all_coincide(path)) return square_around(path[0], std::fabs(delta));
  c2::ClipperOffset offsetter(0.0, arc_tolerance * kScale);
  if (round_pens)
    offsetter.AddPaths({std::move(path)}, c2::JoinType::Round, c2::EndType::Round);
  else
    offsetter.AddPaths({std::move(path)}, c2::JoinType::Square, c2::EndType::Square);
  c2::Paths64 solution;
  offsetter.Execute(delta, solution);
  return solution;
}

double max_abs_width(const WidthList& widths) {
  double m = 0.0;
  for (double w : widths) {
    if (!std::isfinite(w)) return w;  // propagates NaN/inf to the finiteness check
    m = std::max(m, std::fabs(w));
  }
  return m;
}

Ring unscaled(const c2::Path64& path) {
  Ring ring;
  ring.reserve(path.size());
  for (const c2::Point64& p : path)
    ring.push_back({static_cast<double>(p.x) / kScale, static_cast<double>(p.y) / kScale});
  return ring;
}

// Drops points within 1e-10 (squared) of the last kept one, and then trailing points that
// repeat the first: a ring is stored open.
Ring cleaned_ring(const Ring& ring) {
  Ring out;
  out.reserve(ring.size());
  for (const Point& p : ring) {
    // NaN distances are dropped too.
    if (!out.empty() && !(squared_distance(out.back(), p) > kMinPointGap2)) continue;
    out.push_back(p);
  }
  while (out.size() > 1 && !(squared_distance(out[0], out.back()) > kMinPointGap2)) out.pop_back();
  return out;
}

// Whether the edge from vi to vj flips the even-odd test of p: the expression is kept exactly as
// written so that points on or near the boundary are classified the same way everywhere.
bool crosses_right_of(Point p, const Point& vi, const Point& vj) {
  return (p.y < vj.y) != (p.y < vi.y) &&
         p.x < (p.y - vi.y) * (vj.x - vi.x) / (vj.y - vi.y) + vi.x;
}

// Even-odd crossing test.
bool point_in_ring(Point p, const Ring& ring) {
  bool inside = false;
  const std::size_t n = ring.size();
  for (std::size_t i = 0, j = n - 1; i < n; j = i++)
    if (crosses_right_of(p, ring[i], ring[j])) inside = !inside;
  return inside;
}

// point_in_ring for many points against one ring, every answer the same. Only an edge whose
// half-open y-range [low, high) holds p.y can flip the test, and the parity does not depend on
// the order the edges come in, so the points are taken in order of height while a sweep keeps
// the edges spanning the current one: the cost is the edges each point's height crosses, not
// the whole ring per point.
std::vector<unsigned char> points_in_ring(const std::vector<Point>& points, const Ring& ring) {
  std::vector<unsigned char> inside(points.size(), 0);
  const std::size_t n = ring.size();
  if (points.size() < 8 || n < 64) {
    for (std::size_t q = 0; q < points.size(); ++q) inside[q] = point_in_ring(points[q], ring);
    return inside;
  }
  struct Edge {
    double low, high;
    std::size_t i;  // the edge from ring[i - 1] (cyclic) to ring[i]
  };
  std::vector<Edge> edges;
  edges.reserve(n);
  for (std::size_t i = 0, j = n - 1; i < n; j = i++) {
    const double a = ring[i].y, b = ring[j].y;
    if (a < b) edges.push_back({a, b, i});
    if (b < a) edges.push_back({b, a, i});
  }
  std::sort(edges.begin(), edges.end(), [](const Edge& a, const Edge& b) { return a.low < b.low; });
  std::vector<std::size_t> order(points.size());
  for (std::size_t q = 0; q < order.size(); ++q) order[q] = q;
  std::sort(order.begin(), order.end(),
            [&](std::size_t a, std::size_t b) { return points[a].y < points[b].y; });
  std::vector<const Edge*> active;
  std::size_t next = 0;
  for (std::size_t q : order) {
    const Point p = points[q];
    while (next < edges.size() && edges[next].low <= p.y) active.push_back(&edges[next++]);
    bool in = false;
    for (std::size_t a = 0; a < active.size();) {
      const Edge& e = *active[a];
      if (!(p.y < e.high)) {  // below this point for good: the points only go up
        active[a] = active.back();
        active.pop_back();
        continue;
      }
      const std::size_t i = e.i, j = i == 0 ? n - 1 : i - 1;
      if (crosses_right_of(p, ring[i], ring[j])) in = !in;
      ++a;
    }
    inside[q] = in;
  }
  return inside;
}

struct OuterCandidate {
  Ring ring;
  double length;
  double area;
};

struct HoleCandidate {
  Ring ring;
  double area;
};

// Whether the even-odd test could find p inside a ring with these bounds. Below the lowest or
// at/above the highest vertex no edge can flip it. Left of every x an edge's test could compute
// all flipping edges count, and a closed ring has an even number of them; right of every such x
// none counts: both mean outside. The computed x of an edge lies within a few ulps of its end
// points' range, far inside the margin.
bool may_contain(const Box& b, Point p) {
  if (!(p.y >= b.min_y && p.y < b.max_y)) return false;
  const double margin = 1e-9 * (std::fabs(b.min_x) + std::fabs(b.max_x)) + 1e-300;
  return p.x >= b.min_x - margin && p.x <= b.max_x + margin;
}

// Union rings never cross, so the outer candidates that contain a hole are nested inside one
// another, and the one of smallest area is the hole's true owner. Handing a hole to any larger
// container (a frame around the drawing, say) would fill the region between them. Ties of area
// go to the first outer. outers.size() stands for no owner.
//
// Every pair that passes the cheap tests is tested in full, batched by outer, and each hole
// then takes the smallest containing outer: the very outer a scan of all outers in order would
// pick, found without testing every hole against every outer's every edge. The candidates come
// from a sweep over the heights of the hole probes, with the outers whose height range holds
// the current probe kept active.
std::vector<std::size_t> hole_owners(const std::vector<HoleCandidate>& holes,
                                     const std::vector<OuterCandidate>& outers,
                                     const std::vector<Box>& bounds) {
  const std::size_t none = outers.size();
  std::vector<std::size_t> owner(holes.size(), none);
  if (outers.empty() || holes.empty()) return owner;
  std::vector<std::size_t> by_probe(holes.size()), by_bottom(outers.size());
  for (std::size_t h = 0; h < holes.size(); ++h) by_probe[h] = h;
  for (std::size_t k = 0; k < outers.size(); ++k) by_bottom[k] = k;
  std::sort(by_probe.begin(), by_probe.end(), [&](std::size_t a, std::size_t b) {
    return holes[a].ring[0].y < holes[b].ring[0].y;
  });
  std::sort(by_bottom.begin(), by_bottom.end(),
            [&](std::size_t a, std::size_t b) { return bounds[a].min_y < bounds[b].min_y; });

  // (outer, hole) pairs that pass the cheap tests.
  std::vector<std::pair<std::size_t, std::size_t>> pairs;
  std::vector<std::size_t> active;
  std::size_t next = 0;
  for (std::size_t h : by_probe) {
    const Point probe = holes[h].ring[0];
    while (next < by_bottom.size() && bounds[by_bottom[next]].min_y <= probe.y)
      active.push_back(by_bottom[next++]);
    for (std::size_t a = 0; a < active.size();) {
      const std::size_t k = active[a];
      if (!(probe.y < bounds[k].max_y)) {  // the probes only go up
        active[a] = active.back();
        active.pop_back();
        continue;
      }
      if (holes[h].area < outers[k].area && may_contain(bounds[k], probe)) pairs.emplace_back(k, h);
      ++a;
    }
  }
  std::sort(pairs.begin(), pairs.end());

  std::vector<Point> probes;
  for (std::size_t first = 0; first < pairs.size();) {
    const std::size_t k = pairs[first].first;
    std::size_t last = first;
    probes.clear();
    for (; last < pairs.size() && pairs[last].first == k; ++last)
      probes.push_back(holes[pairs[last].second].ring[0]);
    const std::vector<unsigned char> inside = points_in_ring(probes, outers[k].ring);
    for (std::size_t q = first; q < last; ++q) {
      if (!inside[q - first]) continue;
      std::size_t& o = owner[pairs[q].second];
      // Outers come in ascending order here, so the first of equal area stays.
      if (o == none || outers[k].area < outers[o].area) o = k;
    }
    first = last;
  }
  return owner;
}

// The polygons of one union, in ascending order of outer boundary length, with those lengths.
struct AssembledPolygons {
  std::vector<Polygon> polygons;
  std::vector<double> lengths;
};

AssembledPolygons assemble_polygons(const c2::Paths64& rings, double min_hole_area) {
  std::vector<OuterCandidate> outers;
  std::vector<HoleCandidate> holes;
  for (const c2::Path64& path : rings) {
    if (path.size() < 2) continue;
    const Ring raw = unscaled(path);
    Ring ring = cleaned_ring(raw);
    if (ring.size() < 3) continue;
    const double area = ring_area(raw);
    if (area > 0.0) {
      const double length = polyline_length(ring);
      outers.push_back({std::move(ring), length, area});
    } else if (-area >= min_hole_area) {
      holes.push_back({std::move(ring), -area});
    }
  }
  std::stable_sort(outers.begin(), outers.end(),
                   [](const OuterCandidate& a, const OuterCandidate& b) { return a.length < b.length; });

  std::vector<Box> bounds;
  bounds.reserve(outers.size());
  for (const OuterCandidate& outer : outers) bounds.push_back(bounding_box(outer.ring));
  AssembledPolygons out;
  out.polygons.resize(outers.size());
  out.lengths.reserve(outers.size());
  const std::vector<std::size_t> owners = hole_owners(holes, outers, bounds);
  // Holes are taken in union order, so every polygon's holes keep that order.
  for (std::size_t h = 0; h < holes.size(); ++h) {
    if (owners[h] < outers.size())
      out.polygons[owners[h]].holes.push_back(std::move(holes[h].ring));
  }
  for (std::size_t k = 0; k < outers.size(); ++k) {
    out.polygons[k].outer = std::move(outers[k].ring);
    out.lengths.push_back(outers[k].length);
  }
  return out;
}

c2::Paths64 offset_variable(const Curve& curve, const WidthList& widths, double arc_tolerance,
                            bool round_pens = false) {
  STRANDIFY_ASSERT(widths.size() == curve.size());
  if (widths.size() != curve.size()) return {};
  c2::Path64 path = scaled_path(curve);
  if (all_coincide(path)) return square_around(path[0], widths[0] * kScale);
  c2::ClipperOffset offsetter(2.0, arc_tolerance * kScale, false, false);
  if (round_pens)
    offsetter.AddPath(path, c2::JoinType::Round, c2::EndType::Round);
  else
    offsetter.AddPath(path, c2::JoinType::Square, c2::EndType::Square);
  // The offsetter may collapse coincident points; its vertex index still selects the width by
  // position in the full list, which is what callers of this stage have always seen.
  c2::Paths64 solution;
  offsetter.Execute(
      [&widths](const c2::Path64&, const c2::PathD&, std::size_t curr, std::size_t) {
        return curr < widths.size() ? widths[curr] * kScale : 0.0;
      },
      solution);
  return solution;
}

// The closed offset paths of one curve of at least two points: with its own width list when
// it has one (none when that list does not fit the curve), else with the uniform radius.
c2::Paths64 offset_paths(const Curve& curve, const WidthList* w, const InflationSettings& s) {
  if (w == nullptr) return inflate_uniform(curve, s.buffer_distance, s.arc_tolerance, s.round_pens);
  if (w->size() != curve.size() || !offsettable(curve, max_abs_width(*w))) return {};
  return offset_variable(curve, *w, s.arc_tolerance, s.round_pens);
}

// Appends the closed offset paths of curve i to `offsets`.
void offset_curve(const std::vector<Curve>& curves, const std::optional<WidthLists>& widths,
                  std::size_t i, const InflationSettings& s, c2::Paths64& offsets) {
  if (curves[i].size() < 2) return;
  for (c2::Path64& p : offset_paths(curves[i], width_list_of(widths, i), s))
    offsets.push_back(std::move(p));
}

// The union of the given curves' buffers, assembled into polygons. The library reports range
// problems by throwing; such a union yields no polygons. Running out of memory is not one of
// them and reaches the caller.
// Every kCurvesBetweenChecks curves the offsetting asks whether to go on.
constexpr std::size_t kCurvesBetweenChecks = 256;

template <class Indices>
AssembledPolygons union_of(const std::vector<Curve>& curves,
                           const std::optional<WidthLists>& widths, const Indices& indices,
                           const InflationSettings& settings, const KeepGoing& keep_going) {
  c2::Paths64 rings;
  try {
    c2::Paths64 offsets;
    std::size_t done = 0;
    for (std::size_t i : indices) {
      if (stop_before(keep_going, done++, kCurvesBetweenChecks)) return {};
      offset_curve(curves, widths, i, settings, offsets);
    }
    if (offsets.empty()) return {};
    rings = c2::Union(offsets, c2::FillRule::NonZero);
  } catch (const c2::Clipper2Exception&) {
    return {};
  }
  return assemble_polygons(rings, settings.min_hole_area);
}

struct GroupIndices {
  const std::size_t* first;
  const std::size_t* last;
  const std::size_t* begin() const { return first; }
  const std::size_t* end() const { return last; }
};

// --- the union of one group -------------------------------------------------------------------
//
// The union sweeps a horizontal line upwards and stops at every vertex height; at each stop it
// walks every edge the line crosses. A stroke that runs across the sweep, its outline wobbling
// up and down, puts nearly all its edges on the line at nearly every stop, so the cost grows with
// the square of its length, while the same stroke run along the sweep keeps a handful there.
// The union of one group therefore turns, a quarter turn, whatever is wider than tall: each
// curve of a group of several before its offset (the offsetter's own clean-up union sweeps the
// raw outline, which crosses itself at every wobble), and the inputs of a cascade's inner unions
// (below). A quarter turn is exact on doubles and on the integer grid, and rounding to that grid
// (half away from zero) commutes with it, so only the rounding of intersection points can
// differ. The group's last union always sweeps upright, as the single union does: where a
// union's rings start and the order they come in follow its sweep, and the stages after it
// (ring simplification above all) depend on both.
//
// A large group is unioned as a cascade: its curves put in an order that keeps neighbours
// together, unioned a few at a time, and the partial results unioned pairwise up a balanced tree.
// An overdrawn sketch retraces every stroke with jitter, and nearly all crossings between the
// traces lie inside the result; one union over the whole group meets every one of them with the
// whole group's edges on the line, while the small unions resolve them where the line is short
// and the later ones see only outlines. Every input (an offsetter's or a union's output) fills
// exactly its region with winding 1, so the region is the one the single non-zero union gives.
// On a group of a few curves the extra unions cost more than they save.
//
// Everything runs on the group's own thread in a fixed order, so the result depends only on the
// group.
constexpr std::size_t kCascadeBatch = 8;           // curves unioned together at the first level
constexpr std::size_t kCascadeMinCurves = 16;      // fewer curves: one union is cheaper
constexpr std::size_t kCascadeMinVertices = 4096;  // nor for a group of few offset vertices

// (x, y) -> (-y, x) and back.
Curve turned(const Curve& curve) {
  Curve out;
  out.reserve(curve.size());
  for (const Point& p : curve) out.push_back({-p.y, p.x});
  return out;
}

void turn(c2::Paths64& paths) {
  for (c2::Path64& path : paths)
    for (c2::Point64& p : path) p = c2::Point64(-p.y, p.x);
}

void turn_back(c2::Paths64& paths) {
  for (c2::Path64& path : paths)
    for (c2::Point64& p : path) p = c2::Point64(p.y, -p.x);
}

bool wider_than_tall(const Curve& curve) {
  const Box b = bounding_box(curve);
  return b.max_x - b.min_x > b.max_y - b.min_y;
}

// Appends the closed offset paths of curve i to `out`, as offset_curve does, but computed on
// the curve turned a quarter when it is wider than tall; returns whether it turned the curve.
bool offset_curve_upright(const std::vector<Curve>& curves,
                          const std::optional<WidthLists>& widths, std::size_t i,
                          const InflationSettings& s, c2::Paths64& out) {
  if (curves[i].size() < 2 || !wider_than_tall(curves[i])) {
    offset_curve(curves, widths, i, s, out);
    return false;
  }
  c2::Paths64 paths = offset_paths(turned(curves[i]), width_list_of(widths, i), s);
  turn_back(paths);
  for (c2::Path64& p : paths) out.push_back(std::move(p));
  return true;
}

// The non-zero union of the paths, swept turned a quarter when they span wider than tall.
c2::Paths64 union_upright(c2::Paths64& paths) {
  const c2::Rect64 box = c2::GetBounds(paths);
  const bool wide = box.Width() > box.Height();
  if (wide) turn(paths);
  c2::Paths64 out = c2::Union(paths, c2::FillRule::NonZero);
  if (wide) turn_back(out);
  return out;
}

// The key of a cell on a Z-order curve, x and y given as 16-bit cells.
std::uint32_t morton_key(std::uint32_t x, std::uint32_t y) {
  auto spread = [](std::uint32_t v) {
    v &= 0xFFFFu;
    v = (v | (v << 8)) & 0x00FF00FFu;
    v = (v | (v << 4)) & 0x0F0F0F0Fu;
    v = (v | (v << 2)) & 0x33333333u;
    v = (v | (v << 1)) & 0x55555555u;
    return v;
  };
  return spread(x) | (spread(y) << 1);
}

// The order of the boxes along a Z-order curve through their centres, in cells of a 2^16 grid
// over the box around them all; ties keep the order of the boxes.
std::vector<std::size_t> z_order(const std::vector<c2::Rect64>& boxes) {
  c2::Rect64 all = boxes[0];
  for (const c2::Rect64& b : boxes) {
    all.left = std::min(all.left, b.left);
    all.top = std::min(all.top, b.top);
    all.right = std::max(all.right, b.right);
    all.bottom = std::max(all.bottom, b.bottom);
  }
  // In doubles, relative to the corner: the integer paths may span most of the int64 range.
  const double left = static_cast<double>(all.left), top = static_cast<double>(all.top);
  const double span = std::max(static_cast<double>(all.right) - left,
                               static_cast<double>(all.bottom) - top);
  const double per_unit = span > 0.0 ? 65535.0 / span : 0.0;
  auto cell = [per_unit](double offset) {
    return static_cast<std::uint32_t>(std::clamp(offset * per_unit, 0.0, 65535.0));
  };
  std::vector<std::pair<std::uint32_t, std::size_t>> keyed(boxes.size());
  for (std::size_t i = 0; i < boxes.size(); ++i) {
    const c2::Rect64& b = boxes[i];
    const double cx = 0.5 * (static_cast<double>(b.left) + static_cast<double>(b.right));
    const double cy = 0.5 * (static_cast<double>(b.top) + static_cast<double>(b.bottom));
    keyed[i] = {morton_key(cell(cx - left), cell(cy - top)), i};
  }
  std::sort(keyed.begin(), keyed.end());
  std::vector<std::size_t> order(keyed.size());
  for (std::size_t i = 0; i < keyed.size(); ++i) order[i] = keyed[i].second;
  return order;
}

// The union of the curves' offsets (one entry per curve, none empty), as a cascade.
c2::Paths64 cascaded_union(std::vector<c2::Paths64>& offsets) {
  std::vector<c2::Rect64> boxes;
  boxes.reserve(offsets.size());
  for (const c2::Paths64& o : offsets) boxes.push_back(c2::GetBounds(o));
  const std::vector<std::size_t> order = z_order(boxes);
  std::vector<c2::Paths64> level;
  level.reserve((order.size() + kCascadeBatch - 1) / kCascadeBatch);
  for (std::size_t first = 0; first < order.size(); first += kCascadeBatch) {
    const std::size_t last = std::min(order.size(), first + kCascadeBatch);
    if (last - first == 1) {  // an offsetter's output is already a clean union
      level.push_back(std::move(offsets[order[first]]));
      continue;
    }
    c2::Paths64 batch;
    for (std::size_t k = first; k < last; ++k)
      for (c2::Path64& p : offsets[order[k]]) batch.push_back(std::move(p));
    level.push_back(union_upright(batch));
  }
  while (level.size() > 1) {
    std::vector<c2::Paths64> next;
    next.reserve((level.size() + 1) / 2);
    for (std::size_t k = 0; k + 1 < level.size(); k += 2) {
      c2::Paths64& pair = level[k];
      for (c2::Path64& p : level[k + 1]) pair.push_back(std::move(p));
      // The last union sweeps upright, as the single union does, so that its rings start and
      // come in the order that one gives them.
      next.push_back(level.size() == 2 ? c2::Union(pair, c2::FillRule::NonZero)
                                       : union_upright(pair));
    }
    if (level.size() % 2 == 1) next.push_back(std::move(level.back()));
    level = std::move(next);
  }
  return std::move(level[0]);
}

// The union of one group's buffers, assembled into polygons. A zero radius hands the union its
// curves as they are, read as closed paths whose winding may cancel another's, so such a group
// is never cascaded.
AssembledPolygons group_union_of(const std::vector<Curve>& curves,
                                 const std::optional<WidthLists>& widths, const GroupIndices& group,
                                 const InflationSettings& settings) {
  c2::Paths64 rings;
  try {
    std::vector<c2::Paths64> offsets;
    offsets.reserve(static_cast<std::size_t>(group.end() - group.begin()));
    std::size_t vertices = 0, paths = 0;
    // A curve alone in its group is offset upright: its offsetter's union is the group's, and
    // a turned one would start its rings elsewhere.
    const bool alone = group.end() - group.begin() == 1;
    bool turned_any = false;
    for (std::size_t i : group) {
      c2::Paths64 own;
      if (alone)
        offset_curve(curves, widths, i, settings, own);
      else
        turned_any |= offset_curve_upright(curves, widths, i, settings, own);
      if (own.empty()) continue;
      for (const c2::Path64& p : own) vertices += p.size();
      paths += own.size();
      offsets.push_back(std::move(own));
    }
    if (offsets.empty()) return {};
    // An offsetter's output is already a clean union; a zero radius hands on the curve itself.
    const bool offset = settings.buffer_distance != 0.0;
    if (offsets.size() == 1 && !turned_any && offset) {
      rings = std::move(offsets[0]);
    } else if (offsets.size() >= kCascadeMinCurves && vertices >= kCascadeMinVertices && offset) {
      rings = cascaded_union(offsets);
    } else {
      c2::Paths64 all;
      all.reserve(paths);
      for (c2::Paths64& o : offsets)
        for (c2::Path64& p : o) all.push_back(std::move(p));
      rings = c2::Union(all, c2::FillRule::NonZero);
    }
  } catch (const c2::Clipper2Exception&) {
    return {};
  }
  return assemble_polygons(rings, settings.min_hole_area);
}

// The curve indices 0 .. n-1, without storing them.
struct AllIndices {
  std::size_t n;
  struct Iter {
    std::size_t i;
    std::size_t operator*() const { return i; }
    Iter& operator++() { ++i; return *this; }
    bool operator!=(const Iter& o) const { return i != o.i; }
  };
  Iter begin() const { return {0}; }
  Iter end() const { return {n}; }
};

// Polygons of all groups in ascending order of outer boundary length; equal lengths keep the
// order of their groups, so the result does not depend on which thread finished first.
std::vector<Polygon> merged_by_length(std::vector<AssembledPolygons>& parts) {
  struct Entry {
    double length;
    std::size_t part, index;
  };
  std::vector<Entry> order;
  std::size_t total = 0;
  for (const AssembledPolygons& p : parts) total += p.polygons.size();
  order.reserve(total);
  for (std::size_t g = 0; g < parts.size(); ++g)
    for (std::size_t k = 0; k < parts[g].polygons.size(); ++k)
      order.push_back({parts[g].lengths[k], g, k});
  std::stable_sort(order.begin(), order.end(),
                   [](const Entry& a, const Entry& b) { return a.length < b.length; });
  std::vector<Polygon> out;
  out.reserve(total);
  for (const Entry& e : order) out.push_back(std::move(parts[e.part].polygons[e.index]));
  return out;
}

}  // namespace

c2::Path64 union_scaled(const std::vector<Point>& points) {
  c2::Path64 path;
  path.reserve(points.size());
  for (const Point& p : points) path.emplace_back(round_i64(p.x * kScale), round_i64(p.y * kScale));
  return path;
}

std::vector<Polygon> polygons_of_union(const c2::Paths64& rings, double min_hole_area) {
  return std::move(assemble_polygons(rings, min_hole_area).polygons);
}

std::vector<Ring> inflate_curve_variable(const Curve& curve, const WidthList& widths,
                                         double feature_size) {
  std::vector<Ring> rings;
  const c2::Paths64 solution =
      offset_variable(curve, widths, resolve_inflation(0.0, feature_size).arc_tolerance);
  rings.reserve(solution.size());
  for (const c2::Path64& path : solution) rings.push_back(unscaled(path));
  return rings;
}

std::vector<Polygon> inflate(const std::vector<Curve>& curves,
                             const std::optional<WidthLists>& widths, double buffer_distance,
                             double feature_size) {
  return inflate(curves, widths, resolve_inflation(buffer_distance, feature_size));
}

std::vector<Polygon> inflate(const std::vector<Curve>& curves,
                             const std::optional<WidthLists>& widths,
                             const InflationSettings& settings, const KeepGoing& keep_going) {
  if (curves.empty()) return {};
  if (settings.partition == Partition::components) {
    return inflate_groups(curves, widths,
                          group_by_buffer_boxes(curves, widths, settings.buffer_distance),
                          settings, 1, keep_going);
  }
  return std::move(
      union_of(curves, widths, AllIndices{curves.size()}, settings, keep_going).polygons);
}

std::vector<Polygon> inflate_groups(const std::vector<Curve>& curves,
                                    const std::optional<WidthLists>& widths,
                                    const CurveGroups& groups, const InflationSettings& settings,
                                    std::size_t threads, const KeepGoing& keep_going) {
  std::vector<AssembledPolygons> parts(groups.size());
  // Only the groups this thread takes ask keep_going; the others run on without a check.
  if (!for_each_index(
          groups.size(), threads,
          [&](std::size_t g) {
            parts[g] = group_union_of(curves, widths,
                                      GroupIndices{groups.begin_of(g), groups.end_of(g)}, settings);
          },
          keep_going))
    return {};
  return merged_by_length(parts);
}

}  // namespace strandify

// The union run per group (inflate_groups) against the one-call union of the exact pipeline:
// on overdrawn sketches large enough that a group is unioned as a cascade, with strokes in every
// direction so that curves and groups are also swept turned, the two must cover the same region
// up to the rounding of intersection points, and the per-group result must not depend on the
// thread count or on where the groups lie in the input.

#include <cstdint>
#include <vector>

#include "check.hpp"
#include "clipper2/clipper.h"
#include "inflate.hpp"
#include "partition.hpp"
#include "settings.hpp"
#include "sketch.hpp"

using namespace strandify;
namespace c2 = Clipper2Lib;

namespace {

// A dense overdrawn sketch: a dozen or more strokes, each traced two to four times, in one
// 50-unit square, so that the buffers form one group of dozens of curves and thousands of
// offset vertices.
sketch::Sketch dense_sketch(std::uint64_t seed) {
  sketch::SketchSettings o;
  o.min_strokes = 12;
  o.max_strokes = 16;
  return sketch::make_sketch(seed, o);
}

std::vector<Curve> shifted(const std::vector<Curve>& curves, double dx, double dy) {
  std::vector<Curve> out = curves;
  for (Curve& c : out)
    for (Point& p : c) p = {p.x + dx, p.y + dy};
  return out;
}

c2::PathsD rings_of(const std::vector<Polygon>& polygons) {
  c2::PathsD out;
  auto add = [&out](const Ring& ring) {
    c2::PathD path;
    for (const Point& p : ring) path.emplace_back(p.x, p.y);
    out.push_back(std::move(path));
  };
  for (const Polygon& p : polygons) {
    add(p.outer);
    for (const Ring& hole : p.holes) add(hole);
  }
  return out;
}

double area_of(const c2::PathsD& paths) { return c2::Area(paths); }

// The area where exactly one of the two polygon sets lies.
double difference_area(const std::vector<Polygon>& a, const std::vector<Polygon>& b) {
  return area_of(c2::Xor(rings_of(a), rings_of(b), c2::FillRule::NonZero, 8));
}

bool same_polygons(const std::vector<Polygon>& a, const std::vector<Polygon>& b) {
  if (a.size() != b.size()) return false;
  auto same_ring = [](const Ring& r, const Ring& s) {
    if (r.size() != s.size()) return false;
    for (std::size_t k = 0; k < r.size(); ++k)
      if (r[k].x != s[k].x || r[k].y != s[k].y) return false;
    return true;
  };
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (!same_ring(a[i].outer, b[i].outer) || a[i].holes.size() != b[i].holes.size()) return false;
    for (std::size_t h = 0; h < a[i].holes.size(); ++h)
      if (!same_ring(a[i].holes[h], b[i].holes[h])) return false;
  }
  return true;
}

constexpr std::uint64_t kSeeds[] = {3, 17, 29, 101};

}  // namespace

TEST(group_union_covers_the_region_of_the_single_union) {
  for (bool round_pens : {false, true}) {
    for (std::uint64_t seed : kSeeds) {
      const std::vector<Curve> curves = dense_sketch(seed).curves;
      CHECK(curves.size() >= 24);  // one group of that many curves is unioned as a cascade
      InflationSettings s = resolve_inflation(1.0, 1.0);
      s.round_pens = round_pens;
      const std::vector<Polygon> single = inflate(curves, std::nullopt, s);
      const CurveGroups groups = group_by_buffer_boxes(curves, std::nullopt, s.buffer_distance);
      const std::vector<Polygon> grouped = inflate_groups(curves, std::nullopt, groups, s, 1);
      const double total = area_of(rings_of(single));
      CHECK(total > 100.0);
      CHECK(!grouped.empty());
      // Rounding moves an intersection point by at most one unit of the 10^6 grid.
      CHECK(difference_area(single, grouped) < 1e-6 * total);
      CHECK_NEAR(area_of(rings_of(grouped)), total, 1e-6 * total);
      std::size_t single_holes = 0, grouped_holes = 0;
      for (const Polygon& p : single) single_holes += p.holes.size();
      for (const Polygon& p : grouped) grouped_holes += p.holes.size();
      CHECK_EQ(grouped.size(), single.size());
      CHECK_EQ(grouped_holes, single_holes);
    }
  }
}

TEST(group_union_is_the_same_on_any_thread_count_and_group_position) {
  // Four sketches side by side, each its own group, then the same with the groups listed in
  // reverse order: a group's polygons depend on its own curves only.
  InflationSettings s = resolve_inflation(1.0, 1.0);
  s.round_pens = true;
  std::vector<std::vector<Curve>> parts;
  for (std::size_t k = 0; k < 4; ++k)
    parts.push_back(shifted(dense_sketch(kSeeds[k]).curves, 200.0 * static_cast<double>(k), 0.0));
  std::vector<Curve> forward, backward;
  for (std::size_t k = 0; k < parts.size(); ++k) {
    forward.insert(forward.end(), parts[k].begin(), parts[k].end());
    const std::vector<Curve>& other = parts[parts.size() - 1 - k];
    backward.insert(backward.end(), other.begin(), other.end());
  }
  const CurveGroups forward_groups = group_by_buffer_boxes(forward, std::nullopt, 1.0);
  CHECK_EQ(forward_groups.size(), 4u);
  const std::vector<Polygon> one = inflate_groups(forward, std::nullopt, forward_groups, s, 1);
  const std::vector<Polygon> two = inflate_groups(forward, std::nullopt, forward_groups, s, 2);
  CHECK(same_polygons(one, two));
  const std::vector<Polygon> reversed = inflate_groups(
      backward, std::nullopt, group_by_buffer_boxes(backward, std::nullopt, 1.0), s, 2);
  // The polygons of each group are the same bit for bit; only ties of boundary length between
  // groups could order them differently, so the sets are compared by region and count.
  CHECK_EQ(reversed.size(), one.size());
  CHECK(difference_area(one, reversed) == 0.0);
}

TEST(group_union_of_a_zero_radius_reads_each_curve_as_a_closed_path) {
  // With no radius the union gets the curves themselves, which need not be clean: a figure
  // eight alone in its group must come out as the single union makes it, two triangles.
  const std::vector<Curve> curves = {
      {{0, 0}, {10, 10}, {10, 0}, {0, 10}, {0, 0}},
      {{100, 0}, {110, 0}, {110, 10}, {100, 10}, {100, 0}},
  };
  const InflationSettings s = resolve_inflation(0.0, 1.0);
  const std::vector<Polygon> single = inflate(curves, std::nullopt, s);
  const std::vector<Polygon> grouped = inflate_groups(
      curves, std::nullopt, group_by_buffer_boxes(curves, std::nullopt, 0.0), s, 1);
  CHECK_EQ(single.size(), 3u);
  CHECK(same_polygons(single, grouped));
}

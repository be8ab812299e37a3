#include "polygon_input.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <cmath>
#include <string>

#include "clipper2/clipper.h"
#include "failures.hpp"
#include "geometry.hpp"
#include "inflate.hpp"
#include "pair_table.hpp"

namespace strandify {
namespace {

namespace c2 = Clipper2Lib;

Failure invalid(std::string message) {
  return Failure{FailureKind::invalid_geometry, std::move(message), std::nullopt};
}

std::string ring_name(std::size_t polygon, std::optional<std::size_t> hole) {
  std::string name = "polygon " + std::to_string(polygon) + ": ";
  return name + (hole ? "hole " + std::to_string(*hole) : std::string("outer ring"));
}

// The union converts to 64-bit integers at 10^6 per unit without checking; anything it could
// not represent exactly is refused with the place it was found.
std::optional<Failure> check_ring(const Ring& ring, std::size_t polygon,
                                  std::optional<std::size_t> hole) {
  for (std::size_t k = 0; k < ring.size(); ++k) {
    const Point& p = ring[k];
    if (!std::isfinite(p.x) || !std::isfinite(p.y))
      return invalid(ring_name(polygon, hole) + " point " + std::to_string(k) + " is (" +
                     format_float(p.x) + ", " + format_float(p.y) +
                     "); every coordinate must be a finite number");
    if (std::fabs(p.x) > kMaxInflationExtent || std::fabs(p.y) > kMaxInflationExtent)
      return invalid(ring_name(polygon, hole) + " point " + std::to_string(k) + " is (" +
                     format_float(p.x) + ", " + format_float(p.y) +
                     "); coordinates must lie within +-" + format_float(kMaxInflationExtent) +
                     " (shift or scale the data)");
  }
  return std::nullopt;
}

std::optional<Failure> check_polygons(const std::vector<Polygon>& polygons) {
  for (std::size_t i = 0; i < polygons.size(); ++i) {
    if (auto failure = check_ring(polygons[i].outer, i, std::nullopt)) return failure;
    for (std::size_t h = 0; h < polygons[i].holes.size(); ++h)
      if (auto failure = check_ring(polygons[i].holes[h], i, h)) return failure;
  }
  return std::nullopt;
}

// One polygon's region, positively oriented: the outer ring's NonZero fill minus its holes'.
// Reading each ring on its own under NonZero makes either orientation, a crossing ring and
// repeated points mean what the caller drew; taking the holes away (instead of adding them as
// reversed rings) keeps a hole that strays outside its outer from adding area.
c2::Paths64 polygon_region(const Polygon& polygon) {
  c2::Paths64 outer{union_scaled(polygon.outer)};
  if (polygon.holes.empty()) return c2::Union(outer, c2::FillRule::NonZero);
  c2::Paths64 holes;
  holes.reserve(polygon.holes.size());
  for (const Ring& hole : polygon.holes) holes.push_back(union_scaled(hole));
  return c2::Difference(outer, holes, c2::FillRule::NonZero);
}

// A vertex that two rings of a polygon share, or that one ring visits twice: a hole touching
// its outer ring, two holes touching, a region pinched to a point. The triangulation then gets
// two copies of one point whose constraint edges cross once the copies are perturbed apart, and
// fails.
// Points are equal exactly when their coordinates' bits are, once a negative zero is made
// positive (adding +0 does that and changes no other value): one table lookup per point finds a
// repeat, where sorting a copy of every point took log n comparisons each.
std::uint64_t bits_of(double v) {
  std::uint64_t bits = 0;
  std::memcpy(&bits, &v, sizeof bits);
  return bits;
}

PairKey point_bits(Point p) { return {bits_of(p.x + 0.0), bits_of(p.y + 0.0)}; }

bool has_repeated_vertex(const Polygon& polygon) {
  std::size_t count = polygon.outer.size();
  for (const Ring& hole : polygon.holes) count += hole.size();
  PairTable<unsigned char> seen(count);
  const auto repeats = [&seen](const Ring& ring) {
    for (const Point& p : ring)
      if (!seen.insert(point_bits(p), 1)) return true;
    return false;
  };
  if (repeats(polygon.outer)) return true;
  return std::any_of(polygon.holes.begin(), polygon.holes.end(), repeats);
}

bool any_repeated_vertex(const std::vector<Polygon>& polygons) {
  return std::any_of(polygons.begin(), polygons.end(), has_repeated_vertex);
}

// The region shrunk by one unit of the union's grid (10^-6): every touching point opens into
// separate corners, one per wedge of the region that met there, while no edge moves by more
// than the resolution the union already rounds to.
c2::Paths64 opened_touches(const c2::Paths64& rings) {
  return c2::InflatePaths(rings, -1.0, c2::JoinType::Miter, c2::EndType::Polygon, 2.0);
}

}  // namespace

Outcome<std::vector<Polygon>> repair_polygons(const std::vector<Polygon>& polygons,
                                              const InflationSettings& settings) {
  using Result = Outcome<std::vector<Polygon>>;
  if (polygons.empty()) return Result{};
  if (auto failure = check_polygons(polygons)) return Result::fail(std::move(*failure));
  c2::Paths64 rings;
  try {
    std::size_t contributing = 0;
    for (const Polygon& polygon : polygons) {
      c2::Paths64 region = polygon_region(polygon);
      if (region.empty()) continue;
      ++contributing;
      for (c2::Path64& path : region) rings.push_back(std::move(path));
    }
    // Regions of different polygons may overlap or touch; one region alone is already a union.
    if (contributing > 1) rings = c2::Union(rings, c2::FillRule::NonZero);
  } catch (const c2::Clipper2Exception& error) {
    return Result::fail(invalid(std::string("the polygons could not be repaired: ") + error.what()));
  }
  Result out;
  out.value = polygons_of_union(rings, settings.min_hole_area);
  // Only shapes that touch themselves are shrunk, so a clean union comes through unchanged.
  if (any_repeated_vertex(out.value)) {
    try {
      out.value = polygons_of_union(opened_touches(rings), settings.min_hole_area);
    } catch (const c2::Clipper2Exception& error) {
      return Result::fail(
          invalid(std::string("the polygons could not be repaired: ") + error.what()));
    }
  }
  if (out.value.empty())
    return Result::fail(invalid(
        "the polygons cover no area: every outer ring has fewer than 3 distinct points (at "
        "0.000001 resolution), encloses nothing or is covered by its holes"));
  return out;
}

namespace {

struct AreaAndLength {
  double area = 0.0;
  double length = 0.0;
};

void add_polygon(const Polygon& polygon, AreaAndLength& sum) {
  sum.area += ring_area(polygon.outer);
  sum.length += ring_length(polygon.outer);
  for (const Ring& hole : polygon.holes) {
    sum.area += ring_area(hole);  // negative: holes are clockwise
    sum.length += ring_length(hole);
  }
}

}  // namespace

double shape_half_width(const std::vector<Polygon>& polygons) {
  AreaAndLength sum;
  for (const Polygon& polygon : polygons) add_polygon(polygon, sum);
  return sum.area / sum.length;
}

double polygon_half_width(const Polygon& polygon) {
  AreaAndLength sum;
  add_polygon(polygon, sum);
  return sum.area / sum.length;
}

bool fill_small_holes(Polygon& polygon, double min_area) {
  std::vector<Ring>& holes = polygon.holes;
  const std::size_t before = holes.size();
  holes.erase(std::remove_if(holes.begin(), holes.end(),
                             [min_area](const Ring& hole) { return -ring_area(hole) < min_area; }),
              holes.end());
  return holes.size() != before;
}

}  // namespace strandify

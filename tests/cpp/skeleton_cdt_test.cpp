#include <algorithm>
#include <cmath>
#include <map>
#include <set>

#include "check.hpp"
#include "boundary.hpp"
#include "drivers/entry.hpp"
#include "sketch.hpp"
#include "skeleton_cdt.hpp"

using namespace strandify;

namespace {

Ring rectangle(double w, double h, int per_side) {
  Ring r;
  for (int i = 0; i < per_side; ++i) r.push_back({w * i / per_side, 0.0});
  for (int i = 0; i < per_side; ++i) r.push_back({w, h * i / per_side});
  for (int i = 0; i < per_side; ++i) r.push_back({w - w * i / per_side, h});
  for (int i = 0; i < per_side; ++i) r.push_back({0.0, h - h * i / per_side});
  return r;
}

bool same(const Point& a, const Point& b) { return a.x == b.x && a.y == b.y; }

}  // namespace

TEST(perturbation_is_a_fixed_function_of_the_index) {
  const Ring tri{{0, 0}, {10, 0}, {0, 10}};
  const auto triangles = get_triangles(tri, {});
  CHECK_EQ(triangles.size(), 1u);
  const PolygonMesh mesh = triangulate_polygon(tri, {});
  CHECK(mesh.points[0].x == 0.0);
  CHECK(mesh.points[0].y == 0.0 + 1e-9);
  CHECK(mesh.points[1].x == 10.0 + 1e-9 * std::sin(1.1));
  CHECK(mesh.points[2].y == 10.0 + 1e-9 * std::cos(2.6));
  // the returned triangle is made of the perturbed points
  std::set<std::pair<double, double>> pts;
  for (const Point& p : {triangles[0].a, triangles[0].b, triangles[0].c}) pts.insert({p.x, p.y});
  for (const Point& p : mesh.points) CHECK(pts.count({p.x, p.y}) == 1);
}

TEST(square_gives_two_triangles_and_no_segment) {
  const Ring square{{0, 0}, {1, 0}, {1, 1}, {0, 1}};
  CHECK_EQ(get_triangles(square, {}).size(), 2u);
  CHECK(skeletonize(square, {}).empty());
}

TEST(short_holes_are_ignored) {
  const Ring square{{0, 0}, {4, 0}, {4, 4}, {0, 4}};
  const std::vector<Ring> two_point_hole{{{1, 1}, {2, 2}}};
  const auto with_hole = get_triangles(square, two_point_hole);
  const auto without = get_triangles(square, {});
  CHECK_EQ(with_hole.size(), without.size());
  for (std::size_t i = 0; i < with_hole.size(); ++i) {
    CHECK(same(with_hole[i].a, without[i].a));
    CHECK(same(with_hole[i].b, without[i].b));
    CHECK(same(with_hole[i].c, without[i].c));
  }
}

TEST(rings_of_up_to_six_points_have_no_skeleton) {
  for (int n = 3; n <= 6; ++n) {
    Ring r;
    for (int i = 0; i < n; ++i)
      r.push_back({10 * std::cos(2 * M_PI * i / n), 3 * std::sin(2 * M_PI * i / n)});
    CHECK(!get_triangles(r, {}).empty());
    CHECK(skeletonize(r, {}).empty());
  }
}

TEST(strip_gives_a_chain_of_sleeves_meeting_exactly) {
  const Ring strip = rectangle(20, 1, 40);
  const auto segments = skeletonize(strip, {});
  CHECK(segments.size() > 20);
  // every interior segment end is shared with another segment, bit for bit
  std::size_t unmatched = 0;
  for (std::size_t i = 0; i < segments.size(); ++i) {
    for (const Point& end : {segments[i].from, segments[i].to}) {
      bool found = false;
      for (std::size_t j = 0; j < segments.size() && !found; ++j) {
        if (j == i) continue;
        found = same(end, segments[j].from) || same(end, segments[j].to);
      }
      unmatched += !found;
    }
  }
  CHECK(unmatched <= 6);  // only the ends of the strip and the corner fans
  for (const Segment& s : segments) {
    CHECK(s.from.y > 0.0 && s.from.y < 1.0);
  }
}

TEST(t_shape_has_a_junction_with_three_segments_to_one_centroid) {
  Ring t;
  auto edge = [&t](Point a, Point b, int n) {
    for (int i = 0; i < n; ++i) t.push_back({a.x + (b.x - a.x) * i / n, a.y + (b.y - a.y) * i / n});
  };
  edge({0, 0}, {30, 0}, 30);
  edge({30, 0}, {30, 2}, 2);
  edge({30, 2}, {16, 2}, 14);
  edge({16, 2}, {16, 20}, 18);
  edge({16, 20}, {14, 20}, 2);
  edge({14, 20}, {14, 2}, 18);
  edge({14, 2}, {0, 2}, 14);
  edge({0, 2}, {0, 0}, 2);
  const auto segments = skeletonize(t, {});
  int best = 0;
  for (const Segment& s : segments) {
    int n = 0;
    for (const Segment& o : segments) n += same(o.to, s.to);
    best = std::max(best, n);
  }
  CHECK(best >= 3);
}

TEST(hole_to_outer_edges_are_interior) {
  const Ring outer = rectangle(10, 10, 10);
  Ring hole{{3, 3}, {3, 7}, {7, 7}, {7, 3}};
  const auto segments = skeletonize(outer, {hole});
  CHECK(!segments.empty());
  for (const Segment& s : segments) {
    const bool inside_hole = s.from.x > 3.001 && s.from.x < 6.999 && s.from.y > 3.001 && s.from.y < 6.999;
    CHECK(!inside_hole);
  }
}

TEST(crossing_ring_fails_cleanly) {
  const Ring bowtie{{0, 0}, {10, 10}, {10, 0}, {0, 10}};
  const PolygonMesh mesh = triangulate_polygon(bowtie, {});
  CHECK(!mesh.triangulated);
  CHECK(mesh.triangles.empty());
  CHECK(get_triangles(bowtie, {}).empty());
  CHECK(skeletonize(bowtie, {}).empty());
  const Ring duplicate{{0, 0}, {10, 0}, {10, 10}, {10, 0}, {0, 10}};
  CHECK(get_triangles(duplicate, {}).empty());
}

TEST(same_polygon_same_bits) {
  const Ring strip = rectangle(15, 2, 30);
  const auto a = skeletonize(strip, {});
  const auto b = skeletonize(strip, {});
  CHECK_EQ(a.size(), b.size());
  for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
    CHECK(same(a[i].from, b[i].from));
    CHECK(same(a[i].to, b[i].to));
  }
}

namespace {

// The edges each triangle shares with another one, counted over the triangles themselves.
std::vector<std::uint8_t> shared_by_count(const PolygonMesh& m) {
  std::map<std::pair<std::uint32_t, std::uint32_t>, int> uses;
  auto key = [](std::uint32_t a, std::uint32_t b) { return std::make_pair(std::min(a, b), std::max(a, b)); };
  for (const auto& t : m.triangles) {
    ++uses[key(t[0], t[1])];
    ++uses[key(t[1], t[2])];
    ++uses[key(t[0], t[2])];
  }
  std::vector<std::uint8_t> out;
  for (const auto& t : m.triangles)
    out.push_back(static_cast<std::uint8_t>((uses[key(t[0], t[1])] > 1 ? 1 : 0) |
                                            (uses[key(t[1], t[2])] > 1 ? 2 : 0) |
                                            (uses[key(t[0], t[2])] > 1 ? 4 : 0)));
  return out;
}

bool same_mesh(const PolygonMesh& a, const PolygonMesh& b) {
  return a.triangulated == b.triangulated && a.triangles == b.triangles &&
         a.shared_edges == b.shared_edges && a.shared_edges == shared_by_count(a);
}

// Loops drawn inside each other, so that the union has holes and islands in holes.
std::vector<Curve> nested_loops(std::uint64_t seed) {
  sketch::SplitMix64 rng(seed);
  std::vector<Curve> curves;
  const int loops = rng.between(1, 5);
  for (int k = 0; k < loops; ++k) {
    const double r = rng.uniform(3.0, 30.0);
    const Point c{rng.uniform(30.0, 70.0), rng.uniform(30.0, 70.0)};
    const int n = rng.between(6, 40);
    Curve loop;
    for (int i = 0; i <= n; ++i) {
      const double a = sketch::kTwoPi * i / n;
      loop.push_back({c.x + r * sketch::poly_cos(a), c.y + r * sketch::poly_sin(a)});
    }
    curves.push_back(loop);
  }
  return curves;
}

}  // namespace

// The depth fill must select exactly the triangles, in exactly the order, that the
// triangulator's own removal of outer triangles and holes leaves. The library removal always
// inserts the rings as constraints, so this also holds the depth fill's skipping of that
// insertion to changing nothing: conditioned rings mostly are edges of the bare triangulation
// already, the raw buffers' long straight and arc edges mostly are not.
TEST(depth_fill_keeps_the_triangles_the_library_removal_keeps) {
  std::size_t polygons = 0, with_holes = 0;
  auto same_both_ways = [&](const Polygon& p) {
    if (p.outer.size() < 3) return;
    const PolygonMesh fill = triangulate_polygon(p.outer, p.holes, OuterRemoval::depth_fill);
    const PolygonMesh library = triangulate_polygon(p.outer, p.holes, OuterRemoval::library);
    CHECK(same_mesh(fill, library));
    ++polygons;
    if (!p.holes.empty()) ++with_holes;
  };
  auto compare = [&](const std::vector<Curve>& curves, double bd, double fs) {
    const auto buffers = buffer_pipeline(curves, bd, fs, std::nullopt, std::nullopt).value;
    const auto conditioner = BoundaryConditioner::build(buffers, bd, fs, {});
    CHECK(conditioner.ok());
    for (std::size_t i = 0; i < buffers.size(); ++i) {
      same_both_ways(conditioner.value.condition_built(i));
      same_both_ways(buffers[i]);
    }
  };
  for (std::uint64_t seed = 1; seed <= 60; ++seed) {
    compare(sketch::make_sketch(seed).curves, 1.0, 1.0);
    compare(nested_loops(seed), 1.0, 0.5);
  }
  CHECK(polygons > 400);
  CHECK(with_holes > 100);
}

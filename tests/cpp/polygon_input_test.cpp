#include <algorithm>

#include "check.hpp"
#include "component_keep.hpp"
#include "graph.hpp"
#include "inflate.hpp"
#include "polygon_input.hpp"

using namespace strandify;

namespace {

const Ring kSquare{{0, 0}, {40, 0}, {40, 40}, {0, 40}};

std::vector<Point> all_points(const Polygon& p) {
  std::vector<Point> pts = p.outer;
  for (const Ring& h : p.holes) pts.insert(pts.end(), h.begin(), h.end());
  return pts;
}

}  // namespace

TEST(repaired_rings_are_union_output_whatever_the_orientation) {
  const InflationSettings s = resolve_inflation(0.0, 1.0);
  const Ring hole{{10, 10}, {30, 10}, {30, 30}, {10, 30}};
  Ring reversed_outer(kSquare.rbegin(), kSquare.rend());
  for (const Polygon& input : {Polygon{kSquare, {hole}}, Polygon{reversed_outer, {hole}}}) {
    const auto out = repair_polygons({input}, s);
    CHECK(out.ok());
    CHECK_EQ(out.value.size(), std::size_t{1});
    CHECK_EQ(out.value[0].holes.size(), std::size_t{1});
    CHECK_NEAR(shape_half_width(out.value), (1600.0 - 400.0) / 240.0, 1e-12);
  }
}

TEST(a_hole_touching_its_outer_is_opened_so_no_vertex_repeats) {
  const Ring hole{{0, 0}, {30, 8}, {30, 30}, {8, 30}};
  const auto out = repair_polygons({Polygon{kSquare, {hole}}}, resolve_inflation(0.0, 1.0));
  CHECK(out.ok());
  CHECK(!out.value.empty());
  for (const Polygon& p : out.value) {
    std::vector<Point> pts = all_points(p);
    std::sort(pts.begin(), pts.end(),
              [](Point a, Point b) { return a.x < b.x || (a.x == b.x && a.y < b.y); });
    CHECK(std::adjacent_find(pts.begin(), pts.end()) == pts.end());
  }
}

TEST(a_pruned_away_tree_gets_back_its_longest_path) {
  // A T whose arms are all shorter than the tip length, and a separate long path.
  Graph g;
  g.nodes = {{0, 0}, {1, 0}, {3, 0}, {1, 0.5}, {10, 0}, {20, 0}};
  g.edges = {{0, 1}, {1, 2}, {1, 3}, {4, 5}};
  const Graph pruned = prune_short_tips(g, 5.0);
  CHECK_EQ(pruned.edges.size(), std::size_t{1});  // only the long path survives
  const Graph kept = restore_lost_components(g, pruned);
  CHECK_EQ(kept.edges.size(), std::size_t{3});
  // the diameter of the T runs from node 0 to node 2, not into the short arm to node 3
  CHECK_EQ(kept.edges[1].a, std::size_t{0});
  CHECK_EQ(kept.edges[2].b, std::size_t{2});
  const Graph untouched = restore_lost_components(g, g);
  CHECK_EQ(untouched.edges.size(), g.edges.size());
}

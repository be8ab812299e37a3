// Finishing steps: the boundary-edge queries, the allowance in pruning, graph edits on
// hand-made graphs, and corner-preserving chain finishing.
#include <cmath>
#include <utility>
#include <vector>

#include "chain_finish.hpp"
#include "check.hpp"
#include "graph.hpp"
#include "refine/refine.hpp"
#include "settings.hpp"

using namespace strandify;

namespace {

Polygon square(double x0, double y0, double size) {
  return {{{x0, y0}, {x0 + size, y0}, {x0 + size, y0 + size}, {x0, y0 + size}}, {}};
}

BoundaryEdges two_squares() {
  BoundaryEdges edges(2.0);
  Polygon first = square(0, 0, 10);
  first.holes.push_back({{4, 4}, {4, 6}, {6, 6}, {6, 4}});
  edges.add_polygon(first);
  edges.add_polygon(square(20, 0, 4));
  edges.build();
  return edges;
}

Graph path_graph(const std::vector<Point>& points) {
  Graph g;
  g.nodes = points;
  for (NodeId i = 0; i + 1 < points.size(); ++i) g.edges.push_back({i, i + 1});
  return g;
}

}  // namespace

TEST(refine_boundary_rays_distances_and_polygons) {
  const BoundaryEdges b = two_squares();
  CHECK_NEAR(b.first_hit({1, 5}, {-1, 0}, 5.0), 1.0, 1e-12);
  CHECK_NEAR(b.first_hit({1, 5}, {1, 0}, 5.0), 3.0, 1e-12);  // the hole's side
  CHECK_EQ(b.first_hit({1, 5}, {1, 0}, 2.5), -1.0);          // beyond reach
  CHECK_NEAR(b.distance_within({2, 3}, 5.0), 2.0, 1e-12);
  CHECK_EQ(b.distance_within({2, 3}, 1.5), 1.5);
  CHECK_EQ(b.polygon_of({1, 5}), 0);
  CHECK_EQ(b.polygon_of({7, 5}), 0);   // between the hole and the outer ring
  CHECK_EQ(b.polygon_of({22, 1}), 1);  // a later cell column holds the hit
  CHECK_EQ(b.polygon_of({30, 1}), -1);
  CHECK_NEAR(b.centre(1).x, 22.0, 1e-12);
  CHECK_NEAR(b.centre(1).y, 2.0, 1e-12);
}

TEST(refine_polygon_centre_holds_at_map_coordinates) {
  // A dot's ring of radius 2 at UTM and Equal Earth magnitudes: its centroid is its centre to
  // well within a micrometre, as at the origin.
  const double pi = std::acos(-1.0);
  for (const Point at : {Point{0.0, 0.0}, Point{5e5, 4e6}, Point{1.6e6, 6.4e6}, Point{-9.46e6, 3.47e6}}) {
    Polygon dot;
    for (int k = 0; k < 32; ++k)
      dot.outer.push_back({at.x + 2.0 * std::cos(k * pi / 16), at.y + 2.0 * std::sin(k * pi / 16)});
    BoundaryEdges edges(1.0);
    edges.add_polygon(dot);
    edges.build();
    CHECK_NEAR(edges.centre(0).x, at.x, 1e-6);
    CHECK_NEAR(edges.centre(0).y, at.y, 1e-6);
  }
}

TEST(refine_allowance_lowers_the_tip_limit_at_its_junction_only) {
  // Junction 1 with arms of 3 and a spur of 1.5 to node 3; limit 2.
  Graph t;
  t.nodes = {{-3, 0}, {0, 0}, {3, 0}, {0, 1.5}};
  t.edges = {{0, 1}, {1, 2}, {1, 3}};
  CHECK_EQ(prune_short_tips(t, 2.0).edges.size(), std::size_t{2});
  CHECK_EQ(prune_short_tips(t, 2.0, {0.0, 0.6, 0.0, 0.0}).edges.size(), std::size_t{3});
  CHECK_EQ(prune_short_tips(t, 2.0, {0.6, 0.0, 0.6, 0.6}).edges.size(), std::size_t{2});
  // a list of the wrong length is no allowance at all
  CHECK_EQ(prune_short_tips(t, 2.0, {0.6}).edges.size(), std::size_t{2});
}

TEST(refine_corner_moves_the_junction_to_the_legs_apex) {
  // Legs along y = +-x/2 to the left of a junction at (0,0); the spur points right, its tip
  // 0.5 past the apex at (1, 0) where the legs' lines cross.
  RefineSettings s = resolve_refine(1.0, 1.0, {});
  std::vector<Point> pts;
  Graph g;
  g.nodes.push_back({0, 0});  // junction 0
  auto leg = [&](double sign) {
    NodeId prev = 0;
    for (int k = 1; k <= 16; ++k) {
      const double x = 1.0 - 0.5 * k;
      g.nodes.push_back({x, sign * (1.0 - x) * 0.5});
      g.edges.push_back({prev, g.nodes.size() - 1});
      prev = g.nodes.size() - 1;
    }
  };
  // the first leg node sits off the line, as a skeleton bends into a junction
  leg(1.0);
  leg(-1.0);
  g.nodes.push_back({1.5, 0});
  g.edges.push_back({0, g.nodes.size() - 1});
  BoundaryEdges around(2.0);
  around.add_polygon(square(-20, -20, 40));
  around.build();
  std::vector<Point> corners;
  const Graph out = recover_corners(g, around, s, &corners);
  CHECK_EQ(corners.size(), std::size_t{1});
  CHECK_NEAR(out.nodes[0].x, 1.0, 1e-9);
  CHECK_NEAR(out.nodes[0].y, 0.0, 1e-9);
  CHECK_EQ(out.edges.size(), g.edges.size() - 1 - 2 * 3);  // spur gone, 4 edges per leg -> 1
  // a spur well past the apex is a real stub and stays
  g.nodes.back() = {4.0, 0};
  corners.clear();
  CHECK_EQ(recover_corners(g, around, s, &corners).edges.size(), g.edges.size());
  CHECK(corners.empty());
  // an apex on the boundary or beyond it is no corner of the shape
  g.nodes.back() = {1.5, 0};
  for (const double edge : {1.0, 1.1}) {
    BoundaryEdges cut(2.0);
    cut.add_polygon({{{-20, -20}, {edge, -20}, {edge, 20}, {-20, 20}}, {}});
    cut.build();
    corners.clear();
    CHECK_EQ(recover_corners(g, cut, s, &corners).edges.size(), g.edges.size());
    CHECK(corners.empty());
  }
}

TEST(refine_tip_ends_inset_from_the_boundary) {
  RefineSettings s = resolve_refine(1.0, 1.0, {});
  BoundaryEdges b(2.0);
  b.add_polygon({{{2, -1}, {31, -1}, {31, 1}, {2, 1}}, {}});
  b.build();
  std::vector<Point> pts;
  for (int k = 0; k <= 52; ++k) pts.push_back({29.6 - 0.5 * k, 0.0});
  pts.front() = {29.8, 0.3};  // a hook in the last radius
  const Graph out = finish_tips(path_graph(pts), b, s);
  CHECK_NEAR(out.nodes[0].x, 30.0, 1e-9);
  CHECK_NEAR(out.nodes[0].y, 0.0, 1e-9);
  CHECK_NEAR(out.nodes.back().x, 3.0, 1e-9);  // the other tip, from 0.6 short of its end
  // a bend inside the stretch: no straight direction, the tip stays
  std::vector<Point> bent = pts;
  for (int k = 0; k < 5; ++k) bent[k].y += 0.4 * (5 - k);
  const Graph kept = finish_tips(path_graph(bent), b, s);
  CHECK(kept.nodes[0] == bent[0]);
}

TEST(refine_finishing_keeps_corner_points_exactly) {
  Chain c;
  for (int k = 0; k <= 10; ++k) c.points.push_back({double(k), double(k < 5 ? k : 10 - k)});
  const Point apex{5, 5};
  ChainSettings settings;
  settings.simplification_tolerance = 0.1;
  const std::vector<Point> plain = finish_chain(c, settings);
  bool plain_has_apex = false;
  for (const Point& p : plain) plain_has_apex = plain_has_apex || p == apex;
  CHECK(!plain_has_apex);  // smoothing rounds it off
  const std::vector<Point> kept = finish_chain_keeping_corners(c, settings, {apex});
  CHECK_EQ(kept.size(), std::size_t{3});  // straight legs simplify to their ends
  CHECK(kept[1] == apex);
  CHECK(kept.front() == c.points.front() && kept.back() == c.points.back());
}

TEST(refine_dots_come_back_only_for_components_pruned_whole) {
  // One component that pruning kept through nodes 3 and 4. Node 0 reaches the kept node 3 only
  // after it has reached node 2, and node 1 (beyond every polygon) hangs off node 2: a search
  // from node 1 must still find the component kept, and give back no dot.
  BoundaryEdges b(2.0);
  b.add_polygon(square(0, 0, 10));
  b.build();
  const RefineSettings s = resolve_refine(1.0, 1.0, {});
  Graph skeleton;
  skeleton.nodes = {{5, 5}, {30, 30}, {6, 5}, {4, 5}, {3, 5}};
  skeleton.edges = {{0, 2}, {0, 3}, {2, 1}, {3, 4}};
  Graph pruned;
  pruned.nodes = skeleton.nodes;
  pruned.edges = {{3, 4}};
  std::vector<Point> dots;
  const Graph kept = keep_dots(skeleton, build_adjacency(skeleton), pruned, b, {1}, s, dots);
  CHECK(dots.empty());
  CHECK_EQ(kept.edges.size(), std::size_t{1});

  // The same skeleton pruned away whole, first reached in the square: it comes back as one
  // dash between its extremes along its nodes' principal axis.
  pruned.edges.clear();
  const Graph dash = keep_dots(skeleton, build_adjacency(skeleton), pruned, b, {1}, s, dots);
  CHECK(dots.empty());
  CHECK_EQ(dash.edges.size(), std::size_t{1});
}

// The finishing steps' walks measure edges as the square root of the summed squares, the exact
// cleaning as hypot; for (0.1, 0.1) glibc's hypot is one unit in the last place below it.
TEST(refine_walks_measure_edges_by_root_sum_squares) {
  Graph g;
  g.nodes = {{0.0, 0.0}, {0.1, 0.1}, {0.3, -0.7}, {-1e-200, 3e-201}};
  g.edges = {{0, 1}, {1, 2}, {2, 3}};
  const Adjacency finishing = finishing_adjacency(g);
  const Adjacency exact = build_adjacency(g);
  for (std::size_t e = 0; e < g.edges.size(); ++e) {
    const Point a = g.nodes[g.edges[e].a], b = g.nodes[g.edges[e].b];
    const double dx = b.x - a.x, dy = b.y - a.y;
    CHECK(exact.length(g, e) == std::hypot(dx, dy));
    CHECK(finishing.length(g, e) == std::sqrt(dx * dx + dy * dy));
    // Both are symmetric to the bit, so a walk in either direction sums the same lengths.
    CHECK(finishing.length(g, e) == root_sum_squares_distance(b, a));
  }
}

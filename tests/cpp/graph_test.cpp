// Skeleton graph: snapping, tip pruning, junction merging and chain extraction.
#include <cmath>
#include <cstddef>
#include <limits>
#include <set>
#include <utility>
#include <vector>

#include "check.hpp"
#include "graph.hpp"

using namespace strandify;

namespace {

const double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();

Segment seg(double x0, double y0, double x1, double y1) { return {{x0, y0}, {x1, y1}}; }

Graph make_graph(std::vector<Point> nodes, std::vector<std::pair<NodeId, NodeId>> pairs) {
  Graph g;
  g.nodes = std::move(nodes);
  for (const auto& p : pairs) g.edges.push_back({p.first, p.second});
  return g;
}

bool same_edges(const Graph& g, const std::vector<std::pair<NodeId, NodeId>>& expected) {
  if (g.edges.size() != expected.size()) return false;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    if (g.edges[i].a != expected[i].first || g.edges[i].b != expected[i].second) return false;
  }
  return true;
}

bool same_points(const std::vector<Point>& got, const std::vector<Point>& expected) {
  if (got.size() != expected.size()) return false;
  for (std::size_t i = 0; i < got.size(); ++i) {
    if (got[i] != expected[i]) return false;
  }
  return true;
}

// The points of the given node ids, in order.
std::vector<Point> points_of(const Graph& g, const std::vector<NodeId>& ids) {
  std::vector<Point> out;
  for (NodeId id : ids) out.push_back(g.nodes[id]);
  return out;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Snapping

TEST(graph_snap_shares_nodes_and_drops_degenerate_and_repeated_segments) {
  const Graph g = segments_to_graph(
      {seg(0, 0, 1, 0), seg(1, 0, 2, 0), seg(2, 0, 1, 0), seg(2, 0, 2.01, 0), seg(1, 0, 0, 0)},
      0.05);
  CHECK(same_points(g.nodes, {{0, 0}, {1, 0}, {2, 0}}));
  // (2,0)-(1,0) repeats (1,0)-(2,0) reversed; (2,0)-(2.01,0) is shorter than a cell.
  CHECK(same_edges(g, {{0, 1}, {1, 2}}));

  const Graph rev = segments_to_graph({seg(5, 5, 1, 1), seg(1, 1, 5, 5)}, 0.05);
  CHECK(same_edges(rev, {{0, 1}}));  // kept in the orientation first seen

  CHECK(segments_to_graph({}, 0.05).nodes.empty());
  CHECK(segments_to_graph({}, 0.05).edges.empty());
}

TEST(graph_snap_aliases_chain_neighbouring_cells_into_one_node) {
  const Graph g = segments_to_graph({seg(0, 0, 10, 10), seg(0.5, 0, 10, 20),
                                     seg(1.6, 0, 20, 20), seg(-1.6, 0, 30, 30)},
                                    1.0);
  // (0.5,0) lands in cell (1,0) next to (0,0)'s cell; (1.6,0) in cell (2,0), next only to
  // that alias; (-1.6,0) in cell (-2,0), with no mapped neighbour.
  CHECK(same_points(g.nodes, {{0, 0}, {10, 10}, {10, 20}, {20, 20}, {-1.6, 0}, {30, 30}}));
  CHECK(same_edges(g, {{0, 1}, {0, 2}, {0, 3}, {4, 5}}));
}

TEST(graph_snap_block_search_takes_first_mapped_cell_rows_then_columns) {
  // Cell (0,0) touches two separate nodes. The row di = -1 comes before di = +1 ...
  Graph g = segments_to_graph({seg(1, -1, 50, 50), seg(-1, 1, 60, 60), seg(0, 0, 70, 70)}, 1.0);
  CHECK_EQ(g.nodes.size(), std::size_t{5});
  CHECK(same_edges(g, {{0, 1}, {2, 3}, {2, 4}}));
  // ... and within a row, dj = -1 comes before dj = +1.
  g = segments_to_graph({seg(0, 1, 50, 50), seg(0, -1, 60, 60), seg(0, 0, 70, 70)}, 1.0);
  CHECK_EQ(g.nodes.size(), std::size_t{5});
  CHECK(same_edges(g, {{0, 1}, {2, 3}, {2, 4}}));
}

TEST(graph_snap_node_keeps_first_point_and_from_end_is_looked_up_first) {
  // Both ends of the second segment share a cell; the `from` end is looked up first, so it
  // creates the node and gives it its position.
  const Graph g = segments_to_graph({seg(0, 0, 5, 0), seg(10.3, 0, 9.6, 0)}, 1.0);
  CHECK(same_points(g.nodes, {{0, 0}, {5, 0}, {10.3, 0}}));
  CHECK(same_edges(g, {{0, 1}}));
}

TEST(graph_snap_cells_use_true_division_and_round_half_away_from_zero) {
  // 0.35 / 0.1 is just below 3.5 (cell 3), while 0.35 * 10 is 3.5 (cell 4, next to cell 5).
  Graph g = segments_to_graph({seg(0.5, 0, 9, 9), seg(0.35, 0, 9, 9)}, 0.1);
  CHECK_EQ(g.nodes.size(), std::size_t{3});

  // -2.5 rounds to cell -3, which does not touch cell -1; rounding to even or towards zero
  // would give -2 and join.
  g = segments_to_graph({seg(-1.4, 0, 9, 9), seg(-2.5, 0, 9, 9)}, 1.0);
  CHECK_EQ(g.nodes.size(), std::size_t{3});
  g = segments_to_graph({seg(1.4, 0, 9, 9), seg(2.5, 0, 9, 9)}, 1.0);
  CHECK_EQ(g.nodes.size(), std::size_t{3});
  // The same distance below the half joins.
  g = segments_to_graph({seg(1.4, 0, 9, 9), seg(2.4, 0, 9, 9)}, 1.0);
  CHECK_EQ(g.nodes.size(), std::size_t{2});
}

TEST(graph_snap_non_finite_and_huge_coordinates) {
  // Beyond the integer range the cell saturates; the node still holds the point itself.
  Graph g = segments_to_graph({seg(1e300, -1e300, 0, 0)}, 1e-10);
  CHECK_EQ(g.nodes.size(), std::size_t{2});
  CHECK(g.nodes[0] == (Point{1e300, -1e300}));

  // Saturated cells at opposite ends of the range are not neighbours: stepping past the
  // largest cell must not wrap around to the smallest.
  g = segments_to_graph({seg(-kInf, 0, kInf, 0)}, 1.0);
  CHECK_EQ(g.nodes.size(), std::size_t{2});
  CHECK(same_edges(g, {{0, 1}}));
  g = segments_to_graph({seg(0, -kInf, 0, kInf), seg(kInf, kInf, -kInf, -kInf)}, 1.0);
  CHECK_EQ(g.nodes.size(), std::size_t{4});

  // NaN falls into cell 0; the node keeps the NaN coordinates it was created from.
  g = segments_to_graph({seg(kNaN, 0, 5, 5), seg(0.2, 0.1, 5, 5)}, 1.0);
  CHECK_EQ(g.nodes.size(), std::size_t{2});
  CHECK(std::isnan(g.nodes[0].x));
  CHECK(same_edges(g, {{0, 1}}));
}

// ---------------------------------------------------------------------------------------------
// Tip pruning

TEST(graph_prune_removes_short_spur_and_keeps_exactly_limit_long_one) {
  // Arms of 3 each side of junction 1; a spur of length 1 to node 3.
  const Graph t = make_graph({{-3, 0}, {0, 0}, {3, 0}, {0, 1}}, {{0, 1}, {1, 2}, {1, 3}});
  const Graph pruned = prune_short_tips(t, 2.0);
  CHECK(same_points(pruned.nodes, t.nodes));
  CHECK(same_edges(pruned, {{0, 1}, {1, 2}}));

  CHECK(same_edges(prune_short_tips(t, 1.0), {{0, 1}, {1, 2}, {1, 3}}));  // strict <
  CHECK(same_edges(prune_short_tips(t, 1.0 + 1e-12), {{0, 1}, {1, 2}}));
  CHECK(same_edges(prune_short_tips(t, kNaN), {{0, 1}, {1, 2}, {1, 3}}));
}

TEST(graph_prune_keeps_the_short_branches_its_rule_asks_for) {
  // Two spurs of length 1 at junction 1: the rule keeps the one from tip 3 and only that.
  const Graph t = make_graph({{-3, 0}, {0, 0}, {3, 0}, {0, 1}, {0, -1}},
                             {{0, 1}, {1, 2}, {1, 3}, {1, 4}});
  std::set<std::pair<NodeId, NodeId>> asked;
  const TipKeep keep = [&asked](NodeId tip, NodeId end) {
    asked.insert({tip, end});
    return tip == 3;
  };
  CHECK(same_edges(prune_short_tips(t, 2.0, {}, keep), {{0, 1}, {1, 2}, {1, 3}}));
  // Asked only about branches that would go, each with the node it ends at.
  CHECK(asked == (std::set<std::pair<NodeId, NodeId>>{{3, 1}, {4, 1}}));
  CHECK(same_edges(prune_short_tips(t, 2.0, {}, TipKeep{}), {{0, 1}, {1, 2}}));
}

TEST(graph_prune_isolated_short_component_loses_edges_but_keeps_nodes) {
  const Graph g = make_graph({{0, 0}, {0.5, 0}, {9, 9}}, {{1, 0}});
  const Graph pruned = prune_short_tips(g, 2.0);
  CHECK(pruned.edges.empty());
  CHECK(same_points(pruned.nodes, g.nodes));
  CHECK(prune_short_tips(Graph{}, 2.0).nodes.empty());
}

TEST(graph_prune_nan_branch_is_never_removed) {
  const Graph g = make_graph({{-5, 0}, {0, 0}, {5, 0}, {kNaN, 1}}, {{0, 1}, {1, 2}, {1, 3}});
  CHECK_EQ(prune_short_tips(g, 2.0).edges.size(), std::size_t{3});
}

TEST(graph_prune_degrees_are_frozen_within_a_pass) {
  // Junction 2 with spurs from tips 0 and 1 (0.8 each) and an arm of 1.5 through node 3 to
  // junction 4, which has two long arms. The arm is measured alone, once 2 has become a tip
  // in the next pass. Measuring it together with the second spur (0.8 + 1.5 >= 2) within the
  // first pass would keep that spur.
  const Graph g = make_graph({{-0.8, 0.1}, {-0.8, -0.1}, {0, 0}, {0.75, 0}, {1.5, 0},
                              {1.5, 5}, {1.5, -5}},
                             {{0, 2}, {1, 2}, {2, 3}, {3, 4}, {4, 5}, {4, 6}});
  CHECK(same_edges(prune_short_tips(g, 2.0), {{4, 5}, {4, 6}}));

  // With a longer arm the new tip's branch survives the second pass.
  Graph long_arm = g;
  long_arm.nodes[3] = {1.25, 0};
  long_arm.nodes[4] = {2.5, 0};
  CHECK(same_edges(prune_short_tips(long_arm, 2.0), {{2, 3}, {3, 4}, {4, 5}, {4, 6}}));
}

TEST(graph_prune_eats_tree_of_short_spurs_from_outside_in) {
  // Root 0 on a trunk of length 10 to tip 7; below it a binary tree of edges of 0.5:
  // 0 -> {1, 2}, 1 -> {3, 4}, 2 -> {5, 6}. Needs three passes.
  const Graph g = make_graph({{0, 0}, {-0.5, 0}, {0.5, 0}, {-0.5, 0.5}, {-0.5, -0.5},
                              {0.5, 0.5}, {0.5, -0.5}, {0, 10}},
                             {{3, 1}, {1, 0}, {4, 1}, {0, 7}, {0, 2}, {2, 5}, {6, 2}});
  CHECK(same_edges(prune_short_tips(g, 2.0), {{0, 7}}));
  // A trunk shorter than the limit goes as well, once the root has become a tip.
  Graph short_trunk = g;
  short_trunk.nodes[7] = {0, 1.9};
  CHECK(prune_short_tips(short_trunk, 2.0).edges.empty());
}

TEST(graph_prune_keeps_loop_and_removes_its_short_tail) {
  const Graph g = make_graph({{0, 0}, {1, 0}, {1, 1}, {0, 1}, {-0.5, 0}},
                             {{0, 1}, {1, 2}, {2, 3}, {3, 0}, {4, 0}});
  CHECK(same_edges(prune_short_tips(g, 2.0), {{0, 1}, {1, 2}, {2, 3}, {3, 0}}));
  CHECK(same_edges(prune_short_tips(g, 1e9), {{0, 1}, {1, 2}, {2, 3}, {3, 0}}));
}

TEST(graph_prune_keeps_surviving_edges_in_input_order) {
  // Two components interleaved in the edge list; only the short one goes.
  const Graph g = make_graph({{0, 0}, {5, 0}, {10, 0}, {20, 0}, {20, 0.3}},
                             {{2, 1}, {3, 4}, {1, 0}});
  CHECK(same_edges(prune_short_tips(g, 2.0), {{2, 1}, {1, 0}}));
}

// ---------------------------------------------------------------------------------------------
// Junction merging

namespace {

// Junctions 0 at (0,0) and 1 at (len,0), joined directly, each with two tips.
Graph junction_pair(double len) {
  return make_graph({{0, 0}, {len, 0}, {-1, 1}, {-1, -1}, {len + 1, 1}, {len + 1, -1}},
                    {{0, 1}, {0, 2}, {0, 3}, {1, 4}, {1, 5}});
}

}  // namespace

TEST(graph_merge_joins_junctions_within_distance_inclusive) {
  const Graph merged = merge_close_junctions(junction_pair(1.0), 1.5);
  CHECK(same_points(merged.nodes, {{0.5, 0}, {-1, 1}, {-1, -1}, {2, 1}, {2, -1}}));
  CHECK(same_edges(merged, {{0, 1}, {0, 2}, {0, 3}, {0, 4}}));

  CHECK_EQ(merge_close_junctions(junction_pair(1.5), 1.5).nodes.size(), std::size_t{5});
  const Graph apart = merge_close_junctions(junction_pair(2.0), 1.5);
  CHECK(same_points(apart.nodes, junction_pair(2.0).nodes));
  CHECK(same_edges(apart, {{0, 1}, {0, 2}, {0, 3}, {1, 4}, {1, 5}}));
  CHECK_EQ(merge_close_junctions(junction_pair(1.0), kNaN).nodes.size(), std::size_t{6});
}

TEST(graph_merge_removes_interior_nodes_of_connecting_chain) {
  // Junctions 0 and 3 joined through 1 and 2, total length 1.2.
  const Graph g = make_graph({{0, 0}, {0.4, 0}, {0.8, 0}, {1.2, 0}, {-1, 1}, {-1, -1},
                              {2, 1}, {2, -1}},
                             {{0, 1}, {1, 2}, {2, 3}, {0, 4}, {0, 5}, {3, 6}, {3, 7}});
  const Graph merged = merge_close_junctions(g, 1.5);
  CHECK(same_points(merged.nodes, {{0.6, 0}, {-1, 1}, {-1, -1}, {2, 1}, {2, -1}}));
  CHECK(same_edges(merged, {{0, 1}, {0, 2}, {0, 3}, {0, 4}}));
}

TEST(graph_merge_ignores_tips_and_loops_but_compacts) {
  // Junction 1 with a short branch to tip 3 and a short loop 1-4-5-1; isolated nodes 0 and 2.
  const Graph g = make_graph({{9, 9}, {0, 0}, {8, 8}, {0.1, 0}, {0, 0.1}, {0.1, 0.1}, {-5, 0}},
                             {{1, 3}, {1, 4}, {4, 5}, {5, 1}, {6, 1}});
  const Graph merged = merge_close_junctions(g, 1.5);
  CHECK(same_points(merged.nodes, {{0, 0}, {0.1, 0}, {0, 0.1}, {0.1, 0.1}, {-5, 0}}));
  CHECK(same_edges(merged, {{0, 1}, {0, 2}, {2, 3}, {3, 0}, {4, 0}}));

  const Graph no_edges = merge_close_junctions(make_graph({{1, 1}, {2, 2}}, {}), 1.5);
  CHECK(no_edges.nodes.empty());
  CHECK(no_edges.edges.empty());
}

TEST(graph_merge_asks_the_check_with_the_spokes_of_each_cluster) {
  // junction_pair(1.0): junctions at (0, 0) and (1, 0), two spokes each.
  std::vector<std::vector<Point>> asked;
  const MergeCheck refuse = [&asked](Point at, const std::vector<Point>& ends) {
    CHECK(at == (Point{0.5, 0}));
    asked.push_back(ends);
    return false;
  };
  const Graph apart = merge_close_junctions(junction_pair(1.0), 1.5, refuse);
  CHECK(same_points(apart.nodes, junction_pair(1.0).nodes));
  CHECK_EQ(asked.size(), std::size_t{1});
  CHECK(same_points(asked.front(), {{-1, 1}, {-1, -1}, {2, 1}, {2, -1}}));

  const MergeCheck allow = [](Point, const std::vector<Point>&) { return true; };
  const Graph merged = merge_close_junctions(junction_pair(1.0), 1.5, allow);
  CHECK(same_points(merged.nodes, merge_close_junctions(junction_pair(1.0), 1.5).nodes));
  CHECK(same_edges(merged, {{0, 1}, {0, 2}, {0, 3}, {0, 4}}));
}

namespace {

// Junctions A = 0 (0,0), B = 2 (0.5,0), C = 3 at `c`; tip 1 sits between A and B in id order.
Graph junction_triple(Point c) {
  return make_graph({{0, 0}, {-1, 0}, {0.5, 0}, c, {0, -1}, {0.5, -1}, {c.x - 1, c.y + 1},
                     {c.x + 1, c.y + 1}},
                    {{0, 1}, {0, 2}, {0, 4}, {2, 3}, {2, 5}, {3, 6}, {3, 7}});
}

}  // namespace

TEST(graph_merge_chain_of_junctions_uses_running_midpoints) {
  // A-B is 0.5 and merges before B-C (0.6): ((A + B) / 2 + C) / 2, not the centroid.
  Graph merged = merge_close_junctions(junction_triple({0.5, 0.6}), 1.5);
  CHECK_EQ(merged.nodes.size(), std::size_t{6});
  CHECK(merged.nodes[0] == (Point{(0.25 + 0.5) * 0.5, 0.3}));
  CHECK(merged.nodes[1] == (Point{-1, 0}));
  CHECK(same_edges(merged, {{0, 1}, {0, 2}, {0, 3}, {0, 4}, {0, 5}}));

  // B-C (0.4) is found after A-B but is shorter, so it merges first; the later union keeps
  // A's root, which therefore stays ahead of tip 1 in the numbering.
  merged = merge_close_junctions(junction_triple({0.5, 0.4}), 1.5);
  CHECK_EQ(merged.nodes.size(), std::size_t{6});
  CHECK(merged.nodes[0] == (Point{(0 + 0.5) * 0.5, (0 + 0.2) * 0.5}));
  CHECK(merged.nodes[1] == (Point{-1, 0}));
}

TEST(graph_merge_records_first_qualifying_chain_per_pair) {
  // Junctions 0 and 1 joined by a chain 0-2-3-1 (listed first) and by a direct edge of 1.
  auto pair_with_detour = [](double rise) {
    return make_graph({{0, 0}, {1, 0}, {0, rise}, {1, rise}, {-1, 0}, {2, 0}},
                      {{0, 2}, {2, 3}, {3, 1}, {0, 1}, {0, 4}, {1, 5}});
  };
  // Detour of 3 is too long: the direct edge merges them and the detour stays as a loop.
  Graph merged = merge_close_junctions(pair_with_detour(1.0), 1.5);
  CHECK(same_points(merged.nodes, {{0.5, 0}, {0, 1}, {1, 1}, {-1, 0}, {2, 0}}));
  CHECK(same_edges(merged, {{0, 1}, {1, 2}, {2, 0}, {0, 3}, {0, 4}}));
  const std::vector<Chain> chains = extract_chains(merged);
  CHECK_EQ(chains.size(), std::size_t{3});
  CHECK(chains[0].start == 0 && chains[0].end == 0 && chains[0].points.size() == 4);

  // Detour of 1.2 qualifies and comes first: it is the pair's candidate even though the
  // direct edge is shorter, so its interior nodes go.
  merged = merge_close_junctions(pair_with_detour(0.1), 1.5);
  CHECK(same_points(merged.nodes, {{0.5, 0}, {-1, 0}, {2, 0}}));
  CHECK(same_edges(merged, {{0, 1}, {0, 2}}));
}

// ---------------------------------------------------------------------------------------------
// Chain extraction

namespace {

// Nodes 0..n-1 at distinct positions (i, i*i).
std::vector<Point> numbered_nodes(std::size_t n) {
  std::vector<Point> out;
  for (std::size_t i = 0; i < n; ++i) out.push_back({double(i), double(i * i)});
  return out;
}

bool chain_is(const Chain& c, const Graph& g, const std::vector<NodeId>& ids, bool start_tip,
              bool end_tip) {
  return same_points(c.points, points_of(g, ids)) && c.start == ids.front() &&
         c.end == ids.back() && c.start_is_tip == start_tip && c.end_is_tip == end_tip;
}

}  // namespace

TEST(graph_chains_of_paths_start_at_smaller_end) {
  Graph g = make_graph(numbered_nodes(4), {{0, 1}, {1, 2}, {2, 3}});
  std::vector<Chain> chains = extract_chains(g);
  CHECK_EQ(chains.size(), std::size_t{1});
  CHECK(chain_is(chains[0], g, {0, 1, 2, 3}, true, true));

  g = make_graph(numbered_nodes(8), {{7, 2}, {2, 5}});
  chains = extract_chains(g);
  CHECK_EQ(chains.size(), std::size_t{1});
  CHECK(chain_is(chains[0], g, {5, 2, 7}, true, true));

  g = make_graph(numbered_nodes(2), {{1, 0}});
  chains = extract_chains(g);
  CHECK_EQ(chains.size(), std::size_t{1});
  CHECK(chain_is(chains[0], g, {0, 1}, true, true));

  CHECK(extract_chains(Graph{}).empty());
  CHECK(extract_chains(make_graph(numbered_nodes(3), {})).empty());
}

TEST(graph_chains_of_star_follow_edge_order) {
  Graph g = make_graph(numbered_nodes(4), {{0, 1}, {0, 2}, {0, 3}});
  std::vector<Chain> chains = extract_chains(g);
  CHECK_EQ(chains.size(), std::size_t{3});
  for (std::size_t i = 0; i < chains.size(); ++i) {
    CHECK(chain_is(chains[i], g, {0, i + 1}, false, true));
  }
  g = make_graph(numbered_nodes(4), {{3, 0}, {0, 1}, {2, 0}});
  chains = extract_chains(g);
  CHECK_EQ(chains.size(), std::size_t{3});
  CHECK(chain_is(chains[0], g, {0, 3}, false, true));
  CHECK(chain_is(chains[1], g, {0, 1}, false, true));
  CHECK(chain_is(chains[2], g, {0, 2}, false, true));
}

TEST(graph_chains_close_loops) {
  Graph g = make_graph(numbered_nodes(3), {{0, 1}, {1, 2}, {2, 0}});
  std::vector<Chain> chains = extract_chains(g);
  CHECK_EQ(chains.size(), std::size_t{1});
  CHECK(chain_is(chains[0], g, {0, 1, 2, 0}, false, false));

  // A free loop starts at its smallest id towards that node's first neighbour.
  g = make_graph(numbered_nodes(4), {{2, 3}, {3, 1}, {1, 2}});
  chains = extract_chains(g);
  CHECK_EQ(chains.size(), std::size_t{1});
  CHECK(chain_is(chains[0], g, {1, 3, 2, 1}, false, false));

  // Two loops on a degree-4 node, each walked along the loop edge listed first at the node.
  g = make_graph(numbered_nodes(5), {{1, 2}, {2, 0}, {0, 1}, {0, 3}, {3, 4}, {4, 0}});
  chains = extract_chains(g);
  CHECK_EQ(chains.size(), std::size_t{2});
  CHECK(chain_is(chains[0], g, {0, 2, 1, 0}, false, false));
  CHECK(chain_is(chains[1], g, {0, 3, 4, 0}, false, false));
}

TEST(graph_chains_use_every_edge_once) {
  // Junction 1 (tips 0 and 4, arm 1-2-3-5 to junction 5), junction 5 with a tip 6 and a loop
  // 5-7-8-5, a free loop 9-10-11, isolated 12; loops are emitted after open chains.
  const Graph g = make_graph(numbered_nodes(13),
                             {{0, 1}, {1, 2}, {2, 3}, {3, 5}, {4, 1}, {5, 6}, {5, 7},
                              {7, 8}, {8, 5}, {10, 9}, {11, 10}, {9, 11}});
  const std::vector<Chain> chains = extract_chains(g);
  CHECK_EQ(chains.size(), std::size_t{6});
  CHECK(chain_is(chains[0], g, {0, 1}, true, false));
  CHECK(chain_is(chains[1], g, {1, 2, 3, 5}, false, false));
  CHECK(chain_is(chains[2], g, {1, 4}, false, true));
  CHECK(chain_is(chains[3], g, {5, 6}, false, true));
  CHECK(chain_is(chains[4], g, {5, 7, 8, 5}, false, false));
  CHECK(chain_is(chains[5], g, {9, 10, 11, 9}, false, false));

  std::set<std::pair<double, double>> used;
  std::size_t steps = 0;
  for (const Chain& c : chains) {
    for (std::size_t i = 0; i + 1 < c.points.size(); ++i, ++steps) {
      used.insert({std::min(c.points[i].x, c.points[i + 1].x),
                   std::max(c.points[i].x, c.points[i + 1].x)});
    }
  }
  CHECK_EQ(steps, g.edges.size());
  CHECK_EQ(used.size(), g.edges.size());
}

TEST(graph_operations_skip_edges_that_break_invariants) {
  // Out-of-range ids and self-edges must not be followed or read through.
  const Graph bad = make_graph({{0, 0}, {5, 0}}, {{0, 7}, {1, 1}, {0, 1}, {9, 9}});
  CHECK(same_edges(prune_short_tips(bad, 2.0), {{0, 1}}));
  const Graph merged = merge_close_junctions(bad, 1.5);
  CHECK(same_edges(merged, {{0, 1}}));
  CHECK_EQ(merged.nodes.size(), std::size_t{2});
  const std::vector<Chain> chains = extract_chains(bad);
  CHECK_EQ(chains.size(), std::size_t{1});
  CHECK(chains[0].start == 0 && chains[0].end == 1);
}

// Dots: tip pruning eats a skeleton shorter than the tip length whole, and a dot the person drew
// would vanish from the result. Every polygon left without an edge gets its dot back, as a
// short dash or a point.
#include "refine/refine.hpp"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "geometry.hpp"
#include "refine/kit.hpp"

namespace strandify {
namespace {

// Longest path of a tree component (two sweeps from any node), as a node list.
struct TreeSweep {
  const Graph& g;
  const Adjacency& adj;
  std::vector<double> dist;
  std::vector<NodeId> parent;
  std::vector<NodeId> stack;

  TreeSweep(const Graph& graph, const Adjacency& a)
      : g(graph), adj(a), dist(graph.nodes.size(), -1.0), parent(graph.nodes.size(), kNone) {}

  // Farthest node from `root` within the component listed in `members`.
  NodeId farthest(NodeId root, const std::vector<NodeId>& members) {
    for (NodeId m : members) {
      dist[m] = -1.0;
      parent[m] = kNone;
    }
    dist[root] = 0.0;
    stack.assign(1, root);
    NodeId best = root;
    while (!stack.empty()) {
      const NodeId v = stack.back();
      stack.pop_back();
      if (dist[v] > dist[best]) best = v;
      for (std::size_t k = adj.offset[v]; k < adj.offset[v + 1]; ++k) {
        const NodeId w = adj.neighbour[k];
        if (dist[w] >= 0.0) continue;
        dist[w] = dist[v] + adj.length(g, adj.edge_id[k]);
        parent[w] = v;
        stack.push_back(w);
      }
    }
    return best;
  }

  double longest_path(NodeId start, const std::vector<NodeId>& members, std::vector<NodeId>& path) {
    const NodeId a = farthest(start, members);
    const NodeId b = farthest(a, members);
    path.clear();
    for (NodeId v = b; v != kNone; v = parent[v]) path.push_back(v);
    return dist[b];
  }
};

// Gathers into `members` the nodes of the component of `root` not yet marked, in the order a
// search from `root` reaches them, marking each; stops, and returns true, at the first
// neighbour `stop` picks.
template <class Stop>
bool search_component(const Adjacency& adj, NodeId root, std::vector<unsigned char>& mark,
                      std::vector<NodeId>& members, Stop&& stop) {
  members.assign(1, root);
  mark[root] = 1;
  for (std::size_t i = 0; i < members.size(); ++i) {
    const NodeId v = members[i];
    for (std::size_t k = adj.offset[v]; k < adj.offset[v + 1]; ++k) {
      const NodeId w = adj.neighbour[k];
      if (stop(w)) return true;
      if (!mark[w]) {
        mark[w] = 1;
        members.push_back(w);
      }
    }
  }
  return false;
}

// Calls visit(members) for every component of the graph of `adj` without an `alive` node, in
// the order of their first nodes, with the nodes in the order a search from the first one
// reaches them. Searches start from nodes that are not alive only, and one that reaches an
// alive node stops: its component survives, and most of a pruned skeleton survives and is never
// searched. The nodes such a search reached are marked as surviving, so that a later search
// reaching one of them stops too; every node is searched from at most once.
template <class Visit>
void for_each_vanished_component(const Adjacency& adj, const std::vector<unsigned char>& alive,
                                 Visit&& visit) {
  constexpr unsigned char kSurvives = 2;  // 1: reached by a search
  const std::size_t n = alive.size();
  std::vector<unsigned char> mark(n, 0);
  std::vector<NodeId> members;
  for (NodeId root = 0; root < n; ++root) {
    if (mark[root] || alive[root]) continue;
    const bool survives = search_component(
        adj, root, mark, members, [&](NodeId w) { return alive[w] || mark[w] == kSurvives; });
    if (survives) {
      for (NodeId v : members) mark[v] = kSurvives;
    } else {
      visit(members);
    }
  }
}

// The first node of every component of the graph of `adj` that holds an `alive` node.
std::vector<NodeId> surviving_roots(const Adjacency& adj, const std::vector<unsigned char>& alive) {
  std::vector<unsigned char> mark(alive.size(), 0);
  std::vector<NodeId> members, roots;
  for (NodeId root = 0; root < alive.size(); ++root) {
    if (mark[root]) continue;
    search_component(adj, root, mark, members, [](NodeId) { return false; });
    if (std::any_of(members.begin(), members.end(), [&](NodeId v) { return alive[v] != 0; }))
      roots.push_back(root);
  }
  return roots;
}

}  // namespace

Graph keep_dots(const Graph& skeleton, Graph pruned, const BoundaryEdges& boundary,
                const std::vector<unsigned char>& has_segments, const RefineSettings& s,
                std::vector<Point>& dots) {
  return keep_dots(skeleton, finishing_adjacency(skeleton), std::move(pruned), boundary,
                   has_segments, s, dots);
}

Graph keep_dots(const Graph& skeleton, const Adjacency& adj, Graph pruned,
                const BoundaryEdges& boundary, const std::vector<unsigned char>& has_segments,
                const RefineSettings& s, std::vector<Point>& dots) {
  const std::size_t n = skeleton.nodes.size();
  std::vector<unsigned char> alive(n, 0);
  for (const Edge& e : pruned.edges) {
    if (e.a < n && e.b < n) alive[e.a] = alive[e.b] = 1;
  }
  const std::size_t polygons = boundary.polygon_count();
  std::vector<unsigned char> polygon_alive(polygons, 0);
  // Per polygon, the longest vanished path found so far (its nodes in `paths`).
  struct Best {
    double length = -1.0;
    std::vector<NodeId> members;
  };
  std::vector<Best> best(polygons);
  std::vector<Best> orphans;  // components whose polygon the boundary cannot tell

  std::vector<NodeId> path;
  TreeSweep sweep(skeleton, adj);
  for_each_vanished_component(adj, alive, [&](const std::vector<NodeId>& members) {
    const NodeId root = members.front();
    const std::int64_t polygon = boundary.polygon_of(skeleton.nodes[root]);
    // Pruning removes only tree branches, so a vanished component is a tree.
    const double length = sweep.longest_path(root, members, path);
    Best* slot = nullptr;
    if (polygon < 0) {
      orphans.emplace_back();
      slot = &orphans.back();
    } else if (length > best[static_cast<std::size_t>(polygon)].length) {
      slot = &best[static_cast<std::size_t>(polygon)];
    }
    if (slot) {
      slot->length = length;
      slot->members = members;
    }
  });

  // A dot is drawn as one straight dash along the principal axis of its skeleton's nodes,
  // across their whole extent (its skeleton wanders between the blob's corners in a way no
  // stroke did), when they stretch at least dot_point_length along an axis that much longer
  // than the other (dot_elongation, in variance); otherwise as a point at its centre.
  std::vector<Point> positions;
  auto restore = [&](const Best& b, const Point* centre) {
    positions.clear();
    for (NodeId v : b.members) positions.push_back(skeleton.nodes[v]);
    Line axis;
    double lo = kInf, hi = -kInf, across = 0.0;
    NodeId first = kNone, last = kNone;
    if (fit_line(positions, axis)) {
      for (std::size_t i = 0; i < positions.size(); ++i) {
        const double t = dot(sub(positions[i], axis.centre), axis.direction);
        const double u = cross(sub(positions[i], axis.centre), axis.direction);
        across += u * u;
        if (t < lo) lo = t, first = b.members[i];
        if (t > hi) hi = t, last = b.members[i];
      }
    }
    double along = 0.0;
    for (const Point& q : positions) {
      const double t = dot(sub(q, axis.centre), axis.direction);
      along += t * t;
    }
    if (first != kNone && first != last && hi - lo >= s.dot_point_length &&
        along >= s.dot_elongation * across) {
      pruned.nodes[first] = add(axis.centre, scale(axis.direction, lo));
      pruned.nodes[last] = add(axis.centre, scale(axis.direction, hi));
      pruned.edges.push_back({first, last});
    } else {
      dots.push_back(centre ? *centre : (fit_line(positions, axis) ? axis.centre : positions[0]));
    }
  };
  const auto may_get_dot = [&](std::size_t p) {
    return best[p].length >= 0.0 || p >= has_segments.size() || !has_segments[p];
  };
  // A surviving component only tells its polygon that it is alive, which matters only for a
  // polygon that would otherwise get a dot back: finding a component's polygon casts a ray
  // across the grid, so survivors are placed only once the vanished ones show that one is needed.
  bool any_dot = false;
  for (std::size_t p = 0; p < polygons && !any_dot; ++p) any_dot = may_get_dot(p);
  if (any_dot) {
    for (NodeId root : surviving_roots(adj, alive)) {
      const std::int64_t polygon = boundary.polygon_of(skeleton.nodes[root]);
      if (polygon >= 0) polygon_alive[static_cast<std::size_t>(polygon)] = 1;
    }
  }
  for (std::size_t p = 0; p < polygons; ++p) {
    if (polygon_alive[p]) continue;
    const Point centre = boundary.centre(p);
    if (best[p].length >= 0.0) {
      restore(best[p], &centre);
    } else if (p >= has_segments.size() || !has_segments[p]) {
      dots.push_back(centre);
    }
  }
  for (const Best& b : orphans) restore(b, nullptr);
  return pruned;
}

void append_dot_chains(const std::vector<Point>& dots, Graph& graph, std::vector<Chain>& chains) {
  chains.reserve(chains.size() + dots.size());
  for (const Point& p : dots) {
    const NodeId id = graph.nodes.size();
    graph.nodes.push_back(p);
    Chain c;
    c.points = {p, p};
    c.start = c.end = id;
    chains.push_back(std::move(c));
  }
}

}  // namespace strandify

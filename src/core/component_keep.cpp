#include "component_keep.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "geometry.hpp"

namespace strandify {
namespace {

struct Incidence {
  std::vector<std::size_t> offset;  // per node, into `edge`
  std::vector<std::size_t> edge;    // edge ids in edge order
};

Incidence incidence_of(const Graph& g) {
  Incidence inc;
  inc.offset.assign(g.nodes.size() + 1, 0);
  for (const Edge& e : g.edges) {
    ++inc.offset[e.a + 1];
    ++inc.offset[e.b + 1];
  }
  for (std::size_t i = 0; i < g.nodes.size(); ++i) inc.offset[i + 1] += inc.offset[i];
  inc.edge.resize(inc.offset.back());
  std::vector<std::size_t> fill(inc.offset.begin(), inc.offset.end() - 1);
  for (std::size_t k = 0; k < g.edges.size(); ++k) {
    inc.edge[fill[g.edges[k].a]++] = k;
    inc.edge[fill[g.edges[k].b]++] = k;
  }
  return inc;
}

constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();

// Path lengths from `source` over its component (unreached nodes hold NaN), the edge that
// reached each node, the component's members, and the first node at the largest distance.
void walk_tree(const Graph& g, const Incidence& inc, std::size_t source, std::vector<double>& dist,
               std::vector<std::size_t>& via, std::vector<std::size_t>& stack,
               std::vector<std::size_t>& members, std::size_t& farthest) {
  members.clear();
  stack.assign(1, source);
  dist[source] = 0.0;
  via[source] = kNone;
  farthest = source;
  while (!stack.empty()) {
    const std::size_t u = stack.back();
    stack.pop_back();
    members.push_back(u);
    if (dist[u] > dist[farthest]) farthest = u;
    for (std::size_t k = inc.offset[u]; k < inc.offset[u + 1]; ++k) {
      const std::size_t e = inc.edge[k];
      if (e == via[u]) continue;
      const Edge& edge = g.edges[e];
      const std::size_t w = edge.a == u ? edge.b : edge.a;
      if (!std::isnan(dist[w])) continue;  // a loop: already reached
      dist[w] = dist[u] + distance(g.nodes[edge.a], g.nodes[edge.b]);
      via[w] = e;
      stack.push_back(w);
    }
  }
}

}  // namespace

Graph restore_lost_components(const Graph& before, Graph pruned) {
  const std::size_t n = before.nodes.size();
  std::vector<bool> alive(n, false);
  for (const Edge& e : pruned.edges) alive[e.a] = alive[e.b] = true;
  const Incidence inc = incidence_of(before);
  const double unset = std::numeric_limits<double>::quiet_NaN();
  std::vector<double> dist(n, unset);
  std::vector<std::size_t> via(n, kNone), stack, members, restored;
  std::vector<bool> seen(n, false);
  for (std::size_t s = 0; s < n; ++s) {
    if (seen[s] || inc.offset[s] == inc.offset[s + 1]) continue;
    std::size_t a = s;
    walk_tree(before, inc, s, dist, via, stack, members, a);
    bool lost = true;
    for (std::size_t m : members) {
      seen[m] = true;
      lost = lost && !alive[m];
    }
    if (!lost) continue;
    // The diameter of a tree: the farthest node from any node is one end of it.
    for (std::size_t m : members) dist[m] = unset;
    std::size_t b = a;
    walk_tree(before, inc, a, dist, via, stack, members, b);
    for (std::size_t v = b; via[v] != kNone;) {
      const std::size_t e = via[v];
      restored.push_back(e);
      v = before.edges[e].a == v ? before.edges[e].b : before.edges[e].a;
    }
  }
  std::sort(restored.begin(), restored.end());
  for (std::size_t e : restored) pruned.edges.push_back(before.edges[e]);
  return pruned;
}

}  // namespace strandify

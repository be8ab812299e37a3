// Real ends: a short branch whose tip lies where an input line ends, and which reaches well
// beyond the disc of the junction it leaves, is the end of a real line (a short dead-end street,
// a stub drawn on purpose), not a spur toward a corner of the buffer or the overdrawn end of a
// sketchy stroke, both of which stay within about a radius of the junction's disc.
#include "refine/refine.hpp"

#include <algorithm>
#include <utility>

#include "geometry.hpp"
#include "graph.hpp"

namespace strandify {
namespace {

// Whether a point of `ends` (sorted by x, then y) lies within `reach` of p.
bool near_any(const std::vector<Point>& ends, Point p, double reach) {
  auto it = std::lower_bound(ends.begin(), ends.end(), p.x - reach,
                             [](const Point& e, double x) { return e.x < x; });
  for (; it != ends.end() && it->x <= p.x + reach; ++it)
    if (distance(*it, p) <= reach) return true;
  return false;
}

}  // namespace

std::vector<Point> line_ends(const std::vector<Curve>& curves) {
  std::vector<Point> ends;
  ends.reserve(2 * curves.size());
  for (const Curve& c : curves) {
    if (c.size() < 2 || c.front() == c.back()) continue;  // a closed curve has no end
    ends.push_back(c.front());
    ends.push_back(c.back());
  }
  std::sort(ends.begin(), ends.end(), point_less);
  return ends;
}

TipKeep real_end_rule(const Graph& graph, const Adjacency& adj, const BoundaryEdges& boundary,
                      const std::vector<Point>& ends, const RefineSettings& s) {
  if (ends.empty()) return {};
  return [&graph, &adj, &boundary, &ends, &s](NodeId tip, NodeId end) {
    // Only a branch that leaves a junction: a short line on its own is a dot's business.
    if (adj.degree(end) < 3) return false;
    const Point t = graph.nodes[tip];
    const Point j = graph.nodes[end];
    if (!near_any(ends, t, s.real_end_snap)) return false;
    // The junction's disc: its distance to the boundary (a radius where no wider disc is near).
    const double radius = boundary.distance_within(j, s.radius_search);
    return distance(t, j) - radius >= s.real_end_reach;
  };
}

}  // namespace strandify

// Radius-compensated tips: a branch that leaves a wide junction spends part of its length
// inside the junction's own disc, so the tip test discounts that part.
#include "refine/refine.hpp"

#include "graph.hpp"

namespace strandify {

std::vector<double> junction_allowances(const Graph& graph, const Adjacency& adj,
                                        const BoundaryEdges& boundary, const RefineSettings& s) {
  std::vector<double> allowance(graph.nodes.size(), 0.0);
  for (NodeId v = 0; v < graph.nodes.size(); ++v) {
    if (adj.degree(v) < 3) continue;
    const double extra = boundary.distance_within(graph.nodes[v], s.radius_search) - s.buffer_distance;
    if (extra > 0.0) allowance[v] = extra;
  }
  return allowance;
}

}  // namespace strandify

// The finishing steps in their order.
#include "refine/refine.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

#include "geometry.hpp"
#include "graph.hpp"
#include "refine/kit.hpp"

namespace strandify {

RefinedGraph refine_graph(const Graph& skeleton, const BoundaryEdges& boundary,
                          const std::vector<unsigned char>& has_segments,
                          const std::vector<Point>& ends, const Settings& settings) {
  const RefineSettings& r = settings.refine;
  const RefineSteps& steps = r.steps;
  // The geometric steps measure in buffer radii; without a positive radius they have nothing to
  // measure with.
  const bool geometric = r.buffer_distance > 0.0 && std::isfinite(r.buffer_distance);
  RefinedGraph out;
  // Pruning (with its allowances and kept ends) and the dots all read the skeleton: its
  // adjacency, with the edge lengths its walks measure, is built once for them all.
  const bool prunes = settings.tip_length > 0.0;
  const Adjacency skeleton_adjacency =
      prunes || steps.keep_dots ? finishing_adjacency(skeleton) : Adjacency{};
  if (prunes) {
    const Adjacency& a = skeleton_adjacency;
    const std::vector<double> allowance = steps.radius_tips && geometric
                                              ? junction_allowances(skeleton, a, boundary, r)
                                              : std::vector<double>{};
    const TipKeep keep = steps.real_ends && geometric
                             ? real_end_rule(skeleton, a, boundary, ends, r)
                             : TipKeep{};
    out.graph = prune_short_tips(skeleton, a, settings.tip_length, allowance, keep);
  } else {
    out.graph = skeleton;
  }
  if (steps.keep_dots)
    out.graph = keep_dots(skeleton, skeleton_adjacency, std::move(out.graph), boundary,
                          has_segments, r, out.dots);
  if (settings.junction_merge_fraction > 0.0) {
    // A merged junction must stay where the strokes are: on parallel strokes a few radii apart
    // (dual carriageways) the merge distance reaches across the gap between them, and merging
    // there folds separate crossings into one node whose spokes cut across the gap. Two streets
    // crossing make four spokes; a merge that would make more folds crossings that lie apart
    // (a pair of carriageways crossing another street): it is skipped, and where more strokes
    // really pass through one point, the crossing step below joins them on their lines.
    MergeCheck inside;
    if (geometric) {
      inside = [&boundary, &r](Point at, const std::vector<Point>& ends) {
        if (ends.size() > r.merge_max_spokes) return false;
        for (const Point& end : ends)
          if (!clear_path(boundary, at, end, 0.0)) return false;
        return true;
      };
    }
    out.graph = merge_close_junctions(out.graph, settings.junction_merge_distance, inside);
  }
  if (!geometric) return out;
  // The adjacency of out.graph, built when a step needs it and kept while the steps change
  // nothing: each step gets the graph as the one before left it.
  Adjacency adjacency;
  bool current = false;
  const auto adjacency_now = [&]() -> const Adjacency& {
    if (!current) adjacency = finishing_adjacency(out.graph);
    current = true;
    return adjacency;
  };
  bool changed = false;
  if (steps.recover_corners) {
    const Adjacency& a = adjacency_now();
    out.graph = recover_corners(std::move(out.graph), a, boundary, r, &out.corners, changed);
    current = !changed;
    std::sort(out.corners.begin(), out.corners.end(), point_less);
    const Adjacency& b = adjacency_now();
    out.graph = drop_overhangs(std::move(out.graph), b, boundary, r, changed);
    current = !changed;
  }
  if (steps.join_crossings) {
    const Adjacency& a = adjacency_now();
    out.graph = join_crossings(std::move(out.graph), a, r, changed);
    current = !changed;
    const Adjacency& b = adjacency_now();
    out.graph = join_crossing_clusters(std::move(out.graph), b, r, changed);
    current = !changed;
  }
  if (steps.finish_tips) {
    const Adjacency& a = adjacency_now();
    out.graph = finish_tips(std::move(out.graph), a, boundary, r);
  }
  return out;
}

}  // namespace strandify

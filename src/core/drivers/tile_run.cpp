// One tile: its curves buffered, triangulated and skeletonised, the graph cleaned, and its
// chains cut to the tile's core.
#include "drivers/tiles.hpp"

#include <utility>

#include "graph.hpp"
#include "inflate.hpp"
#include "partition.hpp"
#include "polyline_clip.hpp"
#include "work_estimate.hpp"

namespace strandify {

Outcome<TileResult> run_tile(const TileJob& job, const Settings& settings) {
  using Result = Outcome<TileResult>;
  Settings s = settings;
  s.threads = 1;  // the tiles themselves share the call's threads
  const CurveGroups groups = group_by_buffer_boxes(job.curves, job.widths, s.buffer_distance);
  const double work = union_sweep_work(job.curves, job.widths, s.buffer_distance, groups).total();
  if (work > s.max_union_work)
    return Result::fail(
        union_too_costly("one tile's buffers", work, s.max_union_work, "reduce tile_size"));
  const std::vector<Polygon> polygons = inflate_groups(job.curves, job.widths, groups, s.inflation, 1);
  auto skeleton = skeleton_graph(polygons, s);
  if (!skeleton.ok()) return Result::fail(std::move(*skeleton.failure));
  Result out;
  TileResult& r = out.value;
  for (const Point& p : boundary_vertices(skeleton.value.meshed))
    if (inside_half_open(p, job.core)) r.boundary.push_back(p);
  Graph& graph = skeleton.value.graph;
  r.skeleton_nodes = graph.nodes.size();
  if (graph.nodes.empty()) return out;
  graph = cleaned_graph(std::move(graph), s);
  r.node_count = graph.nodes.size();
  for (const Chain& chain : extract_chains(graph)) {
    for (ClippedRun& run : clip_polyline(chain.points, nullptr, 0, chain.points.size() - 1, job.core)) {
      if (on_far_edge(run.points, job.core)) continue;
      TilePiece piece;
      piece.start_on_seam = run.start_cut;
      piece.end_on_seam = run.end_cut;
      piece.start_node = chain.start;
      piece.end_node = chain.end;
      piece.points = std::move(run.points);
      r.pieces.push_back(std::move(piece));
    }
  }
  return out;
}

}  // namespace strandify

// The stages after the union, from buffer polygons to finished chains: the sequence every
// driver shares, whether its polygons come from strokes or from the caller.
#include "stages.hpp"

#include <functional>
#include <utility>

#include "chain_finish.hpp"
#include "graph.hpp"
#include "parallel.hpp"
#include "refine/refine.hpp"

namespace strandify {
namespace {

// With a partitioned union the polygons are also skeletonised, cleaned and cut into chains one
// by one (up to settings.threads at a time): each polygon's skeleton is a graph of its own, and
// a graph per polygon keeps every table of the graph stages as small as the polygon instead of
// the drawing. Chains come polygon by polygon, in the order of the polygons.
struct PolygonChains {
  std::vector<Chain> chains;
  std::vector<Curve> finished;
  std::size_t skeleton_nodes = 0;
  std::size_t node_count = 0;
};

// Cleaning (or, when asked, the finishing steps), chains and their finished points of one
// skeleton graph. The outlines [first, last) and `has_segments` describe the polygons the graph
// came from, for the finishing steps.
PolygonChains finished_chains(Graph graph, const Polygon* first, const Polygon* last,
                              const std::vector<unsigned char>& has_segments,
                              const std::vector<Point>& line_ends, const Settings& settings,
                              const KeepGoing& keep_going = {}) {
  PolygonChains out;
  out.skeleton_nodes = graph.nodes.size();
  std::vector<Point> dots, corners;
  if (settings.refine.steps.any()) {
    RefinedGraph refined =
        refine_graph(graph, boundary_edges(first, last, settings.refine), has_segments, line_ends,
                     settings);
    graph = std::move(refined.graph);
    dots = std::move(refined.dots);
    corners = std::move(refined.corners);
  } else {
    graph = cleaned_graph(std::move(graph), settings);
  }
  out.chains = extract_chains(graph);
  append_dot_chains(dots, graph, out.chains);
  out.node_count = graph.nodes.size();
  out.finished.reserve(out.chains.size());
  for (const Chain& chain : out.chains) {
    // Stopped: the caller drops what is here.
    if (stop_before(keep_going, out.finished.size(), kChainsBetweenChecks)) return out;
    out.finished.push_back(corners.empty()
                               ? finish_chain(chain, settings.chains)
                               : finish_chain_keeping_corners(chain, settings.chains, corners));
  }
  return out;
}

PolygonChains chains_of_polygon(const MeshedPolygon& meshed, const Polygon& outline,
                                const std::vector<Point>& line_ends, const Settings& settings) {
  const std::vector<Segment> segments = mesh_skeleton(meshed.mesh);
  // Kept dots may come from a polygon without any segment.
  if (segments.empty() && !settings.refine.steps.keep_dots) return {};
  Graph graph = segments.empty() ? Graph{} : segments_to_graph(segments, settings.snap_distance);
  // The polygon's outline is its boundary for the finishing steps; it is referred to, not
  // copied.
  return finished_chains(std::move(graph), &outline, &outline + 1,
                         {static_cast<unsigned char>(!segments.empty())}, line_ends, settings);
}

Outcome<CenterlineResult> chains_per_polygon(const std::vector<MeshedPolygon>& meshed,
                                             const std::vector<Polygon>& outlines,
                                             const std::vector<Point>& line_ends,
                                             const Settings& settings,
                                             std::optional<std::uint64_t> max_nodes,
                                             bool compute_widths, const KeepGoing& keep_going) {
  using Result = Outcome<CenterlineResult>;
  std::vector<PolygonChains> parts(meshed.size());
  const std::function<bool()> go = [&keep_going] { return keep_going(); };
  if (!for_each_index(
          meshed.size(), threads_for_points(settings.threads, mesh_point_count(meshed)),
          [&](std::size_t i) {
            parts[i] = chains_of_polygon(meshed[i], outlines[i], line_ends, settings);
          },
          keep_going ? go : std::function<bool()>{}))
    return interrupted<CenterlineResult>();
  std::size_t skeleton_nodes = 0, nodes = 0, chain_count = 0;
  for (const PolygonChains& p : parts) {
    skeleton_nodes += p.skeleton_nodes;
    nodes += p.node_count;
    chain_count += p.chains.size();
  }
  if (auto failure = check_node_limit(skeleton_nodes, max_nodes)) return Result::fail(std::move(*failure));
  Result out;
  CenterlineResult& result = out.value;
  std::vector<Chain> chains;
  chains.reserve(chain_count);
  result.chains.reserve(chain_count);
  std::size_t offset = 0;
  for (PolygonChains& p : parts) {
    for (Chain& c : p.chains) {
      c.start += offset;
      c.end += offset;
      c.points = {};  // the finished points are what the result keeps
      chains.push_back(std::move(c));
    }
    for (Curve& f : p.finished) result.chains.push_back(std::move(f));
    offset += p.node_count;
    p = {};
  }
  number_chain_ends(chains, nodes, result);
  if (compute_widths && !measure_widths(boundary_vertices(meshed), result, keep_going))
    return interrupted<CenterlineResult>();
  return out;
}

// Every stage of centerlines_of_polygons on this thread. keep_going is asked between the
// stages and, with `in_loops`, also per polygon and every so many chains: a poll that has to
// take the interpreter lock is asked between stages only. All checks go through one latch, so
// that a poll that has said stop is never asked again.
Outcome<CenterlineResult> centerlines_here(const std::vector<Polygon>& polygons,
                                           const std::vector<Point>& line_ends,
                                           const Settings& settings,
                                           std::optional<std::uint64_t> max_nodes,
                                           bool compute_widths, const KeepGoing& keep_going,
                                           bool in_loops) {
  using Result = Outcome<CenterlineResult>;
  StopLatch latch(keep_going);
  const KeepGoing go = in_loops ? latch.keep_going() : KeepGoing{};
  if (latch.stopped()) return interrupted<CenterlineResult>();
  auto meshed = mesh_polygons(polygons, settings.boundary, settings.threads, go);
  if (!meshed.ok()) return Result::fail(std::move(*meshed.failure));
  if (latch.stopped()) return interrupted<CenterlineResult>();
  if (settings.inflation.partition == Partition::components)
    return chains_per_polygon(meshed.value, polygons, line_ends, settings, max_nodes,
                              compute_widths, go);

  std::vector<unsigned char> has_segments;
  auto skeleton = skeleton_segments(meshed.value, settings.threads, go,
                                    settings.refine.steps.any() ? &has_segments : nullptr);
  if (!skeleton.ok()) return interrupted<CenterlineResult>();
  std::vector<Segment>& segments = skeleton.value;
  Result out;
  // Kept dots may come from polygons without any segment.
  if (segments.empty() && !(settings.refine.steps.keep_dots && !meshed.value.empty())) return out;
  Graph graph = segments_to_graph(segments, settings.snap_distance);
  segments = {};
  if (auto failure = check_node_limit(graph.nodes.size(), max_nodes))
    return Result::fail(std::move(*failure));
  if (latch.stopped()) return interrupted<CenterlineResult>();
  PolygonChains done = finished_chains(std::move(graph), polygons.data(),
                                       polygons.data() + polygons.size(), has_segments,
                                       line_ends, settings, go);
  if (latch.stopped()) return interrupted<CenterlineResult>();

  CenterlineResult& result = out.value;
  result.chains = std::move(done.finished);
  number_chain_ends(done.chains, done.node_count, result);
  if (compute_widths && !measure_widths(boundary_vertices(meshed.value), result, go))
    return interrupted<CenterlineResult>();
  return out;
}

}  // namespace

// Past the union everything is ours but the triangulations, and the stages run long exactly
// when the conditioned boundary is large: then, when the call can be stopped, all of them run on
// a thread of their own, which takes the polygons along.
Outcome<CenterlineResult> centerlines_of_polygons(std::vector<Polygon> polygons,
                                                  const Settings& settings,
                                                  std::optional<std::uint64_t> max_nodes,
                                                  bool compute_widths,
                                                  const KeepGoing& keep_going,
                                                  std::vector<Point> line_ends) {
  const bool long_stages =
      keep_going && BoundaryConditioner::size_bound(polygons, settings.boundary) > kBackgroundPoints;
  if (!long_stages)
    return centerlines_here(polygons, line_ends, settings, max_nodes, compute_widths, keep_going,
                            false);
  StopLatch latch(keep_going);
  auto result = run_in_background<Outcome<CenterlineResult>>(
      [polygons = std::move(polygons), line_ends = std::move(line_ends), settings, max_nodes,
       compute_widths](const KeepGoing& stop) {
        return centerlines_here(polygons, line_ends, settings, max_nodes, compute_widths, stop,
                                true);
      },
      latch.keep_going());
  if (!result) return interrupted<CenterlineResult>();
  return std::move(*result);
}

}  // namespace strandify

// The stages themselves: preparing and buffering the curves, meshing and skeletonising the
// polygons, cleaning the graph, and measuring and numbering the finished chains.
#include "stages.hpp"

#include <cmath>
#include <limits>
#include <string>
#include <utility>

#include "assert.hpp"
#include "component_keep.hpp"
#include "geometry.hpp"
#include "graph.hpp"
#include "inflate.hpp"
#include "input_prep.hpp"
#include "parallel.hpp"
#include "work_estimate.hpp"

namespace strandify {
namespace {

// Concatenation that moves instead of copying when the target is still empty, which is the
// common case of a drawing that unions into one polygon.
template <class T>
void append(std::vector<T>& target, std::vector<T>&& items) {
  if (target.empty()) {
    target = std::move(items);
  } else {
    target.insert(target.end(), items.begin(), items.end());
  }
}

std::size_t point_count(const std::vector<Curve>& curves) {
  std::size_t n = 0;
  for (const Curve& c : curves) n += c.size();
  return n;
}

// Names what to change: the spikes and folds of each curve's own offset grow with the radius
// against the spacing of its points, the outlines' overlap with the number of points. Curves
// given width lists are never thinned, so for them feature_size changes nothing.
std::string union_remedy(const UnionWork& work, bool widths) {
  const std::string thin = widths ? "thin the curves" : "increase feature_size";
  const std::string remedy = work.own >= work.overlap
                                 ? "reduce buffer_distance (or the widths), " + thin
                                 : thin;
  return remedy + ", or split the drawing into several calls";
}

}  // namespace

Outcome<PreparedCurves> prepare_curves(const std::vector<Curve>& curves,
                                       const std::optional<WidthLists>& widths,
                                       const Settings& settings) {
  if (auto failure = check_width_lists(curves, widths))
    return Outcome<PreparedCurves>::fail(std::move(*failure));
  Outcome<PreparedCurves> out;
  MergedCurves merged;
  if (settings.merge_tolerance > 0.0) {
    merged = merge_connected(curves, widths, settings.buffer_distance, settings.merge_tolerance);
  } else {
    merged.curves = curves;
    merged.widths = widths;
  }
  // Giving width lists at all switches decimation off, so they stay aligned with the points.
  out.value.curves = decimate_curves(merged.curves, merged.widths.has_value(),
                                     settings.decimation_spacing);
  out.value.widths = std::move(merged.widths);
  return out;
}

Outcome<std::vector<Polygon>> buffer_polygons(const std::vector<Curve>& curves,
                                              const std::optional<WidthLists>& widths,
                                              const Settings& settings,
                                              const KeepGoing& keep_going) {
  using Result = Outcome<std::vector<Polygon>>;
  auto prepared = prepare_curves(curves, widths, settings);
  if (!prepared.ok()) return Result::fail(std::move(*prepared.failure));
  const PreparedCurves& c = prepared.value;
  const bool partitioned = settings.inflation.partition == Partition::components;
  CurveGroups groups;
  if (partitioned) groups = group_by_buffer_boxes(c.curves, c.widths, settings.buffer_distance);
  const double bd = settings.buffer_distance;
  const UnionWork work = partitioned ? union_sweep_work(c.curves, c.widths, bd, groups)
                                     : union_sweep_work(c.curves, c.widths, bd);
  if (work.total() > settings.max_union_work)
    return Result::fail(union_too_costly("the buffers", work.total(), settings.max_union_work,
                                         union_remedy(work, c.widths.has_value())));
  StopLatch latch(keep_going);
  const bool background = latch.can_stop() && work.total() > kBackgroundUnionWork;
  const std::size_t union_threads = threads_for_points(settings.threads, point_count(c.curves));
  auto polygons = run_in_background<std::vector<Polygon>>(
      [prepared = std::move(prepared.value), groups = std::move(groups), partitioned,
       inflation = settings.inflation, threads = union_threads](const KeepGoing& stop) {
        return partitioned ? inflate_groups(prepared.curves, prepared.widths, groups, inflation,
                                            threads, stop)
                           : inflate(prepared.curves, prepared.widths, inflation, stop);
      },
      background ? latch.keep_going() : KeepGoing{});
  if (!polygons || latch.has_stopped()) return interrupted<std::vector<Polygon>>();
  Result out;
  out.value = std::move(*polygons);
  return out;
}

namespace {

// Conditions and triangulates one polygon of the conditioner's build call.
MeshedPolygon meshed_polygon(const BoundaryConditioner& cond, const Polygon& polygon,
                             std::size_t i) {
  MeshedPolygon m;
  m.rings = cond.condition_built(i);  // reuses the simplification the build already did
  if (m.rings.outer.size() >= 3) m.mesh = triangulate_polygon(m.rings.outer, m.rings.holes);
  // Simplification does not preserve topology: a simplified ring may cross itself or a
  // neighbour, or collapse, and the triangulator then has nothing to give. The unsimplified
  // rings never cross, so the polygon is conditioned again without that one step.
  if (m.mesh.triangles.empty() && cond.simplifies()) {
    Polygon retry = cond.condition(polygon, false);
    if (retry.outer.size() >= 3) {
      PolygonMesh mesh = triangulate_polygon(retry.outer, retry.holes);
      if (!mesh.triangles.empty()) {
        m.rings = std::move(retry);
        m.mesh = std::move(mesh);
      }
    }
  }
  return m;
}

}  // namespace

Outcome<std::vector<MeshedPolygon>> mesh_polygons(const std::vector<Polygon>& polygons,
                                                  const BoundarySettings& boundary,
                                                  std::size_t threads,
                                                  const KeepGoing& keep_going) {
  using Result = Outcome<std::vector<MeshedPolygon>>;
  auto conditioner = BoundaryConditioner::build(polygons, boundary);
  if (!conditioner.ok()) return Result::fail(std::move(*conditioner.failure));
  const BoundaryConditioner& cond = conditioner.value;
  Result out;
  out.value.resize(polygons.size());
  // Each polygon is conditioned against the finished index and triangulated on its own.
  if (!for_each_index(
          polygons.size(), threads_for_points(threads, ring_point_count(polygons)),
          [&](std::size_t i) { out.value[i] = meshed_polygon(cond, polygons[i], i); }, keep_going))
    return interrupted<std::vector<MeshedPolygon>>();
  return out;
}

std::size_t mesh_point_count(const std::vector<MeshedPolygon>& meshed) {
  std::size_t n = 0;
  for (const MeshedPolygon& m : meshed) n += m.mesh.points.size();
  return n;
}

std::vector<Triangle> meshed_triangles(const std::vector<MeshedPolygon>& meshed) {
  std::vector<Triangle> out;
  for (const MeshedPolygon& m : meshed) append(out, mesh_triangles(m.mesh));
  return out;
}

Outcome<std::vector<Segment>> skeleton_segments(const std::vector<MeshedPolygon>& meshed,
                                                std::size_t threads, const KeepGoing& keep_going,
                                                std::vector<unsigned char>* has_segments) {
  std::vector<std::vector<Segment>> skeletons(meshed.size());
  if (!for_each_index(
          skeletons.size(), threads_for_points(threads, mesh_point_count(meshed)),
          [&](std::size_t i) { skeletons[i] = mesh_skeleton(meshed[i].mesh); }, keep_going))
    return interrupted<std::vector<Segment>>();
  Outcome<std::vector<Segment>> out;
  if (has_segments) has_segments->reserve(skeletons.size());
  for (std::vector<Segment>& own : skeletons) {
    if (has_segments) has_segments->push_back(!own.empty());
    append(out.value, std::move(own));
  }
  return out;
}

Outcome<SkeletonGraph> skeleton_graph(const std::vector<Polygon>& polygons,
                                      const Settings& settings, const KeepGoing& keep_going) {
  using Result = Outcome<SkeletonGraph>;
  const auto stopped = [&keep_going] { return keep_going && !keep_going(); };
  Result out;
  auto meshed = mesh_polygons(polygons, settings.boundary, settings.threads, keep_going);
  if (!meshed.ok()) return Result::fail(std::move(*meshed.failure));
  out.value.meshed = std::move(meshed.value);
  if (stopped()) return interrupted<SkeletonGraph>();
  const std::vector<Segment> segments = skeleton_segments(out.value.meshed, settings.threads).value;
  if (!segments.empty()) out.value.graph = segments_to_graph(segments, settings.snap_distance);
  return out;
}

Graph cleaned_graph(Graph graph, const Settings& s) {
  if (s.tip_length > 0.0) {
    Graph pruned = prune_short_tips(graph, s.tip_length);
    graph = s.keep_every_component ? restore_lost_components(graph, std::move(pruned))
                                   : std::move(pruned);
  }
  if (s.junction_merge_fraction > 0.0) graph = merge_close_junctions(graph, s.junction_merge_distance);
  return graph;
}

BoundaryEdges boundary_edges(const Polygon* first, const Polygon* last,
                             const RefineSettings& settings) {
  BoundaryEdges edges(settings.grid_cell);
  std::size_t sides = 0;
  for (const Polygon* p = first; p != last; ++p) sides += ring_point_count(*p);
  edges.reserve(sides);
  for (const Polygon* p = first; p != last; ++p) edges.add_polygon(*p);
  edges.build();
  return edges;
}

std::vector<Point> boundary_vertices(const std::vector<MeshedPolygon>& meshed) {
  std::vector<Point> out;
  std::size_t total = 0;
  for (const MeshedPolygon& m : meshed) total += ring_point_count(m.rings);
  out.reserve(total);
  for (const MeshedPolygon& m : meshed) {
    out.insert(out.end(), m.rings.outer.begin(), m.rings.outer.end());
    for (const Ring& h : m.rings.holes) out.insert(out.end(), h.begin(), h.end());
  }
  return out;
}

// Twice the distance to the nearest boundary vertex (not edge); NaN distances never win.
std::vector<double> widths_along(const std::vector<Point>& chain,
                                 const NearestVertexIndex& boundary) {
  std::vector<double> widths;
  widths.reserve(chain.size());
  for (const Point& p : chain) widths.push_back(2.0 * std::sqrt(boundary.min_squared_distance(p)));
  return widths;
}

bool measure_widths(const std::vector<Point>& boundary_points, CenterlineResult& result,
                    const KeepGoing& keep_going) {
  const NearestVertexIndex boundary(boundary_points);
  result.chain_widths.reserve(result.chains.size());
  for (const auto& chain : result.chains) {
    if (stop_before(keep_going, result.chain_widths.size(), kChainsBetweenChecks)) return false;
    result.chain_widths.push_back(widths_along(chain, boundary));
  }
  return true;
}

void number_chain_ends(const std::vector<Chain>& chains, std::size_t node_count,
                       CenterlineResult& result) {
  constexpr std::uint64_t kUnset = std::numeric_limits<std::uint64_t>::max();
  std::vector<std::uint64_t> index(node_count, kUnset);
  result.chain_node_ids.reserve(chains.size());
  auto index_of = [&](NodeId id, const Point& position) {
    STRANDIFY_ASSERT(id < node_count);
    if (index[id] == kUnset) {
      index[id] = result.nodes.size();
      result.nodes.push_back(position);
    }
    return index[id];
  };
  for (std::size_t k = 0; k < chains.size(); ++k) {
    const std::vector<Point>& pts = result.chains[k];
    const std::uint64_t s = index_of(chains[k].start, pts.front());
    const std::uint64_t e = index_of(chains[k].end, pts.back());
    result.chain_node_ids.emplace_back(s, e);
  }
}

}  // namespace strandify

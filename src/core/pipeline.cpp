#include "pipeline.hpp"

#include <charconv>
#include <cmath>
#include <limits>

#include "assert.hpp"
#include "chain_finish.hpp"
#include "component_keep.hpp"
#include "geometry.hpp"
#include "graph.hpp"
#include "inflate.hpp"
#include "input_prep.hpp"
#include "nearest_vertex.hpp"
#include "parallel.hpp"
#include "tiling.hpp"
#include "refine/refine.hpp"
#include "work_estimate.hpp"

namespace strandify {
namespace {

std::string unsigned_text(std::uint64_t v) { return std::to_string(v); }

std::optional<Failure> check_width_lists(const std::vector<Curve>& curves,
                                         const std::optional<WidthLists>& widths) {
  if (!widths) return std::nullopt;
  auto fail = [](std::string message) {
    return Failure{FailureKind::width_lists, std::move(message), std::nullopt};
  };
  for (std::size_t i = 0; i < widths->size(); ++i) {
    const WidthList& w = (*widths)[i];
    if (w.empty()) continue;
    if (i >= curves.size())
      return fail("per_curve_widths has an entry for curve " + unsigned_text(i) + " but only " +
                  unsigned_text(curves.size()) + " curve(s) were given");
    if (w.size() != curves[i].size())
      return fail("per_curve_widths[" + unsigned_text(i) + "] has " + unsigned_text(w.size()) +
                  " entries but curve " + unsigned_text(i) + " has " +
                  unsigned_text(curves[i].size()) +
                  " points; they must match (or pass an empty list to use the uniform buffer)");
  }
  return std::nullopt;
}

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

std::size_t mesh_point_count(const std::vector<MeshedPolygon>& meshed) {
  std::size_t n = 0;
  for (const MeshedPolygon& m : meshed) n += m.mesh.points.size();
  return n;
}

// Names what to change: the spikes and folds of each curve's own offset grow with the radius
// against the spacing of its points, the outlines' overlap with the number of points. Curves
// given width lists are never thinned, so for them feature_size changes nothing.
std::string union_too_costly(const UnionWork& work, double limit, bool widths) {
  const std::string thin = widths ? "thin the curves" : "increase feature_size";
  const std::string remedy = work.own >= work.overlap
                                 ? "reduce buffer_distance (or the widths), " + thin
                                 : thin;
  return "the union of the buffers would take about " +
         format_float(std::round(work.total() / 1e6)) +
         " million sweep steps, more than the limit of " + format_float(limit / 1e6) +
         " million; " + remedy + ", or split the drawing into several calls";
}

// The union is one library call that cannot be stopped: when it is long and the call can be
// stopped, it runs on a thread of its own, which takes the prepared curves along.
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
    return Result::fail(FailureKind::work_limit,
                        union_too_costly(work, settings.max_union_work, c.widths.has_value()));
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

TuningOptions inspection_options(const BoundaryOptions& boundary,
                                 std::optional<double> merge_tolerance, const CallScale& scale) {
  TuningOptions t;
  t.partition = scale.partition;
  t.workers = scale.workers;
  t.subdivision_ratio = boundary.subdivision_ratio;
  t.resample = boundary.resample;
  t.boundary_simplification = boundary.boundary_simplification;
  t.merge_tolerance = merge_tolerance;
  return t;
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

Graph cleaned_graph(Graph graph, const Settings& s) {
  if (s.tip_length > 0.0) {
    Graph pruned = prune_short_tips(graph, s.tip_length);
    graph = s.keep_every_component ? restore_lost_components(graph, std::move(pruned))
                                   : std::move(pruned);
  }
  if (s.junction_merge_fraction > 0.0) graph = merge_close_junctions(graph, s.junction_merge_distance);
  return graph;
}

BoundaryEdges boundary_edges(const MeshedPolygon* first, const MeshedPolygon* last,
                             const RefineSettings& settings) {
  BoundaryEdges edges(settings.grid_cell);
  for (const MeshedPolygon* m = first; m != last; ++m) edges.add_polygon(m->rings);
  edges.build();
  return edges;
}

std::vector<Point> boundary_vertices(const std::vector<MeshedPolygon>& meshed) {
  std::vector<Point> out;
  std::size_t total = 0;
  for (const MeshedPolygon& m : meshed) {
    total += m.rings.outer.size();
    for (const Ring& h : m.rings.holes) total += h.size();
  }
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

// The shortest round-tripping digits come from the scientific form; they are then written out
// positionally. (Fixed-notation to_chars prints the exact binary value of large magnitudes,
// -999999999999999983222784 for -1e24, which is not the shortest decimal.)
std::string format_float(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  char buffer[64];
  const auto res =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
  const std::string text(buffer, res.ptr);
  const std::size_t e = text.find('e');
  const bool negative = text[0] == '-';
  std::string digits;
  for (std::size_t k = negative ? 1 : 0; k < e; ++k)
    if (text[k] != '.') digits += text[k];
  const int exponent = std::stoi(text.substr(e + 1));
  // value = 0.d1d2...dn x 10^(exponent + 1): the decimal point goes after `point` digits.
  const long point = static_cast<long>(exponent) + 1;
  const long n = static_cast<long>(digits.size());
  std::string out = negative ? "-" : "";
  if (point <= 0) {
    out += "0." + std::string(static_cast<std::size_t>(-point), '0') + digits;
  } else if (point >= n) {
    out += digits + std::string(static_cast<std::size_t>(point - n), '0');
  } else {
    out += digits.substr(0, static_cast<std::size_t>(point)) + "." +
           digits.substr(static_cast<std::size_t>(point));
  }
  return out;
}

std::optional<Failure> validate_feature_size(double feature_size) {
  if (feature_size > 0.0 && std::isfinite(feature_size)) return std::nullopt;
  return Failure{FailureKind::invalid_feature_size,
                 "feature_size must be a positive finite number, got " + format_float(feature_size),
                 std::nullopt};
}

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

Outcome<SkeletonGraph> skeleton_graph(const std::vector<Polygon>& polygons,
                                      const Settings& settings, const KeepGoing& keep_going) {
  using Result = Outcome<SkeletonGraph>;
  const auto stopped = [&keep_going] { return keep_going && !keep_going(); };
  Result out;
  auto meshed = mesh_polygons(polygons, settings.boundary, settings.threads, keep_going);
  if (!meshed.ok()) return Result::fail(std::move(*meshed.failure));
  out.value.meshed = std::move(meshed.value);
  if (stopped()) return interrupted<SkeletonGraph>();

  std::vector<std::vector<Segment>> skeletons(out.value.meshed.size());
  for_each_index(skeletons.size(),
                 threads_for_points(settings.threads, mesh_point_count(out.value.meshed)),
                 [&](std::size_t i) { skeletons[i] = mesh_skeleton(out.value.meshed[i].mesh); });
  std::vector<Segment> segments;
  for (std::vector<Segment>& s : skeletons) append(segments, std::move(s));
  skeletons = {};
  if (!segments.empty()) out.value.graph = segments_to_graph(segments, settings.snap_distance);
  return out;
}

std::optional<Failure> check_node_limit(std::size_t nodes, std::optional<std::uint64_t> max_nodes) {
  if (!max_nodes || nodes <= *max_nodes) return std::nullopt;
  return Failure{FailureKind::node_limit,
                 "skeleton has " + unsigned_text(nodes) + " nodes, exceeding max_nodes limit of " +
                     unsigned_text(*max_nodes),
                 std::nullopt};
}

// Every kChainsBetweenChecks chains the per-chain loops ask whether to go on.
constexpr std::size_t kChainsBetweenChecks = 1024;

bool measure_widths(const std::vector<Point>& boundary_points, CenterlineResult& result,
                    const KeepGoing& keep_going) {
  const NearestVertexIndex boundary(boundary_points);
  result.chain_widths.reserve(result.chains.size());
  for (const auto& chain : result.chains) {
    const std::size_t done = result.chain_widths.size();
    if (keep_going && done % kChainsBetweenChecks == kChainsBetweenChecks - 1 && !keep_going())
      return false;
    result.chain_widths.push_back(widths_along(chain, boundary));
  }
  return true;
}

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
// skeleton graph. `boundary` and `has_segments` describe the polygons the graph came from, for
// the finishing steps.
PolygonChains finished_chains(Graph graph, const MeshedPolygon* first, const MeshedPolygon* last,
                              const std::vector<unsigned char>& has_segments,
                              const Settings& settings, const KeepGoing& keep_going = {}) {
  PolygonChains out;
  out.skeleton_nodes = graph.nodes.size();
  std::vector<Point> dots, corners;
  if (settings.refine.steps.any()) {
    RefinedGraph refined =
        refine_graph(graph, boundary_edges(first, last, settings.refine), has_segments, settings);
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
    const std::size_t done = out.finished.size();
    if (keep_going && done % kChainsBetweenChecks == kChainsBetweenChecks - 1 && !keep_going())
      return out;
    out.finished.push_back(corners.empty()
                               ? finish_chain(chain, settings.chains)
                               : finish_chain_keeping_corners(chain, settings.chains, corners));
  }
  return out;
}

PolygonChains chains_of_polygon(const MeshedPolygon& meshed, const Settings& settings) {
  const std::vector<Segment> segments = mesh_skeleton(meshed.mesh);
  // Kept dots may come from a polygon without any segment.
  if (segments.empty() && !settings.refine.steps.keep_dots) return {};
  Graph graph = segments.empty() ? Graph{} : segments_to_graph(segments, settings.snap_distance);
  // The polygon is its own boundary for the finishing steps; it is referred to, not copied.
  return finished_chains(std::move(graph), &meshed, &meshed + 1,
                         {static_cast<unsigned char>(!segments.empty())}, settings);
}

Outcome<CenterlineResult> chains_per_polygon(const std::vector<MeshedPolygon>& meshed,
                                             const Settings& settings,
                                             std::optional<std::uint64_t> max_nodes,
                                             bool compute_widths, const KeepGoing& keep_going) {
  using Result = Outcome<CenterlineResult>;
  std::vector<PolygonChains> parts(meshed.size());
  const std::function<bool()> go = [&keep_going] { return keep_going(); };
  if (!for_each_index(
          meshed.size(), threads_for_points(settings.threads, mesh_point_count(meshed)),
          [&](std::size_t i) { parts[i] = chains_of_polygon(meshed[i], settings); },
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

Outcome<CenterlineResult> strandify_inner(const std::vector<Curve>& curves,
                                          const CenterlineOptions& o, const KeepGoing& keep_going) {
  using Result = Outcome<CenterlineResult>;
  const Settings settings = resolve_settings(o.buffer_distance, o.feature_size, o.tuning);
  if (o.tuning.partition == Partition::tiles) return strandify_tiled(curves, o, settings, keep_going);
  StopLatch latch(keep_going);
  auto polygons = buffer_polygons(curves, o.per_curve_widths, settings, latch.keep_going());
  if (!polygons.ok()) return Result::fail(std::move(*polygons.failure));
  return centerlines_of_polygons(std::move(polygons.value), settings, o.max_nodes,
                                 o.compute_widths, latch.keep_going());
}

namespace {

// Every stage of centerlines_of_polygons on this thread. keep_going is asked between the
// stages and, with `in_loops`, also per polygon and every so many chains: a poll that has to
// take the interpreter lock is asked between stages only. All checks go through one latch, so
// that a poll that has said stop is never asked again.
Outcome<CenterlineResult> centerlines_here(const std::vector<Polygon>& polygons,
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
    return chains_per_polygon(meshed.value, settings, max_nodes, compute_widths, go);

  std::vector<std::vector<Segment>> skeletons(meshed.value.size());
  if (!for_each_index(
          skeletons.size(),
          threads_for_points(settings.threads, mesh_point_count(meshed.value)),
          [&](std::size_t i) { skeletons[i] = mesh_skeleton(meshed.value[i].mesh); }, go))
    return interrupted<CenterlineResult>();
  std::vector<unsigned char> has_segments;
  if (settings.refine.steps.any()) has_segments.reserve(skeletons.size());
  std::vector<Segment> segments;
  for (std::vector<Segment>& own : skeletons) {
    if (settings.refine.steps.any()) has_segments.push_back(!own.empty());
    append(segments, std::move(own));
  }
  skeletons = {};
  Result out;
  // Kept dots may come from polygons without any segment.
  if (segments.empty() && !(settings.refine.steps.keep_dots && !meshed.value.empty())) return out;
  Graph graph = segments_to_graph(segments, settings.snap_distance);
  segments = {};
  if (auto failure = check_node_limit(graph.nodes.size(), max_nodes))
    return Result::fail(std::move(*failure));
  if (latch.stopped()) return interrupted<CenterlineResult>();
  PolygonChains done = finished_chains(std::move(graph), meshed.value.data(),
                                       meshed.value.data() + meshed.value.size(), has_segments,
                                       settings, go);
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
                                                  const KeepGoing& keep_going) {
  const bool long_stages =
      keep_going && BoundaryConditioner::size_bound(polygons, settings.boundary) > kBackgroundPoints;
  if (!long_stages)
    return centerlines_here(polygons, settings, max_nodes, compute_widths, keep_going, false);
  StopLatch latch(keep_going);
  auto result = run_in_background<Outcome<CenterlineResult>>(
      [polygons = std::move(polygons), settings, max_nodes, compute_widths](const KeepGoing& stop) {
        return centerlines_here(polygons, settings, max_nodes, compute_widths, stop, true);
      },
      latch.keep_going());
  if (!result) return interrupted<CenterlineResult>();
  return std::move(*result);
}

Outcome<std::vector<Polygon>> buffer_pipeline(const std::vector<Curve>& curves,
                                              double buffer_distance, double feature_size,
                                              const std::optional<WidthLists>& per_curve_widths,
                                              std::optional<double> merge_tolerance,
                                              const CallScale& scale, const KeepGoing& keep_going) {
  if (auto failure = validate_feature_size(feature_size))
    return Outcome<std::vector<Polygon>>::fail(std::move(*failure));
  const Settings settings =
      resolve_settings(buffer_distance, feature_size, inspection_options({}, merge_tolerance, scale));
  return buffer_polygons(curves, per_curve_widths, settings, keep_going);
}

namespace {

Outcome<std::vector<Triangle>> triangles_of(const std::vector<Polygon>& polygons,
                                            const Settings& settings, const KeepGoing& keep_going) {
  using Result = Outcome<std::vector<Triangle>>;
  auto meshed = mesh_polygons(polygons, settings.boundary, settings.threads, keep_going);
  if (!meshed.ok()) return Result::fail(std::move(*meshed.failure));
  Result out;
  for (const MeshedPolygon& m : meshed.value) {
    append(out.value, mesh_triangles(m.mesh));
  }
  return out;
}

}  // namespace

Outcome<std::vector<Triangle>> triangulation_pipeline(
    const std::vector<Curve>& curves, double buffer_distance, double feature_size,
    const std::optional<WidthLists>& per_curve_widths, const BoundaryOptions& boundary,
    std::optional<double> merge_tolerance, const CallScale& scale, const KeepGoing& keep_going) {
  using Result = Outcome<std::vector<Triangle>>;
  if (auto failure = validate_feature_size(feature_size)) return Result::fail(std::move(*failure));
  Settings settings = resolve_settings(buffer_distance, feature_size,
                                       inspection_options(boundary, merge_tolerance, scale));
  settings.boundary.max_points = boundary.max_points;
  StopLatch latch(keep_going);
  auto polygons = buffer_polygons(curves, per_curve_widths, settings, latch.keep_going());
  if (!polygons.ok()) return Result::fail(std::move(*polygons.failure));
  const bool background =
      latch.can_stop() &&
      BoundaryConditioner::size_bound(polygons.value, settings.boundary) > kBackgroundPoints;
  auto triangles = run_in_background<Result>(
      [polygons = std::move(polygons.value), settings](const KeepGoing& stop) {
        return triangles_of(polygons, settings, stop);
      },
      background ? latch.keep_going() : KeepGoing{});
  if (!triangles || latch.has_stopped())
    return interrupted<std::vector<Triangle>>();
  return std::move(*triangles);
}

}  // namespace strandify

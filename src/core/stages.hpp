// The stages of the centerline pipeline, in the order the drivers run them, and the sequence of
// stages after the union that every driver shares however it gets its polygons. Nothing here
// knows which driver calls it: the entry drivers (drivers/) sit above this file, and no stage
// includes them. Every stage returns a value or a failure; none throws but memory exhaustion.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "background.hpp"
#include "boundary.hpp"
#include "failures.hpp"
#include "nearest_vertex.hpp"
#include "refine/boundary_edges.hpp"
#include "settings.hpp"
#include "skeleton_cdt.hpp"
#include "types.hpp"

namespace strandify {

struct PreparedCurves {
  std::vector<Curve> curves;
  std::optional<WidthLists> widths;
};

// Width-list check, merging, decimation: the input preparation every pipeline shares.
Outcome<PreparedCurves> prepare_curves(const std::vector<Curve>& curves,
                                       const std::optional<WidthLists>& widths,
                                       const Settings& settings);

// Prepared curves buffered and unioned into polygons, as every stroke pipeline gets its
// polygons: refused up front when the union would cost more than settings.max_union_work.
// The union is one library call that cannot be stopped: when it is long and the call can be
// stopped, it runs on a thread of its own, which takes the prepared curves along.
Outcome<std::vector<Polygon>> buffer_polygons(const std::vector<Curve>& curves,
                                              const std::optional<WidthLists>& widths,
                                              const Settings& settings,
                                              const KeepGoing& keep_going = {});

// A conditioned polygon together with its triangulation: the one decision about which rings
// are triangulated, shared by the skeleton, the width measurement and triangulate_curves.
struct MeshedPolygon {
  Polygon rings;
  PolygonMesh mesh;
};

// Up to `threads` polygons are conditioned and triangulated at a time; the result is the same
// for any count.
// keep_going is asked on this thread before each polygon it takes.
Outcome<std::vector<MeshedPolygon>> mesh_polygons(const std::vector<Polygon>& polygons,
                                                  const BoundarySettings& boundary,
                                                  std::size_t threads = 1,
                                                  const KeepGoing& keep_going = {});

// Points of all the meshes, which is what sizes the work of the stages after meshing.
std::size_t mesh_point_count(const std::vector<MeshedPolygon>& meshed);

// The triangles of every meshed polygon, polygon after polygon.
std::vector<Triangle> meshed_triangles(const std::vector<MeshedPolygon>& meshed);

// The skeleton segments of every meshed polygon, polygon after polygon, up to `threads`
// polygons at a time. `has_segments`, when given, gets whether each polygon gave any. keep_going
// is asked on this thread before each polygon it takes.
Outcome<std::vector<Segment>> skeleton_segments(const std::vector<MeshedPolygon>& meshed,
                                                std::size_t threads,
                                                const KeepGoing& keep_going = {},
                                                std::vector<unsigned char>* has_segments = nullptr);

// Triangulation, skeleton and the raw skeleton graph of a call's buffer polygons.
struct SkeletonGraph {
  std::vector<MeshedPolygon> meshed;
  Graph graph;  // empty when no polygon gave a skeleton
};
Outcome<SkeletonGraph> skeleton_graph(const std::vector<Polygon>& polygons,
                                      const Settings& settings, const KeepGoing& keep_going = {});

// Tip pruning, then junction merging, as the settings switch them on.
Graph cleaned_graph(Graph graph, const Settings& settings);

// The rings of the polygons [first, last), gridded for the finishing steps. They are given the
// polygons as they came to meshing (the union, or the repaired shapes), not their conditioned
// rings: the same boundary within the simplification tolerance, measured as drawn, and fewer
// edges, since conditioning splits long edges and adds points near sharp turns for the
// triangulation alone (on the buffers of strokes it doubles their number).
BoundaryEdges boundary_edges(const Polygon* first, const Polygon* last,
                             const RefineSettings& settings);

std::vector<Point> boundary_vertices(const std::vector<MeshedPolygon>& meshed);
// Twice the distance from each chain point to the nearest boundary vertex (not edge).
std::vector<double> widths_along(const std::vector<Point>& chain,
                                 const NearestVertexIndex& boundary);

// Every kChainsBetweenChecks chains the per-chain loops ask whether to go on.
inline constexpr std::size_t kChainsBetweenChecks = 1024;

// Fills result.chain_widths from the boundary vertices of the call; false when keep_going
// stopped it (asked every kChainsBetweenChecks chains).
bool measure_widths(const std::vector<Point>& boundary_points, CenterlineResult& result,
                    const KeepGoing& keep_going = {});

// Output node indices in order of first mention, start before end within a chain.
void number_chain_ends(const std::vector<Chain>& chains, std::size_t node_count,
                       CenterlineResult& result);

// Every stage after the buffer polygons exist, as strandify_inner runs them: boundary
// conditioning and triangulation, skeleton, graph and its node limit, pruning and merging,
// chains, finishing, end-node numbering and, on request, widths. Shared by every pipeline that
// produces polygons, however it gets them.
//
// When the call can be stopped (keep_going given) and the boundary will be large, the stages run
// on a thread of their own and this thread only waits, asking keep_going every
// kBackgroundPollInterval; keep_going is then asked on this thread only, and on a stop the call
// returns at once while that thread gives up at its next check, or after the triangulation it
// is in. The result is the same either way.
//
// `line_ends` are the ends of the input lines the polygons were buffered from (sorted, as
// refine/refine.hpp's line_ends gives them), for the finishing steps; none for filled shapes.
Outcome<CenterlineResult> centerlines_of_polygons(std::vector<Polygon> polygons,
                                                  const Settings& settings,
                                                  std::optional<std::uint64_t> max_nodes,
                                                  bool compute_widths,
                                                  const KeepGoing& keep_going = {},
                                                  std::vector<Point> line_ends = {});

}  // namespace strandify

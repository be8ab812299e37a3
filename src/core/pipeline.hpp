// The pipeline drivers: the stage order of each entry point and the parameters derived from
// feature_size. Every driver returns a value or a failure message; none throws.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "background.hpp"
#include "boundary.hpp"
#include "nearest_vertex.hpp"
#include "refine/refine.hpp"
#include "settings.hpp"
#include "skeleton_cdt.hpp"
#include "types.hpp"

namespace strandify {

struct CenterlineOptions {
  double buffer_distance = 0.0;
  double feature_size = 1.0;  // validated by the caller
  TuningOptions tuning;
  std::optional<WidthLists> per_curve_widths;
  bool compute_widths = false;
  std::optional<std::uint64_t> max_nodes;
};

// Shortest decimal that reads back to the same double, never in exponent form; NaN, inf, -inf.
std::string format_float(double value);

// The one check every entry point makes before any work.
std::optional<Failure> validate_feature_size(double feature_size);


Outcome<CenterlineResult> strandify_inner(const std::vector<Curve>& curves,
                                          const CenterlineOptions& options,
                                          const KeepGoing& keep_going = {});

// How an inspection call unions and how many threads it may use.
struct CallScale {
  Partition partition = Partition::none;
  std::size_t workers = 1;
};
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
Outcome<CenterlineResult> centerlines_of_polygons(std::vector<Polygon> polygons,
                                                  const Settings& settings,
                                                  std::optional<std::uint64_t> max_nodes,
                                                  bool compute_widths,
                                                  const KeepGoing& keep_going = {});

// Buffer polygons exactly as the centerline pipeline hands them to boundary preprocessing.
// Validates feature_size itself.
Outcome<std::vector<Polygon>> buffer_pipeline(const std::vector<Curve>& curves,
                                              double buffer_distance, double feature_size,
                                              const std::optional<WidthLists>& per_curve_widths,
                                              std::optional<double> merge_tolerance,
                                              const CallScale& scale = {},
                                              const KeepGoing& keep_going = {});

// Triangles exactly as the centerline pipeline builds its skeleton from. Validates
// feature_size itself.
Outcome<std::vector<Triangle>> triangulation_pipeline(
    const std::vector<Curve>& curves, double buffer_distance, double feature_size,
    const std::optional<WidthLists>& per_curve_widths, const BoundaryOptions& boundary,
    std::optional<double> merge_tolerance, const CallScale& scale = {},
    const KeepGoing& keep_going = {});

// --- the stages of the centerline driver, in order, shared with the stage benchmark -------

struct PreparedCurves {
  std::vector<Curve> curves;
  std::optional<WidthLists> widths;
};

// Width-list check, merging, decimation: the input preparation every pipeline shares.
Outcome<PreparedCurves> prepare_curves(const std::vector<Curve>& curves,
                                       const std::optional<WidthLists>& widths,
                                       const Settings& settings);

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

// Triangulation, skeleton and the raw skeleton graph of a call's buffer polygons.
struct SkeletonGraph {
  std::vector<MeshedPolygon> meshed;
  Graph graph;  // empty when no polygon gave a skeleton
};
Outcome<SkeletonGraph> skeleton_graph(const std::vector<Polygon>& polygons,
                                      const Settings& settings, const KeepGoing& keep_going = {});

// The max_nodes check on the skeleton graph's node count.
std::optional<Failure> check_node_limit(std::size_t nodes, std::optional<std::uint64_t> max_nodes);

// Fills result.chain_widths from the boundary vertices of the call; false when keep_going
// stopped it (asked every so many chains).
bool measure_widths(const std::vector<Point>& boundary_points, CenterlineResult& result,
                    const KeepGoing& keep_going = {});

// Tip pruning, then junction merging, as the settings switch them on.
Graph cleaned_graph(Graph graph, const Settings& settings);

// The rings of the conditioned polygons [first, last), gridded for the finishing steps.
BoundaryEdges boundary_edges(const MeshedPolygon* first, const MeshedPolygon* last,
                             const RefineSettings& settings);

std::vector<Point> boundary_vertices(const std::vector<MeshedPolygon>& meshed);
// Twice the distance from each chain point to the nearest boundary vertex (not edge).
std::vector<double> widths_along(const std::vector<Point>& chain,
                                 const NearestVertexIndex& boundary);
// Output node indices in order of first mention, start before end within a chain.
void number_chain_ends(const std::vector<Chain>& chains, std::size_t node_count,
                       CenterlineResult& result);

}  // namespace strandify

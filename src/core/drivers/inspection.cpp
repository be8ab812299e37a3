#include "drivers/inspection.hpp"

#include <utility>

#include "settings.hpp"
#include "stages.hpp"

namespace strandify {
namespace {

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

Outcome<std::vector<Triangle>> triangles_of(const std::vector<Polygon>& polygons,
                                            const Settings& settings, const KeepGoing& keep_going) {
  using Result = Outcome<std::vector<Triangle>>;
  auto meshed = mesh_polygons(polygons, settings.boundary, settings.threads, keep_going);
  if (!meshed.ok()) return Result::fail(std::move(*meshed.failure));
  Result out;
  out.value = meshed_triangles(meshed.value);
  return out;
}

}  // namespace

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

#include "drivers/polygons.hpp"

#include <cmath>
#include <utility>

#include "geometry.hpp"
#include "lost_shapes.hpp"
#include "polygon_input.hpp"
#include "stages.hpp"

namespace strandify {

Outcome<CenterlineResult> polygon_centerlines_inner(std::vector<Polygon> polygons,
                                                    const PolygonCenterlineOptions& o,
                                                    const KeepGoing& keep_going) {
  using Result = Outcome<CenterlineResult>;
  if (o.buffer_distance && !(*o.buffer_distance > 0.0 && std::isfinite(*o.buffer_distance)))
    return Result::fail(FailureKind::invalid_geometry,
                        "buffer_distance must be a positive finite number, got " +
                            format_float(*o.buffer_distance));
  const std::size_t points = ring_point_count(polygons);
  // The repair is one union, which cannot be stopped: when it is long and the call can be
  // stopped, it runs on a thread of its own, which takes the polygons along. The hole-area
  // floor depends on feature_size alone, so the repair runs before the buffer distance that may
  // be derived from its result is known.
  StopLatch latch(keep_going);
  const bool background = latch.can_stop() && static_cast<double>(points) > kBackgroundPoints;
  auto repaired = run_in_background<Outcome<std::vector<Polygon>>>(
      [polygons = std::move(polygons), inflation = resolve_inflation(0.0, o.feature_size)](
          const KeepGoing&) { return repair_polygons(polygons, inflation); },
      background ? latch.keep_going() : KeepGoing{});
  if (!repaired || latch.has_stopped())
    return interrupted<CenterlineResult>();
  if (!repaired->ok()) return Result::fail(std::move(*repaired->failure));
  if (repaired->value.empty()) return Result{};
  const double buffer_distance = o.buffer_distance.value_or(shape_half_width(repaired->value));
  Settings settings = resolve_settings(buffer_distance, o.feature_size, o.tuning);
  settings.keep_every_component = true;
  return centerlines_of_polygons(std::move(repaired->value), settings, o.max_nodes,
                                 o.compute_widths, latch.keep_going());
}

Outcome<CheckedPolygonCenterlines> polygon_centerlines_and_lost_shapes(
    std::vector<Polygon> polygons, const PolygonCenterlineOptions& o,
    const KeepGoing& keep_going) {
  using Result = Outcome<CheckedPolygonCenterlines>;
  // the repair takes the polygons; the check needs only their outer rings as given
  std::vector<Ring> outers;
  outers.reserve(polygons.size());
  for (const Polygon& p : polygons) outers.push_back(p.outer);
  auto centerlines = polygon_centerlines_inner(std::move(polygons), o, keep_going);
  if (!centerlines.ok()) return Result::fail(std::move(*centerlines.failure));
  Result out;
  out.value.lost = lost_shapes(outers, centerlines.value.chains);
  out.value.result = std::move(centerlines.value);
  return out;
}

}  // namespace strandify

#include "drivers/polygons.hpp"

#include <cmath>
#include <functional>
#include <iterator>
#include <limits>
#include <utility>

#include "failures.hpp"
#include "geometry.hpp"
#include "lost_shapes.hpp"
#include "parallel.hpp"
#include "polygon_input.hpp"
#include "stages.hpp"

namespace strandify {

namespace {

// A filled shape's junctions are where its own arms meet, however many: a star's arms meet in
// its middle. The cap on the spokes of a merged junction keeps separate crossings of strokes
// apart, which shapes do not have.
constexpr std::size_t kShapeMergeSpokes = std::numeric_limits<std::size_t>::max();

// A region's scale and settings, from the caller's scale where given and the region's own
// half-width where not.
Outcome<Settings> region_settings(Polygon& region, const PolygonCenterlineOptions& o) {
  double half_width = polygon_half_width(region);
  const double feature_size = o.feature_size.value_or(kFeaturePerHalfWidth * half_width);
  if (auto failure = validate_feature_size(feature_size))
    return Outcome<Settings>::fail(std::move(*failure));
  // The repair kept every hole when the floor was still unknown.
  if (!o.feature_size &&
      fill_small_holes(region, resolve_inflation(0.0, feature_size).min_hole_area))
    half_width = polygon_half_width(region);
  Outcome<Settings> out;
  out.value = resolve_settings(o.buffer_distance.value_or(half_width), feature_size, o.tuning);
  out.value.keep_every_component = true;
  out.value.refine.merge_max_spokes = kShapeMergeSpokes;
  out.value.threads = 1;  // the regions are spread over the threads instead
  return out;
}

// Every point of a region moved by `by`. A region runs about the corner of its own box: the
// union's integer grid and every snapping grid after it start there, so they fall on the same
// places of the region whatever else the call holds and wherever the call's origin lies.
void move_polygon(Polygon& polygon, Point by) {
  for (Point& p : polygon.outer) p = add(p, by);
  for (Ring& hole : polygon.holes)
    for (Point& p : hole) p = add(p, by);
}

void move_result(CenterlineResult& result, Point by) {
  for (Curve& chain : result.chains)
    for (Point& p : chain) p = add(p, by);
  for (Point& p : result.nodes) p = add(p, by);
}

// A region's chains, computed about the corner of its box; keep_going as centerlines_of_polygons
// takes it.
Outcome<CenterlineResult> region_centerlines(Polygon region, const Settings& settings,
                                             const PolygonCenterlineOptions& o,
                                             const KeepGoing& keep_going) {
  const Box box = bounding_box(region.outer);  // repaired: the holes lie inside
  const Point corner{box.min_x, box.min_y};
  move_polygon(region, {-corner.x, -corner.y});
  std::vector<Polygon> one;
  one.push_back(std::move(region));
  auto out =
      centerlines_of_polygons(std::move(one), settings, o.max_nodes, o.compute_widths, keep_going);
  if (out.ok()) move_result(out.value, corner);
  return out;
}

// Appends one region's result, its node ids moved past the nodes already there.
void append_result(CenterlineResult& into, CenterlineResult&& part) {
  const std::uint64_t offset = into.nodes.size();
  for (auto& ids : part.chain_node_ids)
    into.chain_node_ids.emplace_back(ids.first + offset, ids.second + offset);
  std::move(part.chains.begin(), part.chains.end(), std::back_inserter(into.chains));
  into.nodes.insert(into.nodes.end(), part.nodes.begin(), part.nodes.end());
  std::move(part.chain_widths.begin(), part.chain_widths.end(),
            std::back_inserter(into.chain_widths));
}

// Every separate region on its own, up to `workers` at a time, the results joined in the order
// of the regions; the first failing region (in that order) fails the call.
Outcome<CenterlineResult> centerlines_per_region(std::vector<Polygon> regions,
                                                 const PolygonCenterlineOptions& o,
                                                 const KeepGoing& keep_going) {
  using Result = Outcome<CenterlineResult>;
  std::vector<Settings> settings;
  settings.reserve(regions.size());
  for (Polygon& region : regions) {
    auto resolved = region_settings(region, o);
    if (!resolved.ok()) return Result::fail(std::move(*resolved.failure));
    settings.push_back(std::move(resolved.value));
  }
  const std::size_t points = ring_point_count(regions);
  const std::size_t threads = threads_for_points(o.tuning.workers > 0 ? o.tuning.workers : 1, points);
  StopLatch latch(keep_going);
  const bool background = latch.can_stop() && static_cast<double>(points) > kBackgroundPoints;
  auto joined = run_in_background<Result>(
      [regions = std::move(regions), settings = std::move(settings), o,
       threads](const KeepGoing& stop) mutable {
        std::vector<Result> parts(regions.size());
        // stop is asked between the regions, on this thread; on one thread every region runs
        // here too and is asked as well, so that a single large region stops within its stages.
        // Spread over threads, regions are asked nothing: stop may be a poll of this thread only.
        const KeepGoing none;
        const KeepGoing& inner = threads == 1 ? stop : none;
        const auto one = [&](std::size_t i) {
          parts[i] = region_centerlines(std::move(regions[i]), settings[i], o, inner);
        };
        if (!for_each_index(parts.size(), threads, one,
                            stop ? std::function<bool()>(stop) : std::function<bool()>{}))
          return interrupted<CenterlineResult>();
        Result out;
        for (Result& part : parts) {
          if (!part.ok()) return Result::fail(std::move(*part.failure));
          append_result(out.value, std::move(part.value));
        }
        return out;
      },
      background ? latch.keep_going() : KeepGoing{});
  if (!joined || latch.has_stopped()) return interrupted<CenterlineResult>();
  return std::move(*joined);
}

}  // namespace

Outcome<CenterlineResult> polygon_centerlines_inner(std::vector<Polygon> polygons,
                                                    const PolygonCenterlineOptions& o,
                                                    const KeepGoing& keep_going) {
  using Result = Outcome<CenterlineResult>;
  if (o.buffer_distance && !(*o.buffer_distance > 0.0 && std::isfinite(*o.buffer_distance)))
    return Result::fail(FailureKind::invalid_geometry,
                        "buffer_distance must be a positive finite number, got " +
                            format_float(*o.buffer_distance));
  if (o.feature_size)
    if (auto failure = validate_feature_size(*o.feature_size)) return Result::fail(std::move(*failure));
  const std::size_t points = ring_point_count(polygons);
  // The repair is one union, which cannot be stopped: when it is long and the call can be
  // stopped, it runs on a thread of its own, which takes the polygons along. The hole-area
  // floor depends on feature_size alone, so the repair runs before the buffer distance that may
  // be derived from its result is known; a feature size still to be derived fills no hole yet.
  StopLatch latch(keep_going);
  const bool background = latch.can_stop() && static_cast<double>(points) > kBackgroundPoints;
  const InflationSettings floor =
      o.feature_size ? resolve_inflation(0.0, *o.feature_size) : InflationSettings{};
  auto repaired = run_in_background<Outcome<std::vector<Polygon>>>(
      [polygons = std::move(polygons), floor](const KeepGoing&) {
        return repair_polygons(polygons, floor);
      },
      background ? latch.keep_going() : KeepGoing{});
  if (!repaired || latch.has_stopped())
    return interrupted<CenterlineResult>();
  if (!repaired->ok()) return Result::fail(std::move(*repaired->failure));
  std::vector<Polygon>& shapes = repaired->value;
  if (shapes.empty()) return Result{};
  const bool own_scales = !(o.feature_size && o.buffer_distance);
  if (own_scales && o.tuning.partition == Partition::components)
    return centerlines_per_region(std::move(shapes), o, latch.keep_going());
  double feature_size = 0.0;
  if (o.feature_size) {
    feature_size = *o.feature_size;
  } else {
    feature_size = kFeaturePerHalfWidth * shape_half_width(shapes);
    if (auto failure = validate_feature_size(feature_size)) return Result::fail(std::move(*failure));
    const double min_hole_area = resolve_inflation(0.0, feature_size).min_hole_area;
    for (Polygon& shape : shapes) fill_small_holes(shape, min_hole_area);
  }
  const double buffer_distance = o.buffer_distance.value_or(shape_half_width(shapes));
  Settings settings = resolve_settings(buffer_distance, feature_size, o.tuning);
  settings.keep_every_component = true;
  settings.refine.merge_max_spokes = kShapeMergeSpokes;
  return centerlines_of_polygons(std::move(shapes), settings, o.max_nodes, o.compute_widths,
                                 latch.keep_going());
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

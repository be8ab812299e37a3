#include "drivers/centerlines.hpp"

#include <atomic>
#include <utility>

#include "drivers/tiles.hpp"
#include "parallel.hpp"
#include "refine/refine.hpp"
#include "stages.hpp"

namespace strandify {
namespace {

// The tiles of a plan, then the stitch; keep_going is asked between the tiles this thread runs.
Outcome<CenterlineResult> run_tiles(const TilePlan& plan, const Settings& settings,
                                    std::optional<std::uint64_t> max_nodes, bool compute_widths,
                                    const KeepGoing& keep_going) {
  using Result = Outcome<CenterlineResult>;
  const std::vector<TileJob>& jobs = plan.tiles;
  std::vector<Outcome<TileResult>> tiles(jobs.size());
  // The call fails with the first tile (in plan order) that fails. A tile after a failed one
  // cannot change that, so it is not run: a drawing whose tiles are all too large to mesh is
  // refused after the first of them, not after all. The tiles before the first failure never
  // see a failure before them and always run, so the reported failure is the same on any
  // number of threads.
  std::atomic<std::size_t> first_failed{jobs.size()};
  const auto run_one = [&](std::size_t i) {
    if (i > first_failed.load(std::memory_order_relaxed)) return;
    tiles[i] = run_tile(jobs[i], settings);
    if (tiles[i].ok()) return;
    std::size_t seen = first_failed.load(std::memory_order_relaxed);
    while (i < seen && !first_failed.compare_exchange_weak(seen, i, std::memory_order_relaxed)) {
    }
  };
  if (!for_each_index(jobs.size(), settings.threads, run_one, keep_going))
    return interrupted<CenterlineResult>();
  std::vector<TileResult> results;
  results.reserve(tiles.size());
  std::uint64_t skeleton_nodes = 0;
  for (Outcome<TileResult>& t : tiles) {
    if (!t.ok()) return Result::fail(std::move(*t.failure));
    skeleton_nodes += t.value.skeleton_nodes;
    results.push_back(std::move(t.value));
  }
  if (auto failure = check_node_limit(skeleton_nodes, max_nodes)) return Result::fail(std::move(*failure));
  Result out;
  out.value = stitch_tiles(results, settings, compute_widths);
  return out;
}

// The whole tiled pipeline: prepare, plan, run the tiles on settings.threads threads, stitch.
// When the call can be stopped the tiles run on a thread of their own, so that the stop is
// noticed within a tile too: a tile's union and triangulation are long exactly when its
// boundary is, which only the tile itself finds out, and a tiled call is one for a drawing
// worth the thread anyway.
Outcome<CenterlineResult> strandify_tiled(const std::vector<Curve>& curves,
                                          const CenterlineOptions& o, const Settings& settings,
                                          const KeepGoing& keep_going) {
  using Result = Outcome<CenterlineResult>;
  StopLatch latch(keep_going);
  auto prepared = prepare_curves(curves, o.per_curve_widths, settings);
  if (!prepared.ok()) return Result::fail(std::move(*prepared.failure));
  auto plan = plan_tiles(prepared.value, settings);
  if (!plan.ok()) return Result::fail(std::move(*plan.failure));
  prepared.value = {};
  if (latch.stopped()) return interrupted<CenterlineResult>();
  if (!latch.can_stop() || plan.value.tiles.empty())
    return run_tiles(plan.value, settings, o.max_nodes, o.compute_widths, latch.keep_going());
  auto result = run_in_background<Result>(
      [plan = std::move(plan.value), settings, max_nodes = o.max_nodes,
       compute_widths = o.compute_widths](const KeepGoing& stop) {
        return run_tiles(plan, settings, max_nodes, compute_widths, stop);
      },
      latch.keep_going());
  if (!result) return interrupted<CenterlineResult>();
  return std::move(*result);
}

}  // namespace

Outcome<CenterlineResult> strandify_inner(const std::vector<Curve>& curves,
                                          const CenterlineOptions& o, const KeepGoing& keep_going) {
  using Result = Outcome<CenterlineResult>;
  const Settings settings = resolve_settings(o.buffer_distance, o.feature_size, o.tuning);
  if (o.tuning.partition == Partition::tiles) return strandify_tiled(curves, o, settings, keep_going);
  StopLatch latch(keep_going);
  auto polygons = buffer_polygons(curves, o.per_curve_widths, settings, latch.keep_going());
  if (!polygons.ok()) return Result::fail(std::move(*polygons.failure));
  // Only the finishing steps look at where the lines end.
  std::vector<Point> ends;
  if (settings.refine.steps.real_ends) ends = line_ends(curves);
  return centerlines_of_polygons(std::move(polygons.value), settings, o.max_nodes,
                                 o.compute_widths, latch.keep_going(), std::move(ends));
}

Outcome<CheckedCenterlines> centerlines_and_lost_groups(const std::vector<Curve>& curves,
                                                        const CenterlineOptions& o,
                                                        const KeepGoing& keep_going) {
  using Result = Outcome<CheckedCenterlines>;
  auto centerlines = strandify_inner(curves, o, keep_going);
  if (!centerlines.ok()) return Result::fail(std::move(*centerlines.failure));
  Result out;
  out.value.lost = lost_groups(curves, centerlines.value.chains, o.buffer_distance);
  out.value.result = std::move(centerlines.value);
  return out;
}

}  // namespace strandify

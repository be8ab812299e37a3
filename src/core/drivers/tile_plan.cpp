// Planning: the drawing's extent cut into a grid of tiles, and the prepared curves cut to each
// tile's halo.
#include "drivers/tiles.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "partition.hpp"
#include "polyline_clip.hpp"

namespace strandify {
namespace {

struct Extent {
  Box box{0, 0, 0, 0};
  std::size_t points = 0;
  bool any = false;
  std::vector<bool> buffered;  // per curve: whether it adds a buffer at all
};

// The box of every buffer: curves that add no buffer are left out, as the union leaves them.
Extent drawing_extent(const PreparedCurves& prepared, double buffer_distance) {
  Extent e;
  e.buffered.assign(prepared.curves.size(), false);
  for (std::size_t i = 0; i < prepared.curves.size(); ++i) {
    const auto b = buffer_box(prepared.curves[i], width_list_of(prepared.widths, i), buffer_distance);
    if (!b) continue;
    e.buffered[i] = true;
    e.points += prepared.curves[i].size();
    if (!e.any) {
      e.box = *b;
      e.any = true;
    } else {
      e.box = {std::min(e.box.min_x, b->min_x), std::min(e.box.min_y, b->min_y),
               std::max(e.box.max_x, b->max_x), std::max(e.box.max_y, b->max_y)};
    }
  }
  return e;
}

Outcome<TilePlan> tiling_failure(const std::string& message) {
  return Outcome<TilePlan>::fail(FailureKind::work_limit, message);
}

// Tile indices covering [lo - halo, hi + halo] along one axis.
struct Span {
  std::int64_t first, last;
};

Span covered(double lo, double hi, double origin, double size, double halo, std::int64_t count) {
  const double a = std::floor((lo - halo - origin) / size);
  const double b = std::floor((hi + halo - origin) / size);
  const auto clamp = [count](double v) {
    if (!(v >= 0.0)) return std::int64_t{0};
    if (v >= static_cast<double>(count - 1)) return count - 1;
    return static_cast<std::int64_t>(v);
  };
  return {clamp(a), clamp(b)};
}

}  // namespace

Outcome<TilePlan> plan_tiles(const PreparedCurves& prepared, const Settings& settings) {
  const TilingSettings& t = settings.tiling;
  TilePlan plan;
  const Extent e = drawing_extent(prepared, settings.buffer_distance);
  if (!e.any) return Outcome<TilePlan>{plan, std::nullopt};
  const double width = e.box.max_x - e.box.min_x, height = e.box.max_y - e.box.min_y;
  double size;
  if (t.tile_size) {
    size = *t.tile_size;
    if (!(size > 0.0 && std::isfinite(size)))
      return tiling_failure("tile_size must be a positive finite number, got " +
                            format_float(size));
  } else {
    // About points_per_tile points per core, and cores well wider than their halos, which
    // every tile computes again.
    const double area = std::max(width, 1e-300) * std::max(height, 1e-300);
    size = std::sqrt(area * t.points_per_tile / static_cast<double>(std::max<std::size_t>(e.points, 1)));
    size = std::max(size, 4.0 * t.halo);
    if (!std::isfinite(size)) size = std::max(width, height);
  }
  plan.tile_size = size;
  const double nx_d = std::max(1.0, std::ceil(width / size));
  const double ny_d = std::max(1.0, std::ceil(height / size));
  constexpr double kMaxTiles = 1e7;
  if (!(nx_d * ny_d <= kMaxTiles))
    return tiling_failure("tile_size " + format_float(size) + " cuts the drawing into about " +
                          format_float(std::round(nx_d * ny_d)) +
                          " tiles, more than the limit of 10000000; increase tile_size");
  const auto nx = static_cast<std::int64_t>(nx_d), ny = static_cast<std::int64_t>(ny_d);
  // The grid is centred on the drawing and moved off round numbers, so that seams rarely run
  // exactly through skeleton nodes of axis-aligned drawings.
  const double ox = e.box.min_x - 0.5 * (nx_d * size - width) - 0.0137 * size;
  const double oy = e.box.min_y - 0.5 * (ny_d * size - height) - 0.0137 * size;
  const std::size_t tile_count = static_cast<std::size_t>(nx * ny);

  // Which segments each tile sees: counted first, so the pairs are stored once and bounded.
  const double halo = t.halo;
  const std::vector<Curve>& curves = prepared.curves;
  // Calls visit(first tile row, last row, first column, last column, curve, segment) for every
  // segment of a buffered curve, with the tiles whose halo its box reaches.
  auto for_each_segment = [&](auto&& visit) {
    for (std::size_t i = 0; i < curves.size(); ++i) {
      if (!e.buffered[i]) continue;
      const Curve& c = curves[i];
      for (std::size_t k = 0; k + 1 < c.size(); ++k) {
        const Span sx = covered(std::min(c[k].x, c[k + 1].x), std::max(c[k].x, c[k + 1].x), ox, size, halo, nx);
        const Span sy = covered(std::min(c[k].y, c[k + 1].y), std::max(c[k].y, c[k + 1].y), oy, size, halo, ny);
        visit(sx, sy, i, k);
      }
    }
  };
  double pairs = 0.0;
  for_each_segment([&](const Span& sx, const Span& sy, std::size_t, std::size_t) {
    pairs += static_cast<double>(sx.last - sx.first + 1) * static_cast<double>(sy.last - sy.first + 1);
  });
  const double budget = 16.0 * static_cast<double>(e.points) + 1e5;
  if (pairs > budget)
    return tiling_failure("tile_size " + format_float(size) +
                          " is too small for this drawing: its tiles would hold about " +
                          format_float(std::round(pairs)) + " curve pieces; increase tile_size");

  struct Entry {
    std::size_t curve, segment;
  };
  std::vector<std::size_t> counts(tile_count + 1, 0);
  auto for_each_pair = [&](auto&& visit) {
    for_each_segment([&](const Span& sx, const Span& sy, std::size_t i, std::size_t k) {
      for (std::int64_t ty = sy.first; ty <= sy.last; ++ty)
        for (std::int64_t tx = sx.first; tx <= sx.last; ++tx)
          visit(static_cast<std::size_t>(ty * nx + tx), i, k);
    });
  };
  for_each_pair([&](std::size_t tile, std::size_t, std::size_t) { ++counts[tile + 1]; });
  for (std::size_t k = 0; k < tile_count; ++k) counts[k + 1] += counts[k];
  std::vector<Entry> entries(counts[tile_count]);
  std::vector<std::size_t> fill(counts.begin(), counts.end() - 1);
  for_each_pair([&](std::size_t tile, std::size_t i, std::size_t k) { entries[fill[tile]++] = {i, k}; });

  for (std::size_t tile = 0; tile < tile_count; ++tile) {
    if (counts[tile] == counts[tile + 1]) continue;
    const double tx = static_cast<double>(tile % static_cast<std::size_t>(nx));
    const double ty = static_cast<double>(tile / static_cast<std::size_t>(nx));
    TileJob job;
    job.core = {ox + tx * size, oy + ty * size, ox + (tx + 1.0) * size, oy + (ty + 1.0) * size};
    job.halo = {job.core.min_x - halo, job.core.min_y - halo, job.core.max_x + halo, job.core.max_y + halo};
    if (prepared.widths) job.widths.emplace();
    // Entries come curve by curve, segments ascending: consecutive segments are cut together.
    for (std::size_t a = counts[tile]; a < counts[tile + 1];) {
      std::size_t b = a;
      while (b + 1 < counts[tile + 1] && entries[b + 1].curve == entries[a].curve &&
             entries[b + 1].segment == entries[b].segment + 1)
        ++b;
      const std::size_t i = entries[a].curve;
      const WidthList* w = width_list_of(prepared.widths, i);
      for (ClippedRun& run : clip_polyline(curves[i], w, entries[a].segment, entries[b].segment + 1, job.halo)) {
        job.curves.push_back(std::move(run.points));
        if (job.widths) job.widths->push_back(std::move(run.widths));
      }
      a = b + 1;
    }
    if (!job.curves.empty()) plan.tiles.push_back(std::move(job));
  }
  return Outcome<TilePlan>{std::move(plan), std::nullopt};
}

}  // namespace strandify

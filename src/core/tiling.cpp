#include "tiling.hpp"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <string>

#include "assert.hpp"
#include "chain_finish.hpp"
#include "geometry.hpp"
#include "graph.hpp"
#include "inflate.hpp"
#include "parallel.hpp"
#include "work_estimate.hpp"

namespace strandify {
namespace {

// --- cutting polylines to a rectangle -------------------------------------------------------

struct Run {
  std::vector<Point> points;
  std::vector<double> widths;  // empty unless the polyline had widths
  bool start_cut = false;      // the run starts where the polyline enters the box
  bool end_cut = false;        // ... and ends where it leaves it
};

// Liang-Barsky: the parameter range [t0, t1] of p + t (q - p) inside the closed box.
bool clip_segment(Point p, Point q, const Box& b, double& t0, double& t1) {
  t0 = 0.0;
  t1 = 1.0;
  const double dx = q.x - p.x, dy = q.y - p.y;
  auto edge = [&](double denom, double num) {
    if (denom == 0.0) return num >= 0.0;
    const double r = num / denom;
    if (denom < 0.0) {
      if (r > t1) return false;
      if (r > t0) t0 = r;
    } else {
      if (r < t0) return false;
      if (r < t1) t1 = r;
    }
    return true;
  };
  return edge(-dx, p.x - b.min_x) && edge(dx, b.max_x - p.x) && edge(-dy, p.y - b.min_y) &&
         edge(dy, b.max_y - p.y);
}

// Points at the ends of the range are the polyline's own, bit for bit, so a polyline that lies
// inside the box comes out unchanged.
Point point_at(Point p, Point q, double t) {
  if (t == 0.0) return p;
  if (t == 1.0) return q;
  return {p.x + t * (q.x - p.x), p.y + t * (q.y - p.y)};
}

double width_at(double a, double b, double t) {
  if (t == 0.0) return a;
  if (t == 1.0) return b;
  return a + t * (b - a);
}

// The parts of points[first .. last] inside the box, as runs of at least two points.
std::vector<Run> clip_polyline(const std::vector<Point>& points, const std::vector<double>* widths,
                               std::size_t first, std::size_t last, const Box& box) {
  std::vector<Run> runs;
  Run current;
  bool open = false;
  auto close = [&](bool cut) {
    current.end_cut = cut;
    if (current.points.size() >= 2) runs.push_back(std::move(current));
    current = Run{};
    open = false;
  };
  for (std::size_t k = first; k < last; ++k) {
    const Point p = points[k], q = points[k + 1];
    double t0, t1;
    if (!clip_segment(p, q, box, t0, t1)) {
      if (open) close(true);
      continue;
    }
    if (!open || t0 > 0.0) {
      if (open) close(true);
      open = true;
      current.start_cut = k > 0 || t0 > 0.0;
      current.points.push_back(point_at(p, q, t0));
      if (widths) current.widths.push_back(width_at((*widths)[k], (*widths)[k + 1], t0));
    }
    if (t1 > t0) {
      current.points.push_back(point_at(p, q, t1));
      if (widths) current.widths.push_back(width_at((*widths)[k], (*widths)[k + 1], t1));
    }
    if (t1 < 1.0) close(true);
  }
  if (open) close(last + 1 < points.size());
  return runs;
}

bool inside_half_open(Point p, const Box& b) {
  return p.x >= b.min_x && p.x < b.max_x && p.y >= b.min_y && p.y < b.max_y;
}

// A piece lying wholly on the right or top edge of a core belongs to the neighbouring tile,
// whose core includes that edge.
bool on_far_edge(const std::vector<Point>& points, const Box& core) {
  const bool right = std::all_of(points.begin(), points.end(),
                                 [&](const Point& p) { return p.x == core.max_x; });
  const bool top = std::all_of(points.begin(), points.end(),
                               [&](const Point& p) { return p.y == core.max_y; });
  return right || top;
}

// --- planning -------------------------------------------------------------------------------

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
      return Outcome<TilePlan>::fail(FailureKind::work_limit,
                                     "tile_size must be a positive finite number, got " +
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
      for (Run& run : clip_polyline(curves[i], w, entries[a].segment, entries[b].segment + 1, job.halo)) {
        job.curves.push_back(std::move(run.points));
        if (job.widths) job.widths->push_back(std::move(run.widths));
      }
      a = b + 1;
    }
    if (!job.curves.empty()) plan.tiles.push_back(std::move(job));
  }
  return Outcome<TilePlan>{std::move(plan), std::nullopt};
}

Outcome<TileResult> run_tile(const TileJob& job, const Settings& settings) {
  using Result = Outcome<TileResult>;
  Settings s = settings;
  s.threads = 1;  // the tiles themselves share the call's threads
  const CurveGroups groups = group_by_buffer_boxes(job.curves, job.widths, s.buffer_distance);
  const double work = union_sweep_work(job.curves, job.widths, s.buffer_distance, groups).total();
  if (work > s.max_union_work)
    return Result::fail(FailureKind::work_limit,
                        "the union of one tile's buffers would take about " +
                            format_float(std::round(work / 1e6)) +
                            " million sweep steps, more than the limit of " +
                            format_float(s.max_union_work / 1e6) + " million; reduce tile_size");
  const std::vector<Polygon> polygons = inflate_groups(job.curves, job.widths, groups, s.inflation, 1);
  auto skeleton = skeleton_graph(polygons, s);
  if (!skeleton.ok()) return Result::fail(std::move(*skeleton.failure));
  Result out;
  TileResult& r = out.value;
  for (const Point& p : boundary_vertices(skeleton.value.meshed))
    if (inside_half_open(p, job.core)) r.boundary.push_back(p);
  Graph& graph = skeleton.value.graph;
  r.skeleton_nodes = graph.nodes.size();
  if (graph.nodes.empty()) return out;
  graph = cleaned_graph(std::move(graph), s);
  r.node_count = graph.nodes.size();
  for (const Chain& chain : extract_chains(graph)) {
    for (Run& run : clip_polyline(chain.points, nullptr, 0, chain.points.size() - 1, job.core)) {
      if (on_far_edge(run.points, job.core)) continue;
      TilePiece piece;
      piece.start_on_seam = run.start_cut;
      piece.end_on_seam = run.end_cut;
      piece.start_node = chain.start;
      piece.end_node = chain.end;
      piece.points = std::move(run.points);
      r.pieces.push_back(std::move(piece));
    }
  }
  return out;
}

namespace {

// --- stitching ------------------------------------------------------------------------------

// A piece of chain between two stitch nodes.
struct Link {
  std::vector<Point> points;
  std::size_t a = 0, b = 0;
  bool crosses_seam = false;
  bool alive = true;
};

// Where a stitch node came from: a tile's graph node, a matched pair of seam ends, or a seam
// end that found no partner on the other side.
struct NodeOrigin {
  static constexpr std::size_t kSeam = static_cast<std::size_t>(-1);
  std::size_t tile = kSeam;
  bool unmatched = false;
};

class Stitch {
 public:
  Stitch(std::vector<Point> positions, std::vector<NodeOrigin> origins, std::vector<Link> links)
      : pos_(std::move(positions)),
        origin_(std::move(origins)),
        links_(std::move(links)),
        ends_(pos_.size()) {
    for (std::size_t l = 0; l < links_.size(); ++l) {
      ends_[links_[l].a].push_back(l);
      ends_[links_[l].b].push_back(l);
    }
  }

  // Two links meeting at a node of degree 2 are one chain.
  void join_through_degree_two() {
    for (std::size_t v = 0; v < pos_.size(); ++v) {
      if (ends_[v].size() != 2 || ends_[v][0] == ends_[v][1]) continue;
      join_at(v);
    }
  }

  // Tip pruning at the seams. Every tip a tile sees whole was pruned or kept by the tile
  // already; what the seams add are pieces left hanging where the two tiles disagree (one
  // kept a short branch the other pruned, or a junction fell on either side of the seam).
  // Such a piece ends in an unmatched seam end, and goes when shorter than a tip may be.
  bool prune_seam_tips(double max_length) {
    if (!(max_length > 0.0)) return false;
    bool changed = false;
    for (std::size_t l = 0; l < links_.size(); ++l) {
      Link& link = links_[l];
      if (!link.alive || !link.crosses_seam) continue;
      if (!hanging_at(link.a) && !hanging_at(link.b)) continue;
      if (!(polyline_length(link.points) < max_length)) continue;
      remove(l);
      changed = true;
    }
    return changed;
  }

  // Junction merging at the seams, by the pipeline's rule (shortest first, the first
  // junction's root survives at the running midpoint), for the pairs the tiles could not see:
  // a junction near a seam that each tile placed on its own side comes back twice, as two
  // junctions of different tiles joined by a short chain across the seam. Pairs the tiles saw
  // whole they have merged or kept already.
  void merge_seam_junctions(double max_distance) {
    struct Candidate {
      double length;
      std::size_t link;
    };
    std::vector<Candidate> candidates;
    for (std::size_t l = 0; l < links_.size(); ++l) {
      const Link& link = links_[l];
      if (!link.alive || !link.crosses_seam || link.a == link.b) continue;
      if (ends_[link.a].size() < 3 || ends_[link.b].size() < 3) continue;
      const std::size_t ta = origin_[link.a].tile, tb = origin_[link.b].tile;
      if (ta == NodeOrigin::kSeam || tb == NodeOrigin::kSeam || ta == tb) continue;
      const double length = polyline_length(link.points);
      if (length <= max_distance) candidates.push_back({length, l});
    }
    if (candidates.empty()) return;
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Candidate& x, const Candidate& y) { return x.length < y.length; });
    std::vector<std::size_t> parent(pos_.size());
    for (std::size_t v = 0; v < parent.size(); ++v) parent[v] = v;
    auto root = [&parent](std::size_t v) {
      while (parent[v] != v) v = parent[v];
      return v;
    };
    std::vector<Point> merged = pos_;
    for (const Candidate& c : candidates) {
      const std::size_t ra = root(links_[c.link].a), rb = root(links_[c.link].b);
      // The connecting piece goes either way: merged, or a tiny loop at a seam that a second
      // copy of the same junction left behind.
      remove(c.link);
      if (ra == rb) continue;
      merged[ra] = {(merged[ra].x + merged[rb].x) * 0.5, (merged[ra].y + merged[rb].y) * 0.5};
      parent[rb] = ra;
    }
    for (std::size_t v = 0; v < pos_.size(); ++v) {
      const std::size_t r = root(v);
      if (r == v) continue;
      for (std::size_t l : ends_[v]) {
        if (links_[l].a == v) links_[l].a = r;
        if (links_[l].b == v) links_[l].b = r;
        ends_[r].push_back(l);
      }
      ends_[v].clear();
    }
    for (std::size_t v = 0; v < pos_.size(); ++v) {
      if (root(v) != v || !(merged[v] != pos_[v])) continue;
      pos_[v] = merged[v];
      for (std::size_t l : ends_[v]) {
        if (links_[l].a == v) links_[l].points.front() = pos_[v];
        if (links_[l].b == v) links_[l].points.back() = pos_[v];
      }
    }
  }

  CenterlineResult finished(const ChainSettings& settings) const {
    std::vector<Chain> chains;
    for (const Link& link : links_) {
      if (!link.alive) continue;
      Chain c;
      c.points = link.points;
      c.start = link.a;
      c.end = link.b;
      c.start_is_tip = ends_[link.a].size() == 1;
      c.end_is_tip = ends_[link.b].size() == 1;
      chains.push_back(std::move(c));
    }
    CenterlineResult result;
    result.chains.reserve(chains.size());
    for (const Chain& chain : chains) result.chains.push_back(finish_chain(chain, settings));
    number_chain_ends(chains, pos_.size(), result);
    return result;
  }

 private:
  bool hanging_at(std::size_t v) const { return origin_[v].unmatched && ends_[v].size() == 1; }

  void drop_end(std::size_t v, std::size_t l) {
    auto& e = ends_[v];
    const auto it = std::find(e.begin(), e.end(), l);
    if (it != e.end()) e.erase(it);
  }

  void remove(std::size_t l) {
    Link& link = links_[l];
    if (!link.alive) return;
    link.alive = false;
    drop_end(link.a, l);
    drop_end(link.b, l);
  }

  void join_at(std::size_t v) {
    const std::size_t l1 = ends_[v][0], l2 = ends_[v][1];
    Link& first = links_[l1];
    Link& second = links_[l2];
    // first runs into v, second runs out of it.
    if (first.a == v) {
      std::reverse(first.points.begin(), first.points.end());
      std::swap(first.a, first.b);
    }
    if (second.b == v) {
      std::reverse(second.points.begin(), second.points.end());
      std::swap(second.a, second.b);
    }
    first.points.insert(first.points.end(), second.points.begin() + 1, second.points.end());
    first.b = second.b;
    first.crosses_seam = first.crosses_seam || second.crosses_seam;
    second.alive = false;
    ends_[v].clear();
    auto& far = ends_[first.b];
    std::replace(far.begin(), far.end(), l2, l1);
    second.points = {};
  }

  std::vector<Point> pos_;
  std::vector<NodeOrigin> origin_;
  std::vector<Link> links_;
  std::vector<std::vector<std::size_t>> ends_;
};

// Where a chain crosses a seam, both tiles end a piece there, at nearly the same point: the
// two ends are matched, each with the nearest end of another tile within `snap`, when each is
// the other's nearest (so a chain running along a seam and crossing it again and again is
// matched crossing by crossing, never merged into one knot). A matched pair becomes one node at
// its midpoint; an unmatched end a node of its own, a tip that pruning may remove. A grid of
// snap-sized cells finds the candidates without comparing every end on a long seam with every
// other.
std::vector<std::size_t> match_seam_ends(const std::vector<Point>& ends,
                                         const std::vector<std::size_t>& tile_of, double snap,
                                         std::vector<Point>& node_positions,
                                         std::vector<bool>& node_unmatched) {
  const std::size_t n = ends.size();
  const double cell = snap > 0.0 ? snap : 1.0;
  struct Keyed {
    std::int64_t cx, cy;
    std::size_t index;
  };
  auto key_of = [cell](double v) {
    const double k = std::floor(v / cell);
    constexpr double lim = 4.0e18;
    return static_cast<std::int64_t>(std::clamp(k, -lim, lim));
  };
  std::vector<Keyed> keyed(n);
  for (std::size_t i = 0; i < n; ++i) keyed[i] = {key_of(ends[i].x), key_of(ends[i].y), i};
  auto less = [](const Keyed& a, const Keyed& b) {
    return a.cx < b.cx || (a.cx == b.cx && (a.cy < b.cy || (a.cy == b.cy && a.index < b.index)));
  };
  std::sort(keyed.begin(), keyed.end(), less);
  // Nearest end of another tile within snap; ties go to the smaller index.
  std::vector<std::size_t> nearest(n, n);
  const double snap2 = snap * snap;
  for (std::size_t i = 0; i < n; ++i) {
    const std::int64_t cx = key_of(ends[i].x), cy = key_of(ends[i].y);
    double best = snap2;
    for (std::int64_t dx = -1; dx <= 1; ++dx) {
      for (std::int64_t dy = -1; dy <= 1; ++dy) {
        const Keyed probe{cx + dx, cy + dy, 0};
        for (auto it = std::lower_bound(keyed.begin(), keyed.end(), probe, less);
             it != keyed.end() && it->cx == probe.cx && it->cy == probe.cy; ++it) {
          const std::size_t j = it->index;
          if (tile_of[j] == tile_of[i]) continue;
          const double d2 = squared_distance(ends[i], ends[j]);
          if (d2 < best || (d2 == best && nearest[i] != n && j < nearest[i]) ||
              (d2 == best && nearest[i] == n)) {
            best = d2;
            nearest[i] = j;
          }
        }
      }
    }
  }
  std::vector<std::size_t> node(n, n);
  for (std::size_t i = 0; i < n; ++i) {
    if (node[i] != n) continue;
    node[i] = node_positions.size();
    const std::size_t j = nearest[i];
    if (j != n && nearest[j] == i) {
      node[j] = node[i];
      node_positions.push_back({(ends[i].x + ends[j].x) * 0.5, (ends[i].y + ends[j].y) * 0.5});
      node_unmatched.push_back(false);
    } else {
      node_positions.push_back(ends[i]);
      node_unmatched.push_back(true);
    }
  }
  return node;
}

}  // namespace

CenterlineResult stitch_tiles(const std::vector<TileResult>& tiles, const Settings& settings,
                              bool compute_widths) {
  // Node ids: every tile's graph nodes one tile after another, then the seam clusters.
  std::vector<std::uint64_t> offset(tiles.size() + 1, 0);
  for (std::size_t t = 0; t < tiles.size(); ++t) offset[t + 1] = offset[t] + tiles[t].node_count;
  std::vector<Point> seam_ends;
  std::vector<std::size_t> tile_of;
  for (std::size_t t = 0; t < tiles.size(); ++t) {
    for (const TilePiece& p : tiles[t].pieces) {
      if (p.start_on_seam) {
        seam_ends.push_back(p.points.front());
        tile_of.push_back(t);
      }
      if (p.end_on_seam) {
        seam_ends.push_back(p.points.back());
        tile_of.push_back(t);
      }
    }
  }
  std::vector<Point> clusters;
  std::vector<bool> cluster_unmatched;
  const std::vector<std::size_t> cluster_of =
      match_seam_ends(seam_ends, tile_of, settings.tiling.seam_snap, clusters, cluster_unmatched);

  // Only the ids that end a piece become stitch nodes, numbered in ascending order.
  const std::uint64_t seam_base = offset.back();
  std::vector<std::uint64_t> used;
  std::vector<std::uint64_t> piece_ends;
  {
    std::size_t s = 0;
    for (std::size_t t = 0; t < tiles.size(); ++t) {
      for (const TilePiece& p : tiles[t].pieces) {
        piece_ends.push_back(p.start_on_seam ? seam_base + cluster_of[s++] : offset[t] + p.start_node);
        piece_ends.push_back(p.end_on_seam ? seam_base + cluster_of[s++] : offset[t] + p.end_node);
      }
    }
  }
  used = piece_ends;
  std::sort(used.begin(), used.end());
  used.erase(std::unique(used.begin(), used.end()), used.end());
  auto compact = [&used](std::uint64_t id) {
    return static_cast<std::size_t>(std::lower_bound(used.begin(), used.end(), id) - used.begin());
  };
  std::vector<Point> positions(used.size());
  std::vector<NodeOrigin> origins(used.size());
  for (std::size_t v = 0; v < used.size(); ++v) {
    if (used[v] >= seam_base) {
      origins[v].unmatched = cluster_unmatched[used[v] - seam_base];
    } else {
      origins[v].tile = static_cast<std::size_t>(
          std::upper_bound(offset.begin(), offset.end(), used[v]) - offset.begin() - 1);
    }
  }
  std::vector<Link> links;
  std::size_t e = 0;
  for (std::size_t t = 0; t < tiles.size(); ++t) {
    for (const TilePiece& p : tiles[t].pieces) {
      Link link;
      link.a = compact(piece_ends[e++]);
      link.b = compact(piece_ends[e++]);
      link.points = p.points;
      link.crosses_seam = p.start_on_seam || p.end_on_seam;
      if (p.start_on_seam) link.points.front() = clusters[piece_ends[e - 2] - seam_base];
      if (p.end_on_seam) link.points.back() = clusters[piece_ends[e - 1] - seam_base];
      positions[link.a] = link.points.front();
      positions[link.b] = link.points.back();
      links.push_back(std::move(link));
    }
  }

  Stitch stitch(std::move(positions), std::move(origins), std::move(links));
  stitch.join_through_degree_two();
  while (stitch.prune_seam_tips(settings.tip_length)) stitch.join_through_degree_two();
  if (settings.junction_merge_fraction > 0.0) {
    stitch.merge_seam_junctions(settings.junction_merge_distance);
    stitch.join_through_degree_two();
  }
  CenterlineResult result = stitch.finished(settings.chains);
  if (compute_widths) {
    std::vector<Point> boundary;
    for (const TileResult& tile : tiles) boundary.insert(boundary.end(), tile.boundary.begin(), tile.boundary.end());
    measure_widths(boundary, result);
  }
  return result;
}

namespace {

// The tiles of a plan, then the stitch; keep_going is asked between the tiles this thread runs.
Outcome<CenterlineResult> run_tiles(const TilePlan& plan, const Settings& settings,
                                    std::optional<std::uint64_t> max_nodes, bool compute_widths,
                                    const KeepGoing& keep_going) {
  using Result = Outcome<CenterlineResult>;
  const std::vector<TileJob>& jobs = plan.tiles;
  std::vector<Outcome<TileResult>> tiles(jobs.size());
  if (!for_each_index(jobs.size(), settings.threads,
                      [&](std::size_t i) { tiles[i] = run_tile(jobs[i], settings); }, keep_going))
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

}  // namespace

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

}  // namespace strandify

#include "seam_stitch.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>

#include "chain_finish.hpp"
#include "geometry.hpp"
#include "stages.hpp"

namespace strandify {
namespace {

// The chain pieces of all tiles as one graph of links between stitch nodes.
class Stitch {
 public:
  Stitch(std::vector<Point> positions, std::vector<StitchNodeOrigin> origins,
         std::vector<StitchLink> links)
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
      StitchLink& link = links_[l];
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
      const StitchLink& link = links_[l];
      if (!link.alive || !link.crosses_seam || link.a == link.b) continue;
      if (ends_[link.a].size() < 3 || ends_[link.b].size() < 3) continue;
      const std::size_t ta = origin_[link.a].tile, tb = origin_[link.b].tile;
      if (ta == StitchNodeOrigin::kSeam || tb == StitchNodeOrigin::kSeam || ta == tb) continue;
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
      merged[ra] = midpoint(merged[ra], merged[rb]);
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
    for (const StitchLink& link : links_) {
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
    StitchLink& link = links_[l];
    if (!link.alive) return;
    link.alive = false;
    drop_end(link.a, l);
    drop_end(link.b, l);
  }

  void join_at(std::size_t v) {
    const std::size_t l1 = ends_[v][0], l2 = ends_[v][1];
    StitchLink& first = links_[l1];
    StitchLink& second = links_[l2];
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
  std::vector<StitchNodeOrigin> origin_;
  std::vector<StitchLink> links_;
  std::vector<std::vector<std::size_t>> ends_;
};

}  // namespace

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
      node_positions.push_back(midpoint(ends[i], ends[j]));
      node_unmatched.push_back(false);
    } else {
      node_positions.push_back(ends[i]);
      node_unmatched.push_back(true);
    }
  }
  return node;
}

CenterlineResult stitched_chains(std::vector<Point> positions,
                                 std::vector<StitchNodeOrigin> origins,
                                 std::vector<StitchLink> links, const Settings& settings) {
  Stitch stitch(std::move(positions), std::move(origins), std::move(links));
  stitch.join_through_degree_two();
  while (stitch.prune_seam_tips(settings.tip_length)) stitch.join_through_degree_two();
  if (settings.junction_merge_fraction > 0.0) {
    stitch.merge_seam_junctions(settings.junction_merge_distance);
    stitch.join_through_degree_two();
  }
  return stitch.finished(settings.chains);
}

}  // namespace strandify

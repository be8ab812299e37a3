// Stitching the chain pieces of separately run tiles into one drawing's chains: matching the
// ends that meet on a seam, joining pieces into chains, and the tip pruning and junction
// merging that only the seams need (elsewhere the tiles have done it).
#pragma once

#include <cstddef>
#include <vector>

#include "settings.hpp"
#include "types.hpp"

namespace strandify {

// A piece of chain between two stitch nodes.
struct StitchLink {
  std::vector<Point> points;
  std::size_t a = 0, b = 0;
  bool crosses_seam = false;
  bool alive = true;
};

// Where a stitch node came from: a tile's graph node, a matched pair of seam ends, or a seam
// end that found no partner on the other side.
struct StitchNodeOrigin {
  static constexpr std::size_t kSeam = static_cast<std::size_t>(-1);
  std::size_t tile = kSeam;
  bool unmatched = false;
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
                                         std::vector<bool>& node_unmatched);

// The links joined through nodes of degree 2 into chains, with seam tips shorter than
// settings.tip_length pruned and seam junctions within settings.junction_merge_distance merged
// (when the fraction is above 0), every chain finished and its end nodes numbered.
CenterlineResult stitched_chains(std::vector<Point> positions,
                                 std::vector<StitchNodeOrigin> origins,
                                 std::vector<StitchLink> links, const Settings& settings);

}  // namespace strandify

// The stitch: every tile's pieces as links between stitch nodes (the tiles' own graph nodes,
// and the seam ends matched across seams), joined into the drawing's chains.
#include "drivers/tiles.hpp"

#include <algorithm>
#include <utility>

#include "seam_stitch.hpp"

namespace strandify {

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
  std::vector<StitchNodeOrigin> origins(used.size());
  for (std::size_t v = 0; v < used.size(); ++v) {
    if (used[v] >= seam_base) {
      origins[v].unmatched = cluster_unmatched[used[v] - seam_base];
    } else {
      origins[v].tile = static_cast<std::size_t>(
          std::upper_bound(offset.begin(), offset.end(), used[v]) - offset.begin() - 1);
    }
  }
  std::vector<StitchLink> links;
  std::size_t e = 0;
  for (std::size_t t = 0; t < tiles.size(); ++t) {
    for (const TilePiece& p : tiles[t].pieces) {
      StitchLink link;
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

  CenterlineResult result =
      stitched_chains(std::move(positions), std::move(origins), std::move(links), settings);
  if (compute_widths) {
    std::vector<Point> boundary;
    for (const TileResult& tile : tiles) boundary.insert(boundary.end(), tile.boundary.begin(), tile.boundary.end());
    measure_widths(boundary, result);
  }
  return result;
}

}  // namespace strandify

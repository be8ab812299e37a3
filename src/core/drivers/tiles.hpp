// Tiling: one drawing of any size as square tiles that run on their own, then stitched.
//
// A connected mass of strokes is one union and one skeleton however large it grows, and the
// union's sweep costs more per point the wider the drawing is. Cut into tiles, each tile costs
// the same per point whatever the drawing's size, tiles can run side by side (or on other
// machines: planning, the tile job and stitching are separate functions), and the stitch is
// linear in the chain pieces.
//
// Every tile sees the prepared curves (merged and decimated once, for the whole drawing) within
// its core grown by a halo; it keeps the pieces of its cleaned skeleton chains that lie in its
// core. The stitch joins the pieces where they meet on the seams between cores, applies tip
// pruning and junction merging to the chains that cross a seam (elsewhere the tiles have done
// it), and finishes every chain once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "settings.hpp"
#include "stages.hpp"
#include "types.hpp"

namespace strandify {

struct TileJob {
  Box core;  // owned: [min_x, max_x) x [min_y, max_y)
  Box halo;  // seen
  std::vector<Curve> curves;
  std::optional<WidthLists> widths;
};

struct TilePlan {
  std::vector<TileJob> tiles;
  double tile_size = 0.0;
};

// Cuts the prepared curves into tiles. Fails when the tile size is not a positive finite
// number, or so small against the drawing that the pieces would outnumber its points many
// times over.
Outcome<TilePlan> plan_tiles(const PreparedCurves& prepared, const Settings& settings);

// A chain piece of one tile. An end is either a node of the tile's skeleton graph or a seam
// end, where the chain leaves the tile's core.
struct TilePiece {
  std::vector<Point> points;
  std::uint64_t start_node = 0, end_node = 0;  // tile-local ids; meaningless at a seam end
  bool start_on_seam = false, end_on_seam = false;
};

struct TileResult {
  std::vector<TilePiece> pieces;
  std::uint64_t node_count = 0;        // of the tile's skeleton graph
  std::uint64_t skeleton_nodes = 0;    // before cleaning, for the max_nodes check
  std::vector<Point> boundary;         // the tile's boundary vertices inside its core
};

// Buffers, triangulates and skeletonises one tile's curves, cleans the graph and cuts its
// chains to the core. Chains are not smoothed or simplified: the stitch does that once.
Outcome<TileResult> run_tile(const TileJob& job, const Settings& settings);

// Joins the tiles' pieces into the drawing's chains (see the file comment).
CenterlineResult stitch_tiles(const std::vector<TileResult>& tiles, const Settings& settings,
                              bool compute_widths);

}  // namespace strandify

// Constrained Delaunay triangulation of one polygon and the medial skeleton read off it.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "types.hpp"

namespace strandify {

// One polygon prepared for and run through the triangulator: the perturbed point list (rings
// one after another), each point's ring and position in it, and the index triangles.
struct PolygonMesh {
  std::vector<Point> points;
  std::vector<std::uint32_t> ring_of;
  std::vector<std::uint32_t> position_in_ring;
  std::vector<std::uint32_t> ring_sizes;
  std::vector<std::array<std::uint32_t, 3>> triangles;
  // Per triangle, which of its edges (bit 0: v0-v1, bit 1: v1-v2, bit 2: v0-v2) it shares with
  // another triangle of the mesh, read off the triangulator's neighbours.
  std::vector<std::uint8_t> shared_edges;
  bool triangulated = false;  // false when there was nothing to triangulate or it failed
};

// How the triangles outside the outer ring and inside the holes are dropped: by our own depth
// fill (the default), or by the triangulator's own removal, which selects the very same
// triangles more slowly and is kept to check that claim.
enum class OuterRemoval { depth_fill, library };

// Rings of fewer than 3 points are left out; every point is perturbed by a fixed formula of its
// index so that exactly cocircular and collinear configurations are broken the same way on every
// run. A triangulator failure leaves `triangulated` false and no triangles.
PolygonMesh triangulate_polygon(const Ring& outer, const std::vector<Ring>& holes,
                                OuterRemoval removal = OuterRemoval::depth_fill);

std::vector<Triangle> mesh_triangles(const PolygonMesh& mesh);
std::vector<Segment> mesh_skeleton(const PolygonMesh& mesh);

std::vector<Triangle> get_triangles(const Ring& outer, const std::vector<Ring>& holes);
std::vector<Segment> skeletonize(const Ring& outer, const std::vector<Ring>& holes);

}  // namespace strandify

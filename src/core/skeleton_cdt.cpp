#include "skeleton_cdt.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

#include "CDT.h"
#include "geometry.hpp"

namespace strandify {
namespace {

// Index triangles are 32-bit; the triangulator also reserves three super-triangle vertices.
constexpr std::size_t kMaxMeshPoints = std::numeric_limits<std::uint32_t>::max() - 8;

// The perturbation of the k-th mesh point, 1e-9 x (sin 1.1k, cos 1.3k). Every mesh takes the
// same first offsets, so those are computed once per process and read from a table: a sine and
// a cosine per point cost more than the rest of the point's preparation. Past the table they are
// computed as the table computes them, so the offsets are the same numbers either way.
Point perturbation_at(std::size_t k) {
  const double kd = static_cast<double>(k);
  return {1e-9 * std::sin(1.1 * kd), 1e-9 * std::cos(1.3 * kd)};
}

constexpr std::size_t kTabulatedPerturbations = 4096;

const std::vector<Point>& tabulated_perturbations() {
  static const std::vector<Point> table = [] {
    std::vector<Point> t(kTabulatedPerturbations);
    for (std::size_t k = 0; k < t.size(); ++k) t[k] = perturbation_at(k);
    return t;
  }();
  return table;
}

void perturb(std::vector<Point>& points) {
  const std::vector<Point>& table = tabulated_perturbations();
  for (std::size_t k = 0; k < points.size(); ++k) {
    const Point d = k < table.size() ? table[k] : perturbation_at(k);
    points[k].x = points[k].x + d.x;
    points[k].y = points[k].y + d.y;
  }
}

void append_ring(PolygonMesh& mesh, const Ring& ring) {
  if (ring.size() < 3) return;
  const auto ring_index = static_cast<std::uint32_t>(mesh.ring_sizes.size());
  for (std::size_t j = 0; j < ring.size(); ++j) {
    mesh.points.push_back(ring[j]);
    mesh.ring_of.push_back(ring_index);
    mesh.position_in_ring.push_back(static_cast<std::uint32_t>(j));
  }
  mesh.ring_sizes.push_back(static_cast<std::uint32_t>(ring.size()));
}

// Closed contours become constraint edges (k, k+1) with the last point joined to the first.
std::vector<CDT::Edge> contour_edges(const PolygonMesh& mesh) {
  std::vector<CDT::Edge> edges;
  edges.reserve(mesh.points.size());
  std::uint32_t start = 0;
  for (std::uint32_t size : mesh.ring_sizes) {
    for (std::uint32_t j = 0; j < size; ++j) {
      const std::uint32_t a = start + j;
      const std::uint32_t b = start + (j + 1 == size ? 0 : j + 1);
      edges.emplace_back(a, b);
    }
    start += size;
  }
  return edges;
}

// The vertex after each one on its ring, in local indices: every ring edge joins a vertex and
// the one after it. Looked up for every edge of every triangle, twice, so it is one array.
std::vector<std::uint32_t> ring_successors(const PolygonMesh& mesh) {
  std::vector<std::uint32_t> after(mesh.points.size());
  std::uint32_t start = 0;
  for (std::uint32_t size : mesh.ring_sizes) {
    for (std::uint32_t j = 0; j + 1 < size; ++j) after[start + j] = start + j + 1;
    after[start + size - 1] = start;  // rings hold at least 3 points
    start += size;
  }
  return after;
}

// Where the ring edge joining local vertices a and b sits among the ring edges, each counted by
// the vertex it leaves in ring order; absent when a and b are not neighbours on one ring.
std::optional<std::uint32_t> ring_edge_slot(const std::vector<std::uint32_t>& after,
                                            std::uint32_t a, std::uint32_t b) {
  if (after[a] == b) return a;
  if (after[b] == a) return b;
  return std::nullopt;
}

using Triangulator = CDT::Triangulation<double>;
constexpr CDT::VertInd kSuperVertices = 3;  // the triangulator's super-triangle comes first

// The triangles of the polygon, read off a triangulation that still has its super-triangle:
// those of odd depth, where depth is the fewest constraint edges crossed from outside the outer
// ring. This is the selection the triangulator's own outer-and-hole removal makes (its layered
// peel computes the same shortest crossing counts), done as one 0-1 breadth-first fill over flat
// arrays instead of hashed sets, and kept in triangle index order as that removal keeps it.
// The edge bits of `shared_edges` for a triangle whose neighbours opposite v2, v0 and v1 (those
// across v0-v1, v1-v2 and v0-v2) are kept in the mesh or not.
std::uint8_t shared_bits(bool across01, bool across12, bool across02) {
  return static_cast<std::uint8_t>((across01 ? 1 : 0) | (across12 ? 2 : 0) | (across02 ? 4 : 0));
}

template <class Kept>
std::uint8_t shared_bits_of(const CDT::Triangle& t, Kept&& kept) {
  auto kept_across = [&](CDT::Index opposite) {
    const CDT::TriInd n = t.neighbors[CDT::opoNbr(opposite)];
    return n != CDT::noNeighbor && kept(n);
  };
  return shared_bits(kept_across(2), kept_across(0), kept_across(1));
}

// Only valid when every constraint edge is a ring edge, inserted once and never split, or when
// none was inserted because every ring edge was an edge already. `after` is ring_successors.
bool odd_depth_triangles(const Triangulator& cdt, const std::vector<std::uint32_t>& after,
                         PolygonMesh& mesh) {
  const auto n = static_cast<std::uint32_t>(mesh.points.size());
  const std::vector<CDT::Triangle>& triangles = cdt.triangles;
  auto ring_edge = [&](CDT::VertInd a, CDT::VertInd b) {
    return a >= kSuperVertices && b >= kSuperVertices &&
           ring_edge_slot(after, a - kSuperVertices, b - kSuperVertices).has_value();
  };
  constexpr CDT::LayerDepth kUnreached = std::numeric_limits<CDT::LayerDepth>::max();
  std::vector<CDT::LayerDepth> depth(triangles.size(), kUnreached);
  // A 0-1 fill by layers: `layer` holds the triangles of the current depth still to spread
  // (over edges that cross nothing), `deeper` those one constraint further. A triangle that a
  // shorter path reaches after it was queued for the next layer is spread at its own depth and
  // skipped there. The depths are the shortest crossing counts, whatever the order of visits.
  std::vector<CDT::TriInd> layer, deeper;
  layer.reserve(triangles.size());
  deeper.reserve(triangles.size());
  const CDT::TriInd seed = cdt.VertTrisInternal()[0];
  depth[seed] = 0;
  layer.push_back(seed);
  for (CDT::LayerDepth level = 0; !layer.empty(); ++level) {
    while (!layer.empty()) {
      const CDT::TriInd t = layer.back();
      layer.pop_back();
      const CDT::Triangle& tri = triangles[t];
      for (CDT::Index i = 0; i < 3; ++i) {
        const CDT::TriInd next = tri.neighbors[CDT::opoNbr(i)];
        // Already as shallow as this triangle: no edge can make it shallower, crossing or not
        // (most edges are met a second time from their other side so).
        if (next == CDT::noNeighbor || depth[next] <= level) continue;
        const bool crossing = ring_edge(tri.vertices[CDT::ccw(i)], tri.vertices[CDT::cw(i)]);
        const CDT::LayerDepth d = static_cast<CDT::LayerDepth>(level + (crossing ? 1 : 0));
        if (!(d < depth[next])) continue;
        depth[next] = d;
        (crossing ? deeper : layer).push_back(next);
      }
    }
    for (CDT::TriInd t : deeper)
      if (depth[t] == level + 1) layer.push_back(t);
    deeper.clear();
  }
  std::size_t kept = 0;
  for (CDT::LayerDepth d : depth) kept += d % 2;
  mesh.triangles.reserve(kept);
  mesh.shared_edges.reserve(kept);
  const auto odd = [&depth](CDT::TriInd t) { return depth[t] % 2 == 1; };
  for (std::size_t t = 0; t < triangles.size(); ++t) {
    if (depth[t] % 2 == 0) continue;
    const auto& v = triangles[t].vertices;
    if (v[0] < kSuperVertices || v[1] < kSuperVertices || v[2] < kSuperVertices) return false;
    const std::array<std::uint32_t, 3> local{v[0] - kSuperVertices, v[1] - kSuperVertices,
                                             v[2] - kSuperVertices};
    if (local[0] >= n || local[1] >= n || local[2] >= n) return false;
    mesh.triangles.push_back(local);
    mesh.shared_edges.push_back(shared_bits_of(triangles[t], odd));
  }
  return true;
}

bool library_removal(Triangulator& cdt, PolygonMesh& mesh) {
  cdt.eraseOuterTrianglesAndHoles();
  const auto n = static_cast<std::uint32_t>(mesh.points.size());
  if (cdt.vertices.size() != n) return false;
  mesh.triangles.reserve(cdt.triangles.size());
  mesh.shared_edges.reserve(cdt.triangles.size());
  const auto every = [](CDT::TriInd) { return true; };  // the removal kept only the mesh
  for (const CDT::Triangle& t : cdt.triangles) {
    const auto& v = t.vertices;
    if (v[0] >= n || v[1] >= n || v[2] >= n) return false;
    mesh.triangles.push_back({v[0], v[1], v[2]});
    mesh.shared_edges.push_back(shared_bits_of(t, every));
  }
  return true;
}

// Whether the triangulation of the bare points already has every ring edge, with no vertex
// across any of them exactly on its line. Then inserting the rings as constraints changes no
// triangle: the triangulator finds each edge present, finds nothing to split it at, and only
// records it as fixed. One pass over the triangles tells, where inserting the edges looks each
// one up around its vertex and files it in a hashed set; boundaries densified well below the
// shape's width mostly pass, sharp and thin parts fall back to the insertion.
bool rings_already_delaunay(const Triangulator& cdt, const std::vector<std::uint32_t>& after) {
  const std::size_t n = after.size();
  std::vector<unsigned char> present(n, 0);
  std::size_t found = 0;
  for (const CDT::Triangle& t : cdt.triangles) {
    for (CDT::Index i = 0; i < 3; ++i) {
      const CDT::VertInd a = t.vertices[i], b = t.vertices[CDT::ccw(i)];
      if (a < kSuperVertices || b < kSuperVertices) continue;
      const auto slot = ring_edge_slot(after, a - kSuperVertices, b - kSuperVertices);
      if (!slot) continue;
      // The triangulator's own test for a vertex to split the edge at, with its tolerance of 0.
      const CDT::VertInd lo = std::min(a, b), hi = std::max(a, b);
      if (CDT::locatePointLine(cdt.vertices[t.vertices[CDT::cw(i)]], cdt.vertices[lo],
                               cdt.vertices[hi], 0.0) == CDT::PtLineLocation::OnLine)
        return false;
      found += present[*slot] == 0;
      present[*slot] = 1;
    }
  }
  return found == n;
}

bool run_triangulator(PolygonMesh& mesh, OuterRemoval removal) {
  try {
    // Intersecting constraints are refused rather than resolved: resolving would add points,
    // and the triangles must stay an exact function of the given rings.
    Triangulator cdt(CDT::VertexInsertionOrder::Auto, CDT::IntersectingConstraintEdges::NotAllowed,
                     0.0);
    cdt.insertVertices(
        mesh.points.begin(), mesh.points.end(), [](const Point& p) { return p.x; },
        [](const Point& p) { return p.y; });
    const std::vector<std::uint32_t> after =
        removal == OuterRemoval::depth_fill ? ring_successors(mesh) : std::vector<std::uint32_t>{};
    if (removal == OuterRemoval::depth_fill && rings_already_delaunay(cdt, after))
      return odd_depth_triangles(cdt, after, mesh);
    // One edge per point: the set of fixed edges is sized once instead of rehashed as it grows
    // (it is only looked up and, on removal by the library, copied; never read in its order).
    cdt.fixedEdges.reserve(mesh.points.size());
    cdt.insertEdges(contour_edges(mesh));
    const auto n = static_cast<std::uint32_t>(mesh.points.size());
    if (cdt.vertices.size() != n + kSuperVertices) return false;  // points were added
    const bool plain_rings = cdt.pieceToOriginals.empty() && cdt.overlapCount.empty() &&
                             cdt.fixedEdges.size() == mesh.points.size();
    if (removal == OuterRemoval::depth_fill && plain_rings) return odd_depth_triangles(cdt, after, mesh);
    return library_removal(cdt, mesh);
  } catch (const CDT::Error&) {
    // Duplicate points or crossing rings: the polygon has no triangulation. Running out of
    // memory is not such a case and reaches the caller.
    return false;
  }
}

// Not hugging its own ring: a chord of one ring that spans fewer than three ring steps only
// cuts off a boundary corner.
bool spans_the_shape(const PolygonMesh& mesh, std::uint32_t a, std::uint32_t b) {
  const std::uint32_t ra = mesh.ring_of[a];
  if (ra != mesh.ring_of[b]) return true;
  const std::uint32_t pa = mesh.position_in_ring[a];
  const std::uint32_t pb = mesh.position_in_ring[b];
  const std::uint32_t d = pa > pb ? pa - pb : pb - pa;
  const std::uint32_t steps = std::min(d, mesh.ring_sizes[ra] - d);
  return steps >= 3;
}

}  // namespace

PolygonMesh triangulate_polygon(const Ring& outer, const std::vector<Ring>& holes,
                                OuterRemoval removal) {
  PolygonMesh mesh;
  std::size_t total = outer.size();
  for (const Ring& h : holes) total += h.size();
  if (total > kMaxMeshPoints) return mesh;
  mesh.points.reserve(total);
  mesh.ring_of.reserve(total);
  mesh.position_in_ring.reserve(total);
  append_ring(mesh, outer);
  for (const Ring& hole : holes) append_ring(mesh, hole);
  if (mesh.points.size() < 3 || mesh.ring_sizes.empty()) return mesh;
  perturb(mesh.points);
  mesh.triangulated = run_triangulator(mesh, removal);
  if (!mesh.triangulated) {
    mesh.triangles.clear();
    mesh.shared_edges.clear();
  }
  return mesh;
}

std::vector<Triangle> mesh_triangles(const PolygonMesh& mesh) {
  std::vector<Triangle> out;
  out.reserve(mesh.triangles.size());
  for (const auto& t : mesh.triangles)
    out.push_back({mesh.points[t[0]], mesh.points[t[1]], mesh.points[t[2]]});
  return out;
}

std::vector<Segment> mesh_skeleton(const PolygonMesh& mesh) {
  std::vector<Segment> segments;
  if (mesh.triangles.empty()) return segments;
  const std::vector<Point>& p = mesh.points;
  // A triangle gives at most one segment, or three when all its edges are shared: room for that
  // many at once, instead of growing (and copying) the list as junction triangles come.
  std::size_t junction_triangles = 0;
  for (const std::uint8_t shared : mesh.shared_edges) junction_triangles += shared == 7;
  segments.reserve(mesh.triangles.size() + 2 * junction_triangles);
  for (std::size_t k = 0; k < mesh.triangles.size(); ++k) {
    const auto& t = mesh.triangles[k];
    const std::uint8_t shared = mesh.shared_edges[k];
    const std::array<std::array<std::uint32_t, 2>, 3> edges{{{t[0], t[1]}, {t[1], t[2]}, {t[0], t[2]}}};
    std::array<int, 3> inner{};
    int count = 0;
    // Interior: shared by two triangles of the mesh, and spanning the shape.
    for (int e = 0; e < 3; ++e)
      if ((shared >> e & 1) && spans_the_shape(mesh, edges[e][0], edges[e][1])) inner[count++] = e;
    if (count == 2) {
      segments.push_back({midpoint(p[edges[inner[0]][0]], p[edges[inner[0]][1]]),
                          midpoint(p[edges[inner[1]][0]], p[edges[inner[1]][1]])});
    } else if (count == 3) {
      const Point g{(p[t[2]].x + (p[t[1]].x + p[t[0]].x)) / 3.0,
                    (p[t[2]].y + (p[t[1]].y + p[t[0]].y)) / 3.0};
      for (const auto& e : edges) segments.push_back({midpoint(p[e[0]], p[e[1]]), g});
    }
  }
  return segments;
}

std::vector<Triangle> get_triangles(const Ring& outer, const std::vector<Ring>& holes) {
  return mesh_triangles(triangulate_polygon(outer, holes));
}

std::vector<Segment> skeletonize(const Ring& outer, const std::vector<Ring>& holes) {
  return mesh_skeleton(triangulate_polygon(outer, holes));
}

}  // namespace strandify

// Optional finishing of the cleaned skeleton graph into the centerlines a person would draw:
// tips that end where the stroke ends, corners instead of corner spurs, dots that survive
// pruning, one node per crossing. Every step is a pure function from a Graph to a new Graph and
// takes its thresholds from RefineSettings; none runs unless asked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "settings.hpp"
#include "types.hpp"

namespace strandify {

// The boundary edges of all polygons in a uniform grid: the steps cast short rays against it
// and measure radii. Each edge remembers its polygon (the order polygons were added in).
class BoundaryEdges {
 public:
  explicit BoundaryEdges(double cell);
  void add_polygon(const Polygon& polygon);
  void build();  // after the last add_polygon, before any query

  // Smallest t in (0, max_t] at which origin + t * dir crosses an edge; -1 when none does.
  double first_hit(Point origin, Point dir, double max_t) const;
  // Distance from p to the nearest edge, or `limit` when none is nearer.
  double distance_within(Point p, double limit) const;
  // The polygon whose boundary a ray from p toward +x meets first, which is the polygon that
  // contains p; -1 when the ray meets nothing.
  std::int64_t polygon_of(Point p) const;

  std::size_t polygon_count() const { return centres_.size(); }
  Point centre(std::size_t polygon) const { return centres_[polygon]; }

 private:
  struct Side {
    Point a;
    Point b;
    std::uint32_t polygon;
  };
  struct Entry {
    std::uint64_t cell;
    std::uint32_t side;
  };

  std::int64_t column(double x) const;
  std::int64_t row(double y) const;
  // Entries of one cell, as a range into entries_.
  std::pair<std::size_t, std::size_t> cell_entries(std::int64_t cx, std::int64_t cy) const;

  double cell_;
  std::vector<Side> sides_;
  std::vector<Point> centres_;
  std::vector<Entry> entries_;  // sorted by cell, then side
  double min_x_ = 0.0, min_y_ = 0.0, max_x_ = 0.0;
  std::int64_t nx_ = 0, ny_ = 0;
};

// Per node, how much longer than the buffer radius the skeleton's radius is at a junction (0 for
// other nodes and where it is not larger): the part of a branch that lies inside the junction's
// own disc.
std::vector<double> junction_allowances(const Graph& graph, const BoundaryEdges& boundary,
                                        const RefineSettings& settings);

// Gives every polygon that has no edge left in `pruned` its dot back: one straight chain along
// the principal axis of its largest vanished component when that is elongated enough, or else a
// dot position (the polygon's centre) appended to `dots`. `skeleton` is the graph before
// pruning, with the same node ids; `has_segments` says which polygons gave any skeleton segment.
Graph keep_dots(const Graph& skeleton, Graph pruned, const BoundaryEdges& boundary,
                const std::vector<unsigned char>& has_segments, const RefineSettings& settings,
                std::vector<Point>& dots);

// A degree-3 junction with one short spur along the bisector of its two legs becomes the
// intersection of the legs' lines, when that lies inside `boundary`; the spur goes. The new
// corner positions are appended to `corners` when it is given.
Graph recover_corners(const Graph& graph, const BoundaryEdges& boundary,
                      const RefineSettings& settings, std::vector<Point>* corners = nullptr);

// Two degree-3 junctions joined by one short chain whose outer branches continue each other in
// two lines become one 4-way node where the lines cross.
Graph join_crossings(const Graph& graph, const RefineSettings& settings);

// A tip whose last stretch is straight ends tip_inset short of where its line leaves the buffer;
// the stretch after tip_cut is replaced by that straight end.
Graph finish_tips(const Graph& graph, const BoundaryEdges& boundary,
                  const RefineSettings& settings);

struct RefinedGraph {
  Graph graph;
  std::vector<Point> dots;     // point chains, one per dot too small to be a chain
  std::vector<Point> corners;  // recovered corners, sorted (x, then y)
};

// Tip pruning (radius-compensated when asked), dots, junction merging, corners, crossings and
// tips, in that order, each as the settings switch it on.
RefinedGraph refine_graph(const Graph& skeleton, const BoundaryEdges& boundary,
                          const std::vector<unsigned char>& has_segments,
                          const Settings& settings);

// Chain finishing that keeps recovered corners sharp: the chain is finished piece by piece
// between the interior points that lie exactly on a corner (`corners` sorted as in
// RefinedGraph), so smoothing never rounds a corner off.
std::vector<Point> finish_chain_keeping_corners(const Chain& chain, const ChainSettings& settings,
                                                const std::vector<Point>& corners);

// Appends a two-point chain (both points at the dot) per dot, each at a new isolated node.
void append_dot_chains(const std::vector<Point>& dots, Graph& graph, std::vector<Chain>& chains);

}  // namespace strandify

// Every threshold the stages use, derived once per call from buffer_distance, feature_size and
// the caller's options. Stages read their part of the one Settings value and derive nothing
// themselves, so a rule such as "refinement looks 4 x buffer_distance around a turn" lives in
// exactly one place.
#pragma once

#include <cstdint>
#include <cstddef>
#include <optional>

#include "partition.hpp"

namespace strandify {

// The optional finishing steps that turn the raw skeleton into the centerlines a person would
// draw. All off reproduces the exact pipeline bit for bit.
struct RefineSteps {
  bool finish_tips = false;      // straight tips end a buffer radius inside the cap
  bool recover_corners = false;  // a corner spur and its junction become the legs' apex
  bool keep_dots = false;        // a polygon pruned to nothing keeps one short chain or a point
  bool join_crossings = false;   // two junctions of one shallow crossing become one 4-way node
  bool radius_tips = false;      // the tip test discounts the junction's extra radius
  bool round_pens = false;       // strokes buffered with round caps and joins
  bool real_ends = false;        // short branches to where an input line ends are kept

  bool any() const {
    return finish_tips || recover_corners || keep_dots || join_crossings || radius_tips ||
           round_pens || real_ends;
  }
};

// The tuning options a caller may leave open (absent), as the entry points receive them.
struct TuningOptions {
  std::optional<double> simplification;
  std::optional<double> min_tip_fraction;
  std::optional<double> junction_merge_fraction;
  std::optional<double> subdivision_ratio;
  std::optional<double> resample;
  std::optional<double> boundary_simplification;
  std::optional<double> merge_tolerance;
  Partition partition = Partition::none;
  std::size_t workers = 1;  // threads of this one call; 0 counts as 1
  std::optional<double> tile_size;  // with Partition::tiles; absent: derived from the drawing
  RefineSteps refine;
};

// No call creates more boundary points than this. Far above any drawing at a sensible scale
// (at the default edge length of 1.5 x feature_size it is a total boundary length of four and a
// half million feature sizes; an overdrawn sketch of half a million points has about 130,000),
// yet low enough that the triangulation finishes in seconds: measured, 1.6 million points of a
// plain ring take 4 s, and thin slivers several times longer per point. Beyond it the
// parameters, not the drawing, are at fault: a feature_size, resample spacing or
// buffer_distance tiny relative to the drawing, or a buffer_distance huge relative to it.
inline constexpr std::uint64_t kMaxBoundaryPoints = 3000000;

// No call's union of buffers may cost more than this many sweep steps (work_estimate.hpp): at
// 2 to 4 ns a step on one core of a current machine, a quarter to half a minute. Measured: a
// scribble of 20,000 points folding over itself under a radius of 5 counts 8.7e10 and runs for
// over a minute; a straight stroke at 3 degrees, whose rounding wobbles, of 100,000 points 0.01
// apart under a radius of 0.5 counts 9.6e9 and takes 27 to 42 s; an overdrawn sketch of 740,000
// points in a square of 2000 units counts 3.3e9 and takes 9 s. A drawing above the limit is
// still fine split into several calls.
inline constexpr double kMaxUnionWork = 7.5e9;

struct InflationSettings {
  double buffer_distance = 0.0;
  double arc_tolerance = 0.0;  // in coordinate units
  double min_hole_area = 0.0;
  Partition partition = Partition::none;
  // Round caps and joins draw the stroke as a round pen would: two ends join only where the pens
  // overlap. Square ones (the exact pipeline) reach sqrt(2) x buffer_distance along an oblique
  // end's diagonal and bridge gaps of up to 2.8 radii that no round pen of that width closes.
  bool round_pens = false;
};

// Where and how finely boundary refinement densifies around sharp turns.
struct RefinementSettings {
  double buffer_distance = 0.0;
  double ratio = 0.5;          // spacing near a right-angle turn, as a fraction of bd
  double inner_radius = 0.0;   // turns count at full weight within this distance
  double outer_radius = 0.0;   // ... fading to nothing at this one
  double adaptive_scale = 0.0; // turns sharper than spacing / adaptive_scale shrink the step
};

struct BoundarySettings {
  double simplification_tolerance = 0.0;  // rdp of every ring; 0 disables
  double max_edge = 0.0;                  // subdivision edge length
  std::optional<double> resample_spacing;
  bool refinement_enabled = false;
  RefinementSettings refinement;
  double index_cell_size = 1.0;
  double index_angle_threshold = 0.0;
  std::uint64_t max_points = kMaxBoundaryPoints;
  // Turns away from the region (convex corners) weigh this much of their angle in the
  // refinement, on rings at least `lean_ring_perimeter` long: 1 (their whole angle) but with
  // finishing steps (resolve_settings).
  double convex_turn_weight = 1.0;
  double lean_ring_perimeter = 0.0;
};

struct ChainSettings {
  int smoothing_iterations = 3;
  double smoothing_lambda = 0.5;
  double smoothing_mu = -0.53;
  double simplification_tolerance = 0.0;  // rdp of every chain; not > 0 disables
};

// How a drawing is cut into tiles and stitched again.
struct TilingSettings {
  std::optional<double> tile_size;  // side of a tile's core; absent: derived from the drawing
  double halo = 0.0;       // how far a tile sees beyond its core
  double seam_snap = 0.0;  // chain ends on a seam are matched up to this distance
  // Without a tile_size, a tile's core holds about this many prepared points on average.
  double points_per_tile = 20000.0;
};

// Thresholds of the finishing steps, all lengths in coordinate units and all angles as cosines
// or sines, so the steps compare and never derive. Most scale with the buffer radius: the
// artefacts they repair (cap centroids, corner spurs, split crossings) are shapes of the buffer.
struct RefineSettings {
  RefineSteps steps;
  double buffer_distance = 0.0;
  double grid_cell = 1.0;  // cell of the boundary-edge grid the steps query

  // Tips: the stretch from tip_cut to tip_fit_end before the tip gives the stroke's direction
  // when no point of it strays more than tip_straightness from the fitted line; the new tip is
  // tip_inset short of where that line leaves the buffer, looked for up to tip_reach past the
  // cut.
  double tip_cut = 0.0;
  double tip_fit_end = 0.0;
  double tip_straightness = 0.0;
  double tip_reach = 0.0;
  double tip_inset = 0.0;
  // ... and when that stretch bends, the stretch from tip_overdraw_cut to tip_overdraw_end when
  // it is straight and everything before it lies within tip_overdraw_spread of its line; 0: no
  // second look.
  double tip_overdraw_cut = 0.0;
  double tip_overdraw_end = 0.0;
  double tip_overdraw_spread = 0.0;
  // ... and a tip too short for a line (a branch of less than tip_fit_end from a junction)
  // that lies less than tip_pen_clearance inside the boundary is moved back along its branch,
  // at most tip_pullback_reach, to where it is that far inside: where the pen's end is.
  double tip_pen_clearance = 0.0;
  double tip_pullback_reach = 0.0;
  // ... when the boundary straight ahead of that point lies within tip_cap_ahead of it.
  double tip_cap_ahead = 0.0;

  // Corners: a tip branch no longer than corner_spur_max, legs at least corner_leg_min long,
  // each leg's line fitted from corner_fit_start to corner_fit_end away from the junction; the
  // legs meet at less than the angle whose cosine is corner_cos_max_angle, more than the one of
  // corner_cos_min_angle, the spur points within the angle of corner_cos_bisector of their
  // bisector, and its tip lies within corner_reach of the apex.
  double corner_spur_max = 0.0;
  double corner_leg_min = 0.0;
  double corner_fit_start = 0.0;
  double corner_fit_end = 0.0;
  double corner_cos_max_angle = 0.0;
  double corner_cos_min_angle = 0.0;
  double corner_cos_bisector = 0.0;
  double corner_reach = 0.0;
  // ... and the apex lies at least corner_clearance inside the boundary, seen from the
  // junction and from where each leg is kept.
  double corner_clearance = 0.0;

  // Crossings: junctions joined by a chain no longer than crossing_max_length whose outer
  // branches (fitted from crossing_fit_start to crossing_fit_end) pair up into two lines, each
  // pair antiparallel within the angle of crossing_cos_tolerance and offset by at most
  // crossing_offset, the two lines crossing at more than the angle of crossing_sin_min_angle.
  double crossing_max_length = 0.0;
  double crossing_fit_start = 0.0;
  double crossing_fit_end = 0.0;
  double crossing_cos_tolerance = 0.0;
  double crossing_offset = 0.0;
  double crossing_sin_min_angle = 0.0;
  // Overhangs: a tip branch (walked up to overhang_walk) whose tip lies at most overhang_reach
  // farther from its junction than the junction's radius.
  double overhang_walk = 0.0;
  double overhang_reach = 0.0;
  // The tip counts where its pen ends: up to overhang_cap_search ahead of it, a buffer radius
  // inside the boundary. Two tips of one junction whose last edges point within the angle of
  // overhang_cos_pair of each other are the ends of two strokes side by side: both stay.
  double overhang_cap_search = 0.0;
  double overhang_cos_pair = 0.0;
  // ... and a crossing of more strokes is a tree of at most this many junctions.
  std::size_t crossing_cluster_nodes = 0;

  // Dots: a kept dot becomes a dash when its skeleton stretches at least dot_point_length along
  // its principal axis and spreads dot_elongation times more along than across (variances);
  // otherwise a point at its centre.
  double dot_point_length = 0.0;
  double dot_elongation = 0.0;

  // Radius-compensated tips: junction radii are measured up to this distance.
  double radius_search = 0.0;

  // Real ends: a tip within real_end_snap of an input line's end whose junction's disc it
  // reaches at least real_end_reach beyond.
  double real_end_snap = 0.0;
  double real_end_reach = 0.0;
  // Junction merging: the most spokes a merged node may have.
  std::size_t merge_max_spokes = 0;
};

struct Settings {
  double buffer_distance = 0.0;
  double feature_size = 1.0;
  double merge_tolerance = 0.0;  // merging runs only when > 0
  double decimation_spacing = 0.0;
  InflationSettings inflation;
  BoundarySettings boundary;
  double snap_distance = 0.0;
  double tip_length = 0.0;  // pruning runs only when > 0
  double junction_merge_fraction = 0.0;
  double junction_merge_distance = 0.0;  // merging runs only when the fraction is > 0
  // Filled shapes keep the main axis of a component that pruning would remove entirely.
  bool keep_every_component = false;
  ChainSettings chains;
  TilingSettings tiling;
  std::size_t threads = 1;  // at least 1
  RefineSettings refine;
  double max_union_work = kMaxUnionWork;  // lowered only by tests
};

// feature_size must already be validated (positive and finite).
Settings resolve_settings(double buffer_distance, double feature_size, const TuningOptions& options);

// The parts, for callers (and tests) that run one stage on its own; resolve_settings is built
// from exactly these.
InflationSettings resolve_inflation(double buffer_distance, double feature_size);
RefinementSettings resolve_refinement(double buffer_distance, double ratio);
RefineSettings resolve_refine(double buffer_distance, double feature_size, RefineSteps steps);
BoundarySettings resolve_boundary(double buffer_distance, double feature_size,
                                  std::optional<double> subdivision_ratio,
                                  std::optional<double> resample,
                                  std::optional<double> boundary_simplification);

}  // namespace strandify

#include "settings.hpp"

#include <algorithm>
#include <cmath>

namespace strandify {
namespace {

constexpr double kDefaultMergeFraction = 0.01;
constexpr double kDecimationFraction = 0.15;
constexpr double kArcToleranceFraction = 0.2;
constexpr double kMinHoleAreaFraction = 0.1;
constexpr double kSimplificationFraction = 0.05;
constexpr double kMaxEdgeFraction = 1.5;
constexpr double kDefaultRefinementRatio = 0.5;
constexpr double kMinRefinementRatio = 0.01;
constexpr double kDefaultTipFraction = 2.0;
constexpr double kDefaultJunctionFraction = 1.5;
constexpr double kSubdividedThreshold = 0.7853981633974483;  // 45 degrees
constexpr double kHalfPi = 1.5707963267948966;
constexpr double kDegree = 0.017453292519943295;

// Given: the larger of the value and 0, NaN giving 0; absent: the default.
double non_negative_or(std::optional<double> given, double fallback) {
  if (!given) return fallback;
  return *given > 0.0 ? *given : 0.0;
}

}  // namespace

InflationSettings resolve_inflation(double buffer_distance, double feature_size) {
  InflationSettings s;
  s.buffer_distance = buffer_distance;
  s.arc_tolerance = kArcToleranceFraction * feature_size;
  s.min_hole_area = kMinHoleAreaFraction * feature_size * feature_size;
  return s;
}

// Refinement looks for turns within 4 x buffer_distance, at full weight up to 3 x: a turn
// bends the medial axis within about a buffer radius of it, and the extra reach lets the
// spacing ease in. The adaptive walk shrinks its step for turns sharper than
// spacing / (10 x buffer_distance).
RefinementSettings resolve_refinement(double buffer_distance, double ratio) {
  RefinementSettings r;
  r.buffer_distance = buffer_distance;
  r.ratio = ratio;
  r.inner_radius = 3.0 * buffer_distance;
  r.outer_radius = 4.0 * buffer_distance;
  r.adaptive_scale = 10.0 * buffer_distance;
  return r;
}

// Found on drawings at buffer_distance 1: a tip's cap centroid sits about a third of a radius
// past the stroke's end and its last radius often hooks toward a cap corner, so the direction
// comes from the one to three radii before it. A square join puts a corner's spur tip within a
// radius of the apex (up to two in overdrawn sketches); the spur of a 20 degree V is about 5
// radii long. Measured on Vs of 20 to 90 degrees with a real stub along the bisector: a reach
// of 2 radii keeps every stub of 2 radii and more, 3 radii would remove the 2-radius ones.
// Crossings under 45 degrees split their junction up to about 9 radii apart.
RefineSettings resolve_refine(double bd, double feature_size, RefineSteps steps) {
  RefineSettings r;
  r.steps = steps;
  r.buffer_distance = bd;
  const double cell = std::max(2.0 * bd, kMaxEdgeFraction * feature_size);
  r.grid_cell = (std::isfinite(cell) && cell > 0.0) ? cell : 1.0;

  r.tip_cut = bd;
  r.tip_fit_end = 3.0 * bd;
  r.tip_straightness = 0.25 * bd;
  r.tip_reach = 3.0 * bd;
  r.tip_inset = bd;
  // Overdrawn sketch ends differ by up to a couple of radii; the bend they leave lies within
  // half a radius of the stroke's line (the end of a stroke drawn three times, examples/
  // letters.json's E, dips 0.4 radii).
  r.tip_overdraw_cut = 3.0 * bd;
  r.tip_overdraw_end = 6.0 * bd;
  r.tip_overdraw_spread = 0.5 * bd;
  // A round pen's end is a buffer radius inside its cap, less the arc tolerance by which the
  // cap's polygon cuts the arc short; a short stub's skeleton tip lies in the cap, up to about
  // a radius past the end (measured on KanjiVG stubs: 0.6 radii past, hooked toward the cap).
  r.tip_pen_clearance = std::max(0.5 * bd, bd - kArcToleranceFraction * feature_size);
  r.tip_pullback_reach = bd;
  // The cap ahead: a radius, and half a radius more for a sketch's ragged overdrawn end.
  r.tip_cap_ahead = 1.5 * bd;

  r.corner_spur_max = 8.0 * bd;
  r.corner_leg_min = 2.0 * bd;
  r.corner_fit_start = 2.0 * bd;
  r.corner_fit_end = 6.0 * bd;
  r.corner_cos_max_angle = std::cos(135.0 * kDegree);
  r.corner_cos_min_angle = std::cos(5.0 * kDegree);
  r.corner_cos_bisector = std::cos(25.0 * kDegree);
  r.corner_reach = 2.0 * bd;
  // A stroke's corner lies a buffer radius inside the buffer's outer corner; a quarter radius
  // leaves room for sketchy legs while refusing apexes on the boundary or past it.
  r.corner_clearance = 0.25 * bd;

  r.crossing_max_length = 12.0 * bd;
  r.crossing_fit_start = 2.0 * bd;
  r.crossing_fit_end = 8.0 * bd;
  r.crossing_cos_tolerance = std::cos(20.0 * kDegree);
  r.crossing_offset = bd;
  r.crossing_sin_min_angle = std::sin(10.0 * kDegree);
  // n strokes through one point leave a tree of 3-way junctions with 2n branches, which has
  // 2n - 2 junctions: six for four strokes.
  r.crossing_cluster_nodes = 6;
  // The skeleton's tip lies a radius inside the stroke's round end, so a tip about one radius
  // beyond the junction's disc ends about one pen width (two radii) beyond it. Measured on
  // KanjiVG strokes (pen radius 1.5), tips within 1.2 radii: 227 of 270 stubs that no stroke
  // has, 24 of 3068 real tips (at 1.0 radii: 177 and 3, and a quarter fewer characters right).
  // Buffered Hershey glyphs lose the top of the stem of p, g and a to it (above the junction
  // where the bowl joins); at 1.1 radii those stay (bench_polygons: 5 spurious ends, not 7),
  // but filled KanjiVG characters come out right 57% of the time instead of 65%.
  r.overhang_reach = 1.2 * bd;
  r.overhang_walk = 6.0 * bd;  // radius_search plus a pen width
  // A stub's skeleton tip may end short of its round cap by more than a radius (an overdrawn
  // sketch end); the cap lies within two radii beyond where the pen ends.
  r.overhang_cap_search = 3.0 * bd;
  // Strokes ending side by side (the two stems of a narrow V, the tail of an @) point within
  // 60 degrees of each other at their ends; where a stroke starts just past the end of another
  // (KanjiVG's 奴), the overhang's stub and the other stroke's end leave their junction about
  // 75 to 90 degrees apart.
  r.overhang_cos_pair = std::cos(60.0 * kDegree);

  r.dot_point_length = 2.0 * bd;
  r.dot_elongation = 4.0;
  r.radius_search = 4.0 * bd;
  // A round end's skeleton tip lies at the line's end; a square end's within a radius of it.
  r.real_end_snap = bd;
  // Twice overhang_reach: an overdrawn end or a corner's spur stays within a radius of the
  // junction's disc; a branch that goes on for two is a line of its own.
  r.real_end_reach = 1.25 * bd;
  r.merge_max_spokes = 4;  // one crossing of two strokes
  return r;
}

BoundarySettings resolve_boundary(double bd, double feature_size,
                                  std::optional<double> subdivision_ratio,
                                  std::optional<double> resample,
                                  std::optional<double> boundary_simplification) {
  BoundarySettings s;
  s.simplification_tolerance =
      non_negative_or(boundary_simplification, kSimplificationFraction * feature_size);
  s.max_edge = kMaxEdgeFraction * feature_size;

  double ratio = kDefaultRefinementRatio;
  if (subdivision_ratio) {
    const double v = *subdivision_ratio;
    ratio = v > 0.0 ? (v > kMinRefinementRatio ? v : kMinRefinementRatio) : v;
  }
  s.refinement = resolve_refinement(bd, ratio);

  const double cell = s.refinement.outer_radius;
  // An infinite (or overflowing) refinement radius would make every query span the whole
  // plane and the refined spacing meaningless; such a buffer distance refines nothing.
  s.refinement_enabled =
      bd > 0.0 && (!subdivision_ratio || *subdivision_ratio > 0.0) && std::isfinite(cell);
  s.index_cell_size = (std::isfinite(cell) && cell > 0.0) ? cell : 1.0;

  if (resample && *resample > 0.0) s.resample_spacing = *resample;
  if (s.resample_spacing) {
    const double a = *s.resample_spacing / s.refinement.adaptive_scale;
    const double clamped_low = a > 0.0 ? a : 0.0;
    s.index_angle_threshold = clamped_low < kHalfPi ? clamped_low : kHalfPi;
  } else {
    s.index_angle_threshold = kSubdividedThreshold;
  }
  return s;
}

namespace {

// With finishing steps, convex corners are refined more lightly. A convex corner (the square end
// of an arm, the corner of a serif, the outer side of a stroke's turn and its cap) grows a spur
// that pruning and the tip and corner steps settle, while a concave one (where arms meet)
// places a junction. Refined near convex corners at 0.3 of their angle, the DejaVu glyph
// outlines and the Natural Earth countries mesh about 9% and 8% faster, while every measure of
// bench/bench_polygons.py (its Hershey outlines' spurious ends, misses, distances and
// coverage, every glyph's ends) and of bench/bench_kanjivg.py's fills stays as with the full
// refinement, and squared and mitred Vs with a stub of 2 to 8 radii along the bisector keep as
// many stubs (one more of the mitred ones). Half the angle measured the same. On strokes the
// 100 hanzi sketches of bench/bench_targets.py take 3.5% fewer instructions; bench_refine.py's
// sketches come out as exact or more so (75.5% to 76.0%, hooks 2.1% to 1.9%, its real stubs all
// kept), and bench_kanjivg.py's with fewer overdrawn ends (91 to 86) and hooks (51 to 48;
// clean strokes 31 to 24). A smooth loop's centerline moves by a few hundredths of a radius.
// At 0.2 of the angle and below, strokes mesh 3.5% faster again but lose 3 of bench_refine.py's
// 48 real stubs, and its sketches' hooks grow (1.9% to 2.3%). Filled shapes lose as much: at
// 0.15 or 0 the glyphs run about 7% or 13% faster, but bench_polygons.py's square-ended Hershey
// strokes (flat ends, mitred joins: sharp corners with a known centerline) get 18 or 19
// spurious ends instead of 13 (15 at the full angle), and its filled Vs lose 10 of the 130
// stubs the exact chains keep, against 2 at 0.3 and 3 at the full angle.
// Lighter refinement near every corner loses detail: radii of 2 to 3 (instead of 3 to 4) lose
// the short arms of n, m and u, radii of 2.5 to 3.5 exact tips of the fills (64.7% to 62.0%),
// and a spacing of 0.75 radii at a right angle (instead of 0.5) the arms of b, p, q, m, n and u.
// A ring shorter than 20 radii (a square is 16 of its mean half-widths, a dash three times as
// long as wide 21, a dot's disc 6) lies near its corners all round, and the dot step reads its
// whole skeleton, which the full refinement keeps symmetric: a square dot stays a point, not a
// dash.
void refine_convex_corners_lightly(BoundarySettings& b, double buffer_distance) {
  b.convex_turn_weight = 0.3;
  b.lean_ring_perimeter = 20.0 * buffer_distance;
}

}  // namespace

Settings resolve_settings(double buffer_distance, double feature_size, const TuningOptions& o) {
  const double fs = feature_size;
  Settings s;
  s.buffer_distance = buffer_distance;
  s.feature_size = fs;
  s.merge_tolerance = non_negative_or(o.merge_tolerance, kDefaultMergeFraction * fs);
  s.decimation_spacing = kDecimationFraction * fs;
  s.inflation = resolve_inflation(buffer_distance, fs);
  // Inside a tile the union runs per group as well.
  s.inflation.partition = o.partition == Partition::none ? Partition::none : Partition::components;
  s.inflation.round_pens = o.refine.round_pens;
  s.threads = o.workers > 0 ? o.workers : 1;
  s.boundary = resolve_boundary(buffer_distance, fs, o.subdivision_ratio, o.resample,
                                o.boundary_simplification);
  // True divisions, not multiplications by 0.05 and 0.1: the bits differ.
  s.snap_distance = fs / 20.0;
  s.tip_length = o.min_tip_fraction.value_or(kDefaultTipFraction) * fs;
  s.junction_merge_fraction = o.junction_merge_fraction.value_or(kDefaultJunctionFraction);
  s.junction_merge_distance = fs * s.junction_merge_fraction;
  s.chains.simplification_tolerance = o.simplification.value_or(fs / 10.0);
  // A tile's skeleton matches the whole drawing's where the tile sees everything that shapes
  // it: the buffer reaches bd from a curve, boundary refinement looks 4 x bd around turns and
  // the skeleton of a cut buffer bends within a few bd of the cut; pruning and junction merging
  // then look up to 2 fs and 1.5 fs along chains, and boundary simplification and resampling
  // shift points by up to a few fs. Measured on generated drawings, 6 x bd + 10 x fs gives the
  // same topology as the untiled pipeline.
  s.tiling.tile_size = o.tile_size;
  s.tiling.halo = 6.0 * std::fabs(buffer_distance) + 10.0 * fs;
  s.tiling.seam_snap = 0.5 * std::fabs(buffer_distance);
  s.refine = resolve_refine(buffer_distance, fs, o.refine);
  if (s.refine.steps.any()) refine_convex_corners_lightly(s.boundary, buffer_distance);
  return s;
}

}  // namespace strandify

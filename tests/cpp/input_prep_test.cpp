#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <vector>

#include "check.hpp"
#include "input_prep.hpp"

using strandify::Curve;
using strandify::decimate_curve;
using strandify::decimate_curves;
using strandify::merge_connected;
using strandify::MergedCurves;
using strandify::Point;
using strandify::WidthList;
using strandify::WidthLists;

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

bool same_curve(const Curve& a, const Curve& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const bool x = a[i].x == b[i].x || (std::isnan(a[i].x) && std::isnan(b[i].x));
    const bool y = a[i].y == b[i].y || (std::isnan(a[i].y) && std::isnan(b[i].y));
    if (!x || !y) return false;
  }
  return true;
}

MergedCurves merge(const std::vector<Curve>& curves, double tol = 0.1) {
  return merge_connected(curves, std::nullopt, 1.0, tol);
}

}  // namespace

// --- decimation ----------------------------------------------------------------------------

TEST(decimate_keeps_short_curves_and_both_ends) {
  CHECK(decimate_curve({}, 1.0).empty());
  CHECK(same_curve(decimate_curve({{1, 1}}, 1.0), {{1, 1}}));
  CHECK(same_curve(decimate_curve({{1, 1}, {1, 1}}, 1.0), {{1, 1}, {1, 1}}));
  // The last point survives even right next to the last kept one.
  CHECK(same_curve(decimate_curve({{0, 0}, {2, 0}, {2.1, 0}}, 1.0), {{0, 0}, {2, 0}, {2.1, 0}}));
}

TEST(decimate_measures_from_last_kept_vertex) {
  // Steps of 0.4 are each below the tolerance, but the run thins out instead of vanishing.
  const Curve dense{{0, 0}, {0.4, 0}, {0.8, 0}, {1.2, 0}, {1.6, 0}, {2.0, 0}, {2.1, 0}};
  CHECK(same_curve(decimate_curve(dense, 1.0), {{0, 0}, {1.2, 0}, {2.1, 0}}));
  // A vertex exactly at the tolerance is kept.
  CHECK(same_curve(decimate_curve({{0, 0}, {1, 0}, {1.5, 0}, {2, 0}}, 1.0), {{0, 0}, {1, 0}, {2, 0}}));
}

TEST(decimate_nan_and_zero_tolerance) {
  const Curve c{{kNaN, 0}, {1, 0}, {2, kNaN}, {3, 0}, {4, kNaN}};
  // From a NaN first point every distance is NaN: only the ends survive.
  CHECK(same_curve(decimate_curve(c, 0.0), {{kNaN, 0}, {4, kNaN}}));
  const Curve d{{0, 0}, {0, 0}, {1, kNaN}, {1, 0}, {5, 5}};
  CHECK(same_curve(decimate_curve(d, 0.0), {{0, 0}, {0, 0}, {1, 0}, {5, 5}}));
}

TEST(decimate_curves_skips_everything_when_widths_are_in_play) {
  const std::vector<Curve> curves{{{0, 0}, {0.1, 0}, {5, 0}}, {}, {{1, 1}}};
  const std::vector<Curve> same = decimate_curves(curves, true, 1.0);
  CHECK_EQ(same.size(), 3u);
  CHECK(same_curve(same[0], curves[0]));
  const std::vector<Curve> thin = decimate_curves(curves, false, 1.0);
  CHECK_EQ(thin.size(), 3u);
  CHECK(same_curve(thin[0], {{0, 0}, {5, 0}}));
  CHECK(thin[1].empty());
  CHECK(same_curve(thin[2], {{1, 1}}));
}

// --- merging: joining rules ----------------------------------------------------------------

TEST(merge_no_curves) {
  CHECK(merge({}).curves.empty());
  CHECK(!merge({}).widths.has_value());
  const MergedCurves m = merge_connected({}, WidthLists{}, 1.0, 0.1);
  CHECK(m.curves.empty());
  CHECK(m.widths.has_value() && m.widths->empty());
}

TEST(merge_joins_end_to_start_and_reverses_as_needed) {
  const Curve a{{0, 0}, {1, 0}};
  const Curve expect{{0, 0}, {1, 0}, {1.5, 1}, {2, 0}};
  // End to start.
  MergedCurves m = merge({a, {{1, 0}, {1.5, 1}, {2, 0}}});
  CHECK_EQ(m.curves.size(), 1u);
  CHECK(same_curve(m.curves[0], expect));
  // Last to last: B comes reversed, without its last point.
  m = merge({a, {{2, 0}, {1.5, 1}, {1, 0}}});
  CHECK_EQ(m.curves.size(), 1u);
  CHECK(same_curve(m.curves[0], expect));
  // First to first: B reversed, without its first point, goes in front of A.
  m = merge({{{1, 0}, {2, 0}}, {{1, 0}, {0.5, 1}, {0, 0}}});
  CHECK_EQ(m.curves.size(), 1u);
  CHECK(same_curve(m.curves[0], {{0, 0}, {0.5, 1}, {1, 0}, {2, 0}}));
}

TEST(merge_keeps_the_seed_direction) {
  // Curve 0 runs right to left; the other pieces run left to right.
  const std::vector<Curve> pieces{{{2, 0}, {1, 0}}, {{0, 0}, {1, 0}}, {{2, 0}, {3, 0}}};
  const MergedCurves m = merge(pieces);
  CHECK_EQ(m.curves.size(), 1u);
  CHECK(same_curve(m.curves[0], {{3, 0}, {2, 0}, {1, 0}, {0, 0}}));
}

TEST(merge_leaves_junctions_alone) {
  // Three ends at the origin: none joins there, but curve 2 still joins curve 3 at (0,5).
  const std::vector<Curve> y{
      {{-5, 0}, {0, 0}}, {{0, 0}, {5, 0}}, {{0, 0}, {0, 5}}, {{0, 5}, {0, 9}}};
  const MergedCurves m = merge(y);
  CHECK_EQ(m.curves.size(), 3u);
  CHECK(same_curve(m.curves[0], y[0]));
  CHECK(same_curve(m.curves[1], y[1]));
  CHECK(same_curve(m.curves[2], {{0, 0}, {0, 5}, {0, 9}}));
}

TEST(merge_closed_loops) {
  const Curve square{{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0}};
  MergedCurves m = merge({square});
  CHECK_EQ(m.curves.size(), 1u);
  CHECK(same_curve(m.curves[0], square));

  m = merge({{{0, 0}, {1, 0}, {1, 1}}, {{1, 1}, {0, 1}, {0.02, 0.01}}});
  CHECK_EQ(m.curves.size(), 1u);
  CHECK(same_curve(m.curves[0], {{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0.02, 0.01}}));
}

TEST(merge_reassembles_a_stroke_from_pieces_drawn_both_ways) {
  Curve stroke;
  for (int i = 0; i <= 30; ++i) stroke.push_back({double(i), std::sin(i * 0.3)});
  std::vector<Curve> pieces;
  for (int p = 0; p < 10; ++p) {
    Curve piece(stroke.begin() + 3 * p, stroke.begin() + 3 * p + 4);
    if (p % 2) std::reverse(piece.begin(), piece.end());
    pieces.push_back(piece);
  }
  MergedCurves m = merge(pieces);
  CHECK_EQ(m.curves.size(), 1u);
  CHECK(same_curve(m.curves[0], stroke));

  // With a middle piece listed first, the chain grows both ways from it.
  std::swap(pieces[0], pieces[4]);
  m = merge(pieces);
  CHECK_EQ(m.curves.size(), 1u);
  CHECK(same_curve(m.curves[0], stroke));
}

TEST(merge_orders_chains_then_single_points_and_drops_empty) {
  const std::vector<Curve> curves{{{7, 7}}, {}, {{0, 0}, {1, 0}}, {{9, 9}}, {{1, 0}, {2, 0}}};
  const MergedCurves m = merge(curves);
  CHECK_EQ(m.curves.size(), 3u);
  CHECK(same_curve(m.curves[0], {{0, 0}, {1, 0}, {2, 0}}));
  CHECK(same_curve(m.curves[1], {{7, 7}}));
  CHECK(same_curve(m.curves[2], {{9, 9}}));
}

// --- merging: cells ------------------------------------------------------------------------

TEST(merge_cells_round_half_away_from_zero) {
  // Tolerance 1: 0.5 and 1.4 share cell 1, -0.5 and -1.4 share cell -1 (a rounding to even
  // would separate both pairs); 0.4 and 0.6 straddle a boundary and stay apart.
  CHECK_EQ(merge({{{0.5, 0}, {0.5, 5}}, {{1.4, 0}, {1.4, -5}}}, 1.0).curves.size(), 1u);
  CHECK_EQ(merge({{{-0.5, 0}, {-0.5, 5}}, {{-1.4, 0}, {-1.4, -5}}}, 1.0).curves.size(), 1u);
  CHECK_EQ(merge({{{0.4, 0}, {0.4, 5}}, {{0.6, 0}, {0.6, -5}}}, 1.0).curves.size(), 2u);
  // Alone in one cell, ends join even beyond the tolerance (up to the cell diagonal).
  CHECK_EQ(merge({{{-0.49, -0.49}, {-9, -9}}, {{0.49, 0.49}, {9, 9}}}, 1.0).curves.size(), 1u);
}

TEST(merge_cells_of_nan_and_huge_coordinates) {
  // A NaN coordinate counts as 0.
  MergedCurves m = merge({{{-5, 0}, {kNaN, 0}}, {{0.2, 0}, {5, 0}}}, 1.0);
  CHECK_EQ(m.curves.size(), 1u);
  CHECK(same_curve(m.curves[0], {{-5, 0}, {kNaN, 0}, {5, 0}}));
  // Far beyond the integer range both ends saturate into the same cell.
  m = merge({{{0, 0}, {1e300, 0}}, {{2e300, 0}, {0, 5}}}, 1.0);
  CHECK_EQ(m.curves.size(), 1u);
}

TEST(merge_with_unusable_tolerance_joins_only_near_identical_ends) {
  CHECK_EQ(merge({{{0, 0}, {1, 0}}, {{1, 0}, {2, 0}}}, 0.0).curves.size(), 1u);
  CHECK_EQ(merge({{{0, 0}, {1, 0}}, {{1 + 1e-6, 0}, {2, 0}}}, 0.0).curves.size(), 2u);
  CHECK_EQ(merge({{{0, 0}, {1, 0}}, {{1, 0}, {2, 0}}}, kNaN).curves.size(), 1u);
}

// --- merging: widths -----------------------------------------------------------------------

TEST(merge_joins_width_lists_in_step) {
  // Last to last: B's widths come reversed, the shared end's width (40) dropped.
  const std::vector<Curve> ab{{{0, 0}, {1, 0}}, {{2, 0}, {1.5, 1}, {1, 0}}};
  MergedCurves m = merge_connected(ab, WidthLists{{1, 2}, {20, 30, 40}}, 0.5, 0.1);
  CHECK(m.widths.has_value());
  CHECK_EQ(m.curves.size(), 1u);
  CHECK(m.widths && m.widths->size() == 1 && (*m.widths)[0] == (WidthList{1, 2, 30, 20}));

  // First to first: B reversed without its first value, then A.
  const std::vector<Curve> ba{{{1, 0}, {2, 0}}, {{1, 0}, {0.5, 1}, {0, 0}}};
  m = merge_connected(ba, WidthLists{{1, 2}, {10, 20, 30}}, 0.5, 0.1);
  CHECK(m.widths && m.widths->size() == 1 && (*m.widths)[0] == (WidthList{30, 20, 1, 2}));
}

TEST(merge_fills_missing_width_lists_with_buffer_distance) {
  const std::vector<Curve> curves{{{0, 0}, {1, 0}}, {{1, 0}, {2, 0}, {3, 0}}, {{8, 8}}, {{9, 0}, {9, 1}}};
  // No widths given: none come back.
  CHECK(!merge(curves).widths.has_value());
  // An empty list of lists: every curve gets copies of buffer_distance.
  MergedCurves m = merge_connected(curves, WidthLists{}, 0.5, 0.1);
  CHECK(m.widths && m.widths->size() == 3);
  if (m.widths && m.widths->size() == 3) {
    CHECK((*m.widths)[0] == (WidthList{0.5, 0.5, 0.5, 0.5}));
    CHECK((*m.widths)[1] == (WidthList{0.5, 0.5}));
    CHECK((*m.widths)[2] == (WidthList{0.5}));  // the single point moved behind
  }
  // Fewer lists than curves, and an empty one in between.
  m = merge_connected(curves, WidthLists{{1, 2}, {}, {7}}, 0.5, 0.1);
  CHECK(m.widths && m.widths->size() == 3);
  if (m.widths && m.widths->size() == 3) {
    CHECK((*m.widths)[0] == (WidthList{1, 2, 0.5, 0.5}));
    CHECK((*m.widths)[1] == (WidthList{0.5, 0.5}));
    CHECK((*m.widths)[2] == (WidthList{7}));
  }
  // Full lists.
  m = merge_connected(curves, WidthLists{{1, 2}, {3, 4, 5}, {6}, {7, 8}}, 0.5, 0.1);
  CHECK(m.widths && m.widths->size() == 3);
  if (m.widths && m.widths->size() == 3) {
    CHECK((*m.widths)[0] == (WidthList{1, 2, 4, 5}));
    CHECK((*m.widths)[1] == (WidthList{7, 8}));
    CHECK((*m.widths)[2] == (WidthList{6}));
  }
}

TEST(merge_never_reads_past_a_mismatched_width_list) {
  // Such lists are rejected before merging; here they must at least stay in bounds.
  const std::vector<Curve> curves{{{0, 0}, {1, 0}}, {{1, 0}, {2, 0}, {3, 0}}};
  const MergedCurves m = merge_connected(curves, WidthLists{{1}, {3, 4}}, 0.5, 0.1);
  CHECK(m.widths && m.widths->size() == 1 && (*m.widths)[0] == (WidthList{0.5, 0.5, 0.5, 0.5}));
}

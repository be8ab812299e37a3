#include <cmath>
#include <limits>

#include "check.hpp"
#include "lost_groups.hpp"
#include "lost_shapes.hpp"
#include "partition.hpp"

using namespace strandify;

namespace {

Curve segment(double x0, double y0, double x1, double y1) { return {{x0, y0}, {x1, y1}}; }

Ring square(double x, double y, double side) {
  return {{x, y}, {x + side, y}, {x + side, y + side}, {x, y + side}};
}

}  // namespace

TEST(overlapping_boxes_group_through_chains_of_overlaps) {
  // 0 and 2 overlap only through 1; 3 touches nothing; 4 is absent; 5 touches 3 at an edge.
  const std::vector<std::optional<Box>> boxes{Box{0, 0, 2, 2},  Box{10, 0, 12, 2},
                                              Box{1, 1, 11, 1.5}, Box{20, 20, 21, 21},
                                              std::nullopt,       Box{21, 20, 22, 21}};
  const CurveGroups groups = group_overlapping_boxes(boxes);
  CHECK_EQ(groups.size(), std::size_t{2});
  CHECK(groups.members == (std::vector<std::size_t>{0, 1, 2, 3, 5}));
  CHECK(groups.starts == (std::vector<std::size_t>{0, 3, 5}));
}

TEST(a_group_without_chain_points_is_lost_by_its_first_stroke) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<Curve> strokes{
      segment(0, 0, 100, 0),
      segment(500, 500, 501, 500),             // far away: its own group
      {{nan, nan}, {7, 7}},                    // one finite point: no group at all
      segment(501.5, 500, 502, 500),           // within the buffer of 1: joins stroke 1
      segment(0, 2, 100, 2)};
  const std::vector<Curve> chains{segment(0, 1, 100, 1)};
  const LostGroups lost = lost_groups(strokes, chains, 1.0);
  CHECK_EQ(lost.groups, std::size_t{2});
  CHECK(lost.firsts == (std::vector<std::size_t>{1}));
  // a chain point within twice the buffer distance of the group's box keeps it
  const std::vector<Curve> near{segment(0, 1, 100, 1), segment(503.9, 500, 504, 500)};
  CHECK(lost_groups(strokes, near, 1.0).firsts.empty());
}

TEST(a_shape_is_entered_by_a_point_inside_or_a_segment_across) {
  const std::vector<Ring> outers{square(0, 0, 10), square(20, 0, 10), square(40, 0, 10),
                                 {{0, 0}, {1, 1}}};  // too few points to be lost
  // a point inside the first; a segment crossing the second without a point in it
  const std::vector<Curve> chains{segment(5, 5, 6, 5), segment(25, -5, 25, 15)};
  CHECK(lost_shapes(outers, chains) == (std::vector<std::size_t>{2}));
  CHECK(lost_shapes(outers, {}) == (std::vector<std::size_t>{0, 1, 2}));
}

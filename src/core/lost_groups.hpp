// Noticing when a result drops a whole separate part of its drawing.
//
// A buffer distance or feature size too large for a small, separate part of a drawing prunes
// it away entirely; the result still looks plausible, so the loss goes unseen. The strokes are
// grouped into separate parts by their bounding boxes grown by the buffer distance (boxes that
// overlap belong together), and a part none of whose chain points lies within twice the
// buffer distance of its box has been lost. Grouping by boxes may join parts that do not
// touch, so a loss can go unreported, but a reported loss is always real.
#pragma once

#include <cstddef>
#include <vector>

#include "types.hpp"

namespace strandify {

struct LostGroups {
  std::vector<std::size_t> firsts;  // the smallest stroke index of every lost group, ascending
  std::size_t groups = 0;           // the number of separate groups of strokes
};

// The groups of `strokes` (those with two finite points; their boxes of finite points) that
// no point of `chains` comes near, for a call with this buffer distance.
LostGroups lost_groups(const std::vector<Curve>& strokes, const std::vector<Curve>& chains,
                       double buffer_distance);

}  // namespace strandify

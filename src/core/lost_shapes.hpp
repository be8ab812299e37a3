// Noticing when a filled shape gave no centerline: pruning may empty a small shape entirely,
// and a result with many shapes still looks plausible without it.
#pragma once

#include <cstddef>
#include <vector>

#include "types.hpp"

namespace strandify {

// The indices of the shapes, given by their outer rings, that no chain enters: neither a chain
// point inside the ring (even-odd) nor a chain segment properly across one of its edges
// (touching shapes share a chain that may cross one of them between two of its points). Only
// the finite points of a ring count; a ring with fewer than three is never lost.
std::vector<std::size_t> lost_shapes(const std::vector<Ring>& outers,
                                     const std::vector<Curve>& chains);

}  // namespace strandify

// Tip pruning eats a skeleton from its tips inwards, so a shape whose whole skeleton is shorter
// than the tip length (a dot, a short blob, a small island) loses every edge and disappears
// from the result. For filled shapes that is a loss, not a clean-up: every shape should keep
// at least its main axis.
#pragma once

#include "types.hpp"

namespace strandify {

// `pruned` is `before` after tip pruning (same nodes, a subset of the edges). Every connected
// component of `before` left without any edge gets back its longest path (the diameter of the
// tree, by edge length; a component with a loop is never pruned away). The restored edges are
// appended in their order in `before`.
Graph restore_lost_components(const Graph& before, Graph pruned);

}  // namespace strandify

// Chain finishing: Taubin smoothing, tip straightening and simplification of output chains.
#pragma once

#include <vector>

#include "settings.hpp"
#include "types.hpp"

namespace strandify {

std::vector<Point> smooth_chain_taubin(const std::vector<Point>& points, int iterations,
                                       double lambda, double mu);

// Smooths, straightens tip ends (end before start) and simplifies when the tolerance is > 0.
std::vector<Point> finish_chain(const Chain& chain, const ChainSettings& settings);
// The same with the default smoothing and the given simplification tolerance.
std::vector<Point> finish_chain(const Chain& chain, double simplification_tolerance);

}  // namespace strandify

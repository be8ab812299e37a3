// Input preparation: joining curves whose ends meet, then thinning their vertices.
#pragma once

#include <optional>
#include <vector>

#include "types.hpp"

namespace strandify {

// Keeps a vertex only if it lies at least `tolerance` from the last kept one; the first and
// last vertices always survive.
Curve decimate_curve(const Curve& curve, double tolerance);

// With `has_widths` every curve is returned unchanged, so width lists stay aligned.
std::vector<Curve> decimate_curves(const std::vector<Curve>& curves, bool has_widths,
                                   double tolerance);

struct MergedCurves {
  std::vector<Curve> curves;
  std::optional<WidthLists> widths;  // present exactly when input widths were given
};

// Joins curves wherever exactly two curve ends share a cell of size `tolerance`.
MergedCurves merge_connected(const std::vector<Curve>& curves,
                             const std::optional<WidthLists>& widths, double buffer_distance,
                             double tolerance);

}  // namespace strandify

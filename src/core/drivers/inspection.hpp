// The inspection drivers: the buffer polygons and the triangles of a call, exactly as the
// centerline pipeline builds its skeleton from them. Each validates feature_size itself.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "background.hpp"
#include "boundary.hpp"
#include "partition.hpp"
#include "types.hpp"

namespace strandify {

// How an inspection call unions and how many threads it may use.
struct CallScale {
  Partition partition = Partition::none;
  std::size_t workers = 1;
};

// Buffer polygons exactly as the centerline pipeline hands them to boundary preprocessing.
Outcome<std::vector<Polygon>> buffer_pipeline(const std::vector<Curve>& curves,
                                              double buffer_distance, double feature_size,
                                              const std::optional<WidthLists>& per_curve_widths,
                                              std::optional<double> merge_tolerance,
                                              const CallScale& scale = {},
                                              const KeepGoing& keep_going = {});

// Triangles exactly as the centerline pipeline builds its skeleton from.
Outcome<std::vector<Triangle>> triangulation_pipeline(
    const std::vector<Curve>& curves, double buffer_distance, double feature_size,
    const std::optional<WidthLists>& per_curve_widths, const BoundaryOptions& boundary,
    std::optional<double> merge_tolerance, const CallScale& scale = {},
    const KeepGoing& keep_going = {});

}  // namespace strandify

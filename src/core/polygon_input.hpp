// Filled shapes as input: the caller's polygons repaired into the same clean, oriented,
// hole-assigned Polygons a union of buffers produces, ready for every stage that follows
// inflation in the stroke pipeline (drivers/polygons.hpp runs them).
#pragma once

#include <vector>

#include "settings.hpp"
#include "types.hpp"

namespace strandify {

// The caller's polygons as union output: each polygon's region is its outer ring minus its
// holes, every ring read under the NonZero rule (so self-intersections, either orientation and
// repeated points are repaired), the regions of all polygons unioned at the inflation's 10^6
// scale, and the resulting rings cleaned, classified and assembled exactly as inflation does.
// Fails for non-finite or out-of-range coordinates and when polygons were given but none
// covers any area.
Outcome<std::vector<Polygon>> repair_polygons(const std::vector<Polygon>& polygons,
                                              const InflationSettings& settings);

// Area divided by boundary length (holes included in both): the half-width of a long strip,
// half the radius of a disk. The buffer radius that would have drawn a shape of strokes.
double shape_half_width(const std::vector<Polygon>& polygons);

// The same of one polygon.
double polygon_half_width(const Polygon& polygon);

// Fills the holes of `polygon` smaller than `min_area`, as the union's cleaning does for holes
// below its floor; whether it filled any.
bool fill_small_holes(Polygon& polygon, double min_area);

}  // namespace strandify

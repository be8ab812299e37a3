// Curve inflation: buffer regions of the curves (uniform or per-vertex radius), their union,
// ring cleaning, hole assignment.
#pragma once

#include <optional>
#include <vector>

#include "background.hpp"
#include "partition.hpp"
#include "clipper2/clipper.core.h"
#include "settings.hpp"
#include "types.hpp"

namespace strandify {

// Buffers every curve of at least two points with square joins and ends, unions the buffers and
// returns the Polygons in ascending order of outer boundary length. Curves whose coordinates,
// radius or widths are not finite, or lie beyond the integer range the offsetter works in, add
// no buffer. With settings.partition == components the union runs per group, as
// inflate_groups does.
//
// `keep_going` is asked on this thread between curves and groups; once it says stop the result
// is incomplete and only fit to be dropped.
std::vector<Polygon> inflate(const std::vector<Curve>& curves,
                             const std::optional<WidthLists>& widths,
                             const InflationSettings& settings, const KeepGoing& keep_going = {});
// The union run per group of curves (see partition.hpp), up to `threads` groups at a time.
// The polygons are those of the one-call union up to the rounding of intersection points,
// ordered the same way; polygons of equal boundary length keep the order of their groups.
// A group's curves may be offset, and a large group unioned, in steps of their own (see
// group_union_of), each rounding its own intersection points: where buffer edges cross at a
// grazing angle, as the traces of an overdrawn stroke do, such a point moves along the edges by
// many units of the union's grid (up to about 1e-3 coordinate units has been seen), while rings
// keep their start, their order and the topology of the single union.
std::vector<Polygon> inflate_groups(const std::vector<Curve>& curves,
                                    const std::optional<WidthLists>& widths,
                                    const CurveGroups& groups, const InflationSettings& settings,
                                    std::size_t threads, const KeepGoing& keep_going = {});
// The same with the settings resolved from buffer_distance and feature_size.
std::vector<Polygon> inflate(const std::vector<Curve>& curves,
                             const std::optional<WidthLists>& widths, double buffer_distance,
                             double feature_size);

// The closed offset paths of one curve buffered with a per-vertex radius. Precondition: one
// width per point.
std::vector<Ring> inflate_curve_variable(const Curve& curve, const WidthList& widths,
                                         double feature_size);

// The union works on integer paths at this scale (10^6 per coordinate unit).
constexpr double kUnionScale = 1e6;

// A ring or curve at the union's integer scale, each coordinate rounded half away from zero.
Clipper2Lib::Path64 union_scaled(const std::vector<Point>& points);

// The Polygons of a union's rings (given at the union's scale): every ring cleaned, classified
// as outer or hole by its signed area, holes below `min_hole_area` dropped, outers ordered by
// boundary length and each hole given to the smallest outer that contains it. Everything that
// leaves a union, of buffers or of caller's rings, goes through here.
std::vector<Polygon> polygons_of_union(const Clipper2Lib::Paths64& rings, double min_hole_area);

// Largest |coordinate| + 2 x |radius| that is offset at all: at 10^6 scale this stays below the
// offsetter's own safe integer range (about 2.3e18), square corners included.
constexpr double kMaxInflationExtent = 2.0e12;

}  // namespace strandify

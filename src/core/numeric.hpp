// Float-to-integer conversions with the saturating, NaN-safe semantics every stage relies on.
// A plain static_cast of an out-of-range or NaN double is undefined behaviour in C++.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace strandify {

// Truncating conversion: above the range gives the maximum, below the minimum, NaN gives 0.
inline std::int64_t saturate_i64(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 9223372036854775808.0) return std::numeric_limits<std::int64_t>::max();
  if (v < -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(v);
}

// Unsigned count: negative or NaN gives 0, beyond the range saturates.
inline std::uint64_t saturate_u64(double v) {
  if (!(v > 0.0)) return 0;
  if (v >= 18446744073709551616.0) return std::numeric_limits<std::uint64_t>::max();
  return static_cast<std::uint64_t>(v);
}

// Below 2^52 in magnitude a double may have a fraction; its truncation converts exactly to an
// integer and back, and the fraction v - trunc(v) is exact. Rounding and flooring such values
// from the truncation gives exactly what std::round and std::floor give, without a call into
// the maths library per coordinate (snapping and the union's grid convert every point); larger
// values, infinities and NaN go through those functions.
constexpr double kFractionalBelow = 4503599627370496.0;  // 2^52

// Nearest integer with halves away from zero (std::round), then saturated.
inline std::int64_t round_i64(double v) {
  if (std::fabs(v) < kFractionalBelow) {
    const auto t = static_cast<std::int64_t>(v);
    const double fraction = v - static_cast<double>(t);
    return fraction >= 0.5 ? t + 1 : (fraction <= -0.5 ? t - 1 : t);
  }
  return saturate_i64(std::round(v));
}
inline std::uint64_t round_u64(double v) { return saturate_u64(std::round(v)); }
inline std::int64_t floor_i64(double v) {
  if (std::fabs(v) < kFractionalBelow) {
    const auto t = static_cast<std::int64_t>(v);
    return static_cast<double>(t) > v ? t - 1 : t;
  }
  return saturate_i64(std::floor(v));
}
inline std::uint64_t ceil_u64(double v) { return saturate_u64(std::ceil(v)); }

}  // namespace strandify

// Sorting signed 64-bit integers in linear time. The union work estimate sorts the rows of
// every outline, thousands of integers per call, and a comparison sort of them was a tenth of
// a small call's time. The sorted order of integers is unique, so this gives exactly what
// std::sort gives.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace strandify {

// Below this many values a comparison sort is faster than counting digits.
inline constexpr std::size_t kRadixSortMin = 256;

// Sorts `values` ascending: the values less their minimum, least significant byte first, only
// as many bytes as their range spans (the rows of one outline lie within a few million of each
// other), a pass skipped where every value shares its byte. `scratch` is reused between calls.
inline void radix_sort(std::vector<std::int64_t>& values, std::vector<std::uint64_t>& scratch) {
  const std::size_t n = values.size();
  if (n < kRadixSortMin) {
    std::sort(values.begin(), values.end());
    return;
  }
  const auto [lo, hi] = std::minmax_element(values.begin(), values.end());
  const std::int64_t base = *lo;
  // The range as an unsigned difference: exact even from the least to the greatest int64.
  const std::uint64_t range = static_cast<std::uint64_t>(*hi) - static_cast<std::uint64_t>(base);
  int bytes = 0;
  while (bytes < 8 && (range >> (8 * bytes)) != 0) ++bytes;
  scratch.resize(2 * n);
  std::uint64_t* from = scratch.data();
  std::uint64_t* to = scratch.data() + n;
  std::size_t counts[8][256] = {};
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint64_t key = static_cast<std::uint64_t>(values[i]) - static_cast<std::uint64_t>(base);
    from[i] = key;
    for (int b = 0; b < bytes; ++b) ++counts[b][(key >> (8 * b)) & 0xFF];
  }
  for (int b = 0; b < bytes; ++b) {
    std::size_t* count = counts[b];
    if (count[(from[0] >> (8 * b)) & 0xFF] == n) continue;
    std::size_t start = 0;
    for (std::size_t d = 0; d < 256; ++d) {
      const std::size_t c = count[d];
      count[d] = start;
      start += c;
    }
    for (std::size_t i = 0; i < n; ++i) to[count[(from[i] >> (8 * b)) & 0xFF]++] = from[i];
    std::swap(from, to);
  }
  for (std::size_t i = 0; i < n; ++i)
    values[i] = static_cast<std::int64_t>(from[i] + static_cast<std::uint64_t>(base));
}

}  // namespace strandify

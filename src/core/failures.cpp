#include "failures.hpp"

#include <charconv>
#include <cmath>
#include <utility>

namespace strandify {
namespace {

std::string unsigned_text(std::uint64_t v) { return std::to_string(v); }

}  // namespace

// The shortest round-tripping digits come from the scientific form; they are then written out
// positionally. (Fixed-notation to_chars prints the exact binary value of large magnitudes,
// -999999999999999983222784 for -1e24, which is not the shortest decimal.)
std::string format_float(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  char buffer[64];
  const auto res =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
  const std::string text(buffer, res.ptr);
  const std::size_t e = text.find('e');
  const bool negative = text[0] == '-';
  std::string digits;
  for (std::size_t k = negative ? 1 : 0; k < e; ++k)
    if (text[k] != '.') digits += text[k];
  const int exponent = std::stoi(text.substr(e + 1));
  // value = 0.d1d2...dn x 10^(exponent + 1): the decimal point goes after `point` digits.
  const long point = static_cast<long>(exponent) + 1;
  const long n = static_cast<long>(digits.size());
  std::string out = negative ? "-" : "";
  if (point <= 0) {
    out += "0." + std::string(static_cast<std::size_t>(-point), '0') + digits;
  } else if (point >= n) {
    out += digits + std::string(static_cast<std::size_t>(point - n), '0');
  } else {
    out += digits.substr(0, static_cast<std::size_t>(point)) + "." +
           digits.substr(static_cast<std::size_t>(point));
  }
  return out;
}

std::optional<Failure> validate_feature_size(double feature_size) {
  if (feature_size > 0.0 && std::isfinite(feature_size)) return std::nullopt;
  return Failure{FailureKind::invalid_feature_size,
                 "feature_size must be a positive finite number, got " + format_float(feature_size),
                 std::nullopt};
}

std::optional<Failure> check_width_lists(const std::vector<Curve>& curves,
                                         const std::optional<WidthLists>& widths) {
  if (!widths) return std::nullopt;
  auto fail = [](std::string message) {
    return Failure{FailureKind::width_lists, std::move(message), std::nullopt};
  };
  for (std::size_t i = 0; i < widths->size(); ++i) {
    const WidthList& w = (*widths)[i];
    if (w.empty()) continue;
    if (i >= curves.size())
      return fail("per_curve_widths has an entry for curve " + unsigned_text(i) + " but only " +
                  unsigned_text(curves.size()) + " curve(s) were given");
    if (w.size() != curves[i].size())
      return fail("per_curve_widths[" + unsigned_text(i) + "] has " + unsigned_text(w.size()) +
                  " entries but curve " + unsigned_text(i) + " has " +
                  unsigned_text(curves[i].size()) +
                  " points; they must match (or pass an empty list to use the uniform buffer)");
  }
  return std::nullopt;
}

std::optional<Failure> check_node_limit(std::size_t nodes, std::optional<std::uint64_t> max_nodes) {
  if (!max_nodes || nodes <= *max_nodes) return std::nullopt;
  return Failure{FailureKind::node_limit,
                 "skeleton has " + unsigned_text(nodes) + " nodes, exceeding max_nodes limit of " +
                     unsigned_text(*max_nodes),
                 std::nullopt};
}

Failure union_too_costly(const std::string& buffers, double work, double limit,
                         const std::string& remedy) {
  return {FailureKind::work_limit,
          "the union of " + buffers + " would take about " + format_float(std::round(work / 1e6)) +
              " million sweep steps, more than the limit of " + format_float(limit / 1e6) +
              " million; " + remedy,
          std::nullopt};
}

}  // namespace strandify

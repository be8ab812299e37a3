// Input preparation: joining curves whose ends meet, then thinning their vertices.
#include "input_prep.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "geometry.hpp"
#include "numeric.hpp"
#include "pair_table.hpp"

namespace strandify {

// --- decimation --------------------------------------------------------------------------

Curve decimate_curve(const Curve& curve, double tolerance) {
  const std::size_t n = curve.size();
  if (n <= 2) return curve;
  const double tol2 = tolerance * tolerance;
  Curve out;
  out.reserve(n);
  Point last = curve.front();
  out.push_back(last);
  for (std::size_t j = 1; j + 1 < n; ++j) {
    // Measured from the last kept vertex, so a dense run thins out instead of vanishing.
    if (squared_distance(last, curve[j]) >= tol2) {
      last = curve[j];
      out.push_back(last);
    }
  }
  out.push_back(curve.back());
  return out;
}

std::vector<Curve> decimate_curves(const std::vector<Curve>& curves, bool has_widths,
                                   double tolerance) {
  if (has_widths) return curves;
  std::vector<Curve> out;
  out.reserve(curves.size());
  for (const Curve& c : curves) out.push_back(decimate_curve(c, tolerance));
  return out;
}

// --- merging -----------------------------------------------------------------------------

namespace {

struct Cell {
  std::int64_t x;
  std::int64_t y;
  bool operator==(const Cell& o) const { return x == o.x && y == o.y; }
};

struct CellHash {
  std::size_t operator()(const Cell& c) const {
    return static_cast<std::size_t>(
        pair_hash(static_cast<std::uint64_t>(c.x), static_cast<std::uint64_t>(c.y)));
  }
};

struct CurveEnd {
  std::size_t curve;
  bool at_end;  // false: the curve's first point, true: its last point
};

// A cell only ever joins when it holds exactly two ends, so the first two in registration
// order and a count are all that needs keeping.
struct CellEnds {
  CurveEnd ends[2];
  std::size_t count = 0;
};

// Curve ends by merge cell. Used for lookups only; never iterated.
class EndRegistry {
 public:
  EndRegistry(const std::vector<Curve>& curves, double tolerance)
      : inv_(tolerance > 0.0 ? 1.0 / tolerance : 1e9) {
    cells_.reserve(2 * curves.size());
    for (std::size_t i = 0; i < curves.size(); ++i) {
      if (curves[i].size() < 2) continue;
      add(curves[i].front(), {i, false});
      add(curves[i].back(), {i, true});
    }
  }

  // The end to join at `p`: its cell must hold exactly two ends, exactly one of them on a
  // curve that is still unused. Three or more ends form a junction and are left alone.
  std::optional<CurveEnd> partner(Point p, const std::vector<unsigned char>& used) const {
    const auto it = cells_.find(cell_of(p));
    if (it == cells_.end() || it->second.count != 2) return std::nullopt;
    const CurveEnd a = it->second.ends[0];
    const CurveEnd b = it->second.ends[1];
    const bool a_used = used[a.curve] != 0;
    const bool b_used = used[b.curve] != 0;
    if (a_used == b_used) return std::nullopt;
    return a_used ? b : a;
  }

 private:
  Cell cell_of(Point p) const { return {round_i64(p.x * inv_), round_i64(p.y * inv_)}; }

  void add(Point p, CurveEnd e) {
    CellEnds& c = cells_[cell_of(p)];
    if (c.count < 2) c.ends[c.count] = e;
    ++c.count;
  }

  double inv_;
  std::unordered_map<Cell, CellEnds, CellHash> cells_;
};

// The widths a curve contributes: its own list when it has a usable one, otherwise
// `buffer_distance` at every point. A list whose length disagrees with its curve cannot be
// joined point by point, so it is treated like a missing one rather than read out of bounds.
class WidthSource {
 public:
  WidthSource(const std::optional<WidthLists>& widths, double fill) : widths_(widths), fill_(fill) {}

  const WidthList* list_for(std::size_t i, std::size_t points) const {
    if (!widths_ || i >= widths_->size()) return nullptr;
    const WidthList& w = (*widths_)[i];
    return (w.empty() || w.size() != points) ? nullptr : &w;
  }

  double at(const WidthList* list, std::size_t j) const { return list ? (*list)[j] : fill_; }

  WidthList effective(std::size_t i, std::size_t points) const {
    const WidthList* list = list_for(i, points);
    return list ? *list : WidthList(points, fill_);
  }

 private:
  const std::optional<WidthLists>& widths_;
  double fill_;
};

// Appends the piece of a joined curve that continues away from the shared end: without the
// shared point, and reversed when the shared end is the piece's last point. The same order
// serves a prefix stored back to front, which is how the backward extension is kept.
void append_continuation(std::vector<Point>& dst, const Curve& q, bool shared_is_last) {
  const std::size_t m = q.size();
  if (shared_is_last) {
    for (std::size_t j = m - 1; j-- > 0;) dst.push_back(q[j]);
  } else {
    dst.insert(dst.end(), q.begin() + 1, q.end());
  }
}

void append_continuation(std::vector<double>& dst, const WidthSource& src, const WidthList* list,
                         std::size_t m, bool shared_is_last) {
  if (shared_is_last) {
    for (std::size_t j = m - 1; j-- > 0;) dst.push_back(src.at(list, j));
  } else {
    for (std::size_t j = 1; j < m; ++j) dst.push_back(src.at(list, j));
  }
}

// One merged curve under construction: the seed with everything joined after it (`tail`),
// and everything joined before it kept back to front (`head`), so growing either side is
// amortised constant time per point.
struct ChainParts {
  std::vector<Point> head, tail;
  std::vector<double> head_w, tail_w;

  Point first() const { return head.empty() ? tail.front() : head.back(); }
  Point last() const { return tail.back(); }
};

template <class T>
std::vector<T> assemble(std::vector<T>& head, std::vector<T>& tail) {
  if (head.empty()) return std::move(tail);
  std::vector<T> out;
  out.reserve(head.size() + tail.size());
  out.insert(out.end(), head.rbegin(), head.rend());
  out.insert(out.end(), tail.begin(), tail.end());
  return out;
}

}  // namespace

MergedCurves merge_connected(const std::vector<Curve>& curves,
                             const std::optional<WidthLists>& widths, double buffer_distance,
                             double tolerance) {
  const bool with_widths = widths.has_value();
  const WidthSource width_source(widths, buffer_distance);
  const EndRegistry registry(curves, tolerance);
  std::vector<unsigned char> used(curves.size(), 0);

  MergedCurves out;
  out.curves.reserve(curves.size());
  if (with_widths) out.widths.emplace().reserve(curves.size());

  // Joins the unused partner at `p` (if any) onto one side of the chain; false when none.
  auto join_at = [&](Point p, std::vector<Point>& pts, std::vector<double>& ws) {
    const std::optional<CurveEnd> e = registry.partner(p, used);
    if (!e) return false;
    used[e->curve] = 1;
    const Curve& q = curves[e->curve];
    append_continuation(pts, q, e->at_end);
    if (with_widths) {
      const WidthList* list = width_source.list_for(e->curve, q.size());
      append_continuation(ws, width_source, list, q.size(), e->at_end);
    }
    return true;
  };

  ChainParts chain;
  for (std::size_t i = 0; i < curves.size(); ++i) {
    if (used[i] || curves[i].size() < 2) continue;
    used[i] = 1;
    chain.head.clear();
    chain.head_w.clear();
    chain.tail = curves[i];
    if (with_widths) chain.tail_w = width_source.effective(i, curves[i].size());

    while (join_at(chain.last(), chain.tail, chain.tail_w)) {
    }
    while (join_at(chain.first(), chain.head, chain.head_w)) {
    }

    out.curves.push_back(assemble(chain.head, chain.tail));
    if (with_widths) out.widths->push_back(assemble(chain.head_w, chain.tail_w));
  }

  // What is left unused are the single-point curves; empty curves disappear.
  for (std::size_t i = 0; i < curves.size(); ++i) {
    if (used[i] || curves[i].empty()) continue;
    out.curves.push_back(curves[i]);
    if (with_widths) out.widths->push_back(width_source.effective(i, curves[i].size()));
  }
  return out;
}

}  // namespace strandify

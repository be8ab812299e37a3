// plan_tiles, run_tile and stitch_tiles: the tiled pipeline in three calls, so that the tile
// jobs can run anywhere (a cluster's workers) and only plain tuples travel. The point lists a
// job or a tile result carries may also come as float64 (n, 2) arrays (views into one array),
// which is how they cross between processes without a Python object per point.
#include "convert.hpp"
#include "entry_points.hpp"
#include "drivers/entry.hpp"
#include "interrupt.hpp"
#include "options.hpp"

namespace strandify::binding {
namespace {

constexpr const char* kPlanParams[] = {"curves", "buffer_distance", "feature_size", "options",
                                       "per_curve_widths"};
constexpr const char* kRunParams[] = {"job", "buffer_distance", "feature_size", "options"};
constexpr const char* kStitchParams[] = {"tiles", "buffer_distance", "feature_size", "options"};

// A fixed-length tuple's items, or TypeError naming what was expected.
PyObject* const* tuple_items(PyObject* obj, Py_ssize_t n, const char* what) {
  if (!PyTuple_Check(obj) || PyTuple_GET_SIZE(obj) != n) {
    PyErr_Format(PyExc_TypeError, "expected %s (a tuple of %zd), got %.200s", what, n,
                 Py_TYPE(obj)->tp_name);
    return nullptr;
  }
  return &PyTuple_GET_ITEM(obj, 0);
}

bool to_box(PyObject* obj, Box& out) {
  PyObject* const* e = tuple_items(obj, 4, "a box (min_x, min_y, max_x, max_y)");
  return e && to_double(e[0], out.min_x) && to_double(e[1], out.min_y) &&
         to_double(e[2], out.max_x) && to_double(e[3], out.max_y);
}

PyObject* box_to_tuple(const Box& b) { return Py_BuildValue("(dddd)", b.min_x, b.min_y, b.max_x, b.max_y); }

bool to_job(PyObject* obj, TileJob& job) {
  PyObject* const* e = tuple_items(obj, 4, "a tile job (core, halo, curves, widths)");
  return e && to_box(e[0], job.core) && to_box(e[1], job.halo) && to_strokes(e[2], job.curves) &&
         to_optional_width_lists(e[3], job.widths);
}

PyObject* doubles_list(const std::vector<double>& values) {
  Ref list(PyList_New(static_cast<Py_ssize_t>(values.size())));
  if (!list) return nullptr;
  for (std::size_t i = 0; i < values.size(); ++i) {
    PyObject* v = PyFloat_FromDouble(values[i]);
    if (!v) return nullptr;
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), v);
  }
  return list.release();
}

PyObject* job_to_tuple(const TileJob& job) {
  Ref core(box_to_tuple(job.core)), halo(box_to_tuple(job.halo));
  if (!core || !halo) return nullptr;
  Ref curves(curves_to_list(job.curves));
  if (!curves) return nullptr;
  Ref widths(job.widths ? PyList_New(static_cast<Py_ssize_t>(job.widths->size())) : Py_NewRef(Py_None));
  if (!widths) return nullptr;
  for (std::size_t i = 0; job.widths && i < job.widths->size(); ++i) {
    PyObject* w = doubles_list((*job.widths)[i]);
    if (!w) return nullptr;
    PyList_SET_ITEM(widths.get(), static_cast<Py_ssize_t>(i), w);
  }
  return PyTuple_Pack(4, core.get(), halo.get(), curves.get(), widths.get());
}

PyObject* piece_to_tuple(const TilePiece& p) {
  Ref points(points_to_list(p.points));
  if (!points) return nullptr;
  return Py_BuildValue("(OKKOO)", points.get(), static_cast<unsigned long long>(p.start_node),
                       static_cast<unsigned long long>(p.end_node),
                       p.start_on_seam ? Py_True : Py_False, p.end_on_seam ? Py_True : Py_False);
}

PyObject* tile_result_to_tuple(const TileResult& r) {
  Ref pieces(PyList_New(static_cast<Py_ssize_t>(r.pieces.size())));
  if (!pieces) return nullptr;
  for (std::size_t i = 0; i < r.pieces.size(); ++i) {
    PyObject* p = piece_to_tuple(r.pieces[i]);
    if (!p) return nullptr;
    PyList_SET_ITEM(pieces.get(), static_cast<Py_ssize_t>(i), p);
  }
  Ref boundary(points_to_list(r.boundary));
  if (!boundary) return nullptr;
  return Py_BuildValue("(OKKO)", pieces.get(), static_cast<unsigned long long>(r.node_count),
                       static_cast<unsigned long long>(r.skeleton_nodes), boundary.get());
}

bool to_count(PyObject* obj, std::uint64_t& out) {
  std::optional<std::uint64_t> v;
  if (!to_optional_count(obj, v)) return false;
  if (!v) {
    PyErr_SetString(PyExc_TypeError, "expected a non-negative integer, got None");
    return false;
  }
  out = *v;
  return true;
}

bool to_piece(PyObject* obj, TilePiece& p) {
  PyObject* const* e = tuple_items(obj, 5, "a piece (points, start_node, end_node, start_on_seam, end_on_seam)");
  if (!e || !to_curve_points(e[0], p.points) || !to_count(e[1], p.start_node) ||
      !to_count(e[2], p.end_node) || !to_flag(e[3], p.start_on_seam) || !to_flag(e[4], p.end_on_seam))
    return false;
  if (p.points.size() < 2) {
    PyErr_SetString(PyExc_ValueError, "a tile piece needs at least two points");
    return false;
  }
  return true;
}

bool to_tile_result(PyObject* obj, TileResult& r) {
  PyObject* const* e = tuple_items(obj, 4, "a tile result (pieces, node_count, skeleton_nodes, boundary)");
  if (!e || !convert_sequence(e[0], r.pieces, to_piece) || !to_count(e[1], r.node_count) ||
      !to_count(e[2], r.skeleton_nodes) || !to_curve_points(e[3], r.boundary))
    return false;
  for (const TilePiece& p : r.pieces) {
    if ((!p.start_on_seam && p.start_node >= r.node_count) ||
        (!p.end_on_seam && p.end_node >= r.node_count)) {
      PyErr_Format(PyExc_ValueError, "a tile piece names a node beyond the tile's %llu nodes",
                   static_cast<unsigned long long>(r.node_count));
      return false;
    }
  }
  return true;
}

bool to_tile_results(PyObject* obj, std::vector<TileResult>& out) {
  return convert_sequence(obj, out, to_tile_result);
}


}  // namespace

PyObject* plan_tiles_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  ScaledCall<std::vector<Curve>> call;
  if (!bind_scaled_call("plan_tiles", kPlanParams, to_strokes, args, nargs, kwnames, call))
    return nullptr;
  TuningOptions& tuning = call.options.tuning;
  tuning.partition = Partition::tiles;
  Outcome<TilePlan> plan;
  if (!run_native(Gil::release, [&](const KeepGoing&) {
        const Settings settings = resolve_settings(call.buffer_distance, call.feature_size, tuning);
        auto prepared = prepare_curves(call.data, call.widths, settings);
        if (!prepared.ok()) {
          plan.failure = std::move(prepared.failure);
          return;
        }
        plan = plan_tiles(prepared.value, settings);
      }))
    return nullptr;
  if (!plan.ok()) return raise_failure(*plan.failure, true);
  Ref list(PyList_New(static_cast<Py_ssize_t>(plan.value.tiles.size())));
  if (!list) return nullptr;
  for (std::size_t i = 0; i < plan.value.tiles.size(); ++i) {
    PyObject* job = job_to_tuple(plan.value.tiles[i]);
    if (!job) return nullptr;
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), job);
  }
  return list.release();
}

PyObject* run_tile_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  ScaledCall<TileJob> call;
  if (!bind_scaled_call("run_tile", kRunParams, to_job, args, nargs, kwnames, call)) return nullptr;
  const TileJob& job = call.data;
  if (job.widths && job.widths->size() != job.curves.size()) {
    PyErr_SetString(PyExc_ValueError, "a tile job has one width list per curve, or None");
    return nullptr;
  }
  for (std::size_t i = 0; job.widths && i < job.curves.size(); ++i) {
    const std::size_t w = (*job.widths)[i].size();
    if (w != 0 && w != job.curves[i].size()) {
      PyErr_SetString(PyExc_ValueError, "a tile job's width list must match its curve's points");
      return nullptr;
    }
  }
  TuningOptions& t = call.options.tuning;
  t.partition = Partition::tiles;
  Outcome<TileResult> result;
  if (!run_native(Gil::release, [&](const KeepGoing&) {
        result = run_tile(job, resolve_settings(call.buffer_distance, call.feature_size, t));
      }))
    return nullptr;
  if (!result.ok()) return raise_failure(*result.failure, true);
  return tile_result_to_tuple(result.value);
}

PyObject* stitch_tiles_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  ScaledCall<std::vector<TileResult>> call;
  if (!bind_scaled_call("stitch_tiles", kStitchParams, to_tile_results, args, nargs, kwnames, call))
    return nullptr;
  const std::vector<TileResult>& tiles = call.data;
  const CallOptions& options = call.options;
  std::uint64_t skeleton_nodes = 0;
  for (const TileResult& r : tiles)  // saturating: the counts come from the caller
    skeleton_nodes = r.skeleton_nodes > UINT64_MAX - skeleton_nodes ? UINT64_MAX : skeleton_nodes + r.skeleton_nodes;
  if (auto failure = check_node_limit(skeleton_nodes, options.max_nodes))
    return raise_failure(*failure, true);
  TuningOptions t = options.tuning;
  t.partition = Partition::tiles;
  CenterlineResult result;
  if (!run_native(Gil::release, [&](const KeepGoing&) {
        const Settings settings = resolve_settings(call.buffer_distance, call.feature_size, t);
        result = stitch_tiles(tiles, settings, options.compute_widths);
      }))
    return nullptr;
  return centerline_to_tuple(result, true);
}

}  // namespace strandify::binding

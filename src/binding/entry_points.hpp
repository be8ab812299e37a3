// The module's builtin functions (fast-call with keywords).
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace strandify::binding {

#define STRANDIFY_ENTRY(name) \
  PyObject* name(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames)

// The four exact functions.
STRANDIFY_ENTRY(inflate_curves_entry);
STRANDIFY_ENTRY(triangulate_curves_entry);
STRANDIFY_ENTRY(strandify_entry);
STRANDIFY_ENTRY(strandify_batch_entry);

// Beside them, the calls that take one options value.
STRANDIFY_ENTRY(strandify_strokes_entry);
STRANDIFY_ENTRY(strandify_strokes_arrays_entry);
STRANDIFY_ENTRY(strandify_strokes_batch_entry);
STRANDIFY_ENTRY(strandify_strokes_arrays_batch_entry);
STRANDIFY_ENTRY(inflate_strokes_entry);
STRANDIFY_ENTRY(triangulate_strokes_entry);
STRANDIFY_ENTRY(strandify_polygons_entry);
STRANDIFY_ENTRY(strandify_polygons_arrays_entry);
STRANDIFY_ENTRY(strandify_polygons_batch_entry);
STRANDIFY_ENTRY(plan_tiles_entry);
STRANDIFY_ENTRY(run_tile_entry);
STRANDIFY_ENTRY(stitch_tiles_entry);
STRANDIFY_ENTRY(resolved_settings_entry);
STRANDIFY_ENTRY(read_point_lists_entry);

#undef STRANDIFY_ENTRY

}  // namespace strandify::binding

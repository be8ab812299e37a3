// The extension module `_internal`: multi-phase initialisation and the function table.
#include "entry_points.hpp"

namespace strandify::binding {
namespace {

#define STRANDIFY_FASTCALL(f) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(f))

PyDoc_STRVAR(inflate_curves_doc,
"inflate_curves(curves, buffer_distance, feature_size, per_curve_widths=None, merge_tolerance=None)\n"
"--\n"
"\n"
"Inflate a list of polylines by `buffer_distance`, union all results,\n"
"and return the buffer polygons as (outer_ring, holes) pairs.\n"
"\n"
"The same input decimation applied inside `strandify` is used here so\n"
"the polygons match exactly what the skeleton sees.\n"
"\n"
"Parameters\n"
"----------\n"
"curves : list of lists of (x, y) tuples\n"
"buffer_distance : float\n"
"    Uniform inflation radius (used for curves without per-vertex widths).\n"
"feature_size : float\n"
"    Scale parameter for input decimation and derived thresholds.\n"
"per_curve_widths : list of lists of float, default None\n"
"    Per-vertex radii for each curve (one list per curve). If provided,\n"
"    each sub-list must have the same length as the corresponding curve.\n"
"    Curves with an empty sub-list (or missing entry) use `buffer_distance`.\n"
"\n"
"Returns\n"
"-------\n"
"list of (outer, holes) where outer and each hole is a list of (x, y) tuples");

PyDoc_STRVAR(triangulate_curves_doc,
"triangulate_curves(curves, buffer_distance, feature_size, per_curve_widths=None, subdivision_ratio=None, resample=None, boundary_simplification=None, merge_tolerance=None)\n"
"--\n"
"\n"
"Return the CDT triangles for each inflated polygon, using the same\n"
"boundary preprocessing (RDP simplification + subdivision) as `strandify`.\n"
"Useful for visualising and debugging the triangulation step.\n"
"\n"
"Returns a flat list of triangles across all polygons, each as\n"
"((x0,y0),(x1,y1),(x2,y2)).");

PyDoc_STRVAR(strandify_doc,
"strandify(curves, buffer_distance, feature_size, simplification=None, min_tip_fraction=None, junction_merge_fraction=None, per_curve_widths=None, compute_widths=False, subdivision_ratio=None, max_nodes=None, resample=None, boundary_simplification=None, merge_tolerance=None, refine=None)\n"
"--\n"
"\n"
"Strandify a list of polylines into clean centerline chains.");

PyDoc_STRVAR(strandify_batch_doc,
"strandify_batch(jobs, refine=None)\n"
"--\n"
"\n"
"Process multiple independent curve-sets in parallel using Rayon.\n"
"\n"
"Each element of `jobs` is a tuple of (curves, buffer_distance,\n"
"feature_size, simplification, min_tip_fraction, junction_merge_fraction,\n"
"max_nodes, subdivision_ratio, resample, boundary_simplification,\n"
"merge_tolerance) \xe2\x80\x94 one independent strandify invocation with its own\n"
"parameters, matching the boundary-preprocessing knobs of the single\n"
"[`strandify`] entry point. The GIL is released for the parallel work.\n"
"\n"
"Returns a list of (chains, nodes, chain_node_ids) tuples, one per job.");

PyMethodDef functions[] = {
    {"inflate_curves", STRANDIFY_FASTCALL(inflate_curves_entry), METH_FASTCALL | METH_KEYWORDS,
     inflate_curves_doc},
    {"triangulate_curves", STRANDIFY_FASTCALL(triangulate_curves_entry),
     METH_FASTCALL | METH_KEYWORDS, triangulate_curves_doc},
    {"strandify", STRANDIFY_FASTCALL(strandify_entry), METH_FASTCALL | METH_KEYWORDS, strandify_doc},
    {"strandify_batch", STRANDIFY_FASTCALL(strandify_batch_entry), METH_FASTCALL | METH_KEYWORDS,
     strandify_batch_doc},
    {nullptr, nullptr, 0, nullptr},
};

int exec_module(PyObject* module) { return PyModule_AddFunctions(module, functions); }

PyModuleDef_Slot slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "_internal",
    "",
    0,
    nullptr,
    slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace strandify::binding

PyMODINIT_FUNC PyInit__internal(void) { return PyModuleDef_Init(&strandify::binding::module_def); }

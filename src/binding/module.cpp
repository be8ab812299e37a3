// The extension module `_internal`: multi-phase initialisation and the function table.
#include "entry_points.hpp"

namespace strandify::binding {
namespace {

#define STRANDIFY_FASTCALL(f) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(f))

PyDoc_STRVAR(inflate_curves_doc,
"inflate_curves(curves, buffer_distance, feature_size, per_curve_widths=None, merge_tolerance=None, partition='none', workers=None)\n"
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
"partition : {'none', 'components'}, default 'none'\n"
"    'components' unions each group of curves whose buffers' bounding boxes\n"
"    overlap on its own: much faster on large drawings, the same rings up to\n"
"    the rounding of intersection points. 'none' is the one-call union.\n"
"workers : int, default None\n"
"    Threads this call may use for independent groups (None: one).\n"
"\n"
"Returns\n"
"-------\n"
"list of (outer, holes) where outer and each hole is a list of (x, y) tuples");

PyDoc_STRVAR(triangulate_curves_doc,
"triangulate_curves(curves, buffer_distance, feature_size, per_curve_widths=None, subdivision_ratio=None, resample=None, boundary_simplification=None, merge_tolerance=None, partition='none', workers=None)\n"
"--\n"
"\n"
"Return the CDT triangles for each inflated polygon, using the same\n"
"boundary preprocessing (RDP simplification + subdivision) as `strandify`.\n"
"Useful for visualising and debugging the triangulation step.\n"
"\n"
"Returns a flat list of triangles across all polygons, each as\n"
"((x0,y0),(x1,y1),(x2,y2)).\n"
"\n"
"`partition` and `workers` are as for `inflate_curves`; the triangles\n"
"are the same for any number of workers.");

PyDoc_STRVAR(strandify_doc,
"strandify(curves, buffer_distance, feature_size, simplification=None, min_tip_fraction=None, junction_merge_fraction=None, per_curve_widths=None, compute_widths=False, subdivision_ratio=None, max_nodes=None, resample=None, boundary_simplification=None, merge_tolerance=None, partition='none', workers=None, tile_size=None, refine=None)\n"
"--\n"
"\n"
"Strandify a list of polylines into clean centerline chains.");

PyDoc_STRVAR(strandify_batch_doc,
"strandify_batch(jobs, partition='none', tile_size=None, refine=None)\n"
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
"`partition` and `tile_size` apply to every job, as for `strandify`.\n"
"\n"
"Returns a list of (chains, nodes, chain_node_ids) tuples, one per job.");

PyDoc_STRVAR(plan_tiles_doc,
"plan_tiles(curves, buffer_distance, feature_size, per_curve_widths=None, merge_tolerance=None, tile_size=None)\n"
"--\n"
"\n"
"Cut a drawing into the tile jobs of partition='tiles', for running them\n"
"elsewhere: a list of (core, halo, curves, widths) tuples, where core and\n"
"halo are (min_x, min_y, max_x, max_y). The curves are merged and decimated\n"
"as `strandify` does before they are cut.");

PyDoc_STRVAR(run_tile_doc,
"run_tile(job, buffer_distance, feature_size, simplification=None, min_tip_fraction=None, junction_merge_fraction=None, subdivision_ratio=None, resample=None, boundary_simplification=None)\n"
"--\n"
"\n"
"Run one job of `plan_tiles`: the tile's cleaned skeleton chains cut to\n"
"its core, as (pieces, node_count, skeleton_nodes, boundary), each piece\n"
"(points, start_node, end_node, start_on_seam, end_on_seam).");

PyDoc_STRVAR(stitch_tiles_doc,
"stitch_tiles(tiles, buffer_distance, feature_size, simplification=None, min_tip_fraction=None, junction_merge_fraction=None, compute_widths=False, max_nodes=None)\n"
"--\n"
"\n"
"Join the results of `run_tile` for every job of a plan, in plan order,\n"
"into (chains, nodes, chain_node_ids, chain_widths) as `strandify` with\n"
"partition='tiles' returns them. Options must be those given to the\n"
"other two calls.");

PyDoc_STRVAR(strandify_polygons_batch_doc,
"strandify_polygons_batch(jobs, partition='none', refine=None, workers=None)\n"
"--\n"
"\n"
"strandify_polygons for many independent jobs on the shared worker pool,\n"
"with the interpreter lock released.\n"
"\n"
"Each element of `jobs` is a tuple of (polygons, feature_size,\n"
"buffer_distance, simplification, min_tip_fraction,\n"
"junction_merge_fraction, compute_widths, subdivision_ratio, max_nodes,\n"
"resample, boundary_simplification): the leading parameters of\n"
"strandify_polygons, in its order. `partition` and `refine` apply to every\n"
"job; each job runs on one thread, and `workers` (None: every thread of\n"
"the pool) caps how many run at once. The first failing job raises\n"
"ValueError with `job_index` and `reason` attributes.\n"
"\n"
"Returns a list of (chains, nodes, chain_node_ids, chain_widths) tuples,\n"
"one per job, as strandify_polygons returns them.");

PyDoc_STRVAR(strandify_polygons_doc,
"strandify_polygons(polygons, feature_size, buffer_distance=None, simplification=None, min_tip_fraction=None, junction_merge_fraction=None, compute_widths=False, subdivision_ratio=None, max_nodes=None, resample=None, boundary_simplification=None, partition='none', workers=None, refine=None)\n"
"--\n"
"\n"
"Centerlines of filled shapes: the polygons enter where strandify's buffer\n"
"polygons would, and every later stage runs as it does there.\n"
"\n"
"Parameters\n"
"----------\n"
"polygons : list of (outer, holes) tuples\n"
"    outer is a list of (x, y) tuples, holes a list of such lists; a ring\n"
"    may also be a C-contiguous float64 array of shape (n, 2). Rings may\n"
"    be closed or open, in either orientation. Each polygon's region is its\n"
"    outer ring minus its holes, every ring read under the NonZero rule (a\n"
"    self-intersecting ring is repaired, not rejected); the regions of all\n"
"    polygons are unioned at 10^-6 resolution and cleaned like buffer unions\n"
"    (holes smaller than 0.1 * feature_size**2 are filled).\n"
"feature_size : float\n"
"    Scale parameter, with the same derived thresholds as in strandify.\n"
"buffer_distance : float, default None\n"
"    Stands in for strandify's buffer radius where it is used after\n"
"    inflation: the reach of boundary refinement near sharp turns. When\n"
"    None it is the shape's mean half-width: the repaired area divided by\n"
"    the repaired boundary length (holes included in both).\n"
"\n"
"partition : {'none', 'components'}, default 'none'\n"
"    'components' skeletonises, cleans and chains every repaired polygon\n"
"    on its own, as strandify does with a partitioned union.\n"
"workers : int, default None\n"
"    Threads this call may use for its polygons (None: one); the result\n"
"    does not depend on their number.\n"
"refine : collection of str, default None\n"
"    The finishing steps to run instead of plain cleaning, by name:\n"
"    'finish_tips', 'recover_corners', 'keep_dots', 'join_crossings',\n"
"    'radius_tips', as strandify's refine keyword takes them.\n"
"\n"
"The other parameters mean what they mean in strandify.\n"
"\n"
"Returns (chains, nodes, chain_node_ids, chain_widths) as strandify does.\n"
"Raises ValueError for a non-finite or out-of-range coordinate, a\n"
"buffer_distance that is not a positive finite number, and polygons that\n"
"cover no area.");

PyMethodDef functions[] = {
    {"inflate_curves", STRANDIFY_FASTCALL(inflate_curves_entry), METH_FASTCALL | METH_KEYWORDS,
     inflate_curves_doc},
    {"triangulate_curves", STRANDIFY_FASTCALL(triangulate_curves_entry),
     METH_FASTCALL | METH_KEYWORDS, triangulate_curves_doc},
    {"strandify", STRANDIFY_FASTCALL(strandify_entry), METH_FASTCALL | METH_KEYWORDS, strandify_doc},
    {"strandify_batch", STRANDIFY_FASTCALL(strandify_batch_entry), METH_FASTCALL | METH_KEYWORDS,
     strandify_batch_doc},
    // Beyond the four above: filled shapes enter after inflation.
    {"strandify_polygons", STRANDIFY_FASTCALL(strandify_polygons_entry),
     METH_FASTCALL | METH_KEYWORDS, strandify_polygons_doc},
    {"strandify_polygons_batch", STRANDIFY_FASTCALL(strandify_polygons_batch_entry),
     METH_FASTCALL | METH_KEYWORDS, strandify_polygons_batch_doc},
    {"plan_tiles", STRANDIFY_FASTCALL(plan_tiles_entry), METH_FASTCALL | METH_KEYWORDS, plan_tiles_doc},
    {"run_tile", STRANDIFY_FASTCALL(run_tile_entry), METH_FASTCALL | METH_KEYWORDS, run_tile_doc},
    {"stitch_tiles", STRANDIFY_FASTCALL(stitch_tiles_entry), METH_FASTCALL | METH_KEYWORDS,
     stitch_tiles_doc},
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

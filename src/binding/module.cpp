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
"strandify(curves, buffer_distance, feature_size, simplification=None, min_tip_fraction=None, junction_merge_fraction=None, per_curve_widths=None, compute_widths=False, subdivision_ratio=None, max_nodes=None, resample=None, boundary_simplification=None, merge_tolerance=None)\n"
"--\n"
"\n"
"Strandify a list of polylines into clean centerline chains.");

PyDoc_STRVAR(strandify_batch_doc,
"strandify_batch(jobs)\n"
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

// The calls beyond the exact four share one way of taking tuning: `options`, an object whose
// attributes name every option (strandify.options.Options), or None for the defaults.
#define STRANDIFY_OPTIONS_DOC                                                             \
  "`options` is one value holding every tuning option as an attribute\n"                  \
  "(strandify.options.Options; None: every default): simplification,\n"                  \
  "min_tip_fraction, junction_merge_fraction, subdivision_ratio, resample,\n"             \
  "boundary_simplification, merge_tolerance, tile_size, max_nodes,\n"                     \
  "compute_widths, partition ('none', 'components' or 'tiles'), workers\n"                \
  "(threads of the call; None: one) and refine_steps (None, or the names of\n"            \
  "the finishing steps 'finish_tips', 'recover_corners', 'keep_dots',\n"                  \
  "'join_crossings', 'radius_tips', 'round_pens', 'real_ends'). Curves and\n"            \
  "rings may be lists of (x, y)\n"                                                        \
  "tuples or C-contiguous float64 arrays of shape (n, 2), read in one copy.\n"            \
  "A failure raises ValueError with a `kind` attribute naming it\n"                       \
  "(strandify.errors maps the kinds to its exception classes)."

PyDoc_STRVAR(strandify_strokes_doc,
"strandify_strokes(curves, buffer_distance, feature_size, options=None, per_curve_widths=None)\n"
"--\n"
"\n"
"strandify with its tuning in one options value, and with the ways of\n"
"splitting the work and the finishing steps that only it offers.\n"
"\n"
STRANDIFY_OPTIONS_DOC "\n"
"\n"
"Returns (chains, nodes, chain_node_ids, chain_widths) as strandify does.");

PyDoc_STRVAR(strandify_strokes_arrays_doc,
"strandify_strokes_arrays(curves, buffer_distance, feature_size, options=None, per_curve_widths=None)\n"
"--\n"
"\n"
"strandify_strokes with its result as flat buffers for numpy.frombuffer,\n"
"and the separate groups of strokes that gave no chain: the strokes'\n"
"bounding boxes grown by buffer_distance group them (overlapping boxes\n"
"belong together), and a group whose box grown by twice buffer_distance\n"
"holds no chain point is lost.\n"
"\n"
"Returns (points, offsets, nodes, chain_node_ids, widths, lost, groups):\n"
"bytearrays of float64 (x, y) pairs of all chains one after another,\n"
"int64 chain starts followed by the end, float64 node pairs, int64 node id\n"
"pairs, float64 widths per chain point (None unless compute_widths), and\n"
"the int64 index of the first stroke of every lost group, ascending; then\n"
"the number of groups.");

PyDoc_STRVAR(strandify_strokes_batch_doc,
"strandify_strokes_batch(jobs, options=None)\n"
"--\n"
"\n"
"strandify_strokes for many independent drawings on the shared worker\n"
"pool, with the interpreter lock released. Each job is a tuple\n"
"(curves, buffer_distance, feature_size); `options` apply to every job.\n"
"Each job runs on one thread, and `workers` (None: every thread of the\n"
"pool) caps how many run at once. The first failing job raises ValueError\n"
"with `kind`, `job_index` and `reason` attributes.\n"
"\n"
STRANDIFY_OPTIONS_DOC "\n"
"\n"
"Returns a list of (chains, nodes, chain_node_ids, chain_widths) tuples.");

PyDoc_STRVAR(strandify_strokes_arrays_batch_doc,
"strandify_strokes_arrays_batch(jobs, options=None)\n"
"--\n"
"\n"
"strandify_strokes_batch with every job's result as strandify_strokes_arrays\n"
"returns it: (points, offsets, nodes, chain_node_ids, widths, lost, groups),\n"
"flat buffers for numpy.frombuffer and the groups of the job's strokes that\n"
"gave no chain. Each job is a tuple (curves, buffer_distance, feature_size),\n"
"its strokes lists of (x, y) tuples or C-contiguous float64 (n, 2) arrays;\n"
"`options` apply to every job. Each job runs on one thread, and `workers`\n"
"(None: every thread of the pool) caps how many run at once. The first\n"
"failing job raises ValueError with `kind`, `job_index` and `reason`\n"
"attributes.\n"
"\n"
STRANDIFY_OPTIONS_DOC "\n"
"\n"
"Returns a list of such tuples, one per job.");

PyDoc_STRVAR(inflate_strokes_doc,
"inflate_strokes(curves, buffer_distance, feature_size, options=None, per_curve_widths=None)\n"
"--\n"
"\n"
"inflate_curves with an options value: its merge_tolerance, and partition\n"
"'components' to union each group of curves whose buffers' bounding boxes\n"
"overlap on its own (the same rings up to the rounding of intersection\n"
"points) on up to `workers` threads.\n"
"\n"
STRANDIFY_OPTIONS_DOC);

PyDoc_STRVAR(triangulate_strokes_doc,
"triangulate_strokes(curves, buffer_distance, feature_size, options=None, per_curve_widths=None)\n"
"--\n"
"\n"
"triangulate_curves with an options value, partitioned as inflate_strokes\n"
"is; the triangles are the same for any number of workers.\n"
"\n"
STRANDIFY_OPTIONS_DOC);

PyDoc_STRVAR(strandify_polygons_doc,
"strandify_polygons(polygons, buffer_distance, feature_size, options=None)\n"
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
"buffer_distance : float or None\n"
"    Stands in for strandify's buffer radius where it is used after\n"
"    inflation: the reach of boundary refinement near sharp turns. When\n"
"    None it is the shape's mean half-width: the repaired area divided by\n"
"    the repaired boundary length (holes included in both).\n"
"feature_size : float or None\n"
"    Scale parameter, with the same derived thresholds as in strandify.\n"
"    When None it is 1.5 times the shape's mean half-width.\n"
"options : the tuning, as below\n"
"    partition 'components' skeletonises, cleans and chains every repaired\n"
"    polygon on its own; merge_tolerance and tile_size mean nothing here.\n"
"    A scale left None is then derived for each separate repaired polygon\n"
"    from its own half-width (and its small holes filled by its own floor),\n"
"    so that its chains do not depend on the other shapes of the call;\n"
"    max_nodes then bounds each polygon's skeleton.\n"
"\n"
STRANDIFY_OPTIONS_DOC "\n"
"\n"
"Returns (chains, nodes, chain_node_ids, chain_widths) as strandify does.\n"
"Raises ValueError for a non-finite or out-of-range coordinate, a\n"
"buffer_distance that is not a positive finite number, and polygons that\n"
"cover no area.");

PyDoc_STRVAR(strandify_polygons_arrays_doc,
"strandify_polygons_arrays(polygons, buffer_distance, feature_size, options=None)\n"
"--\n"
"\n"
"strandify_polygons with its result as flat buffers for numpy.frombuffer,\n"
"as strandify_strokes_arrays returns them, and the shapes that gave no\n"
"chain: those whose outer ring (its finite points, at least three) holds\n"
"no chain point and is crossed by no chain segment.\n"
"\n"
"Returns (points, offsets, nodes, chain_node_ids, widths, lost, shapes):\n"
"lost holds the int64 indices of those polygons, ascending, and shapes is\n"
"the number of polygons given.");

PyDoc_STRVAR(strandify_polygons_batch_doc,
"strandify_polygons_batch(jobs, options=None)\n"
"--\n"
"\n"
"strandify_polygons for many independent jobs on the shared worker pool,\n"
"with the interpreter lock released. Each job is a tuple (polygons,\n"
"buffer_distance, feature_size), either scale None to derive it from the\n"
"shape as strandify_polygons does; `options` apply to every job. Each job runs on one\n"
"thread, and `workers` (None: every thread of the pool) caps how many run\n"
"at once. The first failing job raises ValueError with `kind`,\n"
"`job_index` and `reason` attributes.\n"
"\n"
"Returns a list of (chains, nodes, chain_node_ids, chain_widths) tuples,\n"
"one per job, as strandify_polygons returns them.");

PyDoc_STRVAR(plan_tiles_doc,
"plan_tiles(curves, buffer_distance, feature_size, options=None, per_curve_widths=None)\n"
"--\n"
"\n"
"Cut a drawing into the tile jobs of partition='tiles', for running them\n"
"elsewhere: a list of (core, halo, curves, widths) tuples, where core and\n"
"halo are (min_x, min_y, max_x, max_y). The curves are merged and decimated\n"
"as `strandify` does before they are cut (options: merge_tolerance,\n"
"tile_size).");

PyDoc_STRVAR(run_tile_doc,
"run_tile(job, buffer_distance, feature_size, options=None)\n"
"--\n"
"\n"
"Run one job of `plan_tiles`: the tile's cleaned skeleton chains cut to\n"
"its core, as (pieces, node_count, skeleton_nodes, boundary), each piece\n"
"(points, start_node, end_node, start_on_seam, end_on_seam).");

PyDoc_STRVAR(stitch_tiles_doc,
"stitch_tiles(tiles, buffer_distance, feature_size, options=None)\n"
"--\n"
"\n"
"Join the results of `run_tile` for every job of a plan, in plan order,\n"
"into (chains, nodes, chain_node_ids, chain_widths) as `strandify_strokes`\n"
"with partition='tiles' returns them. The scale and options must be those\n"
"given to the other two calls.");

PyDoc_STRVAR(resolved_settings_doc,
"resolved_settings(buffer_distance, feature_size, options=None)\n"
"--\n"
"\n"
"The thresholds a call with this scale and these options derives, as a dict\n"
"of floats: buffer_distance, feature_size, merge_tolerance,\n"
"decimation_spacing, snap_distance, tip_length, junction_merge_distance,\n"
"simplification_tolerance, min_hole_area, arc_tolerance, tile_size (None:\n"
"derived from the drawing), tile_halo and seam_snap.");

PyDoc_STRVAR(read_point_lists_doc,
"read_point_lists(curves)\n"
"--\n"
"\n"
"A drawing given as a list or tuple of curves, each a list or tuple of\n"
"points, each a tuple or list of two floats or ints, read in one pass:\n"
"(points, counts), bytearrays of the float64 (x, y) pairs of all curves\n"
"one after another and of the int64 number of points of every curve.\n"
"None for a drawing of any other form (a point of another length, a\n"
"coordinate of another type), which the caller reads its own way.");

#define STRANDIFY_FUNCTION(name) \
  {#name, STRANDIFY_FASTCALL(name##_entry), METH_FASTCALL | METH_KEYWORDS, name##_doc}

PyMethodDef functions[] = {
    // The four exact functions, in this order.
    STRANDIFY_FUNCTION(inflate_curves),
    STRANDIFY_FUNCTION(triangulate_curves),
    STRANDIFY_FUNCTION(strandify),
    STRANDIFY_FUNCTION(strandify_batch),
    // Beyond them: one options value, filled shapes, and the tiled pipeline in three calls.
    STRANDIFY_FUNCTION(strandify_strokes),
    STRANDIFY_FUNCTION(strandify_strokes_arrays),
    STRANDIFY_FUNCTION(strandify_strokes_batch),
    STRANDIFY_FUNCTION(strandify_strokes_arrays_batch),
    STRANDIFY_FUNCTION(inflate_strokes),
    STRANDIFY_FUNCTION(triangulate_strokes),
    STRANDIFY_FUNCTION(strandify_polygons),
    STRANDIFY_FUNCTION(strandify_polygons_arrays),
    STRANDIFY_FUNCTION(strandify_polygons_batch),
    STRANDIFY_FUNCTION(plan_tiles),
    STRANDIFY_FUNCTION(run_tile),
    STRANDIFY_FUNCTION(stitch_tiles),
    STRANDIFY_FUNCTION(resolved_settings),
    // Reading a drawing's points for the package.
    STRANDIFY_FUNCTION(read_point_lists),
    {nullptr, nullptr, 0, nullptr},
};

#undef STRANDIFY_FUNCTION

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

from collections.abc import Iterable, Sequence
from typing import Literal, Protocol, SupportsFloat, SupportsIndex, TypeAlias

import numpy as np
import numpy.typing as npt

_Real: TypeAlias = SupportsFloat | SupportsIndex
_PointIn: TypeAlias = tuple[_Real, _Real]
_CurvesIn: TypeAlias = Sequence[Sequence[_PointIn]]
_Point: TypeAlias = tuple[float, float]
_Chains: TypeAlias = list[list[_Point]]
_CenterlinePartition: TypeAlias = Literal["none", "components", "tiles"]
_Job: TypeAlias = tuple[
    _CurvesIn,
    _Real,
    _Real,
    _Real | None,
    _Real | None,
    _Real | None,
    SupportsIndex | None,
    _Real | None,
    _Real | None,
    _Real | None,
    _Real | None,
]

class _NativeOptions(Protocol):
    """The attributes every call beyond the four exact ones reads from its ``options``
    (``strandify.options.Options`` has them all)."""

    @property
    def simplification(self) -> _Real | None: ...
    @property
    def min_tip_fraction(self) -> _Real | None: ...
    @property
    def junction_merge_fraction(self) -> _Real | None: ...
    @property
    def subdivision_ratio(self) -> _Real | None: ...
    @property
    def resample(self) -> _Real | None: ...
    @property
    def boundary_simplification(self) -> _Real | None: ...
    @property
    def merge_tolerance(self) -> _Real | None: ...
    @property
    def tile_size(self) -> _Real | None: ...
    @property
    def max_nodes(self) -> SupportsIndex | None: ...
    @property
    def compute_widths(self) -> bool | np.bool_: ...
    @property
    def partition(self) -> _CenterlinePartition | None: ...
    @property
    def workers(self) -> SupportsIndex | None: ...
    @property
    def refine_steps(self) -> Iterable[str] | None: ...

_Result: TypeAlias = tuple[_Chains, list[_Point], list[tuple[int, int]], list[list[float]]]
# a curve or ring: (x, y) tuples, or a C-contiguous float64 array of shape (n, 2)
_RingIn: TypeAlias = Sequence[_PointIn] | npt.NDArray[np.float64]
_StrokesIn: TypeAlias = Sequence[_RingIn]
_WidthsIn: TypeAlias = Sequence[Sequence[_Real]] | None
_PolygonsIn: TypeAlias = Sequence[tuple[_RingIn, Sequence[_RingIn]]]

# the four exact functions
def inflate_curves(
    curves: _CurvesIn,
    buffer_distance: _Real,
    feature_size: _Real,
    per_curve_widths: _WidthsIn = None,
    merge_tolerance: _Real | None = None,
) -> list[tuple[list[_Point], list[list[_Point]]]]: ...
def triangulate_curves(
    curves: _CurvesIn,
    buffer_distance: _Real,
    feature_size: _Real,
    per_curve_widths: _WidthsIn = None,
    subdivision_ratio: _Real | None = None,
    resample: _Real | None = None,
    boundary_simplification: _Real | None = None,
    merge_tolerance: _Real | None = None,
) -> list[tuple[_Point, _Point, _Point]]: ...
def strandify(
    curves: _CurvesIn,
    buffer_distance: _Real,
    feature_size: _Real,
    simplification: _Real | None = None,
    min_tip_fraction: _Real | None = None,
    junction_merge_fraction: _Real | None = None,
    per_curve_widths: _WidthsIn = None,
    compute_widths: bool | np.bool_ = False,
    subdivision_ratio: _Real | None = None,
    max_nodes: SupportsIndex | None = None,
    resample: _Real | None = None,
    boundary_simplification: _Real | None = None,
    merge_tolerance: _Real | None = None,
) -> _Result: ...
def strandify_batch(jobs: Sequence[_Job]) -> list[tuple[_Chains, list[_Point], list[tuple[int, int]]]]: ...

# beyond them: one options value
def strandify_strokes(
    curves: _StrokesIn,
    buffer_distance: _Real,
    feature_size: _Real,
    options: _NativeOptions | None = None,
    per_curve_widths: _WidthsIn = None,
) -> _Result: ...
def strandify_strokes_arrays(
    curves: _StrokesIn,
    buffer_distance: _Real,
    feature_size: _Real,
    options: _NativeOptions | None = None,
    per_curve_widths: _WidthsIn = None,
) -> tuple[bytearray, bytearray, bytearray, bytearray, bytearray | None, bytearray, int]: ...
def strandify_strokes_batch(
    jobs: Sequence[tuple[_StrokesIn, _Real, _Real]], options: _NativeOptions | None = None
) -> list[_Result]: ...
def strandify_strokes_arrays_batch(
    jobs: Sequence[tuple[_StrokesIn, _Real, _Real]], options: _NativeOptions | None = None
) -> list[tuple[bytearray, bytearray, bytearray, bytearray, bytearray | None, bytearray, int]]: ...
def inflate_strokes(
    curves: _StrokesIn,
    buffer_distance: _Real,
    feature_size: _Real,
    options: _NativeOptions | None = None,
    per_curve_widths: _WidthsIn = None,
) -> list[tuple[list[_Point], list[list[_Point]]]]: ...
def triangulate_strokes(
    curves: _StrokesIn,
    buffer_distance: _Real,
    feature_size: _Real,
    options: _NativeOptions | None = None,
    per_curve_widths: _WidthsIn = None,
) -> list[tuple[_Point, _Point, _Point]]: ...
def strandify_polygons(
    polygons: _PolygonsIn,
    buffer_distance: _Real | None,
    feature_size: _Real | None,
    options: _NativeOptions | None = None,
) -> _Result: ...
def strandify_polygons_arrays(
    polygons: _PolygonsIn,
    buffer_distance: _Real | None,
    feature_size: _Real | None,
    options: _NativeOptions | None = None,
) -> tuple[bytearray, bytearray, bytearray, bytearray, bytearray | None, bytearray, int]: ...
def strandify_polygons_batch(
    jobs: Sequence[tuple[_PolygonsIn, _Real | None, _Real | None]], options: _NativeOptions | None = None
) -> list[_Result]: ...

_Box: TypeAlias = tuple[float, float, float, float]
_TileJob: TypeAlias = tuple[_Box, _Box, _StrokesIn, list[list[float]] | None]
# run_tile gives lists of tuples; run_tile and stitch_tiles also read float64 (n, 2) arrays
_TilePiece: TypeAlias = tuple[list[_Point] | npt.NDArray[np.float64], int, int, bool, bool]
_TileResult: TypeAlias = tuple[list[_TilePiece], int, int, list[_Point] | npt.NDArray[np.float64]]

def plan_tiles(
    curves: _StrokesIn,
    buffer_distance: _Real,
    feature_size: _Real,
    options: _NativeOptions | None = None,
    per_curve_widths: _WidthsIn = None,
) -> list[_TileJob]: ...
def run_tile(
    job: _TileJob, buffer_distance: _Real, feature_size: _Real, options: _NativeOptions | None = None
) -> _TileResult: ...
def stitch_tiles(
    tiles: Sequence[_TileResult], buffer_distance: _Real, feature_size: _Real, options: _NativeOptions | None = None
) -> _Result: ...
def resolved_settings(
    buffer_distance: _Real, feature_size: _Real, options: _NativeOptions | None = None
) -> dict[str, float | None]: ...

# reading a drawing's points for the package
def read_point_lists(curves: object) -> tuple[bytearray, bytearray] | None: ...

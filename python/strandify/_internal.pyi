from collections.abc import Iterable, Sequence
from typing import Literal, SupportsFloat, SupportsIndex, TypeAlias

import numpy as np
import numpy.typing as npt

_Real: TypeAlias = SupportsFloat | SupportsIndex
_PointIn: TypeAlias = tuple[_Real, _Real]
_CurvesIn: TypeAlias = Sequence[Sequence[_PointIn]]
_Point: TypeAlias = tuple[float, float]
_Chains: TypeAlias = list[list[_Point]]
_Partition: TypeAlias = Literal["none", "components"]
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

def inflate_curves(
    curves: _CurvesIn,
    buffer_distance: _Real,
    feature_size: _Real,
    per_curve_widths: Sequence[Sequence[_Real]] | None = None,
    merge_tolerance: _Real | None = None,
    partition: _Partition | None = "none",
    workers: SupportsIndex | None = None,
) -> list[tuple[list[_Point], list[list[_Point]]]]: ...
def triangulate_curves(
    curves: _CurvesIn,
    buffer_distance: _Real,
    feature_size: _Real,
    per_curve_widths: Sequence[Sequence[_Real]] | None = None,
    subdivision_ratio: _Real | None = None,
    resample: _Real | None = None,
    boundary_simplification: _Real | None = None,
    merge_tolerance: _Real | None = None,
    partition: _Partition | None = "none",
    workers: SupportsIndex | None = None,
) -> list[tuple[_Point, _Point, _Point]]: ...
def strandify(
    curves: _CurvesIn,
    buffer_distance: _Real,
    feature_size: _Real,
    simplification: _Real | None = None,
    min_tip_fraction: _Real | None = None,
    junction_merge_fraction: _Real | None = None,
    per_curve_widths: Sequence[Sequence[_Real]] | None = None,
    compute_widths: bool | np.bool_ = False,
    subdivision_ratio: _Real | None = None,
    max_nodes: SupportsIndex | None = None,
    resample: _Real | None = None,
    boundary_simplification: _Real | None = None,
    merge_tolerance: _Real | None = None,
    partition: _CenterlinePartition | None = "none",
    workers: SupportsIndex | None = None,
    tile_size: _Real | None = None,
    refine: Iterable[str] | None = None,
) -> tuple[_Chains, list[_Point], list[tuple[int, int]], list[list[float]]]: ...
def strandify_batch(
    jobs: Sequence[_Job],
    partition: _CenterlinePartition | None = "none",
    tile_size: _Real | None = None,
    refine: Iterable[str] | None = None,
) -> list[tuple[_Chains, list[_Point], list[tuple[int, int]]]]: ...
# a ring: (x, y) tuples, or a C-contiguous float64 array of shape (n, 2)
_RingIn: TypeAlias = Sequence[_PointIn] | npt.NDArray[np.float64]
_PolygonsIn: TypeAlias = Sequence[tuple[_RingIn, Sequence[_RingIn]]]

def strandify_polygons(
    polygons: _PolygonsIn,
    feature_size: _Real,
    buffer_distance: _Real | None = None,
    simplification: _Real | None = None,
    min_tip_fraction: _Real | None = None,
    junction_merge_fraction: _Real | None = None,
    compute_widths: bool | np.bool_ = False,
    subdivision_ratio: _Real | None = None,
    max_nodes: SupportsIndex | None = None,
    resample: _Real | None = None,
    boundary_simplification: _Real | None = None,
    partition: _Partition | None = "none",
    workers: SupportsIndex | None = None,
    refine: Iterable[str] | None = None,
) -> tuple[_Chains, list[_Point], list[tuple[int, int]], list[list[float]]]: ...

_PolygonJob: TypeAlias = tuple[
    _PolygonsIn,
    _Real,
    _Real | None,
    _Real | None,
    _Real | None,
    _Real | None,
    bool | np.bool_,
    _Real | None,
    SupportsIndex | None,
    _Real | None,
    _Real | None,
]

def strandify_polygons_batch(
    jobs: Sequence[_PolygonJob],
    partition: _Partition | None = "none",
    refine: Iterable[str] | None = None,
    workers: SupportsIndex | None = None,
) -> list[tuple[_Chains, list[_Point], list[tuple[int, int]], list[list[float]]]]: ...

_Box: TypeAlias = tuple[float, float, float, float]
_TileJob: TypeAlias = tuple[_Box, _Box, list[list[_Point]], list[list[float]] | None]
_TilePiece: TypeAlias = tuple[list[_Point], int, int, bool, bool]
_TileResult: TypeAlias = tuple[list[_TilePiece], int, int, list[_Point]]

def plan_tiles(
    curves: _CurvesIn,
    buffer_distance: _Real,
    feature_size: _Real,
    per_curve_widths: Sequence[Sequence[_Real]] | None = None,
    merge_tolerance: _Real | None = None,
    tile_size: _Real | None = None,
) -> list[_TileJob]: ...
def run_tile(
    job: _TileJob,
    buffer_distance: _Real,
    feature_size: _Real,
    simplification: _Real | None = None,
    min_tip_fraction: _Real | None = None,
    junction_merge_fraction: _Real | None = None,
    subdivision_ratio: _Real | None = None,
    resample: _Real | None = None,
    boundary_simplification: _Real | None = None,
) -> _TileResult: ...
def stitch_tiles(
    tiles: Sequence[_TileResult],
    buffer_distance: _Real,
    feature_size: _Real,
    simplification: _Real | None = None,
    min_tip_fraction: _Real | None = None,
    junction_merge_fraction: _Real | None = None,
    compute_widths: bool | np.bool_ = False,
    max_nodes: SupportsIndex | None = None,
) -> tuple[_Chains, list[_Point], list[tuple[int, int]], list[list[float]]]: ...

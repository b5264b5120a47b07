"""Orbitals and densities at points, and Gaussian cube files of them.

The values come from the C++ evaluator of the basis functions (Gaussian's
order and normalisation, pure and Cartesian shells up to h), which works
through the points in blocks on several threads without the interpreter lock.
"""
from __future__ import annotations

import math
import os
from dataclasses import dataclass
from typing import TYPE_CHECKING, Callable, List, Optional, Sequence, Tuple, Union

import numpy as np

from . import _core
from ._constants import DENSITY_KINDS, PathLike
from .errors import CheckpointError

if TYPE_CHECKING:
    from .checkpoint import Checkpoint

#: Default cube spacing, Angstrom: 1/6 Bohr, Gaussian's "medium" grid of six points per Bohr.
DEFAULT_SPACING = _core.BOHR_TO_ANGSTROM / 6
#: Default margin of a cube beyond the outermost atoms, Angstrom (4 Bohr).
DEFAULT_MARGIN = 4 * _core.BOHR_TO_ANGSTROM
#: A cube of more points is written only with ``allow_large=True`` (8 bytes each in memory).
MAX_CUBE_POINTS = 400 ** 3
#: Points per slab of a potential cube (a density's slabs hold 2 000 000): each
#: point of the potential costs far more, and the progress bar and Ctrl-C wait
#: for a slab's end.
POTENTIAL_SLAB = 20_000

Orbital = Union[int, str]
Progress = Callable[[int, int], None]


def _points_bohr(points: "np.typing.ArrayLike") -> np.ndarray:
    p = np.asarray(points, dtype=np.float64)
    if p.ndim == 1 and p.shape == (3,):
        p = p[None, :]
    if p.ndim != 2 or p.shape[1] != 3:
        raise ValueError(f"points must have shape (n, 3) in Angstrom, not {p.shape}")
    if not np.isfinite(p).all():
        raise ValueError("points must be finite numbers")
    return np.ascontiguousarray(p / _core.BOHR_TO_ANGSTROM)


def _is_beta(spin: str) -> bool:
    if spin not in ("alpha", "beta"):
        raise ValueError(f'spin must be "alpha" or "beta", not {spin!r}')
    return spin == "beta"


def orbital_indices(ckpt: "Checkpoint", orbitals: Sequence[Orbital], beta: bool) -> List[int]:
    """0-based indices of ``orbitals`` (ints, "homo", "lumo"), checked against the set."""
    energies = ckpt.mo_energies_beta if beta else ckpt.mo_energies_alpha
    name = "beta" if beta else "alpha"
    if energies is None:
        raise ValueError(f"{ckpt.path or 'checkpoint'}: no {name} orbitals in this checkpoint")
    n = len(energies)
    homo = (ckpt.n_beta if beta else ckpt.n_alpha) - 1
    out = []
    for o in orbitals:
        i = homo if o == "homo" else homo + 1 if o == "lumo" else o
        if isinstance(i, str) or isinstance(i, bool) or not isinstance(i, (int, np.integer)):
            raise ValueError(f'an orbital is an index, "homo" or "lumo", not {o!r}')
        if not 0 <= i < n:
            raise ValueError(f"orbital {o!r} out of range: the checkpoint holds {n} {name} "
                             f"orbitals (indices 0 to {n - 1})")
        out.append(int(i))
    return out


def density_kind(ckpt: "Checkpoint", kind: str, spin: bool) -> int:
    """The record index of a stored density kind; ValueError naming the kinds present."""
    present = list(ckpt.spin_densities if spin else ckpt.densities)
    if kind not in present:
        what = "spin densities" if spin else "densities"
        raise ValueError(f"{ckpt.path or 'checkpoint'}: no {kind!r} density; its {what}: "
                         f"{', '.join(present) or 'none'}")
    return DENSITY_KINDS.index(kind)


def potential_values(ckpt: "Checkpoint", kind: str, spin: bool) -> "_core.PotentialValues":
    """The core's potential of density ``kind``. Atom positions that are not finite
    (a damaged file) raise CheckpointError: the Boys function's table would be
    indexed by a NaN."""
    index = density_kind(ckpt, kind, spin)
    check_positions(ckpt)
    return ckpt._reader.potential_values(index, spin)


def check_positions(ckpt: "Checkpoint") -> None:
    """CheckpointError where an atom position is not a finite number."""
    if not np.isfinite(ckpt.coordinates).all():
        raise CheckpointError(f"{ckpt.path or 'checkpoint'}: the atom positions are not all "
                              "finite numbers, so the potential is not defined")


def orbitals_at(ckpt: "Checkpoint", points: "np.typing.ArrayLike", orbitals: Sequence[Orbital],
                spin: str = "alpha", threads: Optional[int] = None) -> np.ndarray:
    beta = _is_beta(spin)
    ev = ckpt._reader.orbital_values(orbital_indices(ckpt, orbitals, beta), beta)
    return ev.at(_points_bohr(points), threads)


def density_at(ckpt: "Checkpoint", points: "np.typing.ArrayLike", kind: str = "SCF",
               spin: bool = False, threads: Optional[int] = None) -> np.ndarray:
    ev = ckpt._reader.density_values(density_kind(ckpt, kind, spin), spin)
    out: np.ndarray = ev.at(_points_bohr(points), threads)[:, 0]
    return out


def cube_box(coords_bohr: np.ndarray, spacing: Optional[float], shape: Union[None, int, Sequence[int]],
             margin: Optional[float]) -> Tuple[np.ndarray, np.ndarray, Tuple[int, int, int]]:
    """Origin (Bohr), step vectors (3, 3) (Bohr) and point counts of the box around the atoms:
    ``margin`` (Angstrom) beyond them, points ``spacing`` (Angstrom) apart, or ``shape``
    points per axis spread evenly over the box."""
    if spacing is not None and shape is not None:
        raise ValueError("give either spacing or shape, not both")
    m = DEFAULT_MARGIN if margin is None else float(margin)
    if not (math.isfinite(m) and m >= 0):
        raise ValueError(f"margin must be a finite number >= 0 (Angstrom), not {margin!r}")
    lo = coords_bohr.min(axis=0) - m / _core.BOHR_TO_ANGSTROM
    extent = coords_bohr.max(axis=0) + m / _core.BOHR_TO_ANGSTROM - lo
    if shape is None:
        h = DEFAULT_SPACING if spacing is None else float(spacing)
        if not (math.isfinite(h) and h > 0):
            raise ValueError(f"spacing must be a finite number > 0 (Angstrom), not {spacing!r}")
        step = np.full(3, h / _core.BOHR_TO_ANGSTROM)
        counts = tuple(int(math.ceil(e / s - 1e-9)) + 1 for e, s in zip(extent, step))
    else:
        counts = tuple([int(shape)] * 3 if isinstance(shape, (int, np.integer)) else map(int, shape))
        if len(counts) != 3 or min(counts) < 2:
            raise ValueError(f"shape must be at least 2 points per axis, not {shape!r}")
        step = extent / (np.array(counts) - 1)
    n1, n2, n3 = counts
    # The file prints the box to six decimals: the values are those of the printed points.
    step = np.round(step, 6)
    if (step <= 0).any():
        raise ValueError("the points would lie closer than the 1e-6 Bohr a cube file prints "
                         "(a flat box without margin, or a tiny spacing)")
    return np.round(lo, 6), np.diag(step), (n1, n2, n3)


@dataclass
class CubePlan:
    """A checked cube request: the evaluator, the orbital line and the box (Bohr)."""

    values: Union["_core.PointValues", "_core.PotentialValues"]
    comment: str
    orbitals: List[int]
    origin: np.ndarray
    axes: np.ndarray
    shape: Tuple[int, int, int]
    #: Points per slab of planes, between which progress is shown and Ctrl-C seen.
    slab: int = 2_000_000


def plan_cube(ckpt: "Checkpoint", what: Orbital, *, spacing: Optional[float],
              shape: Union[None, int, Sequence[int]], margin: Optional[float], beta: bool,
              spin: bool, allow_large: bool, kind: str = "SCF") -> CubePlan:
    """Every check of a cube request, before anything is computed or written."""
    origin, axes, counts = cube_box(ckpt.coordinates / _core.BOHR_TO_ANGSTROM, spacing, shape,
                                     margin)
    total = counts[0] * counts[1] * counts[2]
    if total > MAX_CUBE_POINTS and not allow_large:
        raise ValueError(f"the box holds {total} points ({counts[0]} x {counts[1]} x {counts[2]}), "
                         f"more than {MAX_CUBE_POINTS}: confirm with allow_large=True "
                         "(--large), or choose a larger spacing")
    if what == "potential":
        pot = potential_values(ckpt, kind, spin)
        comment = f"{kind} {'spin density ' if spin else ''}electrostatic potential (Hartree/e)"
        return CubePlan(pot, comment, [], origin, axes, counts, POTENTIAL_SLAB)
    if isinstance(what, str) and what not in ("homo", "lumo"):
        kind, spin = ("SCF", True) if what == "spin" else ("SCF" if what == "density" else what, spin)
        ev = ckpt._reader.density_values(density_kind(ckpt, kind, spin), spin)
        comment = f"{kind} {'spin' if spin else 'total'} density (e/Bohr^3)"
        return CubePlan(ev, comment, [], origin, axes, counts)
    index = orbital_indices(ckpt, [what], beta)[0]
    ev = ckpt._reader.orbital_values([index], beta)
    comment = f"{'beta' if beta else 'alpha'} orbital {index + 1} (Bohr^-3/2)"
    return CubePlan(ev, comment, [index + 1], origin, axes, counts)


def box_values(plan: CubePlan, threads: Optional[int], progress: Optional[Progress] = None) -> np.ndarray:
    """The planned values on the box's points, (n1, n2 * n3): the first axis slowest."""
    n1, n2, n3 = plan.shape
    values = np.empty((n1, n2 * n3))
    # Slabs of planes, so that progress can be shown and Ctrl-C is seen between them.
    per = max(1, plan.slab // (n2 * n3))
    axes = plan.axes.ravel()
    for first in range(0, n1, per):
        n = min(per, n1 - first)
        plan.values.box(plan.origin, axes, plan.shape, first, n, values[first:first + n], threads)
        if progress is not None:
            progress(first + n, n1)
    return values


def write_cube(ckpt: "Checkpoint", path: "PathLike", plan: CubePlan, threads: Optional[int],
               progress: Optional[Progress] = None) -> None:
    """Evaluate a planned cube and write it (whole or not at all)."""
    values = box_values(plan, threads, progress)
    axes = plan.axes.ravel()
    ckpt._reader.write_cube(os.fsencode(path), ckpt.title, plan.comment, plan.origin, axes,
                            plan.shape, plan.orbitals, values, threads)

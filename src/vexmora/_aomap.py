"""Gaussian's basis functions in another program's order and normalisation.

Gaussian's order and normalisation are the core's (``_core.cartesian_powers``, pure
shells m = 0, +1, -1, +2, -2, ..., every function normalised on its own). PySCF
and QCSchema (the CCA standard of libint) agree on the order: pure shells
m = -l .. +l, Cartesian ones lexicographic (xx, xy, xz, yy, yz, zz), p as x, y, z.
They differ in the norm of a Cartesian function x^i y^j z^k of a shell of L >= 2,
which is not one: PySCF's has 4 pi (2i-1)!!(2j-1)!!(2k-1)!!/(2L+1)!!, libint's
(2i-1)!!(2j-1)!!(2k-1)!!/(2L-1)!! (x^L normalised). An orbital's coefficient of
such a function is Gaussian's divided by the square root of that norm.
"""
from __future__ import annotations

import math
from dataclasses import dataclass, field
from functools import lru_cache
from typing import TYPE_CHECKING, Any, Callable, Dict, List, Optional, Sequence, Tuple

import numpy as np

from . import _core
from .errors import CheckpointError

if TYPE_CHECKING:  # pragma: no cover
    from .checkpoint import Checkpoint

Powers = Tuple[int, int, int]
#: The norm of a target program's Cartesian function of L >= 2, given its powers.
CartesianNorm = Callable[[Powers], float]


def _dfact(n: int) -> int:
    """(2n - 1)!!, 1 for n = 0."""
    return math.prod(range(2 * n - 1, 0, -2))


def pyscf_norm(p: Powers) -> float:
    L = sum(p)
    return 4 * math.pi * _dfact(p[0]) * _dfact(p[1]) * _dfact(p[2]) / _dfact(L + 1)


def cca_norm(p: Powers) -> float:
    return _dfact(p[0]) * _dfact(p[1]) * _dfact(p[2]) / _dfact(sum(p))


def lexicographic(L: int) -> List[Powers]:
    """xx, xy, xz, yy, yz, zz: x's power falling, then y's."""
    return [(nx, ny, L - nx - ny) for nx in range(L, -1, -1) for ny in range(L - nx, -1, -1)]


@lru_cache(maxsize=None)
def _cartesian(L: int, norm: CartesianNorm) -> Tuple[np.ndarray, np.ndarray]:
    """Where each lexicographic function is among Gaussian's, and its factor."""
    gaussian = [tuple(p) for p in _core.cartesian_powers(L)]
    target = lexicographic(L)
    src = np.array([gaussian.index(p) for p in target], dtype=np.int64)
    scale = np.array([1.0 if L < 2 else 1.0 / math.sqrt(norm(p)) for p in target])
    return src, scale


@lru_cache(maxsize=None)
def _pure(L: int) -> np.ndarray:
    """Where m = -L .. +L are among Gaussian's m = 0, +1, -1, +2, -2, ..."""
    return np.array([0 if m == 0 else 2 * m - 1 if m > 0 else -2 * m for m in range(-L, L + 1)],
                    dtype=np.int64)


@dataclass(frozen=True)
class Shell:
    """One shell of one angular momentum, as the target holds it (SP split into S and P)."""

    atom: int            # 0-based
    L: int
    pure: bool           # in the checkpoint
    exponents: np.ndarray
    coefficients: np.ndarray  # of normalised primitives, as Gaussian's .fchk holds them
    first: int           # its first function in Gaussian's order


def shells(ckpt: "Checkpoint") -> List[Shell]:
    """The checkpoint's shells in its order, an SP shell as an S then a P shell."""
    out: List[Shell] = []
    exps = np.asarray(ckpt.exponents)
    coefs = np.asarray(ckpt.contraction_coefficients)
    sp = ckpt.sp_contraction_coefficients
    prim = first = 0
    for t, n, atom in zip(ckpt.shell_types.tolist(), ckpt.shell_n_primitives.tolist(),
                          ckpt.shell_atoms.tolist()):
        if n < 1 or prim + n > min(len(exps), len(coefs)):
            raise CheckpointError(f"{ckpt.path or 'checkpoint'}: the shells hold more primitives "
                                  "than the basis")
        e = exps[prim:prim + n]
        if t == -1:
            assert sp is not None  # the reader gives SP shells their P coefficients
            out.append(Shell(atom, 0, False, e, coefs[prim:prim + n], first))
            out.append(Shell(atom, 1, False, e, np.asarray(sp)[prim:prim + n], first + 1))
            first += 4
        else:
            L = abs(t)
            out.append(Shell(atom, L, t < -1, e, coefs[prim:prim + n], first))
            first += 2 * L + 1 if t < -1 else (L + 1) * (L + 2) // 2
        prim += n
    return out


@dataclass
class AOMap:
    """Gaussian's functions -> the target's, for orbitals and densities.

    ``cartesian`` says whether the target basis is Cartesian; ``lifted`` that pure
    shells were expressed in Cartesian functions (a basis that mixes the two, for
    a target that cannot). ``n_target`` counts the target's functions.
    """

    cartesian: bool
    lifted: bool
    n_basis: int
    n_target: int
    src: np.ndarray = field(repr=False)     # stage function -> Gaussian's
    scale: np.ndarray = field(repr=False)   # its factor
    keep: Tuple[np.ndarray, np.ndarray] = field(repr=False, default=(np.zeros(0, np.int64),) * 2)
    # Lifted pure shells by L: (stage starts, target starts, cart2sph (ncart, 2L+1)).
    blocks: List[Tuple[np.ndarray, np.ndarray, np.ndarray]] = field(repr=False, default_factory=list)

    def columns(self, m: np.ndarray) -> np.ndarray:
        """``m`` (k, n_basis) with its columns in the target's functions: (k, n_target)."""
        stage: np.ndarray = np.asarray(m)[:, self.src] * self.scale
        if not self.lifted:
            return stage
        out = np.empty((stage.shape[0], self.n_target))
        out[:, self.keep[1]] = stage[:, self.keep[0]]
        for starts, targets, c2s in self.blocks:
            nsph, ncart = c2s.shape[1], c2s.shape[0]
            block = stage[:, starts[:, None] + np.arange(nsph)]        # (k, nshell, nsph)
            out[:, targets[:, None] + np.arange(ncart)] = block @ c2s.T
        return out

    def orbitals(self, c: np.ndarray) -> np.ndarray:
        """Orbitals stored one per row, (nmo, n_basis) -> columns (n_target, nmo)."""
        return np.ascontiguousarray(self.columns(c).T)

    def density(self, d: np.ndarray) -> np.ndarray:
        """A symmetric (n_basis, n_basis) matrix -> (n_target, n_target)."""
        return np.ascontiguousarray(self.columns(self.columns(d).T))


def _cat(parts: List[np.ndarray], dtype: Any) -> np.ndarray:
    return np.concatenate(parts).astype(dtype) if parts else np.zeros(0, dtype)


def ao_map(shell_list: Sequence[Shell], n_basis: int, norm: CartesianNorm,
           cartesian: bool, c2s: Optional[Callable[[int], np.ndarray]] = None,
           order: Optional[Sequence[int]] = None, name: str = "checkpoint") -> AOMap:
    """The map for shells taken in ``order`` (indices into ``shell_list``; default as
    listed). With ``cartesian`` and ``c2s`` (L -> the target's (ncart, 2L+1)
    Cartesian-to-pure matrix) pure shells are lifted to Cartesian; without
    ``c2s`` each shell keeps its kind."""
    src: List[np.ndarray] = []
    scale: List[np.ndarray] = []
    keep_stage: List[np.ndarray] = []
    keep_target: List[np.ndarray] = []
    lifted: Dict[int, Tuple[List[int], List[int]]] = {}
    stage = target = 0
    for k in (range(len(shell_list)) if order is None else order):
        s = shell_list[k]
        if s.pure:
            idx, f = _pure(s.L), np.ones(2 * s.L + 1)
        else:
            idx, f = _cartesian(s.L, norm)
        src.append(s.first + idx)
        scale.append(f)
        if s.pure and cartesian and c2s is not None:
            where = lifted.setdefault(s.L, ([], []))
            where[0].append(stage)
            where[1].append(target)
            target += (s.L + 1) * (s.L + 2) // 2
        else:
            keep_stage.append(np.arange(stage, stage + len(idx)))
            keep_target.append(np.arange(target, target + len(idx)))
            target += len(idx)
        stage += len(idx)
    out = AOMap(cartesian, bool(lifted), n_basis, target, _cat(src, np.int64), _cat(scale, np.float64),
                (_cat(keep_stage, np.int64), _cat(keep_target, np.int64)))
    if stage != n_basis or (len(out.src) and np.bincount(out.src, minlength=n_basis).max() != 1):
        raise CheckpointError(f"{name}: the shells hold {stage} functions, the checkpoint {n_basis}")
    for L, (starts, targets) in sorted(lifted.items()):
        assert c2s is not None
        out.blocks.append((np.array(starts, np.int64), np.array(targets, np.int64), c2s(L)))
    return out

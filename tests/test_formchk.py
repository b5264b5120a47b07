"""Everything formchk writes: the fuller .fchk section for section against Gaussian's own
files, and synthetic checkpoints for each record's flags, lengths and layouts."""
from __future__ import annotations

import itertools
from pathlib import Path
from typing import Any, Dict, Sequence

import numpy as np
import pytest

import vexmora
from chkbuilder import h2, ints, mol, orientation, reals
from refdata import read_fchk, real_checkpoints

PAIRS = [c for c in real_checkpoints() if c.with_suffix(".fchk").exists()]
XYZ = ((0.0, 0.0, 0.0), (0.0, 0.3, 1.4), (1.1, -0.7, 2.5))
N = len(XYZ)
ROT = ((0.6, -0.8, 0.0), (0.8, 0.6, 0.0), (0.0, 0.0, 1.0))
RNG = np.random.default_rng(7)
# Record 619 after its flag word: dipole, then the response properties as stored.
DIPDER, POLAR = RNG.normal(size=9 * N), RNG.normal(size=6)
POLDER, HYPER = RNG.normal(size=18 * N), RNG.normal(size=10)
RANK3 = [(0, 0, 0), (0, 0, 1), (0, 1, 1), (1, 1, 1), (0, 0, 2), (0, 1, 2), (1, 1, 2), (0, 2, 2),
         (1, 2, 2), (2, 2, 2)]


def sym(t: Sequence[float]) -> np.ndarray:
    """The symmetric matrix of a lower triangle xx, yx, yy, zx, zy, zz."""
    p = np.zeros((3, 3))
    p[np.tril_indices(3)] = t
    return p + np.tril(p, -1).T


def rank3(t: Sequence[float]) -> np.ndarray:
    b = np.zeros((3, 3, 3))
    for v, ijk in zip(t, RANK3):
        for q in itertools.permutations(ijk):
            b[q] = v
    return b


def response(rot: Any) -> Dict[str, np.ndarray]:
    """The four response properties of the stored values, turned by ``rot``."""
    m = np.asarray(rot, dtype=float)
    polder = np.array([sym(t) for t in POLDER.reshape(-1, 6)]).reshape(N, 3, 3, 3)
    return {"dipole_derivatives": m @ DIPDER.reshape(N, 3, 3) @ m.T,
            "polarizability": m @ sym(POLAR) @ m.T,
            "polarizability_derivatives": np.einsum("kK,iI,jJ,aKIJ->akij", m, m, m, polder),
            "hyperpolarizability": np.einsum("iI,jJ,kK,IJK->ijk", m, m, m, rank3(HYPER))}


def electric(flags: int, short: int = 0, rot: Any = None) -> Any:
    """Three atoms without a basis, record 619 with ``flags`` cut ``short`` words before
    the hyperpolarizability ends, an orientation ``rot``."""
    words = [1.0, -0.5, 0.25, *DIPDER, *POLAR, *POLDER, *HYPER]
    b = h2().remove(670).replace(997, mol([1] * N, XYZ)).add(
        619, ints([flags << 32]), reals(words[:len(words) - short]))
    return b.add(551, orientation(rot)) if rot is not None else b


RESPONSE = ("dipole_derivatives", "polarizability", "polarizability_derivatives",
            "hyperpolarizability")
ALL = 1 | 2 | 4 | 16 | 32


@pytest.mark.parametrize("b, present, rot", [
    (electric(ALL), RESPONSE, np.eye(3)),
    (electric(ALL, rot=ROT), RESPONSE, ROT),
    *[(electric(ALL & ~(1 << bit)), RESPONSE[:k] + RESPONSE[k + 1:], np.eye(3))
      for k, bit in enumerate((1, 2, 4, 5))],
    (electric(ALL, short=1), RESPONSE[:3], np.eye(3)),
    (electric(ALL, short=11), RESPONSE[:2], np.eye(3)),
], ids=["all", "rotated", "no-dipder", "no-polar", "no-polder", "no-hyper", "short-1", "short-11"])
def test_response_properties(b: Any, present: Sequence[str], rot: Any, tmp_path: Path) -> None:
    c = vexmora.load(b.write(tmp_path / "t.chk"))
    assert [p for p in RESPONSE if getattr(c, p) is not None] == list(present)
    want = response(rot)
    for p in present:
        assert np.allclose(getattr(c, p), want[p], rtol=0, atol=1e-12), p

"""Everything formchk writes: the fuller .fchk section for section against Gaussian's own
files, and synthetic checkpoints for each record's flags, lengths and layouts."""
from __future__ import annotations

import itertools
import sys
from pathlib import Path
from typing import Any, Dict, Sequence

import numpy as np
import pytest

import Vexmora_
import vexmora
from chkbuilder import h2, ints, mol, orientation, reals
from refdata import Section, log_orientation, read_fchk, real_checkpoints

PAIRS = [c for c in real_checkpoints() if c.with_suffix(".fchk").exists()]
# What formchk writes that no record located here holds.
UNLOCATED = {"Number of symbols in /Mol/", "Force Field", "Atom Types", "MM charges",
             "Atom fragment info", "Atom residue num", "Number of residues",
             "Number of secondary structures", "NImag", "Job Status", "Nuclear derivative order",
             "External E-field", "Atom Modifiers", "Atom Modified Types",
             "Int Atom Modified Types", "Link Atoms", "Atom Modified MM Charges", "Link Distances",
             "Nonadiabatic coupling"}


def equal(ours: Section, theirs: Section) -> bool:
    """Equal at the printed precision: integers exactly, texts but for Gaussian's padding
    blanks, reals to 9 digits (components zero by symmetry differ in their noise)."""
    if ours.lines[0] != theirs.lines[0] or ours.kind != "R":
        return ours.lines[0] == theirs.lines[0] and (
            ours.values == theirs.values or ours.values[0].ljust(12 * ours.count) == theirs.values[0])
    a, b = np.array(ours.values), np.array(theirs.values)
    return bool(np.allclose(a, b, rtol=1e-8, atol=1e-12 * np.abs(b).max()))


@pytest.mark.parametrize("chk", PAIRS, ids=lambda p: p.stem)
def test_fuller_fchk_equals_formchks(chk: Path, tmp_path: Path) -> None:
    c = vexmora.load(chk)
    c.write_fchk(tmp_path / "full.fchk")
    Vexmora_.ChkReader_(str(chk)).write_fchk(fname=str(tmp_path / "plain.fchk"))
    ref, full = read_fchk(chk.with_suffix(".fchk")), read_fchk(tmp_path / "full.fchk")
    # Formchk's sections in its order, but for those no record holds; no others.
    assert list(full) == [k for k in ref if k not in UNLOCATED]
    assert [k for k in full if not equal(full[k], ref[k])] == ["Vib-E2", "Vib-Modes"]
    nm = full["Number of Normal Modes"].values[0]
    ours, theirs = (np.array(s["Vib-E2"].values).reshape(14, nm) for s in (full, ref))
    known = [0, 1, 2, *range(7, 14)]  # the intensities (3 to 6) are zero until computed
    assert np.allclose(ours[known], theirs[known], rtol=1e-8) and not ours[3:7].any()
    ours, theirs = (np.array(s["Vib-Modes"].values).reshape(nm, -1) for s in (full, ref))
    sign = np.sign(np.einsum("ki,ki->k", ours, theirs))[:, None]  # the diagonaliser's choice
    assert np.allclose(sign * ours, theirs, atol=1e-8)
    if chk.with_suffix(".log").exists():  # the input orientation the log prints
        rot, shift = c.input_orientation
        log = chk.with_suffix(".log").read_text().replace("Standard orientation:", "")
        assert np.allclose(c.coordinates @ rot.T + shift, log_orientation(log), atol=1e-6)
    plain = read_fchk(tmp_path / "plain.fchk")  # the specified writer's sections, text and all
    assert [line for k in plain for line in full[k].lines] == [
        line for s in plain.values() for line in s.lines]
    if sys.version_info >= (3, 10):  # what the peers read from ours and from Gaussian's
        import cclib
        import iodata
        ours, theirs = c.to_iodata(), iodata.load_one(chk.with_suffix(".fchk"))
        for name in ("athessian", "atgradient", "atmasses"):
            assert np.allclose(getattr(ours, name), getattr(theirs, name), rtol=1e-8, atol=1e-10), name
        assert np.allclose(ours.atcharges["mulliken"], theirs.atcharges["mulliken"], atol=1e-8)
        assert np.allclose(ours.mo.coeffs, theirs.mo.coeffs, rtol=1e-7, atol=1e-8)
        assert np.array_equal(ours.mo.occs, theirs.mo.occs) and ours.charge == theirs.charge
        assert ours.moments.keys() == theirs.moments.keys()
        assert all(np.allclose(ours.moments[k], v, atol=1e-8) for k, v in theirs.moments.items())
        assert np.allclose(ours.extra["polarizability_tensor"], theirs.extra["polarizability_tensor"])
        assert np.array_equal(ours.bonds[:, :2], theirs.bonds[:, :2])
        ours, theirs = (cclib.io.ccread(str(f)) for f in (tmp_path / "full.fchk", chk.with_suffix(".fchk")))
        assert np.allclose(ours.vibfreqs, theirs.vibfreqs, rtol=1e-8)
        if c.optimization is not None:
            steps = list(iodata.load_many(chk.with_suffix(".fchk"), fmt="fchk"))
            assert np.allclose([s.energy for s in steps], c.optimization.energies, rtol=1e-8)
            assert np.allclose([s.atcoords * 0.529177249 for s in steps], c.optimization.geometries)
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

"""Everything formchk writes: the fuller .fchk section for section against Gaussian's own
files, and synthetic checkpoints for each record's flags, lengths and layouts."""
from __future__ import annotations

import itertools
import sys
from pathlib import Path
from typing import Any, Dict, Optional, Sequence

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
             "Number of secondary structures", "External E-field", "Atom Modifiers", "Atom Modified Types",
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
    # Frequencies, masses, force constants to 9 digits; the intensities (3 to 6)
    # to Gaussian's 1e-7: its IR constant is rounded to 974.8801. Sums over
    # degenerate modes are in test_spectra.
    assert np.allclose(ours[[0, 1, 2, *range(7, 14)]], theirs[[0, 1, 2, *range(7, 14)]], rtol=1e-8)
    assert np.allclose(ours[3:7], theirs[3:7], rtol=2e-6, atol=1e-6)
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


# A job with every further record, three atoms without a basis. Values by record:
SEGMENTS = {6: [16, 1, 2], 9: [0, 1, 3], 16: [15.99, 1.008, 2.014], 18: [8.0, 1.0, 1.0],
            19: [0.0, 0.0, 0.286], 20: [0.0, 2.79, 0.857], 21: [8.0, 1.0, 1.0], 41: [0, 1, 0]}
INTERNALS = [[2, 3, 4, 5], [1, 2, 0, 0, 2, 3, 0, 0], [1.8, 2.1], [1, 2], [0.5, 0.25], [0.0, 1.0],
             [1.0, 0.0]]
BONDS = [[1, 2, 1], [2, 0, 1, 3, 2, 0], [1.0, 0.0, 1.0, 1.5, 1.5, 0.0]]  # NBond, IBond, RBond
FORCES = [-1.25, 2, 4, 0.01, -0.02, 0.5, 0.1, 0.6]  # energy, NVar, IGetFC, forces, constants
PATH = [[-1.5, 0.0, -1.625, 0.5, 0.0, 0.0], RNG.normal(size=27), RNG.normal(size=27)]
ONIOM = [list(range(16)), list(range(16, 32)), [1, 2, 3]]
MAGNETIC = RNG.normal(size=31 * N)  # from word 28: 15 N, then anisotropic, isotropic, 3 N, QEq
PARAMETERS = [[1, 3], [0, 1], [7, 8], [0.5, 1.5, 2.5, 3.5]]  # MaxAn 2, NIntPar 1, NRealPar 2
LABELS = {  # formchk's order, each with the record it comes from
    997: ["Int Atom Types", "Integer atomic weights", "Real atomic weights", "Nuclear spins",
          "Nuclear ZEff", "Nuclear ZNuc", "Nuclear QMom", "Nuclear GFac", "MicOpt"],
    665: ["Redundant internal dimensions", "Redundant internal coordinate indices",
          "Redundant internal coordinates", "ZRed-IntVec", "ZRed-FPVec", "ZRed-Constraint1",
          "ZRed-Constraint2"],
    551: ["SymInf integers", "RotTr to input orientation"],
    503: ["MxBond", "NBond", "IBond", "RBond"],
    511: ["Grdnt Energy", "Grdnt NVar", "Grdnt IGetFC", "Internal Forces",
          "Internal Force Constants"],
    701: ["Optimization MaxStp", "Optimization Job offset", "Optimization Num results per geometry",
          "Optimization Num geometry variables", "Opt point       1 Results for each geome",
          "Opt point       1 Geometries", "Opt point       1 Gradient at each geome",
          "Optimization Number of geometries"],
    674: ["ONIOM Charges", "ONIOM Multiplicities", "Atom Layers"],
    584: ["Cartesian Gradient"],
    695: ["Anisotropic Hyperfine tensors", "Isotropic Hyperfine splittings", "QEq coupling tensors"],
    800: ["ClPar MaxAn", "ClPar NIntPar", "ClPar NRealPar", "ClPar NBits", "ClPar LenBitVec",
          "ClPar Read BitMap", "ClPar Default BitMap", "ClPar Int Params", "ClPar Real Params"]}
ORDER = [k for r in (997, 665, 551, 503, 511, 701, 674, 584, 695, 800) for k in LABELS[r]]


def further(over: Optional[Dict[int, bytes]] = None, moltyp: int = -12348,
            rot: Any = ((1, 0, 0), (0, 1, 0), (0, 0, 1)), short: Sequence[int] = ()) -> Any:
    """The job; ``short`` records lose their last word, ``over`` replaces records' data."""
    segs = b"".join((reals if isinstance(v[0], float) else ints)(v + [0] * 3)
                    for _, v in sorted({**{k: [0] * N for k in range(6, 42)}, **SEGMENTS}.items()))
    data = {997: mol([8, 1, 1], XYZ, moltyp=moltyp) + segs,
            665: ints(INTERNALS[0] + INTERNALS[1]) + reals(INTERNALS[2]) + ints(INTERNALS[3]) +
            reals(sum(INTERNALS[4:], [])),
            551: ints(list(range(26))) + orientation(rot)[26 * 8:],
            503: ints([N | 2 << 32] + BONDS[0] + BONDS[1]) + reals(BONDS[2]),
            511: reals(FORCES[:1]) + ints(FORCES[1:3]) + reals(FORCES[3:]),
            701: ints([11, 3, 1, 2, 9, 0, 0, 0, 2]) + reals([*PATH[0], *PATH[1], *PATH[2]]),
            674: ints(sum(ONIOM, [])), 584: reals([0.01 * k for k in range(3 * N)]),
            695: ints([(1 << 4 | 1 << 5 | 1 << 7) << 32] + [0] * 27) + reals(MAGNETIC),
            800: ints([1234, 2, 1, 2, 30, 1] + [0] * 10 + sum(PARAMETERS[:3], [])) +
            reals(PARAMETERS[3])}
    data.update(over or {})
    b = h2().remove(670, 997)
    for label, d in data.items():
        b.add(label, d[:-8 * (4 if label == 997 else 1)] if label in short else d)  # 997: pads
    return b


# An ADMP job's, as formchk writes them (its trajectory has five results per geometry).
TRAJECTORY = ["Trajectory MaxStp", "Trajectory MaxJob", "Trajectory Job offset",
              "Trajectory Num results per geometry", "Trajectory Num geometry variables",
              "Trajectory Reference Energy", "Traj num       1 Results for each geomet",
              "Traj num       1 Geometries", "Traj num       1 Momentum at each geomet",
              "Trajectory Number of geometries"]
ADMP = [0.5, 0.0, 0.0, 0.0, -312.995980883, 1.0, 0.0, 0.0, 0.0, -312.5, 0.0, 0.0, 0.0, 0.0, 0.0]
ROWS: Dict[str, Any] = {  # the job changed -> the labels of the records that change
    "all": (further(), {}),
    **{f"695-bit{bit}-off": (further({695: ints([(0xb0 & ~(1 << bit)) << 32] + [0] * 27) +
                                        reals(MAGNETIC)}), {695: LABELS[695][:k] + LABELS[695][k + 1:]})
       for k, bit in enumerate((4, 5, 7))},
    **{f"{r}-short": (further(short=[r]), {r: [] if r in (503, 584, 701) else LABELS[r][:-1]})
       for r in LABELS},
    "665-dimensions-only": (further({665: ints([1, 0, 0, 0])}), {665: LABELS[665][:1]}),
    "moltyp-12347": (further(moltyp=-12347), {997: ["Real atomic weights"]}),  # older layouts:
    "moltyp-12345": (further(moltyp=-12345), {997: []}),  # no segments confirmed
    "mxbond-0": (further({503: ints([N, 0, 0, 0])}), {}, {"IBond": [], "RBond": [], "pairs": []}),
    "trajectory": (further({701: ints([15, 3, 1, 5, 9, 0, 0, 0, 2]) + reals(
        [*ADMP, *PATH[1], *PATH[2]])}), {701: TRAJECTORY},
        {"Trajectory Reference Energy": [-312.0], "results": np.reshape(ADMP[:10], (2, 5)),
         "Traj num       1 Results for each geomet": [*ADMP[:4], -0.995980883, *ADMP[5:9], -0.5]}),
    "trajectory-two-results": (further({701: ints([15, 3, 1, 2, 9, 0, 0, 0, 2]) + reals(
        [*PATH[0], *PATH[1], *PATH[2]])}), {701: TRAJECTORY[:5] + TRAJECTORY[6:]}),
    "two-jobs": (further({701: ints([11, 3, 2, 2, 9, 0, 0, 0, 2]) + reals([0.0] * 60)}), {701: []}),
    "zero-gradient": (further({584: reals([0.0] * 3 * N)}), {}),
}
VALUES = {"Int Atom Types": [0] * N, "Nuclear ZNuc": SEGMENTS[21], "MicOpt": SEGMENTS[41],
          "ZRed-FPVec": INTERNALS[4], "SymInf integers": list(range(26)),
          "RotTr to input orientation": [1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0],
          "IBond": BONDS[1], "Internal Force Constants": FORCES[5:], "Atom Layers": ONIOM[2],
          "Opt point       1 Gradient at each geome": PATH[2][:18], "Grdnt Energy": [-1.25],
          "Isotropic Hyperfine splittings": MAGNETIC[21 * N:22 * N],
          "ClPar Int Params": [7, 8], "ClPar Real Params": PARAMETERS[3]}


@pytest.mark.parametrize("b, changed, values", [(*r, {})[:3] for r in ROWS.values()], ids=ROWS.keys())
def test_further_records(b: Any, changed: Dict[int, Sequence[str]], values: Dict[str, Any],
                         tmp_path: Path) -> None:
    c = vexmora.load(b.write(tmp_path / "t.chk"))
    c.write_fchk(tmp_path / "t.fchk")
    written = read_fchk(tmp_path / "t.fchk")
    known = set(ORDER + TRAJECTORY)
    assert [k for k in written if k in known] == [
        k for r in LABELS for k in changed.get(r, LABELS[r])]
    for label, want in {**VALUES, **values}.items():
        assert label not in written or np.allclose(written[label].values, want, rtol=1e-8, atol=0), label
    assert (c.gradient is None) == (584 in changed or not np.any(written["Cartesian Gradient"].values))
    # no Hessian: the order is 1 with forces, else 0
    assert written["Nuclear derivative order"].values == [int(c.gradient is not None)]
    assert written["Job Status"].values == [1] and "NImag" not in written
    if "results" in values:  # the stored energies, formchk's reference added back
        assert np.array_equal(c.trajectory.results, values["results"])
    pairs = values.get("pairs", None if 503 in changed else [[0, 1], [1, 2]])
    assert (c.bonds and c.bonds.pairs.tolist()) == pairs


def test_further_properties(tmp_path: Path) -> None:
    c = vexmora.load(further(rot=ROT).write(tmp_path / "t.chk"))
    m, bohr = np.array(ROT), 0.529177249
    rot, shift = c.input_orientation
    assert np.allclose(c.coordinates @ rot.T + shift, np.multiply(XYZ, bohr))  # back to /Mol/'s
    aniso = np.array([sym(t) for t in MAGNETIC[15 * N:21 * N].reshape(N, 6)])
    assert np.allclose(c.hyperfine.anisotropic, m @ aniso @ m.T)
    assert np.allclose(c.hyperfine.isotropic, MAGNETIC[21 * N:22 * N])
    qeq = np.array([sym(t) for t in MAGNETIC[25 * N:].reshape(N, 6)])
    assert np.allclose(c.quadrupole_couplings, m @ qeq @ m.T)
    assert c.bonds.pairs.tolist() == [[0, 1], [1, 2]] and c.bonds.orders.tolist() == [1.0, 1.5]
    path = c.optimization
    assert path.energies.tolist() == [-1.5, -1.625] and c.trajectory is None
    assert np.allclose(path.geometries, PATH[1][:18].reshape(2, N, 3) * bohr)
    assert np.allclose(path.gradients, PATH[2][:18].reshape(2, N, 3))
    assert c.nuclear_spins.tolist() == [0, 0.5, 1.5] and c.nuclear_g_factors.tolist() == SEGMENTS[20]
    if sys.version_info >= (3, 10):
        data = c.to_iodata()
        assert data.bonds.tolist() == [[0, 1, 1], [1, 2, 4]]
        assert np.allclose(data.extra["optimization"]["geometries"], PATH[1][:18].reshape(2, N, 3))

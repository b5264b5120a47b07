"""Checkpoints written by Gaussian itself, compared with the job's own output
(.log) and with the formatted checkpoint Gaussian wrote for it (.fchk).

Numbers are compared at the precision the reference prints them with: a value
printed with d digits after the point (or with a d-digit mantissa) can be off by
half a unit in its last digit, and by nothing more.
"""
from __future__ import annotations

import functools
import re
from pathlib import Path
from typing import Callable, List, Sequence, Tuple

import numpy as np
import pytest

from refdata import (
    Fchk,
    companion,
    is_broken,
    log_orbital_energies,
    log_orientations,
    log_scf_done_texts,
    log_symmetry_off,
    read_fchk,
    read_log_job,
    real_checkpoints,
)
from refdata import testdata as require_testdata

Vexmora_ = pytest.importorskip("Vexmora_")

BOHR = 0.529177249
EPS = np.finfo(float).eps
DENSITY_NAMES = ("SCF Density", "Psi(1) Density", "MP2 Density", "MP3 Density", "MP4 Density",
                 "CI Rho(1) Density", "CI Density", "CC Density", "2nd Order Density")

CHECKPOINTS = real_checkpoints()
BROKEN = [c for c in CHECKPOINTS if is_broken(c)]
GOOD = [c for c in CHECKPOINTS if not is_broken(c)]


def _ids(paths: Sequence[Path]) -> List[str]:
    return [p.stem for p in paths]


@functools.lru_cache(maxsize=None)
def reader(chk: Path) -> Vexmora_.ChkReader_:
    """One parse per file for the whole module."""
    return Vexmora_.ChkReader_(fchk=str(chk))


@functools.lru_cache(maxsize=None)
def fchk_of(chk: Path) -> Fchk:
    """The job's formatted checkpoint; skips when Gaussian wrote none."""
    ref = companion(chk, ".fchk")
    if ref is None:
        pytest.skip(f"no .fchk for {chk.name}")
    return read_fchk(ref)


def log_of(chk: Path) -> Path:
    """The job's output; skips when there is none."""
    log = companion(chk, ".log")
    if log is None:
        pytest.skip(f"no .log for {chk.name}")
    return log


def assert_printed(got: Sequence[float], ref: Sequence[float], rel: float, floor: float = 0.0) -> None:
    """|got - ref| within half a unit of the reference's last printed digit.

    rel is that half unit relative to the value (0.5e-8 for a 9-digit mantissa);
    floor is an absolute allowance for values that went through a rotation,
    which leaves rounding of order eps times the largest element on entries that
    are zero in exact arithmetic.
    """
    g = np.asarray(got, dtype=float).ravel()
    r = np.asarray(ref, dtype=float).ravel()
    assert g.shape == r.shape
    excess = np.abs(g - r) - ((rel + 4 * EPS) * np.abs(r) + floor)
    bad = np.flatnonzero(excess > 0)
    assert bad.size == 0, (f"{bad.size} of {g.size} differ, first at {bad[0]}: "
                           f"got {g[bad[0]]!r}, reference {r[bad[0]]!r}")


# Whole-file behaviour and the switch arrays

@pytest.mark.parametrize("chk", BROKEN, ids=_ids(BROKEN))
def test_aborted_job_has_no_molecule(chk: Path) -> None:
    require_testdata()
    with pytest.raises(RuntimeError) as err:
        Vexmora_.ChkReader_(fchk=str(chk))
    assert str(err.value).startswith("Error: No Mol sections in .chk")


@pytest.mark.parametrize("chk", GOOD, ids=_ids(GOOD))
def test_switch_arrays(chk: Path) -> None:
    require_testdata()
    r = reader(chk)
    assert len(r.ilsw) == 100
    assert len(r.rlsw) == r.ilsw[57]
    if companion(chk, ".fchk") is not None:
        ref = fchk_of(chk)
        assert r.ilsw == ref.values("ILSW")
        assert_printed(r.rlsw, ref.values("RLSW"), 0.5e-8)


# Against the job output

@pytest.mark.parametrize("chk", GOOD, ids=_ids(GOOD))
def test_scf_energy_is_the_last_scf_done(chk: Path) -> None:
    require_testdata()
    printed = log_scf_done_texts(log_of(chk))[-1]
    half_unit = 0.5 * 10.0 ** -len(printed.split(".")[1])
    got = reader(chk).params.scfene
    assert abs(got - float(printed)) <= half_unit + 4 * EPS * abs(got), (got, printed)


@pytest.mark.parametrize("chk", GOOD, ids=_ids(GOOD))
def test_molecule_counts_match_log(chk: Path) -> None:
    require_testdata()
    job = read_log_job(log_of(chk))
    mol = reader(chk).params.mol
    assert (mol.natoms, mol.totchg, mol.multiplicity, mol.nbasis) == (
        job.natoms, job.charge, job.multiplicity, job.nbasis)


@pytest.mark.parametrize("chk", GOOD, ids=_ids(GOOD))
def test_coordinates_match_last_orientation(chk: Path) -> None:
    require_testdata()
    log = log_of(chk)
    blocks = log_orientations(log, "Standard")
    if not blocks:
        # Without symmetry Gaussian works in, and prints only, the input orientation.
        assert log_symmetry_off(log)
        blocks = log_orientations(log, "Input")
    coords = reader(chk).params.mol.coords
    assert coords.shape == (len(blocks[-1]), 3)
    np.testing.assert_allclose(coords, np.array(blocks[-1]), rtol=0, atol=1e-5)


def _functions(code: int, cartesian: bool) -> int:
    """Basis functions of one shell type code; cartesian counts pure shells as Cartesian."""
    if code == -1:
        return 4
    t = abs(code)
    return (t + 1) * (t + 2) // 2 if code >= 0 or cartesian else 2 * t + 1


# Basis sets whose Gaussian definition merges S and P shells of equal exponents.
SP_BASES = re.compile(r"^(STO-\dG|\d-\d+\+*G)", re.IGNORECASE)


@pytest.mark.parametrize("chk", GOOD, ids=_ids(GOOD))
def test_shell_types_match_log_basis(chk: Path) -> None:
    require_testdata()
    job = read_log_job(log_of(chk))
    mol = reader(chk).params.mol
    codes, nprim = mol.shelltypes, mol.shellnprim
    d_codes = {c for c in codes if abs(c) == 2}
    f_codes = {c for c in codes if abs(c) >= 3}
    if job.pure_d is not None and d_codes:
        assert d_codes == ({-2} if job.pure_d else {2})
    if job.pure_f is not None and f_codes:
        assert all((c < 0) == job.pure_f for c in f_codes)
    if job.basis_name:
        assert (-1 in codes) == bool(SP_BASES.match(job.basis_name)), job.basis_name
    assert sum(_functions(c, False) for c in codes) == job.nbasis
    assert sum(_functions(c, True) for c in codes) == job.ncartesian
    assert sum(n * _functions(c, True) for c, n in zip(codes, nprim)) == job.nprimitive


@pytest.mark.parametrize("spin", ["Alpha", "Beta"])
@pytest.mark.parametrize("chk", GOOD, ids=_ids(GOOD))
def test_orbital_energies_match_log(chk: Path, spin: str) -> None:
    require_testdata()
    printed = log_orbital_energies(log_of(chk), spin)
    if not printed:
        pytest.skip(f"no {spin} orbital energies printed")
    mol = reader(chk).params.mol
    got = mol.aoene if spin == "Alpha" else mol.boene
    assert len(got) >= len(printed)
    np.testing.assert_allclose(got[: len(printed)], printed, rtol=0, atol=0.5e-5 + 1e-12)


# Against the formatted checkpoint

@pytest.mark.parametrize("chk", GOOD, ids=_ids(GOOD))
def test_job_line_matches_fchk(chk: Path) -> None:
    require_testdata()
    ref = fchk_of(chk)
    p = reader(chk).params
    assert (p.jobtype, p.method, p.baset) == (ref.job_type, ref.method, ref.basis)


@pytest.mark.parametrize("chk", GOOD, ids=_ids(GOOD))
def test_energies_match_fchk(chk: Path) -> None:
    require_testdata()
    ref = fchk_of(chk)
    p = reader(chk).params
    for got, label in ((p.scfene, "SCF Energy"), (p.totene, "Total Energy"), (p.viratio, "Virial Ratio")):
        assert_printed([got], ref.values(label), 0.5e-15)  # scalars carry a 16-digit mantissa


def _lower_hessian(mol: Vexmora_.Mol) -> np.ndarray:
    h = np.asarray(mol.hessian)
    return h[np.tril_indices(h.shape[0])]


# (property, its value, fchk label, whether the value went through the orientation rotation)
ARRAYS: List[Tuple[str, Callable[[Vexmora_.Mol], object], str, bool]] = [
    ("aoene", lambda m: m.aoene, "Alpha Orbital Energies", False),
    ("boene", lambda m: m.boene, "Beta Orbital Energies", False),
    ("amocoeff", lambda m: m.amocoeff, "Alpha MO coefficients", False),
    ("bmocoeff", lambda m: m.bmocoeff, "Beta MO coefficients", False),
    ("orthbasis", lambda m: m.orthbasis, "Orthonormal basis", False),
    ("hessian", _lower_hessian, "Cartesian Force Constants", True),
    ("coords", lambda m: np.asarray(m.coords) / BOHR, "Current cartesian coordinates", True),
    ("primexp", lambda m: m.primexp, "Primitive exponents", False),
    ("concoeff", lambda m: m.concoeff, "Contraction coefficients", False),
    ("spconcoeff", lambda m: m.spconcoeff, "P(S=P) Contraction coefficients", False),
    ("cshell", lambda m: np.asarray(m.cshell) / BOHR, "Coordinates of each shell", False),
]


@pytest.mark.parametrize("name, value, label, rotated", ARRAYS, ids=[a[0] for a in ARRAYS])
@pytest.mark.parametrize("chk", GOOD, ids=_ids(GOOD))
def test_arrays_match_fchk(chk: Path, name: str, value: Callable[[Vexmora_.Mol], object],
                           label: str, rotated: bool) -> None:
    require_testdata()
    ref = fchk_of(chk)
    got = np.asarray(value(reader(chk).params.mol), dtype=float).ravel()
    if label not in ref:
        assert got.size == 0, f"{name} holds {got.size} values that Gaussian did not write"
        return
    expected = np.asarray(ref.values(label), dtype=float)
    floor = 8 * EPS * float(np.abs(expected).max()) if rotated and expected.size else 0.0
    assert_printed(got, expected, 0.5e-8, floor)


@pytest.mark.parametrize("chk", GOOD, ids=_ids(GOOD))
def test_shell_integers_match_fchk(chk: Path) -> None:
    require_testdata()
    ref = fchk_of(chk)
    mol = reader(chk).params.mol
    assert mol.shelltypes == ref.values("Shell types")
    assert mol.shellnprim == ref.values("Number of primitives per shell")
    assert mol.shell2map == ref.values("Shell to atom map")


@pytest.mark.parametrize("kind", range(9), ids=[n.replace(" Density", "") for n in DENSITY_NAMES])
@pytest.mark.parametrize("chk", GOOD, ids=_ids(GOOD))
def test_densities_match_fchk(chk: Path, kind: int) -> None:
    require_testdata()
    ref = fchk_of(chk)
    mol = reader(chk).params.mol
    for prefix, dens in (("Total", mol.totdens), ("Spin", mol.spindens)):
        assert len(dens) == 9
        label = f"{prefix} {DENSITY_NAMES[kind]}"
        if label in ref:
            assert_printed(dens[kind], ref.values(label), 0.5e-8)
        else:
            assert dens[kind] == [], f"{label}: {len(dens[kind])} values that Gaussian did not write"

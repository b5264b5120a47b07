"""Checkpoints written by Gaussian itself, compared with the job's own output
(.log) and with the formatted checkpoint Gaussian wrote for it (.fchk).

Numbers are compared at the precision the reference prints them with: a value
printed with d digits after the point (or with a d-digit mantissa) can be off by
half a unit in its last digit, and by nothing more.
"""
from __future__ import annotations

import re
from pathlib import Path
from typing import Any, Callable, Dict

import numpy as np
import pytest

from refdata import (
    companion,
    gaussian_fchk,
    is_broken,
    log_orbital_energies,
    log_orientations,
    log_scf_done_texts,
    read_log_job,
    reader,
    real_checkpoints,
)

Vexmora_ = pytest.importorskip("Vexmora_")

BOHR = 0.529177249
EPS = np.finfo(float).eps
DENSITY_NAMES = ("SCF Density", "Psi(1) Density", "MP2 Density", "MP3 Density", "MP4 Density",
                 "CI Rho(1) Density", "CI Density", "CC Density", "2nd Order Density")

BROKEN = [c for c in real_checkpoints() if is_broken(c)]
GOOD = [c for c in real_checkpoints() if not is_broken(c)]
LOGGED = [c for c in GOOD if companion(c, ".log")]
FCHKED = [c for c in GOOD if companion(c, ".fchk")]


def stem(p: Path) -> str:
    return p.stem


def assert_printed(got: Any, ref: Any, rel: float, floor: float = 0.0) -> None:
    """|got - ref| within half a unit (rel, relative) of the reference's last
    printed digit; floor allows for the rounding a rotation leaves, of order eps
    times the largest element, on entries that are zero in exact arithmetic."""
    g, r = np.asarray(got, dtype=float).ravel(), np.asarray(ref, dtype=float).ravel()
    assert g.shape == r.shape
    bad = np.flatnonzero(np.abs(g - r) - ((rel + 4 * EPS) * np.abs(r) + floor) > 0)
    assert bad.size == 0, (f"{bad.size} of {g.size} differ, first at {bad[0]}: "
                           f"got {g[bad[0]]!r}, reference {r[bad[0]]!r}")


@pytest.mark.parametrize("chk", BROKEN, ids=stem)
def test_aborted_job_has_no_molecule(chk: Path) -> None:
    with pytest.raises(RuntimeError, match=r"^Error: No Mol sections in \.chk"):
        Vexmora_.ChkReader_(fchk=str(chk))


@pytest.mark.parametrize("chk", GOOD, ids=stem)
def test_switch_arrays_and_density_slots(chk: Path) -> None:
    r = reader(chk)
    assert len(r.ilsw) == 100
    assert len(r.rlsw) == r.ilsw[57]
    assert len(r.params.mol.totdens) == len(r.params.mol.spindens) == 9


# Against the job output

@pytest.mark.parametrize("chk", LOGGED, ids=stem)
def test_energy_counts_and_geometry_match_log(chk: Path) -> None:
    log = companion(chk, ".log")
    p = reader(chk).params
    printed = log_scf_done_texts(log)[-1]
    half_unit = 0.5 * 10.0 ** -len(printed.split(".")[1])
    assert abs(p.scfene - float(printed)) <= half_unit + 4 * EPS * abs(p.scfene), (p.scfene, printed)
    job = read_log_job(log)
    mol = p.mol
    assert (mol.natoms, mol.totchg, mol.multiplicity, mol.nbasis) == (
        job.natoms, job.charge, job.multiplicity, job.nbasis)
    blocks = log_orientations(log, "Standard")
    if not blocks:
        # Without symmetry Gaussian works in, and prints only, the input orientation.
        assert "Symmetry turned off" in log.read_text(errors="replace")
        blocks = log_orientations(log, "Input")
    assert mol.coords.shape == (len(blocks[-1]), 3)
    np.testing.assert_allclose(mol.coords, np.array(blocks[-1]), rtol=0, atol=1e-5)


def functions(code: int, cartesian: bool) -> int:
    """Basis functions of one shell type code; cartesian counts pure shells as Cartesian."""
    t = abs(code)
    if code == -1:
        return 4
    return (t + 1) * (t + 2) // 2 if code >= 0 or cartesian else 2 * t + 1


# Basis sets whose Gaussian definition merges S and P shells of equal exponents.
SP_BASES = re.compile(r"^(STO-\dG|\d-\d+\+*G)", re.IGNORECASE)


@pytest.mark.parametrize("chk", LOGGED, ids=stem)
def test_shell_types_match_log_basis(chk: Path) -> None:
    job = read_log_job(companion(chk, ".log"))
    codes, nprim = reader(chk).params.mol.shelltypes, reader(chk).params.mol.shellnprim
    d_codes = {c for c in codes if abs(c) == 2}
    f_codes = {c for c in codes if abs(c) >= 3}
    if job.pure_d is not None and d_codes:
        assert d_codes == ({-2} if job.pure_d else {2})
    if job.pure_f is not None and f_codes:
        assert all((c < 0) == job.pure_f for c in f_codes)
    if job.basis_name:
        assert (-1 in codes) == bool(SP_BASES.match(job.basis_name)), job.basis_name
    assert sum(functions(c, False) for c in codes) == job.nbasis
    assert sum(functions(c, True) for c in codes) == job.ncartesian
    assert sum(n * functions(c, True) for c, n in zip(codes, nprim)) == job.nprimitive


@pytest.mark.parametrize("spin", ["Alpha", "Beta"])
@pytest.mark.parametrize("chk", LOGGED, ids=stem)
def test_orbital_energies_match_log(chk: Path, spin: str) -> None:
    printed = log_orbital_energies(companion(chk, ".log"), spin)
    if not printed:
        pytest.skip(f"no {spin} orbital energies printed")
    mol = reader(chk).params.mol
    got = mol.aoene if spin == "Alpha" else mol.boene
    assert len(got) >= len(printed)
    np.testing.assert_allclose(got[: len(printed)], printed, rtol=0, atol=0.5e-5 + 1e-12)


# Against the formatted checkpoint

@pytest.mark.parametrize("chk", FCHKED, ids=stem)
def test_job_line_matches_fchk(chk: Path) -> None:
    j, p = gaussian_fchk(chk).jobline, reader(chk).params
    assert (p.jobtype, p.method, p.baset) == (j[0:10].strip(), j[10:40].strip(), j[40:].strip())


def _lower(h: Any) -> np.ndarray:
    return np.asarray(h)[np.tril_indices(len(h))]


MOL_ARRAYS = {  # .fchk section: the Mol property that holds it
    "Alpha Orbital Energies": "aoene", "Beta Orbital Energies": "boene",
    "Alpha MO coefficients": "amocoeff", "Beta MO coefficients": "bmocoeff",
    "Orthonormal basis": "orthbasis", "Shell types": "shelltypes",
    "Number of primitives per shell": "shellnprim", "Shell to atom map": "shell2map",
    "Primitive exponents": "primexp", "Contraction coefficients": "concoeff",
    "P(S=P) Contraction coefficients": "spconcoeff",
}
# Our value of each .fchk section, from the reader.
FCHK_VALUES: Dict[str, Callable[[Any], Any]] = {
    "ILSW": lambda r: r.ilsw,
    "RLSW": lambda r: r.rlsw,
    "SCF Energy": lambda r: r.params.scfene,
    "Total Energy": lambda r: r.params.totene,
    "Virial Ratio": lambda r: r.params.viratio,
    "Cartesian Force Constants": lambda r: _lower(r.params.mol.hessian),
    "Current cartesian coordinates": lambda r: np.asarray(r.params.mol.coords) / BOHR,
    "Coordinates of each shell": lambda r: np.asarray(r.params.mol.cshell) / BOHR,
    **{label: (lambda r, a=attr: getattr(r.params.mol, a)) for label, attr in MOL_ARRAYS.items()},
    **{f"Total {n}": (lambda r, k=k: r.params.mol.totdens[k]) for k, n in enumerate(DENSITY_NAMES)},
    **{f"Spin {n}": (lambda r, k=k: r.params.mol.spindens[k]) for k, n in enumerate(DENSITY_NAMES)},
}
# Values the reader turns with the orientation record.
ROTATED = {"Cartesian Force Constants", "Current cartesian coordinates"}


@pytest.mark.parametrize("label", FCHK_VALUES)
@pytest.mark.parametrize("chk", FCHKED, ids=stem)
def test_values_match_fchk(chk: Path, label: str) -> None:
    ref = gaussian_fchk(chk)
    got = np.asarray(FCHK_VALUES[label](reader(chk)), dtype=float).ravel()
    if label not in ref:
        assert got.size == 0, f"{label}: {got.size} values that Gaussian did not write"
    elif ref[label].kind == "I":
        assert got.tolist() == ref.values(label)
    else:  # reals agree to half a unit of the printed mantissa
        expected = np.asarray(ref.values(label), dtype=float)
        floor = 8 * EPS * float(np.abs(expected).max()) if label in ROTATED and expected.size else 0.0
        # "%16.8E" in arrays, "%22.15E" for real scalars.
        assert_printed(got, expected, 0.5e-8 if ref[label].is_array else 0.5e-15, floor)

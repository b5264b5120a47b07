"""Our .fchk files as other programs read them: IOData and cclib load the file
that ``write_fchk`` made from each real checkpoint, and what they see must be
what ``Vexmora_`` exposes directly and what they see in Gaussian's own .fchk
of the same job.
"""
from __future__ import annotations

import sys
from pathlib import Path
from typing import Any, Callable, Dict, List, Tuple

import numpy as np
import pytest

from refdata import companion, is_broken, real_checkpoints
from refdata import testdata as require_testdata

Vexmora_ = pytest.importorskip("Vexmora_")

BOHR_TO_ANGSTROM = 0.529177249
EPS = sys.float_info.epsilon
# "%16.8E" keeps 8 decimals of the mantissa: a printed value is within half a
# unit of the last decimal, 5e-9 of its size, of the double it came from, and
# two prints of one value differ by one unit at most.
HALF_UNIT = 5e-9
ONE_UNIT = 1e-8
# Unit conversions done in double precision by the library and by us.
ROUNDING = 8 * EPS

COMPLETE = [c for c in real_checkpoints() if not is_broken(c)]
WITH_REF = [c for c in COMPLETE if companion(c, ".fchk") is not None]


def ids(chks: List[Path]) -> List[str]:
    return [c.stem for c in chks]


@pytest.fixture(scope="module")
def ours(tmp_path_factory: pytest.TempPathFactory) -> Callable[[Path], Tuple[Any, Path]]:
    """Returns (reader, path of our .fchk) for a checkpoint, writing it once."""
    cache: Dict[Path, Tuple[Any, Path]] = {}

    def get(chk: Path) -> Tuple[Any, Path]:
        require_testdata()
        if chk not in cache:
            reader = Vexmora_.ChkReader_(fchk=str(chk))
            out = tmp_path_factory.mktemp("fchk") / (chk.stem + ".fchk")
            reader.write_fchk(fname=str(out))
            cache[chk] = (reader, out)
        return cache[chk]

    return get


@pytest.fixture(scope="module")
def iodata() -> Any:
    return pytest.importorskip("iodata")


@pytest.fixture(scope="module")
def cclib() -> Any:
    return pytest.importorskip("cclib")


def printed(got: Any, exact: Any, what: str) -> None:
    """``got`` was read back from the printed form of ``exact``."""
    np.testing.assert_allclose(got, exact, rtol=HALF_UNIT + ROUNDING, atol=0, err_msg=what)


def same_print(got: Any, want: Any, what: str, atol: float = 0.0) -> None:
    """Both were read back from prints of the same value."""
    np.testing.assert_allclose(got, want, rtol=ONE_UNIT + ROUNDING, atol=atol, err_msg=what)


def coords_bohr(mol: Any) -> np.ndarray:
    return np.asarray(mol.coords) / BOHR_TO_ANGSTROM


def noise(mol: Any) -> float:
    """Components that are zero after the reader's rotation into the shell-centre
    frame are rounding noise of a few ulps (four per program) of the largest
    coordinate, different in Gaussian's file."""
    return 8 * EPS * float(np.abs(coords_bohr(mol)).max())


def mo_matrix(flat: List[float], nbasis: int) -> np.ndarray:
    """MO coefficients as the .fchk holds them: one orbital after another."""
    return np.asarray(flat).reshape(-1, nbasis)


def unpack(packed: List[float], n: int) -> np.ndarray:
    """The full symmetric matrix of a lower triangle stored row by row."""
    full = np.zeros((n, n))
    full[np.tril_indices(n)] = packed
    return full + np.tril(full, -1).T


def shell_functions(shelltype: int) -> int:
    if shelltype == -1:
        return 4
    l = abs(shelltype)
    return 2 * l + 1 if shelltype < -1 else (l + 1) * (l + 2) // 2


# --- IOData ---------------------------------------------------------------


@pytest.mark.parametrize("chk", COMPLETE, ids=ids(COMPLETE))
def test_iodata_sees_our_atoms_and_basis(iodata: Any, ours: Callable, chk: Path) -> None:
    reader, path = ours(chk)
    mol = reader.params.mol
    data = iodata.load_one(str(path))
    assert data.atnums.tolist() == mol.atomicnums
    printed(data.atcoords, coords_bohr(mol), "coordinates")
    basis = data.obasis
    assert basis.nbasis == mol.nbasis
    assert len(basis.shells) == len(mol.shelltypes)
    starts = np.cumsum([0] + mol.shellnprim)
    for i, (shell, kind) in enumerate(zip(basis.shells, mol.shelltypes)):
        what = f"shell {i}"
        assert shell.icenter == mol.shell2map[i] - 1, what
        if kind == -1:
            assert (shell.angmoms.tolist(), shell.kinds.tolist()) == ([0, 1], ["c", "c"]), what
        else:
            pure = "p" if kind < -1 else "c"
            assert (shell.angmoms.tolist(), shell.kinds.tolist()) == ([abs(kind)], [pure]), what
        prims = slice(starts[i], starts[i + 1])
        printed(shell.exponents, mol.primexp[prims], what + " exponents")
        printed(shell.coeffs[:, 0], mol.concoeff[prims], what + " coefficients")
        if kind == -1:
            printed(shell.coeffs[:, 1], mol.spconcoeff[prims], what + " P coefficients")


@pytest.mark.parametrize("chk", COMPLETE, ids=ids(COMPLETE))
def test_iodata_sees_our_orbitals_and_density(iodata: Any, ours: Callable, chk: Path) -> None:
    reader, path = ours(chk)
    mol = reader.params.mol
    data = iodata.load_one(str(path))
    mo = data.mo
    assert mo.kind == ("unrestricted" if mol.boene else "restricted")
    # IOData holds the orbitals as columns, alpha then beta.
    printed(mo.coeffsa.T, mo_matrix(mol.amocoeff, mol.nbasis), "alpha MO coefficients")
    printed(mo.energiesa, mol.aoene, "alpha orbital energies")
    if mol.boene:
        printed(mo.coeffsb.T, mo_matrix(mol.bmocoeff, mol.nbasis), "beta MO coefficients")
        printed(mo.energiesb, mol.boene, "beta orbital energies")
    printed(data.one_rdms["scf"], unpack(mol.totdens[0], mol.nbasis), "SCF density")
    assert ("scf_spin" in data.one_rdms) == bool(mol.spindens[0])
    if mol.spindens[0]:
        printed(data.one_rdms["scf_spin"], unpack(mol.spindens[0], mol.nbasis), "SCF spin density")


@pytest.mark.parametrize("chk", WITH_REF, ids=ids(WITH_REF))
def test_iodata_sees_what_it_sees_in_gaussians_file(iodata: Any, ours: Callable, chk: Path) -> None:
    reader, path = ours(chk)
    got = iodata.load_one(str(path))
    want = iodata.load_one(str(companion(chk, ".fchk")))
    assert got.atnums.tolist() == want.atnums.tolist()
    same_print(got.atcoords, want.atcoords, "coordinates", atol=noise(reader.params.mol))
    assert len(got.obasis.shells) == len(want.obasis.shells)
    for i, (a, b) in enumerate(zip(got.obasis.shells, want.obasis.shells)):
        assert (a.icenter, a.angmoms.tolist(), a.kinds.tolist()) == (
            b.icenter, b.angmoms.tolist(), b.kinds.tolist()), f"shell {i}"
        same_print(a.exponents, b.exponents, f"shell {i} exponents")
        same_print(a.coeffs, b.coeffs, f"shell {i} coefficients")
    assert got.mo.kind == want.mo.kind
    same_print(got.mo.coeffs, want.mo.coeffs, "MO coefficients")
    same_print(got.mo.energies, want.mo.energies, "orbital energies")
    assert set(got.one_rdms) <= set(want.one_rdms)
    for name in ("scf", "scf_spin"):
        if name in want.one_rdms:
            same_print(got.one_rdms[name], want.one_rdms[name], name)


# --- cclib ----------------------------------------------------------------


def function_atoms(mol: Any) -> List[int]:
    """The atom (from 0) of each basis function, shell after shell."""
    out: List[int] = []
    for kind, atom in zip(mol.shelltypes, mol.shell2map):
        out += [atom - 1] * shell_functions(kind)
    return out


@pytest.mark.parametrize("chk", COMPLETE, ids=ids(COMPLETE))
def test_cclib_sees_our_molecule_and_orbitals(cclib: Any, ours: Callable, chk: Path) -> None:
    reader, path = ours(chk)
    mol = reader.params.mol
    data = cclib.io.ccread(str(path))
    to_bohr = cclib.parser.utils.convertor(1.0, "Angstrom", "bohr")
    to_hartree = cclib.parser.utils.convertor(1.0, "eV", "hartree")
    assert data.atomnos.tolist() == mol.atomicnums
    printed(data.atomcoords[-1] * to_bohr, coords_bohr(mol), "coordinates")
    assert (data.charge, data.mult) == (mol.totchg, mol.multiplicity)
    # cclib keeps of the basis only which atom and shell each function belongs to.
    assert data.nbasis == mol.nbasis
    atoms = function_atoms(mol)
    assert len(atoms) == mol.nbasis
    assert [list(f) for f in data.atombasis] == [
        [f for f, a in enumerate(atoms) if a == i] for i in range(mol.natoms)]
    assert [n.split("_")[0] for n in data.aonames] == [
        f"{mol.names[a]}{a + 1}" for a in atoms]
    spins = [(mol.amocoeff, mol.aoene)] + ([(mol.bmocoeff, mol.boene)] if mol.boene else [])
    assert len(data.mocoeffs) == len(spins)
    assert data.nmo == len(mol.aoene)
    for s, (coeffs, energies) in enumerate(spins):
        # cclib's arrays are (orbitals, basis functions), energies in eV.
        printed(data.mocoeffs[s], mo_matrix(coeffs, mol.nbasis), f"MO coefficients {s}")
        printed(data.moenergies[s] * to_hartree, energies, f"orbital energies {s}")
    assert list(data.homos) == [mol.nae - 1] + ([mol.nbe - 1] if mol.boene else [])


@pytest.mark.parametrize("chk", WITH_REF, ids=ids(WITH_REF))
def test_cclib_sees_what_it_sees_in_gaussians_file(cclib: Any, ours: Callable, chk: Path) -> None:
    reader, path = ours(chk)
    got = cclib.io.ccread(str(path))
    want = cclib.io.ccread(str(companion(chk, ".fchk")))
    to_bohr = cclib.parser.utils.convertor(1.0, "Angstrom", "bohr")
    assert got.atomnos.tolist() == want.atomnos.tolist()
    same_print(got.atomcoords[-1] * to_bohr, want.atomcoords[-1] * to_bohr, "coordinates",
               atol=noise(reader.params.mol))
    assert (got.charge, got.mult, got.nbasis, got.nmo) == (want.charge, want.mult, want.nbasis, want.nmo)
    assert got.aonames == want.aonames
    assert [list(f) for f in got.atombasis] == [list(f) for f in want.atombasis]
    assert len(got.mocoeffs) == len(want.mocoeffs)
    for s in range(len(want.mocoeffs)):
        same_print(got.mocoeffs[s], want.mocoeffs[s], f"MO coefficients {s}")
        same_print(got.moenergies[s], want.moenergies[s], f"orbital energies {s}")
    assert list(got.homos) == list(want.homos)

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

from refdata import companion, is_broken, our_fchk, real_checkpoints

Vexmora_ = pytest.importorskip("Vexmora_")

BOHR_TO_ANGSTROM = 0.529177249
EPS = sys.float_info.epsilon
# "%16.8E" keeps 8 decimals of the mantissa: a printed value is within half a
# unit of the last decimal, 5e-9 of its size, of the double it came from.
HALF_UNIT = 5e-9
# Unit conversions done in double precision by the library and by us.
ROUNDING = 8 * EPS

COMPLETE = [c for c in real_checkpoints() if not is_broken(c)]


def stem(p: Path) -> str:
    return p.stem


def printed(got: Any, exact: Any, what: str, atol: float = 0.0) -> None:
    """``got`` was read back from the printed form of ``exact``."""
    np.testing.assert_allclose(got, exact, rtol=HALF_UNIT + ROUNDING, atol=atol, err_msg=what)


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


def function_atoms(mol: Any) -> List[int]:
    """The atom (from 0) of each basis function, shell after shell."""
    out: List[int] = []
    for kind, atom in zip(mol.shelltypes, mol.shell2map):
        n = 4 if kind == -1 else 2 * abs(kind) + 1 if kind < -1 else (kind + 1) * (kind + 2) // 2
        out += [atom - 1] * n
    return out


def loaded(chk: Path, load: Callable[[str], Any]) -> Tuple[Any, Dict[str, Tuple[Any, float]]]:
    """The molecule, and the tool's view of our .fchk and of Gaussian's (if there
    is one) with the allowance each needs on coordinates. Both files are checked
    against Vexmora_ at half a printed unit, so they agree with each other to one."""
    reader, ours = our_fchk(chk)
    mol = reader.params.mol
    views = {"ours": (load(str(ours)), 0.0)}
    gaussians = companion(chk, ".fchk")
    if gaussians is not None:
        views["Gaussian's"] = (load(str(gaussians)), noise(mol))
    return mol, views


@pytest.mark.parametrize("chk", COMPLETE, ids=stem)
def test_iodata_sees_what_vexmora_exposes(chk: Path) -> None:
    mol, views = loaded(chk, pytest.importorskip("iodata").load_one)
    for file, (data, atol) in views.items():
        assert data.atnums.tolist() == mol.atomicnums, file
        printed(data.atcoords, coords_bohr(mol), f"{file} coordinates", atol)
        assert data.obasis.nbasis == mol.nbasis, file
        assert len(data.obasis.shells) == len(mol.shelltypes), file
        starts = np.cumsum([0] + mol.shellnprim)
        for i, (shell, kind) in enumerate(zip(data.obasis.shells, mol.shelltypes)):
            what = f"{file} shell {i}"
            assert shell.icenter == mol.shell2map[i] - 1, what
            want = ([0, 1], ["c", "c"]) if kind == -1 else ([abs(kind)], ["p" if kind < -1 else "c"])
            assert (shell.angmoms.tolist(), shell.kinds.tolist()) == want, what
            prims = slice(starts[i], starts[i + 1])
            printed(shell.exponents, mol.primexp[prims], what + " exponents")
            printed(shell.coeffs[:, 0], mol.concoeff[prims], what + " coefficients")
            if kind == -1:
                printed(shell.coeffs[:, 1], mol.spconcoeff[prims], what + " P coefficients")
        mo = data.mo
        assert mo.kind == ("unrestricted" if mol.boene else "restricted"), file
        # IOData holds the orbitals as columns, alpha then beta.
        printed(mo.coeffsa.T, mo_matrix(mol.amocoeff, mol.nbasis), f"{file} alpha MO coefficients")
        printed(mo.energiesa, mol.aoene, f"{file} alpha orbital energies")
        if mol.boene:
            printed(mo.coeffsb.T, mo_matrix(mol.bmocoeff, mol.nbasis), f"{file} beta MO coefficients")
            printed(mo.energiesb, mol.boene, f"{file} beta orbital energies")
        printed(data.one_rdms["scf"], unpack(mol.totdens[0], mol.nbasis), f"{file} SCF density")
        assert ("scf_spin" in data.one_rdms) == bool(mol.spindens[0]), file
        if mol.spindens[0]:
            spin = unpack(mol.spindens[0], mol.nbasis)
            printed(data.one_rdms["scf_spin"], spin, f"{file} SCF spin density")
    if "Gaussian's" in views:
        assert set(views["ours"][0].one_rdms) <= set(views["Gaussian's"][0].one_rdms)


@pytest.mark.parametrize("chk", COMPLETE, ids=stem)
def test_cclib_sees_what_vexmora_exposes(chk: Path) -> None:
    cclib = pytest.importorskip("cclib")
    mol, views = loaded(chk, cclib.io.ccread)
    to_bohr = cclib.parser.utils.convertor(1.0, "Angstrom", "bohr")
    to_hartree = cclib.parser.utils.convertor(1.0, "eV", "hartree")
    atoms = function_atoms(mol)
    assert len(atoms) == mol.nbasis
    for file, (data, atol) in views.items():
        assert data.atomnos.tolist() == mol.atomicnums, file
        printed(data.atomcoords[-1] * to_bohr, coords_bohr(mol), f"{file} coordinates", atol)
        assert (data.charge, data.mult) == (mol.totchg, mol.multiplicity), file
        # cclib keeps of the basis only which atom and shell each function belongs to.
        assert data.nbasis == mol.nbasis, file
        assert [list(f) for f in data.atombasis] == [
            [f for f, a in enumerate(atoms) if a == i] for i in range(mol.natoms)], file
        assert [n.split("_")[0] for n in data.aonames] == [f"{mol.names[a]}{a + 1}" for a in atoms]
        spins = [(mol.amocoeff, mol.aoene)] + ([(mol.bmocoeff, mol.boene)] if mol.boene else [])
        assert len(data.mocoeffs) == len(spins), file
        assert data.nmo == len(mol.aoene), file
        for s, (coeffs, energies) in enumerate(spins):
            # cclib's arrays are (orbitals, basis functions), energies in eV.
            printed(data.mocoeffs[s], mo_matrix(coeffs, mol.nbasis), f"{file} MO coefficients {s}")
            printed(data.moenergies[s] * to_hartree, energies, f"{file} orbital energies {s}")
        assert list(data.homos) == [mol.nae - 1] + ([mol.nbe - 1] if mol.boene else []), file
    if "Gaussian's" in views:  # the shell part of the names too
        assert views["ours"][0].aonames == views["Gaussian's"][0].aonames

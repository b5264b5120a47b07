"""Molden files read back by IOData: with IOData's overlap S of the basis as
written, C S C^T = 1 (any wrong order or factor breaks it) and tr(D S) is the
electron count, for every real checkpoint and for shells the real files lack."""
from __future__ import annotations

import warnings
from pathlib import Path
from typing import Any, Dict, List, Sequence

import numpy as np
import pytest

import vexmora
from chkbuilder import (XYZ3, Shell, densities, h2, lower_triangle, mol, nfunc, raw_coefs, reals, switches,
                        with_basis)
from refdata import good_checkpoints



def compute_overlap(basis: Any, coords: np.ndarray) -> np.ndarray:
    """IOData's overlap matrix of ``basis``; the test skips without IOData (Python 3.10+)."""
    return pytest.importorskip("iodata.overlap").compute_overlap(basis, coords)

GOOD = good_checkpoints()
# Gaussian's own orbitals of this job are orthonormal to 1.34e-6 only, as the
# same residual of the reader's arrays in Gaussian's basis (to_iodata) shows.
TOLERANCE = {"g16-propene-rhf-631gd5d-sp": 1.4e-6}


def read_back(ckpt: vexmora.Checkpoint, path: Path, tol: float = 1e-6) -> Any:
    """The Molden file of ``ckpt`` as IOData loads it, after the checks: C S C^T = 1,
    tr(D S) = N, and the orbitals' energies and occupations, atoms, coordinates."""
    iodata = pytest.importorskip("iodata")
    with warnings.catch_warnings():
        warnings.simplefilter("error")  # IOData warns when it repairs a file; we, on bad orbitals
        ckpt.write_molden(path)
        data = iodata.load_one(path)
    s = compute_overlap(data.obasis, data.atcoords)
    mo, ours = data.mo, [(ckpt.mo_energies_alpha, ckpt.mo_occupations_alpha)]
    if mo.kind == "restricted":
        spins = [(mo.coeffs, mo.energies, mo.occs)]
    else:
        spins = [(mo.coeffsa, mo.energiesa, mo.occsa), (mo.coeffsb, mo.energiesb, mo.occsb)]
        ours.append((ckpt.mo_energies_beta, ckpt.mo_occupations_beta))
    for (c, energies, occs), (e, n) in zip(spins, ours):
        assert np.abs(c.T @ s @ c - np.eye(c.shape[1])).max() < tol
        np.testing.assert_allclose(energies, e, rtol=1e-8, atol=1e-12)
        np.testing.assert_array_equal(occs, n)
    density = sum((c * occ) @ c.T for c, _, occ in spins)
    assert np.trace(density @ s) == pytest.approx(ckpt.n_electrons, abs=1e-6)
    np.testing.assert_array_equal(data.atnums, ckpt.atomic_numbers)
    np.testing.assert_allclose(data.atcoords, ckpt.coordinates / vexmora._core.BOHR_TO_ANGSTROM, atol=1e-11)
    return data


@pytest.mark.parametrize("chk", GOOD, ids=lambda p: p.stem)
def test_real_checkpoint(chk: Path, tmp_path: Path) -> None:
    read_back(vexmora.load(chk), tmp_path / "x.molden", TOLERANCE.get(chk.stem, 1e-6))


def shell(atom: int, L: int, sp: bool = False) -> Shell:
    """A two-primitive shell with a contraction that is not normalised."""
    e = [1.7 + 0.3 * L, 0.35]
    if sp:
        return Shell(atom, 1, e, {0: raw_coefs([0.4, 0.7], e, 0), 1: raw_coefs([0.6, 0.3], e, 1)})
    return Shell(atom, L, e, {L: raw_coefs([0.5, 0.8], e, L)})


def synthetic(tmp: Path, shells: Sequence[Shell], cartesian: Dict[str, int], natoms: int,
              unrestricted: bool, coefs: Sequence[float], **records: bytes) -> Path:
    """H atoms of XYZ3 with these shells and orbitals, and ``r<label>`` records;
    bhdr4/bhdr5 1 for Cartesian."""
    b = with_basis(shells, natoms, **cartesian)
    pure = {2: not cartesian["bhdr4"], **{L: not cartesian["bhdr5"] for L in range(3, 6)}}
    n = sum(nfunc(-1 if s.T == 1 and 0 in s.coefs else -s.T if pure.get(s.T) else s.T)
            for s in shells)
    nae, nbe = (3, 2) if unrestricted else (2, 2)
    b.replace(997, mol([1] * natoms, XYZ3[:natoms], nbasis=n, nae=nae, nbe=nbe,
                       multiplicity=1 + nae - nbe))
    b.replace(998, switches({0: int(unrestricted)}))
    energies = [0.1 * k - 1.0 for k in range(n)]
    b.replace(522, reals(energies * (2 if unrestricted else 1)))
    c = np.reshape(coefs, (n, n)) if len(coefs) else np.eye(n)
    b.replace(524, reals(c.ravel()))
    if unrestricted:  # the same orbitals in reverse order
        b.add(526, reals(c[::-1].ravel()))
    for label, data in records.items():
        b.add(int(label[1:]), data)
    return Path(b.write(tmp / "s.chk"))


def orthonormal_orbitals(ckpt: vexmora.Checkpoint) -> List[float]:
    """Rows orthonormal in Gaussian's basis (its overlap from to_iodata, with every function
    normalised as Gaussian's are): Loewdin-orthogonalised, mixed by a fixed rotation."""
    pytest.importorskip("iodata")
    data = ckpt.to_iodata()
    s = compute_overlap(data.obasis, data.atcoords)
    s /= np.sqrt(np.outer(np.diag(s), np.diag(s)))
    w, v = np.linalg.eigh(s)
    q, _ = np.linalg.qr(np.random.default_rng(7).normal(size=s.shape))
    return list((q @ (v / np.sqrt(w)) @ v.T).ravel())


CART = {"d": dict(bhdr4=1, bhdr5=0), "f": dict(bhdr4=1, bhdr5=1), "pure": dict(bhdr4=0, bhdr5=0)}


@pytest.mark.parametrize("shells, cartesian, natoms, unrestricted", [
    ([shell(1, 0), shell(1, 2), shell(2, 3), shell(2, 1)], CART["d"], 2, False),
    ([shell(1, 3), shell(2, 0), shell(2, 2)], CART["f"], 2, False),
    ([shell(1, 4), shell(2, 0), shell(2, 2), shell(2, 3)], CART["pure"], 2, False),
    ([shell(1, 4), shell(2, 0), shell(2, 1)], CART["f"], 2, False),
    ([shell(1, 5), shell(2, 0), shell(2, 1)], CART["pure"], 2, False),
    ([shell(1, 0, sp=True), shell(2, 0, sp=True), shell(2, 2)], CART["d"], 2, True),
    ([shell(1, 0), shell(1, 1), shell(3, 0), shell(3, 2)], CART["pure"], 3, True),
], ids=["cart d pure f", "cart f", "pure g", "cart g", "pure h", "SP, unrestricted",
        "atom without functions"])
def test_synthetic(tmp_path: Path, shells: Any, cartesian: Any, natoms: int,
                   unrestricted: bool) -> None:
    first = vexmora.load(synthetic(tmp_path, shells, cartesian, natoms, unrestricted, []))
    c = vexmora.load(synthetic(tmp_path, shells, cartesian, natoms, unrestricted,
                               orthonormal_orbitals(first)))
    read_back(c, tmp_path / "x.molden")


def test_coefficients_rounded_as_printf(tmp_path: Path) -> None:
    """Ten decimals rounded as C's "% .10f" (Python's %): values 3e-13 from a tie."""
    coefs = [0.1234567890497, -0.0000000000497, 1.0000000000503, -12.5000000000497]
    c = vexmora.load(h2().replace(524, reals(coefs)).write(tmp_path / "c.chk"))
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", vexmora.checkpoint.NonOrthonormalOrbitalsWarning)
        c.write_molden(tmp_path / "x.molden")
    lines = (tmp_path / "x.molden").read_text().split("[MO]")[1].splitlines()
    assert [float(line.split()[1]) for line in lines if line[:6].strip().isdigit()] == [
        float("%.10f" % v) for v in coefs]


def test_what_molden_cannot_hold(tmp_path: Path) -> None:
    c = vexmora.load(synthetic(tmp_path, [shell(1, 5), shell(2, 0)], CART["f"], 2, False, []))
    for orbitals, message in (("stored", "no Cartesian shell of angular momentum 5"),
                              ("natural", "no orthonormal basis of all 22 basis functions")):
        with pytest.raises(vexmora.CheckpointError, match=f"^{c.path}: .*{message}"):
            c.write_molden(tmp_path / "x.molden", orbitals=orbitals)
    assert not (tmp_path / "x.molden").exists()


def natural_read_back(ckpt: vexmora.Checkpoint, path: Path, tol: float = 1e-8) -> Any:
    """The natural orbitals' Molden (.wfn, .wfx) file as IOData loads it, after the checks:
    one set, orthonormal in IOData's overlap, holding the electrons; its occupations."""
    iodata = pytest.importorskip("iodata")
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        getattr(ckpt, "write_" + path.suffix[1:])(path, orbitals="natural")
        data = iodata.load_one(path)
    mo, s = data.mo, compute_overlap(data.obasis, data.atcoords)
    assert mo.kind == "restricted" and np.abs(mo.coeffs.T @ s @ mo.coeffs - np.eye(mo.norb)).max() < tol
    assert np.trace((mo.coeffs * mo.occs) @ mo.coeffs.T @ s) == pytest.approx(ckpt.n_electrons,
                                                                                abs=max(1e-8, 10 * tol))
    return mo.occs


@pytest.mark.parametrize("chk", [c for c in GOOD if vexmora.load(c).orthonormal_basis is not None],
                         ids=lambda p: p.stem)
def test_natural_orbitals_of_real_checkpoints(chk: Path, tmp_path: Path) -> None:
    c = vexmora.load(chk)
    occs = natural_read_back(c, tmp_path / "n.molden", TOLERANCE.get(chk.stem, 1e-8))
    if c.mo_occupations_beta is None:  # a closed shell: the SCF orbitals' own occupations
        np.testing.assert_allclose(occs, c.mo_occupations_alpha, atol=1e-8)


def test_orbitals_that_are_not_orthonormal(tmp_path: Path) -> None:
    """As after ADMP: the stored orbitals mixed away from orthonormal, the density
    that of two doubly occupied orthonormal orbitals, the orthonormal basis stored."""
    shells = [shell(1, 0), shell(1, 2), shell(2, 1)]
    q = np.array(orthonormal_orbitals(vexmora.load(synthetic(tmp_path, shells, CART["d"], 2, False, []))))
    n = int(np.sqrt(q.size))
    q = q.reshape(n, n)
    mixed = (np.eye(n) + 0.3 * np.tril(np.ones((n, n)), -1)) @ q
    density = 2 * q[:2].T @ q[:2]
    c = vexmora.load(synthetic(tmp_path, shells, CART["d"], 2, False, list(mixed.ravel()),
                               r685=reals(q.ravel()),
                               r603=densities(1, lower_triangle(density))))
    for fmt in ("molden", "wfn", "wfx"):  # every orbital writer warns and offers the natural ones
        with pytest.warns(vexmora.checkpoint.NonOrthonormalOrbitalsWarning,
                          match=rf"not orthonormal.*write_{fmt}\(\.\.\., orbitals='natural'\)"):
            getattr(c, f"write_{fmt}")(tmp_path / f"x.{fmt}")
    np.testing.assert_allclose(natural_read_back(c, tmp_path / "n.molden"), [2, 2] + [0] * (n - 2), atol=1e-10)
    for suffix, tol in ((".wfn", 1e-6), (".wfx", 1e-10)):  # only the orbitals that hold electrons
        np.testing.assert_allclose(natural_read_back(c, tmp_path / f"n{suffix}", tol), [2, 2], atol=10 * tol)

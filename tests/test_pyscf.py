"""The wavefunction in PySCF and QCSchema, checked in PySCF's own integrals: the orbitals
orthonormal in its overlap, its density on points equal to ours, Gaussian's SCF energy
from its energy expression, an SCF restarted there converged at once; PySCF's
checkpoint read back by PySCF, the QCSchema file by qcelemental (and IOData)."""
from __future__ import annotations

import json
import math
import sys
import warnings
from pathlib import Path
from typing import Any, Dict, List, Optional, Sequence, Tuple

import numpy as np
import pytest

import vexmora
import vexmora.cli
from chkbuilder import XYZ3, Shell, densities, job, lower_triangle, mol, nfunc, raw_coefs, reals, switches, with_basis
from refdata import TESTDATA, good_checkpoints

BOHR = 0.529177249

# Real checkpoints: the SCF energy's tolerance in PySCF (HF exact; DFT within PySCF's
# grid: 1.7e-7 and 5.6e-7 seen at level 3) and whether an SCF restarted there is checked.
REAL: Dict[str, Tuple[float, bool]] = {
    "g09-water-hf-631gd-opt": (1e-7, True), "g16-h2-hf-321g-sp": (1e-7, True),
    "g16-propene-rhf-631gd5d-sp": (1e-7, True), "g16-o2-triplet-uhf-ccpvdz": (1e-7, True),
    "g16-ts26-hf-sto3g-freq": (1e-7, False),
    "g09-water-b3lyp-321g-sp": (2e-6, True), "g16-ho2-ub2plyp-ccpvtz-freq": (2e-6, False),
}


def shell(atom: int, L: int, sp: bool = False) -> Shell:
    """A two-primitive shell whose contraction is not normalised."""
    e = [2.3 + 0.4 * L, 0.45]
    if sp:
        return Shell(atom, 1, e, {0: raw_coefs([0.4, 0.7], e, 0), 1: raw_coefs([0.6, 0.3], e, 1)})
    return Shell(atom, L, e, {L: raw_coefs([0.5, 0.8], e, L)})


#: Every shell type up to h, SP included, on three atoms.
ALL = [shell(1, 0), shell(1, 2), shell(1, 0, sp=True), shell(1, 5), shell(2, 1), shell(2, 3),
       shell(3, 4), shell(3, 0)]
CART = {"pure": dict(bhdr4=0, bhdr5=0), "cartesian": dict(bhdr4=1, bhdr5=1),
        "cart d, pure f-h": dict(bhdr4=1, bhdr5=0), "pure d, cart f-h": dict(bhdr4=0, bhdr5=1)}
SPIN = {"RHF": (2, 2, {}), "UHF": (2, 1, {0: 1}), "ROHF": (2, 1, {21: 1})}


def gaussian_overlap(ckpt: vexmora.Checkpoint) -> np.ndarray:
    """IOData's overlap of Gaussian's basis, every function normalised as Gaussian's."""
    from iodata.overlap import compute_overlap
    data = ckpt.to_iodata()
    s = compute_overlap(data.obasis, data.atcoords)
    return s / np.sqrt(np.outer(np.diag(s), np.diag(s)))


def builder(tmp: Path, kind: str, spin: str, shells: Sequence[Shell] = ALL,
            atomicnums: Sequence[int] = (1, 1, 1), nucchg: Optional[Sequence[float]] = None,
            method: str = "HF") -> vexmora.Checkpoint:
    """Three atoms of XYZ3 with ``shells``; orbitals orthonormal in Gaussian's overlap
    (Loewdin's, turned by a fixed rotation; beta ones turned again) and their SCF density."""
    cart = CART[kind]
    pure = {2: not cart["bhdr4"], **{L: not cart["bhdr5"] for L in range(3, 6)}}
    n = sum(nfunc(-1 if s.T == 1 and 0 in s.coefs else -s.T if pure.get(s.T) else s.T) for s in shells)
    nae, nbe, ilsw = SPIN[spin]
    charge = sum(atomicnums) - nae - nbe if nucchg is None else round(sum(nucchg)) - nae - nbe
    b = with_basis(shells, 3, **cart).replace(998, switches(ilsw)).replace(993, job(method=method))
    b.replace(997, mol(list(atomicnums), XYZ3, nbasis=n, nae=nae, nbe=nbe, charge=charge,
                       multiplicity=1 + nae - nbe, nucchg=nucchg))
    path = tmp / f"b{len(list(tmp.iterdir()))}.chk"
    b.replace(522, reals([0.1 * k - 1.0 for k in range(n)] * (2 if spin == "UHF" else 1)))
    b.replace(524, reals(np.eye(n).ravel()))
    s = gaussian_overlap(vexmora.load(b.write(path)))
    w, v = np.linalg.eigh(s)
    rng = np.random.default_rng(5)
    ca = np.linalg.qr(rng.normal(size=(n, n)))[0] @ (v / np.sqrt(w)) @ v.T
    cb = np.linalg.qr(rng.normal(size=(n, n)))[0] @ ca if spin == "UHF" else ca
    b.replace(524, reals(ca.ravel()))
    if spin == "UHF":
        b.add(526, reals(cb.ravel()))
    pa, pb = ca[:nae].T @ ca[:nae], cb[:nbe].T @ cb[:nbe]
    blocks = [lower_triangle(pa + pb)] if spin == "RHF" else [lower_triangle(pa) + lower_triangle(pb)]
    b.add(603, densities(1, *blocks))
    return vexmora.load(b.write(path))


def near_atoms(ckpt: vexmora.Checkpoint, n: int = 200) -> np.ndarray:
    rng = np.random.default_rng(3)
    xyz = ckpt.coordinates
    return xyz[rng.integers(0, len(xyz), n)] + rng.normal(0, 0.8, (n, 3))


def pyscf_density(mol: Any, dm: np.ndarray, points: np.ndarray) -> np.ndarray:
    ao = mol.eval_gto("GTOval_cart" if mol.cart else "GTOval_sph", points / BOHR)
    total = dm if dm.ndim == 2 else dm[0] + dm[1]
    return np.einsum("pi,ij,pj->p", ao, total, ao)


#: Gaussian's own orbitals of propene are orthonormal to 1.3e-6 only (in IOData's overlap too).
ORTHONORMAL = {"g16-propene-rhf-631gd5d-sp": 1.4e-6}


def check_in_pyscf(ckpt: vexmora.Checkpoint, mf: Any) -> None:
    """Orbitals orthonormal in PySCF's overlap; PySCF's density on points is ours."""
    s = mf.mol.intor("int1e_ovlp")
    coeffs = mf.mo_coeff if mf.mo_coeff.ndim == 3 else [mf.mo_coeff]
    for c in coeffs:
        np.testing.assert_allclose(c.T @ s @ c, np.eye(c.shape[1]), rtol=0,
                                   atol=ORTHONORMAL.get(Path(ckpt.path).stem, 1e-8))
    points = near_atoms(ckpt)
    ours = ckpt.density_at(points)
    np.testing.assert_allclose(pyscf_density(mf.mol, mf.make_rdm1(), points), ours,
                               rtol=0, atol=1e-8 * np.abs(ours).max())
    assert mf.mol.nelectron == ckpt.n_electrons and mf.mol.spin == ckpt.n_alpha - ckpt.n_beta
    assert mf.mol.charge == ckpt.charge and not mf.mol.symmetry
    np.testing.assert_array_equal(mf.mol.atom_coords(unit="Bohr"), ckpt.coordinates / BOHR)  # as stored


@pytest.mark.parametrize("chk", [c for c in good_checkpoints() if c.stem in REAL], ids=lambda p: p.stem)
def test_real_checkpoints(chk: Path) -> None:
    pytest.importorskip("pyscf")
    ckpt = vexmora.load(chk)
    mf = ckpt.to_pyscf()
    check_in_pyscf(ckpt, mf)
    tol, restart = REAL[chk.stem]
    if hasattr(mf, "grids"):
        mf.grids.level = 3
    e = mf.energy_tot(mf.make_rdm1())
    assert abs(e - ckpt.scf_energy) < tol, (e, ckpt.scf_energy)
    if restart:
        mf.conv_tol = 1e-9
        mf.kernel(dm0=mf.make_rdm1())
        assert mf.converged and mf.cycles <= 2, mf.cycles


@pytest.mark.parametrize("kind", list(CART))
@pytest.mark.parametrize("spin", list(SPIN))
def test_every_shell_type(tmp_path: Path, kind: str, spin: str) -> None:
    pytest.importorskip("pyscf")
    pytest.importorskip("iodata")
    from vexmora._pyscf import CartesianLiftWarning
    ckpt = builder(tmp_path, kind, spin)
    mixed = "," in kind
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        mf = ckpt.to_pyscf()
    assert [w.category for w in caught] == ([CartesianLiftWarning] if mixed else [])
    assert type(mf).__name__ == spin and mf.mol.cart == (kind != "pure")
    assert mf.mol.nao == (61 if kind != "pure" else 41)  # Cartesian: 1+6+4+21+3+10+15+1
    assert ckpt.n_basis == {"pure": 41, "cartesian": 61}.get(kind, ckpt.n_basis)
    assert mf.converged != mixed
    check_in_pyscf(ckpt, mf)


@pytest.mark.parametrize("method, route, cls, xc, warns", [
    ("B3LYP", "#p B3LYP/STO-3G", "RKS", "b3lypg", None),
    ("B3LYP", "#p B3LYP/STO-3G EmpiricalDispersion=GD3BJ", "RKS", "b3lypg", "GD3BJ dispersion"),
    ("WB97XD", "#p wB97XD/STO-3G", "RKS", "wb97x-d", "D2 dispersion of wB97X-D"),
    ("MP2-FC", "#p MP2/STO-3G", "RHF", None, None),
    ("HF", "#p HF/STO-3G scrf=(solvent=water)", "RHF", None, "solvent model"),
])
def test_functionals(tmp_path: Path, method: str, route: str, cls: str, xc: Optional[str],
                     warns: Optional[str]) -> None:
    pyscf = pytest.importorskip("pyscf")
    from vexmora._pyscf import XC, XC_WITHOUT, MissingTermWarning
    ckpt = vexmora.load(vexmora_h2(tmp_path, method, route))
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        mf = ckpt.to_pyscf()
    assert type(mf).__name__ == cls and getattr(mf, "xc", None) == xc
    messages = [str(w.message) for w in caught if w.category is MissingTermWarning]
    assert any(warns in m for m in messages) if warns else not caught
    assert type(ckpt.to_pyscf(xc="pbe0")).__name__ == "RKS" and type(ckpt.to_pyscf(xc="hf")).__name__ == "RHF"
    for name in [*XC.values(), *(v[0] for v in XC_WITHOUT.values())]:  # each is PySCF's
        pyscf.dft.libxc.parse_xc(name)
    with pytest.raises(ValueError, match="no PySCF equivalent known for the method RXYZ; give one"):
        vexmora.load(vexmora_h2(tmp_path, "XYZ", "#p XYZ/STO-3G")).to_pyscf()


def vexmora_h2(tmp: Path, method: str, route: str) -> str:
    from chkbuilder import h2, labels
    b = h2().replace(993, job(method=method)).replace(502, labels("H2 test", route, ["1", "H 1S", "2", "H 1S"]))
    return b.write(tmp / f"{len(list(tmp.iterdir()))}.chk")


def test_ghosts_and_core_potentials(tmp_path: Path) -> None:
    """A ghost centre keeps its functions without a nucleus; a nuclear charge below the
    atomic number (an ECP job, whose potentials are not read) is refused."""
    pytest.importorskip("pyscf")
    pytest.importorskip("iodata")
    shells = [shell(1, 0), shell(2, 0), shell(3, 0), shell(3, 1)]
    ghost = builder(tmp_path, "pure", "RHF", shells, nucchg=[0.0, 1.0, 1.0])
    mf = ghost.to_pyscf()
    assert list(mf.mol.atom_charges()) == [0, 1, 1] and mf.mol.nao == 6
    check_in_pyscf(ghost, mf)
    assert ghost.to_qcschema()["molecule"]["real"] == [False, True, True]  # validated where qcelemental is
    ecp = builder(tmp_path, "pure", "RHF", shells, atomicnums=(11, 1, 1), nucchg=[1.0, 1.0, 1.0])
    for convert in (lambda c: c.to_pyscf(), lambda c: c.to_qcschema(),
                    lambda c: c.write_pyscf_chk(tmp_path / "x.h5")):
        with pytest.raises(vexmora.CheckpointError, match="atom 1 .Na. has nuclear charge 1 below its "
                           "atomic number 11: an effective core potential"):
            convert(ecp)
    assert not (tmp_path / "x.h5").exists()


def test_pyscf_checkpoint(tmp_path: Path) -> None:
    """PySCF reads its checkpoint back: the molecule, the orbitals and a guess from it; an
    output that is the input is refused, a failed write leaves nothing; convert --to pyscf."""
    pytest.importorskip("pyscf")
    pytest.importorskip("iodata")
    from pyscf import lib, scf
    ckpt = builder(tmp_path, "cartesian", "UHF")
    out = tmp_path / "u.pyscf.h5"
    ckpt.write_pyscf_chk(out)
    mf = ckpt.to_pyscf()
    mol = lib.chkfile.load_mol(str(out))
    assert mol.cart and mol.nao == mf.mol.nao and mol.spin == 1
    np.testing.assert_array_equal(mol.atom_coords(), mf.mol.atom_coords())
    saved = scf.chkfile.load(str(out), "scf")
    np.testing.assert_array_equal(saved["mo_coeff"], mf.mo_coeff)
    assert saved["e_tot"] == ckpt.scf_energy
    guess = scf.UHF(mol).init_guess_by_chkfile(str(out))
    np.testing.assert_allclose(guess, mf.make_rdm1(), atol=1e-12)
    before = Path(ckpt.path).read_bytes()
    link = tmp_path / "link.h5"
    link.symlink_to(ckpt.path)
    for target in (ckpt.path, link):
        with pytest.raises(vexmora.WriteError, match="it is the input file") as e:
            ckpt.write_pyscf_chk(target)
        assert e.value.errno is None
    assert Path(ckpt.path).read_bytes() == before
    other = tmp_path / "other.h5"
    other.write_bytes(b"old")
    (tmp_path / "to-other.h5").symlink_to(other)
    ckpt.write_pyscf_chk(tmp_path / "to-other.h5")  # through the link, which stays
    assert (tmp_path / "to-other.h5").is_symlink() and lib.chkfile.load_mol(str(other)).nao == mol.nao
    with pytest.raises(vexmora.WriteError, match="No such file or directory"):
        ckpt.write_pyscf_chk(tmp_path / "missing" / "x.h5")
    with pytest.raises(vexmora.WriteError, match="Is a directory"):
        ckpt.write_qcschema(tmp_path)
    assert sorted(p.name for p in tmp_path.iterdir() if p.name.startswith(".")) == []
    ckpt.write_qcschema("/dev/null")  # written in place, never replaced
    assert Path("/dev/null").is_char_device()
    assert vexmora.cli.main(["convert", ckpt.path, "-o", str(tmp_path / "c"),
                             "--to", "pyscf,qcschema,fchk"]) == 0
    stem = Path(ckpt.path).stem
    assert sorted(p.name for p in (tmp_path / "c").iterdir()) == [
        f"{stem}.fchk", f"{stem}.pyscf.h5", f"{stem}.qcschema.json"]


def test_without_pyscf(tmp_path: Path, monkeypatch: pytest.MonkeyPatch,
                       capsys: pytest.CaptureFixture) -> None:
    from chkbuilder import h2_job
    chk = h2_job(tmp_path)
    monkeypatch.setitem(sys.modules, "pyscf", None)
    with pytest.raises(ImportError, match=r"PySCF is not installed; .*pip install 'vexmora\[pyscf\]'"):
        vexmora.load(chk).to_pyscf()
    assert vexmora.cli.main(["convert", str(chk), "--to", "fchk,pyscf"]) == 1
    assert capsys.readouterr().err == ("vexmora: format pyscf: PySCF is not installed; to hand "
                                       "checkpoints to PySCF: pip install 'vexmora[pyscf]'\n")
    assert not chk.with_suffix(".fchk").exists()


def cca_to_pyscf(data: Dict[str, Any]) -> Tuple[Any, np.ndarray, np.ndarray]:
    """PySCF's molecule of a QCSchema AtomicResult of one kind of shell (all spherical or
    all Cartesian beyond p); where each of PySCF's functions is in the file (PySCF orders
    an atom's shells by L); each function's factor from CCA's normalisation to PySCF's:
    a CCA Cartesian shell shares one factor, which makes x^l normalised."""
    from pyscf import gto
    basis = data["wavefunction"]["basis"]
    kinds = {sh["harmonic_type"] for c in basis["center_data"].values()
             for sh in c["electron_shells"] if sh["angular_momentum"][0] > 1}
    assert len(kinds) <= 1
    symbols = data["molecule"]["symbols"]
    geom = np.reshape(data["molecule"]["geometry"], (-1, 3))
    shells = [basis["center_data"][key]["electron_shells"] for key in basis["atom_map"]]
    m = gto.M(atom=[(f"{s}{k}", x) for k, (s, x) in enumerate(zip(symbols, geom))], unit="Bohr",
              verbose=0, spin=None, cart=kinds == {"cartesian"}, basis={
        f"{s}{k}": [[sh["angular_momentum"][0], *zip(sh["exponents"], sh["coefficients"][0])]
                    for sh in shells[k]] for k, s in enumerate(symbols)})
    starts: Dict[Tuple[int, int], List[int]] = {}
    offset = 0
    for atom, atom_shells in enumerate(shells):
        for sh in atom_shells:
            L = sh["angular_momentum"][0]
            starts.setdefault((atom, L), []).append(offset)
            offset += 2 * L + 1 if sh["harmonic_type"] == "spherical" else (L + 1) * (L + 2) // 2
    order: List[int] = []
    factor = np.ones(m.nao)
    diag = np.diag(m.intor("int1e_ovlp"))
    for i, (atom, L) in enumerate(m._bas[:, :2].tolist()):
        first, end = m.ao_loc[i], m.ao_loc[i + 1]
        start = starts[(atom, L)].pop(0)
        order += range(start, start + end - first)
        if m.cart and L > 1:
            factor[first:end] = 1 / math.sqrt(diag[first])
    return m, np.array(order), factor


@pytest.mark.parametrize("case", ["g09-water-hf-631gd-opt", "g16-o2-triplet-uhf-ccpvdz",
                                  "g16-propene-rhf-631gd5d-sp", "builder ROHF cartesian",
                                  "builder UHF mixed"])
def test_qcschema(tmp_path: Path, case: str) -> None:
    """The file as qcelemental reads it: in PySCF (for one kind of shell) its orbitals are
    orthonormal and its orbitals' and densities' values on points ours."""
    qcel = pytest.importorskip("qcelemental")
    pytest.importorskip("pyscf")
    if case.startswith("builder"):
        pytest.importorskip("iodata")
        spin, kind = case.split()[1:]
        ckpt = builder(tmp_path, "cart d, pure f-h" if kind == "mixed" else kind, spin)
    else:
        if not (TESTDATA / f"{case}.chk").exists():
            pytest.skip("the real checkpoints are absent")
        ckpt = vexmora.load(TESTDATA / f"{case}.chk")
    out = tmp_path / "x.qcschema.json"
    ckpt.write_qcschema(out)
    result = qcel.models.AtomicResult.parse_file(out)
    wf = result.wavefunction
    assert wf.basis.nbf == ckpt.n_basis and result.molecule.molecular_multiplicity == ckpt.multiplicity
    assert wf.restricted == (ckpt.n_alpha == ckpt.n_beta and ckpt.mo_coefficients_beta is None)
    np.testing.assert_array_equal(wf.scf_eigenvalues_a, ckpt.mo_energies_alpha)
    assert result.return_result == ckpt.total_energy
    if "mixed" not in case:  # PySCF holds one kind of shell
        m, order, f = cca_to_pyscf(json.loads(out.read_text()))
        s = m.intor("int1e_ovlp")
        pairs = [(wf.scf_orbitals_a, wf.scf_occupations_a), (wf.scf_orbitals_b, wf.scf_occupations_b)]
        if wf.restricted:
            pairs = pairs[:1] * 2
        dm = np.zeros((m.nao, m.nao))
        for c, occ in pairs:
            c = c[order] * f[:, None]
            np.testing.assert_allclose(c.T @ s @ c, np.eye(c.shape[1]), rtol=0,
                                       atol=ORTHONORMAL.get(case, 1e-8))
            dm += (c * occ) @ c.T
        points = near_atoms(ckpt)
        ours = ckpt.density_at(points)
        stored = wf.scf_density_a + (wf.scf_density_a if wf.restricted else wf.scf_density_b)
        for d in (dm, stored[np.ix_(order, order)] * np.outer(f, f)):
            np.testing.assert_allclose(pyscf_density(m, d, points), ours, rtol=0,
                                       atol=1e-8 * np.abs(ours).max())
    iodata = pytest.importorskip("iodata")
    back = iodata.load_one(str(out), fmt="json_qcschema")
    assert list(back.atnums) == list(ckpt.atomic_numbers) and back.energy == ckpt.total_energy

"""Orbitals and densities at points against PySCF: its basis functions read from our
Molden file, its Becke grid for the electron count; cube files read back and by
Open Babel; bad input refused with nothing written."""
from __future__ import annotations

import shutil
import subprocess
from pathlib import Path
from typing import Any, Dict, List, Sequence

import numpy as np
import pytest

import vexmora
from chkbuilder import (XYZ3, Shell, basis, densities, h1s, h2, lower_triangle, mol, nfunc,
                        raw_coefs, reals, switches, with_basis)
from refdata import good_checkpoints

BOHR = 0.529177249
CART = {"cartesian": dict(bhdr4=1, bhdr5=1), "pure": dict(bhdr4=0, bhdr5=0),
        "cartesian d, pure f": dict(bhdr4=1, bhdr5=0)}


def synthetic(tmp: Path, shells: Sequence[Shell], kind: str, coefs: Any = None,
              nae: int = 2, nbe: int = 2) -> vexmora.Checkpoint:
    """Three H atoms of XYZ3 with ``shells``; orbitals ``coefs`` (default the identity:
    the orbitals are the basis functions), and their closed-shell SCF density."""
    cart = CART[kind]
    pure = {2: not cart["bhdr4"], **{L: not cart["bhdr5"] for L in range(3, 6)}}
    n = sum(nfunc(-1 if s.T == 1 and 0 in s.coefs else -s.T if pure.get(s.T) else s.T)
            for s in shells)
    b = with_basis(shells, 3, **cart).replace(997, mol([1] * 3, XYZ3, nbasis=n, nae=nae, nbe=nbe))
    b.replace(998, switches()).replace(522, reals([0.1 * k - 1.0 for k in range(n)]))
    c = np.eye(n) if coefs is None else np.asarray(coefs)
    b.replace(524, reals(c.ravel())).add(603, densities(1, lower_triangle(2 * c[:nae].T @ c[:nae])))
    return vexmora.load(b.write(tmp / f"s{len(list(tmp.iterdir()))}.chk"))


def shell(atom: int, L: int, sp: bool = False) -> Shell:
    """A three-primitive shell whose contraction is not normalised."""
    e = [4.1 + L, 0.9, 0.21]
    if sp:
        return Shell(atom, 1, e, {0: raw_coefs([0.3, 0.6, 0.4], e, 0),
                                  1: raw_coefs([0.2, 0.5, 0.6], e, 1)})
    return Shell(atom, L, e, {L: raw_coefs([0.3, 0.7, 0.5], e, L)})


def near_atoms(ckpt: vexmora.Checkpoint, n: int = 300, seed: int = 3) -> np.ndarray:
    """Random points within a few Angstrom of the atoms."""
    rng = np.random.default_rng(seed)
    xyz = ckpt.coordinates
    return xyz[rng.integers(0, len(xyz), n)] + rng.normal(0, 1.0, (n, 3))


def pyscf_orbitals(ckpt: vexmora.Checkpoint, tmp: Path, points: np.ndarray) -> np.ndarray:
    """PySCF's values of the alpha orbitals at ``points`` (Angstrom), from our Molden file."""
    from pyscf.tools import molden
    ckpt.write_molden(tmp / "x.molden")
    m, _, c, _, _, _ = molden.load(str(tmp / "x.molden"))
    ao = m.eval_gto("GTOval_cart" if m.cart else "GTOval_sph", points / BOHR)
    c = np.asarray(c)
    return ao @ (c[0] if c.ndim == 3 else c)


def pyscf_pure(ckpt: vexmora.Checkpoint, points: np.ndarray) -> np.ndarray:
    """PySCF's values of the functions of an all-pure basis at ``points`` (Angstrom), its
    molecule built from the checkpoint's shells (its Molden reader stops at g), in
    Gaussian's order: m = 0, +1, -1, ... (p: x, y, z), PySCF's is m = -L .. L."""
    from pyscf import gto
    basis: Dict[str, List[Any]] = {}
    order: List[int] = []
    first = np.concatenate([[0], np.cumsum(ckpt.shell_n_primitives)])
    for k, (t, a) in enumerate(zip(ckpt.shell_types, ckpt.shell_atoms)):
        e = ckpt.exponents[first[k]:first[k + 1]]
        parts = [(0, ckpt.contraction_coefficients), (1, ckpt.sp_contraction_coefficients)] \
            if t == -1 else [(abs(t), ckpt.contraction_coefficients)]
        for L, c in parts:
            basis.setdefault(f"H{a + 1}", []).append([L, *zip(e, c[first[k]:first[k + 1]])])
            m = [(j + 1) // 2 * (1 if j % 2 else -1) for j in range(2 * L + 1)]
            order += [len(order) + (j if L == 1 else L + mk) for j, mk in enumerate(m)]
    m = gto.M(atom=[(f"H{i + 1}", x) for i, x in enumerate(ckpt.coordinates / BOHR)],
              basis=basis, unit="Bohr", spin=None, verbose=0)
    return m.eval_gto("GTOval_sph", points / BOHR)[:, order]


ALL_L = [shell(1, 0), shell(1, 0, sp=True), shell(2, 1), shell(2, 2), shell(3, 3), shell(1, 4)]


@pytest.mark.parametrize("shells, kind", [
    (ALL_L, "cartesian"),
    (ALL_L + [shell(3, 5)], "pure"),
], ids=["cartesian s-g, sp", "pure s-h, sp"])
def test_basis_functions_match_pyscf(tmp_path: Path, shells: List[Shell], kind: str) -> None:
    pytest.importorskip("pyscf")
    ckpt = synthetic(tmp_path, shells, kind)
    points = near_atoms(ckpt)
    ours = ckpt.orbitals_at(points, range(ckpt.n_basis))
    ref = pyscf_orbitals(ckpt, tmp_path, points) if kind == "cartesian" else pyscf_pure(ckpt, points)
    assert np.abs(ref).max() > 0.1
    np.testing.assert_allclose(ours, ref, rtol=0, atol=1e-12)
    # Threads share the points out; the values do not depend on how.
    np.testing.assert_array_equal(ckpt.orbitals_at(points, [3, 7], threads=1),
                                  ckpt.orbitals_at(points, [3, 7], threads=3))


def becke_grid(ckpt: vexmora.Checkpoint) -> Any:
    from pyscf import dft, gto
    m = gto.M(atom=[(max(int(z), 1), x) for z, x in zip(ckpt.atomic_numbers, ckpt.coordinates)],
              spin=None, basis={}, unit="Angstrom", verbose=0)
    g = dft.gen_grid.Grids(m)
    g.level = 4
    return g.build()


@pytest.mark.parametrize("chk", good_checkpoints(), ids=lambda p: p.stem)
def test_real_checkpoint(chk: Path, tmp_path: Path) -> None:
    """Orbitals as PySCF evaluates them (the Molden file's ten decimals limit the match),
    and the densities' integrals: the electron count, and n_alpha - n_beta for spin."""
    pytest.importorskip("pyscf")
    ckpt = vexmora.load(chk)
    points = near_atoms(ckpt)
    n = len(ckpt.mo_energies_alpha)
    np.testing.assert_allclose(ckpt.orbitals_at(points, range(n)),
                               pyscf_orbitals(ckpt, tmp_path, points), rtol=0, atol=1e-9)
    grid = becke_grid(ckpt)
    for kind in ckpt.densities:
        rho = ckpt.density_at(grid.coords * BOHR, kind)
        assert rho @ grid.weights == pytest.approx(ckpt.n_electrons, rel=1e-5)
    for kind in ckpt.spin_densities:
        spin = ckpt.density_at(grid.coords * BOHR, kind, spin=True)
        assert spin @ grid.weights == pytest.approx(ckpt.n_alpha - ckpt.n_beta, abs=1e-5)


def test_mixed_basis_density(tmp_path: Path) -> None:
    """Cartesian d next to pure f, which PySCF cannot load: orbitals orthonormal in IOData's
    overlap of the basis give a density that integrates to the electron count."""
    pytest.importorskip("pyscf")
    compute_overlap = pytest.importorskip("iodata.overlap").compute_overlap
    shells = [shell(1, 0), shell(1, 2), shell(2, 3), shell(2, 0, sp=True), shell(3, 2)]
    data = synthetic(tmp_path, shells, "cartesian d, pure f").to_iodata()
    s = compute_overlap(data.obasis, data.atcoords)
    s /= np.sqrt(np.outer(np.diag(s), np.diag(s)))  # Gaussian normalises every function
    w, v = np.linalg.eigh(s)
    ckpt = synthetic(tmp_path, shells, "cartesian d, pure f", (v / np.sqrt(w)) @ v.T)
    grid = becke_grid(ckpt)
    rho = ckpt.density_at(grid.coords * BOHR)
    assert rho @ grid.weights == pytest.approx(4, rel=1e-5)
    psi = ckpt.orbitals_at(grid.coords[:500] * BOHR, [0, 1])
    np.testing.assert_allclose(rho[:500], 2 * (psi ** 2).sum(1), rtol=1e-11, atol=1e-14)


def read_cube(path: Path) -> Dict[str, Any]:
    """A cube file's parts, checking the layout: runs of the third axis on lines of six."""
    lines = path.read_text().splitlines()
    head = lines[2].split()
    natoms, origin = int(head[0]), [float(x) for x in head[1:4]]
    axes = [lines[3 + k].split() for k in range(3)]
    shape = [int(a[0]) for a in axes]
    atoms = [[float(x) for x in line.split()] for line in lines[6:6 + abs(natoms)]]
    body = lines[6 + abs(natoms) + (natoms < 0):]
    per_run = -(-shape[2] // 6)
    assert len(body) == shape[0] * shape[1] * per_run
    assert all(len(line) == 13 * (6 if (k + 1) % per_run else shape[2] - 6 * (per_run - 1))
               for k, line in enumerate(body))
    values = np.array(" ".join(body).split(), dtype=float).reshape(shape)
    return dict(natoms=natoms, origin=origin, steps=np.array([[float(x) for x in a[1:]] for a in axes]),
                atoms=atoms, orbital_line=lines[6 + abs(natoms)] if natoms < 0 else None,
                values=values)


@pytest.mark.parametrize("what, kw", [("density", {}), ("homo", dict(shape=(9, 7, 13))), (6, {}),
                                      # several rounds of text on two threads
                                      ("density", dict(shape=(70, 50, 50), threads=2))])
def test_cube_holds_the_values_at_its_points(tmp_path: Path, what: Any, kw: Dict[str, Any]) -> None:
    ckpt = synthetic(tmp_path, ALL_L + [shell(3, 5)], "pure")
    path = tmp_path / "x.cube"
    ckpt.write_cube(path, what, **(kw or dict(spacing=0.35, margin=1.5)))
    cube = read_cube(path)
    np.testing.assert_allclose(cube["atoms"], [[1, 1, *x] for x in ckpt.coordinates / BOHR],
                               atol=1e-6)
    n = cube["values"].shape
    i, j, k = np.meshgrid(*[np.arange(m) for m in n], indexing="ij")
    points = (cube["origin"] + np.stack([i, j, k], -1).reshape(-1, 3) @ cube["steps"]) * BOHR
    if what == "density":
        assert cube["natoms"] == 3 and cube["orbital_line"] is None
        ref = ckpt.density_at(points)
    else:
        index = 1 if what == "homo" else what
        assert cube["natoms"] == -3 and cube["orbital_line"] == f"    1{index + 1:5d}"
        ref = ckpt.orbitals_at(points, [index])[:, 0]
    if "shape" in kw:  # the box reaches 4 Bohr beyond the atoms, whatever the shape
        assert n == kw["shape"]
        np.testing.assert_allclose(cube["origin"], ckpt.coordinates.min(0) / BOHR - 4, atol=1e-6)
    np.testing.assert_allclose(cube["values"].ravel(), ref, rtol=5e-6, atol=1e-300)
    if shutil.which("obabel"):
        xyz = subprocess.run(["obabel", "-icube", str(path), "-oxyz"], capture_output=True,
                             text=True, timeout=60).stdout.splitlines()
        assert int(xyz[0]) == 3
        np.testing.assert_allclose([[float(x) for x in line.split()[1:]] for line in xyz[2:5]],
                                   ckpt.coordinates, atol=1e-4)


def test_cube_of_one_atom(tmp_path: Path) -> None:
    """A hydrogen atom: its one atom listed and its one electron on the grid."""
    at = [(0.0, 0.0, 0.0)]
    b = h2().replace(997, mol([1], at, nbasis=1, nae=1, nbe=0)).replace(670, basis(h1s(at)))
    b.replace(522, reals([-0.5])).replace(524, reals([1.0])).add(603, densities(1, [1.0]))
    vexmora.load(b.write(tmp_path / "h.chk")).write_cube(tmp_path / "h.cube", spacing=0.2)
    cube = read_cube(tmp_path / "h.cube")
    assert cube["natoms"] == 1 and cube["atoms"] == [[1, 1, 0, 0, 0]]
    assert cube["values"].sum() * np.linalg.det(cube["steps"]) == pytest.approx(1.0, abs=1e-3)


@pytest.mark.parametrize("call, message", [
    (lambda c, p: c.orbitals_at(np.zeros((4, 2)), [0]), "shape"),
    (lambda c, p: c.density_at([[0, 0, np.nan]]), "finite"),
    (lambda c, p: c.orbitals_at(np.zeros((1, 3)), [2]), "out of range"),
    (lambda c, p: c.orbitals_at(np.zeros((1, 3)), [-1]), "out of range"),
    (lambda c, p: c.orbitals_at(np.zeros((1, 3)), [0], spin="beta"), "no beta orbitals"),
    (lambda c, p: c.density_at(np.zeros((1, 3)), "MP2"), "no 'MP2' density"),
    (lambda c, p: c.density_at(np.zeros((1, 3)), spin=True), "no 'SCF' density"),
    (lambda c, p: c.write_cube(p, "lumo", spacing=0), "spacing must be"),
    (lambda c, p: c.write_cube(p, spacing=-0.1), "spacing must be"),
    (lambda c, p: c.write_cube(p, 7), "out of range"),
    (lambda c, p: c.write_cube(p, "CI"), "no 'CI' density"),
    (lambda c, p: c.write_cube(p, shape=500), "confirm with allow_large"),
    (lambda c, p: c.write_cube(p, shape=4, margin=0), "closer than"),  # H2 has no width
    (lambda c, p: c.write_cube(p, threads=0), "at least 1"),
])
def test_bad_input(tmp_path: Path, call: Any, message: str) -> None:
    from chkbuilder import h2_job
    ckpt = vexmora.load(h2_job(tmp_path))
    with pytest.raises(ValueError, match=message):
        call(ckpt, tmp_path / "x.cube")
    assert not (tmp_path / "x.cube").exists()


def aim_read_back(ckpt: vexmora.Checkpoint, path: Path, tol: float) -> None:
    """IOData's reading of our .wfn/.wfx: occupied orbitals orthonormal in its overlap,
    tr(D S) = N, the total energy, the atoms."""
    iodata = pytest.importorskip("iodata")
    from iodata.overlap import compute_overlap
    getattr(ckpt, "write_" + path.suffix[1:])(path)
    data = iodata.load_one(path)
    s, mo = compute_overlap(data.obasis, data.atcoords), data.mo
    spins = [mo.coeffs] if mo.kind == "restricted" else [mo.coeffsa, mo.coeffsb]
    for c in spins:
        np.testing.assert_allclose(c.T @ s @ c, np.eye(c.shape[1]), rtol=0, atol=tol)
    assert np.trace((mo.coeffs * mo.occs) @ mo.coeffs.T @ s) == pytest.approx(ckpt.n_electrons,
                                                                                abs=10 * tol)
    assert (mo.kind == "unrestricted") == (ckpt.mo_energies_beta is not None)
    assert data.energy == pytest.approx(ckpt.total_energy, abs=5e-13)  # .wfn: 12 decimals
    np.testing.assert_array_equal(data.atnums, ckpt.atomic_numbers)
    np.testing.assert_allclose(data.atcoords, ckpt.coordinates / BOHR, atol=1e-8)


# The .wfn prints exponents to 7 digits and coefficients to 8; the .wfx to 16.
AIM_TOLERANCE = {".wfn": 1e-6, ".wfx": 1e-7}


@pytest.mark.parametrize("suffix", [".wfn", ".wfx"])
@pytest.mark.parametrize("chk", good_checkpoints(), ids=lambda p: p.stem)
def test_aim_files_of_real_checkpoints(chk: Path, suffix: str, tmp_path: Path) -> None:
    aim_read_back(vexmora.load(chk), tmp_path / f"x{suffix}", AIM_TOLERANCE[suffix])


@pytest.mark.parametrize("kind", ["cartesian", "pure"])
@pytest.mark.parametrize("suffix", [".wfn", ".wfx"])
def test_aim_files_of_every_shell_type(tmp_path: Path, kind: str, suffix: str) -> None:
    """g and h shells (none in the real files), orbitals orthonormal in IOData's overlap."""
    compute_overlap = pytest.importorskip("iodata.overlap").compute_overlap
    shells = ALL_L + [shell(3, 5)] * (kind == "pure")
    data = synthetic(tmp_path, shells, kind).to_iodata()
    s = compute_overlap(data.obasis, data.atcoords)
    s /= np.sqrt(np.outer(np.diag(s), np.diag(s)))
    w, v = np.linalg.eigh(s)
    ckpt = synthetic(tmp_path, shells, kind, (v / np.sqrt(w)) @ v.T, nae=3, nbe=2)
    aim_read_back(ckpt, tmp_path / f"x{suffix}", AIM_TOLERANCE[suffix])


def test_aim_files_refused(tmp_path: Path) -> None:
    from chkbuilder import h2
    ckpt = vexmora.load(h2().remove(522, 524).write(tmp_path / "none.chk"))
    results = vexmora.convert_many([tmp_path / "none.chk"], tmp_path / "out", ("xyz", "wfn", "wfx"))
    assert results[0].outputs == [str(tmp_path / "out" / "none.xyz")]
    assert "holds no molecular orbitals" in str(results[0].error)
    with pytest.raises(RuntimeError, match="wfx output: the checkpoint holds no molecular"):
        ckpt.write_wfx(tmp_path / "x.wfx")
    assert sorted(p.name for p in (tmp_path / "out").iterdir()) == ["none.xyz"]

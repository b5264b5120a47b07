"""The electrostatic potential against PySCF's nuclear-attraction integrals (its molecule
read from our Molden file, or built from the checkpoint's shells where Molden or PySCF's
reader stop), its limits (nuclei alone, the far field), and the charges fitted to it:
MK and CHELPG points as their definitions give them, the constrained fit solved another
way, RESP's optimality conditions, the ESP file read back as antechamber reads it."""
from __future__ import annotations

import json
import math
from pathlib import Path
from typing import Any, Dict, List, Optional, Sequence, Tuple

import numpy as np
import pytest

import vexmora
from vexmora import _core
from vexmora.cli import main
from chkbuilder import Shell, basis, densities, h2, ints, lower_triangle, mol, nfunc, raw_coefs, reals
from refdata import good_checkpoints

BOHR = 0.529177249


def shell(atom: int, L: int, centre: Sequence[float], sp: bool = False) -> Shell:
    e = [3.1 + L, 0.8, 0.23]
    if sp:
        return Shell(atom, 1, e, {0: raw_coefs([0.3, 0.6, 0.4], e, 0),
                                  1: raw_coefs([0.2, 0.5, 0.6], e, 1)}, centre=centre)
    return Shell(atom, L, e, {L: raw_coefs([0.3, 0.7, 0.5], e, L)}, centre=centre)


def build(tmp: Path, z: Sequence[int], xyz: Sequence[Sequence[float]], per_atom: Dict[int, List[Any]],
          cartesian: bool, nocc: int = 3, charge: int = 0, seed: int = 4,
          zero: bool = False, extra: Optional[Dict[int, bytes]] = None,
          mp2: bool = False) -> vexmora.Checkpoint:
    """A closed-shell molecule (Bohr) with shells ``per_atom[Z]`` ((L, sp) pairs), random
    orthonormal orbitals and their density (a zero density with ``zero``; with ``mp2``
    also an MP2 density, that of other orbitals), and the records ``extra``."""
    shells = [shell(a, L, c, sp) for a, (zz, c) in enumerate(zip(z, xyz), start=1)
              for L, sp in per_atom[zz]]
    n = sum(nfunc(-1 if s.T == 1 and 0 in s.coefs else s.T if cartesian or s.T < 2 else -s.T)
            for s in shells)
    c, _ = np.linalg.qr(np.random.default_rng(seed).normal(size=(n, n)))
    d = np.zeros((n, n)) if zero else 2 * c[:nocc].T @ c[:nocc]
    b = h2().replace(997, mol(z, xyz, nbasis=n, nae=nocc, nbe=nocc, charge=charge))
    flag = 1 if cartesian else 0
    b.replace(670, basis(shells, bhdr4=flag, bhdr5=flag))
    b.replace(522, reals(np.linspace(-2, 1, n))).replace(524, reals(c.ravel()))
    if mp2:
        b.add(603, densities(1 | 4, lower_triangle(d), lower_triangle(2 * c[1:nocc + 1].T @ c[1:nocc + 1])))
    else:
        b.add(603, densities(1, lower_triangle(d)))
    for record, data in (extra or {}).items():
        b.add(record, data)
    return vexmora.load(b.write(tmp / f"m{len(list(tmp.iterdir()))}.chk"))


XYZ3 = [[0.0, 0.0, 0.0], [0.0, 0.3, 1.6], [1.2, -0.7, 2.4]]
EVERY_L = {1: [(0, False), (1, True), (1, False), (2, False), (3, False), (4, False)]}
WITH_H = {1: EVERY_L[1] + [(5, False)]}


def near(ckpt: vexmora.Checkpoint, n: int = 12, seed: int = 3) -> np.ndarray:
    rng = np.random.default_rng(seed)
    xyz = ckpt.coordinates
    return xyz[rng.integers(0, len(xyz), n)] + rng.normal(0, 0.8, (n, 3))


def pyscf_direct(ckpt: vexmora.Checkpoint, kind: str = "SCF") -> Tuple[Any, np.ndarray]:
    """PySCF's molecule built from the checkpoint's shells (all pure or all Cartesian) and the
    density ``kind`` in its function order and normalisation."""
    from pyscf import gto
    cart = any(t >= 2 for t in ckpt.shell_types)
    first = np.concatenate([[0], np.cumsum(ckpt.shell_n_primitives)])
    basis_: Dict[str, List[Any]] = {}
    order: List[int] = []  # our function k is PySCF's order[k]
    for k, (t, a) in enumerate(zip(ckpt.shell_types, ckpt.shell_atoms)):
        e = ckpt.exponents[first[k]:first[k + 1]]
        parts = [(0, ckpt.contraction_coefficients), (1, ckpt.sp_contraction_coefficients)] \
            if t == -1 else [(abs(t), ckpt.contraction_coefficients)]
        for L, c in parts:
            basis_.setdefault(f"H{a + 1}", []).append([L, *zip(e, c[first[k]:first[k + 1]])])
            base = len(order)
            if cart:
                theirs = [(lx, ly, L - lx - ly) for lx in range(L, -1, -1) for ly in range(L - lx, -1, -1)]
                order += [base + theirs.index(tuple(p)) for p in _core.cartesian_powers(L)]
            else:
                m = [(j + 1) // 2 * (1 if j % 2 else -1) for j in range(2 * L + 1)]
                order += [base + (j if L == 1 else L + mk) for j, mk in enumerate(m)]
    m = gto.M(atom=[(f"H{i + 1}", x) for i, x in enumerate(ckpt.coordinates / BOHR)], basis=basis_,
              unit="Bohr", spin=None, verbose=0, cart=cart)
    scale = 1 / np.sqrt(np.diag(m.intor("int1e_ovlp")))
    d = np.zeros((m.nao, m.nao))
    d[np.ix_(order, order)] = ckpt.densities[kind]
    return m, d * np.outer(scale, scale)


def pyscf_molden(ckpt: vexmora.Checkpoint, tmp: Path) -> Tuple[Any, np.ndarray]:
    from pyscf.tools import molden
    ckpt.write_molden(tmp / "x.molden")
    m, _, c, occ, _, _ = molden.load(str(tmp / "x.molden"))
    c, occ = np.asarray(c), np.asarray(occ)
    if c.ndim == 3:
        return m, sum((c[s] * occ[s]) @ c[s].T for s in range(2))
    return m, (c * occ) @ c.T


def pyscf_potential(m: Any, d: np.ndarray, points: np.ndarray, z: np.ndarray) -> np.ndarray:
    p = points / BOHR
    elec = np.einsum("pij,ij->p", m.intor("int1e_grids", grids=p), d)
    return (z / np.linalg.norm(p[:, None] - m.atom_coords()[None], axis=2)).sum(1) - elec


CASES = [("cartesian s-g, sp (Molden)", EVERY_L, True, "molden"),
         ("pure s-g, sp (Molden)", EVERY_L, False, "molden"),
         ("pure s-h, sp", WITH_H, False, "direct"),
         ("cartesian s-h, sp", WITH_H, True, "direct")]


@pytest.mark.parametrize("source", [c[0] for c in CASES] + [p.stem for p in good_checkpoints()])
def test_potential_matches_pyscf(source: str, tmp_path: Path) -> None:
    pytest.importorskip("pyscf")
    case = [c for c in CASES if c[0] == source]
    if case:
        _, shells, cart, how = case[0]
        ckpt = build(tmp_path, [1, 1, 1], XYZ3, shells, cart)
    else:
        ckpt, how = vexmora.load([p for p in good_checkpoints() if p.stem == source][0]), "molden"
    m, d = pyscf_molden(ckpt, tmp_path) if how == "molden" else pyscf_direct(ckpt)
    points = near(ckpt)
    ref = pyscf_potential(m, d, points, ckpt.nuclear_charges)
    ours = ckpt.potential_at(points)
    assert np.abs(ref - (ckpt.nuclear_charges / np.linalg.norm(
        points[:, None] - ckpt.coordinates[None], axis=2) * BOHR).sum(1)).max() > 1e-3
    np.testing.assert_allclose(ours, ref, rtol=1e-7, atol=1e-10)
    # Threads share the points out; the values do not depend on how.
    many = near(ckpt, 300, 5)
    np.testing.assert_array_equal(ckpt.potential_at(many, threads=1), ckpt.potential_at(many, threads=2))


def test_potential_of_a_post_scf_density(tmp_path: Path) -> None:
    """A stored MP2 density's potential is its own (not the SCF one's), to PySCF's."""
    pytest.importorskip("pyscf")
    ckpt = build(tmp_path, [1, 1, 1], XYZ3, WITH_H, True, mp2=True)
    assert list(ckpt.densities) == ["SCF", "MP2"]
    m, d = pyscf_direct(ckpt, "MP2")
    points = near(ckpt)
    ref = pyscf_potential(m, d, points, ckpt.nuclear_charges)
    np.testing.assert_allclose(ckpt.potential_at(points, "MP2"), ref, rtol=1e-7, atol=1e-10)
    assert np.abs(ckpt.potential_at(points) - ref).max() > 1e-3


def test_nuclei_alone_and_the_far_field(tmp_path: Path) -> None:
    """A zero density leaves sum Z/r; far away the potential is Q/r plus the dipole's
    d.r/r^3 (the dipole from the same density, independent of our integrals)."""
    z = [8, 1, 1]
    xyz = [[0.0, 0.0, 0.22], [0.0, 1.43, -0.89], [0.0, -1.43, -0.89]]
    empty = build(tmp_path, z, xyz, {8: [(0, False), (1, True)], 1: [(0, False)]}, True, zero=True)
    points = near(empty, 50)
    r = np.linalg.norm(points[:, None] / BOHR - np.array(xyz)[None], axis=2)
    np.testing.assert_allclose(empty.potential_at(points), (np.array(z) / r).sum(1), rtol=1e-14)
    with pytest.raises(ValueError, match="nucleus"):
        empty.potential_at([[1, 1, 1], empty.coordinates[1]])

    pytest.importorskip("pyscf")
    ckpt = build(tmp_path, z, xyz, {8: [(0, False), (1, True), (2, False)], 1: [(0, False), (1, False)]},
                 True, nocc=4, charge=2)
    m, d = pyscf_direct(ckpt)
    centre = np.zeros(3)
    dipole = (np.array(z)[:, None] * np.array(xyz)).sum(0) - np.einsum("xij,ij->x", m.intor("int1e_r"), d)
    q = sum(z) - np.trace(d @ m.intor("int1e_ovlp"))  # random orbitals: whatever charge they leave
    u = np.random.default_rng(1).normal(size=(20, 3))
    u /= np.linalg.norm(u, axis=1)[:, None]
    R = 2000.0  # Bohr: the quadrupole's term is ~1/R of the dipole's
    v = ckpt.potential_at((centre + R * u) * BOHR)
    dip = u @ dipole / R
    np.testing.assert_allclose(v * R - q, dip, rtol=0, atol=5e-3 * np.abs(dip).max())
    # A real job's stored dipole (HF: that of the SCF density), a neutral molecule.
    for chk in [p for p in good_checkpoints() if p.stem == "g09-water-hf-631gd-opt"]:
        water = vexmora.load(chk)
        dip = u @ water.dipole / R
        np.testing.assert_allclose(water.potential_at(R * u * BOHR) * R, dip, rtol=0,
                                   atol=5e-3 * np.abs(dip).max())


def mk_reference(xyz: np.ndarray, radii: np.ndarray, layers: Sequence[float], density: float) -> np.ndarray:
    """Merz-Kollman points written out from the definition, one point at a time."""
    out = []
    for s in layers:
        for a in range(len(xyz)):
            r = s * radii[a]
            n = int(density * 4 * math.pi * r * r)
            nequat = int(math.sqrt(math.pi * n))
            nvert = nequat // 2
            made = 0
            for i in range(nvert + 1):
                phi = math.pi * i / nvert
                nhor = max(1, int(nequat * math.sin(phi) + 1e-10))
                for j in range(nhor):
                    if made == n:
                        break
                    made += 1
                    p = xyz[a] + r * np.array([math.cos(2 * math.pi * j / nhor) * math.sin(phi),
                                               math.sin(2 * math.pi * j / nhor) * math.sin(phi),
                                               math.cos(phi)])
                    if all(np.linalg.norm(p - xyz[b]) >= s * radii[b] for b in range(len(xyz)) if b != a):
                        out.append(p)
    return np.array(out)


def fit_by_elimination(points: np.ndarray, xyz: np.ndarray, v: np.ndarray, total: float) -> np.ndarray:
    """The constrained least squares another way: the last charge is total minus the others."""
    M = 1 / np.linalg.norm(points[:, None] / BOHR - xyz[None] / BOHR, axis=2)
    A = M[:, :-1] - M[:, -1:]
    q, *_ = np.linalg.lstsq(A, v - total * M[:, -1], rcond=None)
    return np.append(q, total - q.sum())


METHANOL = ([6, 8, 1, 1, 1, 1],
            [[0.0, 0.0, 0.0], [2.69, 0.0, 0.0], [-0.68, 1.94, 0.0], [-0.68, -0.97, 1.68],
             [-0.68, -0.97, -1.68], [3.28, 1.72, 0.0]])
SMALL = {6: [(0, False), (1, True), (2, False)], 8: [(0, False), (1, True), (2, False)],
         1: [(0, False), (1, False)]}


@pytest.fixture(scope="module")
def methanol(tmp_path_factory: pytest.TempPathFactory) -> vexmora.Checkpoint:
    return build(tmp_path_factory.mktemp("meoh"), *METHANOL, SMALL, True, nocc=9)


@pytest.mark.parametrize("scheme, options", [("mk", {}), ("mk", dict(density=3.0, layers=(1.4, 2.0))),
                                             ("chelpg", {})])
def test_points_and_charges_follow_the_definitions(methanol: vexmora.Checkpoint, scheme: str,
                                                   options: Dict[str, Any]) -> None:
    fit = methanol.esp_charges(scheme, **options)
    assert isinstance(fit, vexmora.EspCharges) and fit.scheme == scheme
    xyz = methanol.coordinates
    z = methanol.atomic_numbers
    if scheme == "mk":
        radii = np.array([{1: 1.2, 6: 1.5, 8: 1.4}[int(a)] for a in z])
        ref = mk_reference(xyz, radii, options.get("layers", (1.4, 1.6, 1.8, 2.0)),
                           options.get("density", 1.0))
    else:
        radii = np.array([{1: 1.45, 6: 1.5, 8: 1.7}[int(a)] for a in z])
        lo, hi = xyz.min(0) - 2.8, xyz.max(0) + 2.8
        axes = [(lo[k] + hi[k]) / 2 + (np.arange(n) - (n - 1) / 2) * 0.3
                for k, n in enumerate(np.ceil((hi - lo) / 0.3).astype(int) + 1)]
        grid = np.stack(np.meshgrid(*axes, indexing="ij"), -1).reshape(-1, 3)
        d = np.linalg.norm(grid[:, None] - xyz[None], axis=2)
        ref = grid[(d >= radii).all(1) & (d.min(1) <= 2.8)]
    np.testing.assert_allclose(fit.points, ref, atol=1e-12)
    np.testing.assert_allclose(fit.potential, methanol.potential_at(ref), rtol=1e-12)
    q = fit_by_elimination(ref, xyz, fit.potential, methanol.charge)
    np.testing.assert_allclose(fit.charges, q, atol=1e-8)
    resid = (1 / np.linalg.norm(ref[:, None] - xyz[None], axis=2) * BOHR) @ q - fit.potential
    assert fit.rms == pytest.approx(np.sqrt(np.mean(resid ** 2)), rel=1e-9)
    assert fit.rrms == pytest.approx(fit.rms / np.sqrt(np.mean(fit.potential ** 2)), rel=1e-12)


def test_resp(methanol: vexmora.Checkpoint, monkeypatch: pytest.MonkeyPatch) -> None:
    with monkeypatch.context() as m, pytest.warns(RuntimeWarning, match="did not settle in 1 rounds"):
        m.setattr(vexmora._esp, "RESP_ROUNDS", 1)
        methanol.esp_charges("resp")
    mk = methanol.esp_charges("mk")
    plain = methanol.esp_charges("resp", restraint=(0.0, 0.0))
    np.testing.assert_allclose(plain.stage1, mk.charges, atol=1e-10)
    fit = methanol.esp_charges("resp", total_charge=0.0)
    q1, q = fit.stage1, fit.charges
    assert q.sum() == pytest.approx(0, abs=1e-10) and q1.sum() == pytest.approx(0, abs=1e-10)
    # The methyl group refitted, its hydrogens equal; O and the hydroxyl H keep stage 1's.
    assert q[2] == q[3] == q[4] and len({q1[2], q1[3], q1[4]}) == 3
    np.testing.assert_array_equal(q[[1, 5]], q1[[1, 5]])
    M = 1 / np.linalg.norm(fit.points[:, None] - methanol.coordinates[None], axis=2) * BOHR
    b = 0.1

    def gradient(q: np.ndarray, a: float, restrained: np.ndarray) -> np.ndarray:
        """Of 1/2 |Mq - V|^2 + a sum (sqrt(q^2 + b^2) - b) over the restrained atoms."""
        return M.T @ (M @ q - fit.potential) + np.where(restrained, a * q / np.sqrt(q * q + b * b), 0)

    g1 = gradient(q1, 0.0005, np.array([True, True, False, False, False, False]))
    np.testing.assert_allclose(g1, g1.mean(), atol=1e-9 * np.abs(M.T @ fit.potential).max())
    g2 = gradient(q, 0.001, np.array([True, False, False, False, False, False]))
    # Stage 2's variables: the carbon, and the three hydrogens together.
    np.testing.assert_allclose(g2[0], g2[2:5].sum() / 3, atol=1e-9 * np.abs(M.T @ fit.potential).max())


def test_resp_groups_follow_the_bond_table(tmp_path: Path) -> None:
    """Where the checkpoint holds a bond table (record 503) it, not the distances, says
    which hydrogens a carbon holds: here the carbon holds one, so stage 2 refits nothing."""
    nbond, partners = [2, 2, 1, 0, 0, 1], [2, 3, 1, 6, 1, 0, 0, 0, 0, 0, 2, 0]
    table = ints([6 | 2 << 32] + nbond + partners) + reals([1.0 if k else 0.0 for k in partners])
    ckpt = build(tmp_path, *METHANOL, SMALL, True, nocc=9, extra={503: table})
    assert ckpt.bonds is not None and ckpt.bonds.pairs.tolist() == [[0, 1], [0, 2], [1, 5]]
    fit = ckpt.esp_charges("resp")
    np.testing.assert_array_equal(fit.charges, fit.stage1)


def read_esp(path: Path) -> Dict[str, Any]:
    """As antechamber's gesp reader: D exponents become E, fields split on blanks."""
    lines = path.read_text().splitlines()
    assert lines[0] == " ESP FILE - ATOMIC UNITS"
    natoms = int(lines[2].split("=")[1])
    atoms = [line.replace("D", "E").split() for line in lines[3:3 + natoms]]
    head = lines[3 + natoms + 5]
    assert head.startswith(" ESP VALUES AND GRID POINT COORDINATES. #POINTS =")
    body = [[float(x) for x in line.replace("D", "E").split()] for line in lines[4 + natoms + 5:]]
    assert len(body) == int(head.split("=")[1])
    for line in lines[3:3 + natoms] + lines[4 + natoms + 5:]:
        fields = line[8:] if line[1:3].strip().isalpha() else line
        assert all(f[-4] == "D" and f.strip().split(".")[0] in ("0", "-0") and
                   ("0.1" <= f.strip("- ")[:3] or f == "  0.00000000D+00")  # a mantissa 0.1 to 1
                   for f in [fields[k:k + 16] for k in range(0, len(fields), 16)]), line
    return dict(charge=lines[1], symbols=[a[0] for a in atoms],
                atoms=np.array([[float(x) for x in a[1:]] for a in atoms]), body=np.array(body),
                zeros=lines[3 + natoms:3 + natoms + 5])


def test_esp_file_and_command(methanol: vexmora.Checkpoint, tmp_path: Path,
                              capsys: pytest.CaptureFixture[str]) -> None:
    assert _core.fortran_d16(-2.6112618e-3) == " -0.26112618D-02"
    assert _core.fortran_d16(3.9684249) == "  0.39684249D+01"
    assert _core.fortran_d16(0.99999999999) == "  0.10000000D+01"
    assert [_core.fortran_d16(v) for v in (1.5e-100, -1.5e-120)] == ["  0.15000000D-99", " -0.15000000-119"]
    fit = methanol.esp_charges("resp")
    methanol.write_esp(tmp_path / "m.esp", fit=fit)
    esp = read_esp(tmp_path / "m.esp")
    assert esp["charge"] == " CHARGE =   0 - MULTIPLICITY =   1"
    methanol.write_esp(tmp_path / "cation.esp", total_charge=1.0)  # the fit's total, not the job's
    assert read_esp(tmp_path / "cation.esp")["charge"] == " CHARGE =   1 - MULTIPLICITY =   1"
    assert esp["symbols"] == ["C", "O", "H", "H", "H", "H"]
    np.testing.assert_allclose(esp["atoms"][:, :3], methanol.coordinates / BOHR, rtol=6e-8)
    np.testing.assert_allclose(esp["atoms"][:, 3], fit.charges, rtol=6e-8, atol=1e-9)
    np.testing.assert_allclose(esp["body"][:, 0], fit.potential, rtol=6e-8)
    np.testing.assert_allclose(esp["body"][:, 1:], fit.points / BOHR, rtol=6e-8, atol=1e-8)
    zero = "  0.00000000D+00"
    assert esp["zeros"] == [" DIPOLE MOMENT:", f" X={zero} Y={zero} Z={zero} Total={zero}",
                            " TRACELESS QUADRUPOLE MOMENT:", f"   XX={zero}   YY={zero}   ZZ={zero}",
                            f"   XY={zero}   XZ={zero}   YZ={zero}"]

    chk = methanol.path
    assert main(["charges", chk, "--scheme", "resp", "--json", "--esp", str(tmp_path / "c.esp")]) == 0
    out = json.loads(capsys.readouterr().out)
    assert [c["charge"] for c in out[0]["charges"]] == pytest.approx(fit.charges.tolist(), abs=1e-12)
    assert (tmp_path / "c.esp").read_text() == (tmp_path / "m.esp").read_text()
    assert main(["charges", chk, "--scheme", "chelpg"]) == 0
    text = capsys.readouterr().out
    assert "CHELPG charges" in text and "RRMS" in text and len(text.splitlines()) == 2 + 6 + 1
    assert main(["charges", chk, "--csv"]) == 0
    rows = [line.split(",") for line in capsys.readouterr().out.splitlines()]
    mk = methanol.esp_charges("mk")
    assert rows[0] == ["file", "scheme", "atom", "symbol", "charge", "rms", "rrms"] and len(rows) == 7
    assert [r[:4] for r in rows[1:]] == [[chk, "mk", str(k + 1), s] for k, s in enumerate(methanol.symbols)]
    np.testing.assert_allclose([float(r[4]) for r in rows[1:]], mk.charges, atol=5e-7)
    assert {(float(r[5]), float(r[6])) for r in rows[1:]} == {(round(mk.rms, 6), round(mk.rrms, 6))}
    assert main(["charges", chk, "--esp", chk]) == 1
    assert "never replaced" in capsys.readouterr().err
    twin = tmp_path / "twin" / Path(chk).name  # the same name in another folder
    twin.parent.mkdir()
    twin.write_bytes(Path(chk).read_bytes())
    assert main(["charges", chk, str(twin), "--esp", str(tmp_path / "both")]) == 1
    assert "would both be written to" in capsys.readouterr().err and not (tmp_path / "both").exists()


def test_potential_cube(methanol: vexmora.Checkpoint, tmp_path: Path,
                        capsys: pytest.CaptureFixture[str]) -> None:
    from test_grid import read_cube
    assert main(["cube", methanol.path, "--potential", "--points", "7", "-o", str(tmp_path)]) == 0
    path = tmp_path / (Path(methanol.path).stem + "_potential_SCF.cube")
    assert str(path) in capsys.readouterr().out
    cube = read_cube(path)
    assert cube["natoms"] == 6 and cube["orbital_line"] is None
    i, j, k = np.meshgrid(*[np.arange(m) for m in cube["values"].shape], indexing="ij")
    points = (cube["origin"] + np.stack([i, j, k], -1).reshape(-1, 3) @ cube["steps"]) * BOHR
    np.testing.assert_allclose(cube["values"].ravel(), methanol.potential_at(points), rtol=5e-6)
    # The potential's slabs are small: progress (and Ctrl-C) every few planes.
    from vexmora import _grid
    plan = _grid.plan_cube(methanol, "potential", spacing=None, shape=100, margin=None, beta=False,
                           spin=False, allow_large=False)
    calls: List[Tuple[int, int]] = []
    plan.shape = (5, 100, 100)  # the box's first planes only: 50 000 points
    values = _grid.box_values(plan, None, lambda done, total: calls.append((done, total)))
    assert calls == [(2, 5), (4, 5), (5, 5)]
    i, j, k = np.meshgrid(np.arange(5), [0, 57], [3, 99], indexing="ij")
    points = (plan.origin + np.stack([i, j, k], -1).reshape(-1, 3) @ plan.axes) * BOHR
    np.testing.assert_allclose(values.reshape(5, 100, 100)[:, [0, 57]][:, :, [3, 99]].ravel(),
                               methanol.potential_at(points), rtol=1e-12)


def test_refusals(methanol: vexmora.Checkpoint, tmp_path: Path) -> None:
    br = build(tmp_path, [35, 1], [[0, 0, 0], [0, 0, 2.7]], {35: [(0, False)], 1: [(0, False)]}, True,
               nocc=1)
    with pytest.raises(ValueError, match=r"element Br .*radii="):
        br.esp_charges("mk")
    assert br.esp_charges("mk", radii={"Br": 1.9}).charges.sum() == pytest.approx(0, abs=1e-10)
    assert br.esp_charges("chelpg").charges.shape == (2,)  # CHELPG has a radius for every element
    with pytest.raises(ValueError, match="no 'MP2' density"):
        methanol.esp_charges("mk", "MP2")
    with pytest.raises(ValueError, match="scheme"):
        methanol.esp_charges("hirshfeld")
    with pytest.raises(ValueError, match="too few"):  # spheres of no point at all
        methanol.esp_charges("mk", density=1e-3)
    damaged = build(tmp_path, [1, 1], [[0, 0, 0], [0, 0, float("nan")]], {1: [(0, False)]}, True, nocc=1)
    for call in (lambda: damaged.potential_at([[1.0, 1.0, 1.0]]), lambda: damaged.esp_charges("chelpg"),
                 lambda: damaged.write_cube(tmp_path / "nan.cube", "potential", shape=3)):
        with pytest.raises(vexmora.CheckpointError, match="atom positions are not all finite"):
            call()
    assert not (tmp_path / "nan.cube").exists()
    with pytest.raises(ValueError, match="Merz-Kollman shells would hold"):  # refused before it is built
        methanol.esp_charges("mk", density=1e9)
    with pytest.raises(ValueError, match="CHELPG grid would hold"):  # atoms far apart: no vast grid
        build(tmp_path, [1, 1], [[0, 0, 0], [0, 0, 1e6]], {1: [(0, False)]}, True, nocc=1).esp_charges("chelpg")
    for layers in [(), (1.4, -2.0), (float("nan"),)]:
        with pytest.raises(ValueError, match="layers must be numbers > 0"):
            methanol.esp_charges("resp", layers=layers)

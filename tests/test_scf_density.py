"""The SCF density of a job that stored orbitals but no density (pop=None) comes
from its occupied orbitals: every route gives what the same checkpoint with the
density record gives."""
from __future__ import annotations

from pathlib import Path
from typing import Any, Dict

import numpy as np
import pytest

import vexmora
from chkbuilder import XYZ3, densities, h1s, lower_triangle, mol, reals, switches, with_basis
from vexmora import cli

# (ILSW switches, nae, nbe): closed shell, ROHF (restricted orbitals, two density
# blocks), UHF (two sets of orbitals).
CASES: Dict[str, Any] = {"RHF": ({}, 1, 1), "ROHF": ({21: 1}, 2, 1), "UHF": ({0: 1}, 2, 1)}


def pair(tmp: Path, case: str) -> "tuple[vexmora.Checkpoint, vexmora.Checkpoint]":
    """Three H atoms with random orbitals, without and with their SCF density (record 603)."""
    ilsw, nae, nbe = CASES[case]
    rng = np.random.default_rng(7)  # orthonormal orbitals in the overlap X = 1 implies
    ca, cb = (np.linalg.qr(rng.normal(size=(3, 3)))[0].T for _ in range(2))
    b = with_basis(h1s(XYZ3), 3).replace(997, mol([1] * 3, XYZ3, nbasis=3, nae=nae, nbe=nbe,
                                                   charge=3 - nae - nbe, multiplicity=1 + nae - nbe))
    b.replace(998, switches(ilsw)).add(685, reals(np.eye(3).ravel()))
    energies = [-0.5, 0.1, 0.7]
    b.replace(522, reals(energies * (2 if case == "UHF" else 1))).replace(524, reals(ca.ravel()))
    if case == "UHF":
        b.add(526, reals(cb.ravel()))
    else:
        cb = ca
    pa, pb = ca[:nae].T @ ca[:nae], cb[:nbe].T @ cb[:nbe]
    blocks = [lower_triangle(pa + pb)] if case == "RHF" else [lower_triangle(pa) + lower_triangle(pb)]
    bare = vexmora.load(b.write(tmp / f"{case}_none.chk"))
    stored = vexmora.load(b.add(603, densities(1, *blocks)).write(tmp / f"{case}_603.chk"))
    return bare, stored


def number(token: str) -> bool:
    try:
        float(token)
    except ValueError:
        return False
    return True


@pytest.mark.parametrize("case", CASES)
def test_pop_none_density_from_orbitals(tmp_path: Path, case: str) -> None:
    bare, stored = pair(tmp_path, case)
    for spin, got, want in ((False, bare.densities, stored.densities),
                            (True, bare.spin_densities, stored.spin_densities)):
        assert list(got) == list(want) == ([] if spin and case == "RHF" else ["SCF"])
        for kind in want:
            np.testing.assert_allclose(got[kind], want[kind], atol=1e-13)
    points = bare.coordinates + 0.3
    for spin in ([False] if case == "RHF" else [False, True]):
        np.testing.assert_allclose(bare.density_at(points, spin=spin), stored.density_at(points, spin=spin),
                                   atol=1e-13)
        np.testing.assert_allclose(bare.potential_at(points, spin=spin), stored.potential_at(points, spin=spin),
                                   atol=1e-12)
    what = ["density"] + ([] if case == "RHF" else ["spin"])
    for ckpt in (bare, stored):
        for w in what:
            ckpt.write_cube(tmp_path / f"{Path(ckpt.path).stem}_{w}.cube", w, shape=4)
        for fmt in ("molden", "wfn", "wfx"):  # the natural orbitals of every orbital writer
            getattr(ckpt, f"write_{fmt}")(tmp_path / f"{Path(ckpt.path).stem}.{fmt}", orbitals="natural")
        assert cli.main(["cube", ckpt.path, "--points", "4", "-o", str(tmp_path)]) == 0
    for suffix in [f"_{w}.cube" for w in what] + [".molden", ".wfn", "_density_SCF.cube"]:
        a, b = (tmp_path / f"{case}_{s}{suffix}" for s in ("none", "603"))
        assert a.read_text() == b.read_text(), suffix
    # The .wfx's 16 digits tell the two sums apart in the last one.
    a, b = ((tmp_path / f"{case}_{s}.wfx").read_text().split() for s in ("none", "603"))
    assert [t for t in a if not number(t)] == [t for t in b if not number(t)]
    np.testing.assert_allclose([float(t) for t in a if number(t)], [float(t) for t in b if number(t)],
                               rtol=1e-13, atol=1e-15)
    # Post-SCF kinds still need their stored matrix.
    with pytest.raises(ValueError, match="no 'MP2' density; its densities: SCF"):
        bare.density_at(points, "MP2")

"""The Cartesian Hessian: the packed triangle of record 585 expanded to a
symmetric read-only matrix, turned by the orientation record."""
from __future__ import annotations

import gc
import sys
from pathlib import Path
from typing import Optional, Sequence

import numpy as np
import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent))
from chkbuilder import ChkBuilder, h2, lower_triangle, mol, orientation, reals, switches  # noqa: E402

Vexmora_ = pytest.importorskip("Vexmora_")

XYZ = ((0.0, 0.0, 0.0), (0.0, 0.0, 1.4))  # the shell centres of h2()
ROT90Z = ((0.0, -1.0, 0.0), (1.0, 0.0, 0.0), (0.0, 0.0, 1.0))
GENERAL = ((0.8, -0.6, 0.1), (0.6, 0.8, -0.2), (0.05, 0.3, 0.95))  # no symmetry at all


def load(tmp_path: Path, b: ChkBuilder) -> "Vexmora_.ChkReader_":
    return Vexmora_.ChkReader_(fchk=b.write(tmp_path / "t.chk"))


def symmetric(n: int, seed: int = 1) -> np.ndarray:
    a = np.random.default_rng(seed).uniform(-1.0, 1.0, (n, n))
    return a + a.T


def expand(tri: Sequence[float], n: int) -> np.ndarray:
    """The symmetric matrix of a row-wise packed lower triangle."""
    h = np.zeros((n, n))
    h[np.tril_indices(n)] = tri
    return h + np.tril(h, -1).T


def with_hessian(tri: Sequence[float], *, natoms: int = 2, basis: bool = True,
                 rot: Optional[Sequence[Sequence[float]]] = None,
                 ilsw: Optional[dict] = None) -> ChkBuilder:
    """H2 (``natoms`` overrides the stored count) with record 585 last."""
    b = h2().replace(997, mol([1, 1], XYZ, natoms=natoms))
    if not basis:
        b.remove(670)
    if rot is not None:
        b.add(551, orientation(rot, (0.25, -0.5, 0.75)))
    if ilsw is not None:
        b.replace(998, switches(ilsw))
    return b.add(585, reals(tri))


def test_one_atom_triangle_order(tmp_path: Path) -> None:
    b = with_hessian([1, 2, 3, 4, 5, 6], natoms=1, basis=False)
    hess = load(tmp_path, b).params.mol.hessian
    np.testing.assert_array_equal(hess, [[1, 2, 4], [2, 3, 5], [4, 5, 6]])


def test_two_atoms_full_symmetric_matrix(tmp_path: Path) -> None:
    h = symmetric(6)
    hess = load(tmp_path, with_hessian(lower_triangle(h))).params.mol.hessian
    assert hess.shape == (6, 6) and hess.dtype == np.float64
    np.testing.assert_array_equal(hess, h)


def test_without_record_the_matrix_is_empty(tmp_path: Path) -> None:
    hess = load(tmp_path, h2()).params.mol.hessian
    assert hess.shape == (0, 0) and hess.dtype == np.float64


def test_matrix_is_a_read_only_view(tmp_path: Path) -> None:
    m = load(tmp_path, with_hessian(lower_triangle(symmetric(6)))).params.mol
    a = m.hessian
    assert not a.flags.writeable
    assert np.shares_memory(a, m.hessian)  # the member itself, not a copy
    with pytest.raises(ValueError):
        a[0, 0] = 1.0


def test_matrix_keeps_its_reader_alive(tmp_path: Path) -> None:
    h = symmetric(6, seed=7)
    hess = Vexmora_.ChkReader_(fchk=with_hessian(lower_triangle(h)).write(tmp_path / "t.chk")) \
        .params.mol.hessian
    gc.collect()
    np.testing.assert_array_equal(hess, h)


@pytest.mark.parametrize("rot", [ROT90Z, GENERAL], ids=["rot90z", "general"])
@pytest.mark.parametrize("basis", [False, True], ids=["atoms-turned", "atoms-on-shells"])
def test_orientation_turns_each_atom_block(tmp_path: Path, rot: Sequence[Sequence[float]],
                                           basis: bool) -> None:
    # With /B/ the atoms already sit on the shells and stay put; the Hessian
    # is turned all the same.
    h = symmetric(6, seed=3)
    R = np.kron(np.eye(2), np.asarray(rot))
    hess = load(tmp_path, with_hessian(lower_triangle(h), basis=basis, rot=rot)).params.mol.hessian
    np.testing.assert_allclose(hess, R @ h @ R.T, rtol=0, atol=1e-14)


def test_quarter_turn_of_one_atom(tmp_path: Path) -> None:
    b = with_hessian([1, 0, 0, 0, 0, 0], natoms=1, basis=False, rot=ROT90Z)
    np.testing.assert_array_equal(load(tmp_path, b).params.mol.hessian, np.diag([0.0, 1.0, 0.0]))


@pytest.mark.parametrize("rot, ilsw", [
    (((1.0, 0.0, 0.0), (0.0, 1.0, 0.0), (0.0, 0.0, 1.0)), None),  # identity
    (GENERAL, {25: 1}),                                           # record ignored
])
def test_hessian_left_as_stored(tmp_path: Path, rot: Sequence[Sequence[float]],
                                ilsw: Optional[dict]) -> None:
    h = symmetric(6, seed=5)
    b = with_hessian(lower_triangle(h), basis=False, rot=rot, ilsw=ilsw)
    np.testing.assert_array_equal(load(tmp_path, b).params.mol.hessian, h)


@pytest.mark.parametrize("following", [None, [50.0 + k for k in range(11)]],
                         ids=["end-of-file", "next-record"])
def test_short_triangle_reads_on(tmp_path: Path, following: Optional[Sequence[float]]) -> None:
    tri = [1.0 + k for k in range(10)]
    b = with_hessian(tri)
    if following is not None:
        b.add(9999, reals(following))
    hess = load(tmp_path, b).params.mol.hessian
    np.testing.assert_array_equal(hess, expand(tri + list(following or [0.0] * 11), 6))


def test_triangle_longer_than_the_file_is_rejected(tmp_path: Path) -> None:
    # 40 claimed atoms need 7260 words, more than the whole file holds: such a
    # count cannot come from an intact file, so it is refused before sizing.
    tri = [1.0 + k for k in range(21)]
    b = with_hessian(tri, natoms=40, basis=False)
    assert len(b.build()) // 8 < 120 * 121 // 2
    with pytest.raises(RuntimeError, match="^Error: Size of Hessian out of range for this file: 7260\n"):
        load(tmp_path, b)


def test_huge_atom_count_fails_cleanly(tmp_path: Path) -> None:
    # 749991 rows: the triangle alone would take over two terabytes.
    b = with_hessian([1.0] * 21, natoms=249997, basis=False)
    with pytest.raises(RuntimeError, match="^Error: "):
        load(tmp_path, b)

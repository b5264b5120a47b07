"""The Cartesian Hessian: the packed triangle of record 585 expanded to a
symmetric matrix, turned by the orientation record. (The read-only view and
its hold on the reader are tested in test_python_api.py.)"""
from __future__ import annotations

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


def hessian(tmp_path: Path, b: ChkBuilder) -> np.ndarray:
    return Vexmora_.ChkReader_(fchk=b.write(tmp_path / "t.chk")).params.mol.hessian


def symmetric(n: int, seed: int = 1) -> np.ndarray:
    a = np.random.default_rng(seed).uniform(-1.0, 1.0, (n, n))
    return a + a.T


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
    hess = hessian(tmp_path, with_hessian([1, 2, 3, 4, 5, 6], natoms=1, basis=False))
    np.testing.assert_array_equal(hess, [[1, 2, 4], [2, 3, 5], [4, 5, 6]])


@pytest.mark.parametrize("with_record", [True, False])
def test_two_atoms_full_matrix_empty_without_record(tmp_path: Path, with_record: bool) -> None:
    h = symmetric(6)
    hess = hessian(tmp_path, with_hessian(lower_triangle(h)) if with_record else h2())
    assert hess.dtype == np.float64
    np.testing.assert_array_equal(hess, h if with_record else np.zeros((0, 0)))


@pytest.mark.parametrize("rot", [ROT90Z, GENERAL], ids=["rot90z", "general"])
@pytest.mark.parametrize("basis", [False, True], ids=["atoms-turned", "atoms-on-shells"])
def test_orientation_turns_each_atom_block(tmp_path: Path, rot: Sequence[Sequence[float]],
                                           basis: bool) -> None:
    # With /B/ the atoms already sit on the shells and stay put; the Hessian
    # is turned all the same.
    h = symmetric(6, seed=3)
    R = np.kron(np.eye(2), np.asarray(rot))
    hess = hessian(tmp_path, with_hessian(lower_triangle(h), basis=basis, rot=rot))
    np.testing.assert_allclose(hess, R @ h @ R.T, rtol=0, atol=1e-14)


def test_quarter_turn_of_one_atom(tmp_path: Path) -> None:
    b = with_hessian([1, 0, 0, 0, 0, 0], natoms=1, basis=False, rot=ROT90Z)
    np.testing.assert_array_equal(hessian(tmp_path, b), np.diag([0.0, 1.0, 0.0]))


@pytest.mark.parametrize("rot, ilsw", [
    (((1.0, 0.0, 0.0), (0.0, 1.0, 0.0), (0.0, 0.0, 1.0)), None),  # identity
    (GENERAL, {25: 1}),                                           # record ignored
])
def test_hessian_left_as_stored(tmp_path: Path, rot: Sequence[Sequence[float]],
                                ilsw: Optional[dict]) -> None:
    h = symmetric(6, seed=5)
    b = with_hessian(lower_triangle(h), basis=False, rot=rot, ilsw=ilsw)
    np.testing.assert_array_equal(hessian(tmp_path, b), h)


@pytest.mark.parametrize("following", [None, [50.0 + k for k in range(11)]],
                         ids=["end-of-file", "next-record"])
def test_short_triangle_reads_on(tmp_path: Path, following: Optional[Sequence[float]]) -> None:
    tri = [1.0 + k for k in range(10)]
    b = with_hessian(tri)
    if following is not None:
        b.add(9999, reals(following))
    full = np.zeros((6, 6))
    full[np.tril_indices(6)] = tri + list(following or [0.0] * 11)  # row by row
    np.testing.assert_array_equal(hessian(tmp_path, b), full + np.tril(full, -1).T)


@pytest.mark.parametrize("natoms, message", [
    # 40 claimed atoms need 7260 words, more than the whole file holds: such a
    # count cannot come from an intact file, so it is refused before sizing.
    (40, "^Error: Size of Hessian out of range for this file: 7260\n"),
    (249997, "^Error: "),  # 749991 rows: over two terabytes for the triangle alone
])
def test_triangle_longer_than_the_file_is_rejected(tmp_path: Path, natoms: int, message: str) -> None:
    with pytest.raises(RuntimeError, match=message):
        hessian(tmp_path, with_hessian([1.0 + k for k in range(21)], natoms=natoms, basis=False))

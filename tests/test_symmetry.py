"""Point groups: every group built from its own operations, in random orientations, and
geometries distorted from them; the groups Gaussian printed for the shared logs."""
from __future__ import annotations

import re
from functools import lru_cache
from typing import Dict, List, Tuple

import numpy as np
import pytest
from hypothesis import assume, given, settings
from hypothesis import strategies as st

import vexmora
from refdata import good_checkpoints

PHI = (1 + 5 ** 0.5) / 2
SIGMA_H, SIGMA_V, INVERSION = np.diag([1.0, 1, -1]), np.diag([1.0, -1, 1]), -np.eye(3)


def rot(axis: Tuple[float, float, float], n: int) -> np.ndarray:
    """The rotation by 2 pi / n about axis (Rodrigues)."""
    u = np.array(axis, float) / np.linalg.norm(axis)
    k = np.array([[0, -u[2], u[1]], [u[2], 0, -u[0]], [-u[1], u[0], 0]])
    t = 2 * np.pi / n
    return np.eye(3) + np.sin(t) * k + (1 - np.cos(t)) * k @ k


Z, X, D = (0, 0, 1), (1, 0, 0), (1, 1, 1)


def generators(kind: str, n: int) -> Tuple[List[np.ndarray], int]:
    """Generators of the group ("Cnv" and the like for n-fold axes) and its number of proper rotations."""
    cn, s2n, c2x = rot(Z, n), SIGMA_H @ rot(Z, 2 * n), rot(X, 2)
    return {"Cn": ([cn], n), "Cnv": ([cn, SIGMA_V], n), "Cnh": ([cn, SIGMA_H], n), "S2n": ([s2n], n),
            "Dn": ([cn, c2x], 2 * n), "Dnh": ([cn, c2x, SIGMA_H], 2 * n), "Dnd": ([s2n, c2x], 2 * n),
            "C1": ([], 1), "Cs": ([SIGMA_H], 1), "Ci": ([INVERSION], 1),
            "T": ([rot(Z, 2), rot(D, 3)], 12), "Td": ([SIGMA_H @ rot(Z, 4), rot(D, 3)], 12),
            "Th": ([rot(Z, 2), rot(D, 3), INVERSION], 12), "O": ([rot(Z, 4), rot(D, 3)], 24),
            "Oh": ([rot(Z, 4), rot(D, 3), INVERSION], 24), "I": ([rot(D, 3), rot((0, 1, PHI), 5)], 60),
            "Ih": ([rot(D, 3), rot((0, 1, PHI), 5), INVERSION], 60)}[kind]


@lru_cache(maxsize=None)
def closure(kind: str, n: int) -> Tuple[np.ndarray, int]:
    """All operations of the group, (order, 3, 3), and its number of proper rotations."""
    gens, sigma = generators(kind, n)
    group = [np.eye(3)]
    for g in group:
        for h in gens:
            m = g @ h
            if not any(np.allclose(m, o, atol=1e-8) for o in group):
                group.append(m)
    return np.array(group), sigma


OFFSETS = [(0.31, 0.57, 0.13), (1.01, -0.27, 0.43), (-0.62, 0.88, 0.71), (0.44, -0.91, -0.52)]
KINDS = ["Cn", "Cnv", "Cnh", "S2n", "Dn", "Dnh", "Dnd", "C1", "Cs", "Ci", "T", "Td", "Th", "O", "Oh", "I", "Ih"]
point = st.tuples(*[st.floats(-2.5, 2.5)] * 3)


def orbit(group: np.ndarray, p: np.ndarray) -> np.ndarray:
    pts = group @ p
    return pts[np.unique(np.round(pts, 6), axis=0, return_index=True)[1]]


def random_rotation(q: Tuple[float, float, float, float]) -> np.ndarray:
    w, x, y, z = np.array(q) / np.linalg.norm(q)
    return np.array([[1 - 2 * (y * y + z * z), 2 * (x * y - z * w), 2 * (x * z + y * w)],
                     [2 * (x * y + z * w), 1 - 2 * (x * x + z * z), 2 * (y * z - x * w)],
                     [2 * (x * z - y * w), 2 * (y * z + x * w), 1 - 2 * (x * x + y * y)]])


@settings(max_examples=150, deadline=None, derandomize=True)
@given(kind=st.sampled_from(KINDS), n=st.integers(2, 6), seeds=st.tuples(point, point, point, point),
       centre=st.booleans(), q=st.tuples(*[st.floats(0.1, 1.0)] * 4), shift=point,
       kick=st.tuples(*[st.floats(-1, 1)] * 3))
def test_groups_from_their_operations(kind: str, n: int, seeds: Tuple[Tuple[float, float, float], ...],
                                      centre: bool, q: Tuple[float, float, float, float],
                                      shift: Tuple[float, float, float],
                                      kick: Tuple[float, float, float]) -> None:
    group, sigma = closure(kind, n)
    # Offsets keep hypothesis's simple values (0, 1) off the symmetry elements.
    orbits = [orbit(group, np.add(s, o)) for s, o in zip(seeds, OFFSETS)]
    xyz = np.vstack(orbits + ([np.zeros((1, 3))] if centre else []))
    # Generic points only: every orbit as large as the group, atoms well apart.
    assume(all(len(o) == len(group) for o in orbits))
    gaps = np.linalg.norm(xyz[:, None] - xyz[None], axis=-1) + 9 * np.eye(len(xyz))
    assume(gaps.min() > 0.4)
    numbers = [z for z in (1, 6, 7, 8) for _ in group] + [9] * centre
    placed = xyz @ random_rotation(q).T + np.array(shift)
    pg = vexmora.point_group(numbers, placed)
    assert (pg.name, pg.symmetry_number, pg.order) == (kind.replace("2n", str(2 * n)).replace("n", str(n)), sigma, len(group))
    # One atom moved well beyond the tolerance: nothing maps it but the identity.
    moved = placed.copy()
    moved[0] += 0.05 * np.array(kick) / max(np.linalg.norm(kick), 1e-3)
    assume(np.linalg.norm(kick) > 0.1)
    assert vexmora.point_group(numbers, moved).name == "C1"


NH3 = [(0, 0, 0.1), (0.94, 0, -0.27), (-0.47, 0.814, -0.27), (-0.47, -0.814, -0.27)]
WATER = ([8, 1, 1], [(0, 0, 0.117), (0, 0.757, -0.469), (0, -0.757, -0.469)], "C2v", 2)
METHANE = ([6, 1, 1, 1, 1], [(0, 0, 0), (0.63, 0.63, 0.63), (-0.63, -0.63, 0.63), (-0.63, 0.63, -0.63),
                             (0.63, -0.63, -0.63)], "Td", 12)


@settings(max_examples=90, deadline=None, derandomize=True)
@given(molecule=st.sampled_from([WATER, ([7, 1, 1, 1], NH3, "C3v", 3), METHANE]),
       seed=st.integers(0, 2 ** 32 - 1))
def test_noise_within_the_tolerance_keeps_the_group(molecule: Tuple[List[int], List[Tuple[float, ...]], str, int],
                                                    seed: int) -> None:
    """Every atom moved 0.4 x the tolerance in a random direction: a geometry symmetric
    only to within the tolerance, as an optimiser leaves it, keeps its group and sigma."""
    numbers, xyz, name, sigma = molecule
    kicks = np.random.default_rng(seed).normal(size=(len(numbers), 3))
    moved = np.array(xyz) + 0.4 * vexmora.symmetry.TOLERANCE * kicks / np.linalg.norm(kicks, axis=1)[:, None]
    pg = vexmora.point_group(numbers, moved)
    assert (pg.name, pg.symmetry_number) == (name, sigma)


@pytest.mark.parametrize("numbers, xyz, masses, name, sigma", [
    ([7, 1, 1, 1], NH3, None, "C3v", 3),
    ([7, 1, 1, 1], [(x, y, 0) for x, y, _ in NH3], None, "D3h", 6),
    ([7, 1, 1, 1], [NH3[0], (0.97, 0, -0.27)] + NH3[2:], None, "Cs", 1),  # H moved 0.03 A in a mirror
    ([7, 1, 1, 1], NH3[:3] + [(-0.47, -0.79, -0.27)], None, "C1", 1),  # off every mirror
    ([7, 1, 1, 1], NH3[:3] + [(-0.47, -0.8142, -0.27)], None, "C3v", 3),  # within the tolerance
    ([7, 1, 1, 1], NH3, [14.0, 1.0, 1.0, 2.0], "Cs", 1),  # NH2D
    ([6, 8], [(0, 0, 0), (0.3, 0.4, 1.0)], None, "C*v", 1),
    ([6, 8, 8], [(0, 0, 0), (1, 1, 1), (-1, -1, -1)], None, "D*h", 2),
    ([18], [(1, 2, 3)], None, "Kh", 1),
], ids=["ammonia", "planar", "distorted", "off mirrors", "within tolerance", "isotopes", "CO", "CO2", "atom"])
def test_small_molecules(numbers: List[int], xyz: List[Tuple[float, ...]], masses: object, name: str,
                         sigma: int) -> None:
    pg = vexmora.point_group(numbers, xyz, masses=masses)
    assert (pg.name, pg.symmetry_number) == (name, sigma)
    assert pg.linear == ("*" in name)


@pytest.mark.parametrize("args", [
    ([1, 1], [(0, 0, 0)]), ([], np.zeros((0, 3))), ([1], [(0, 0, np.nan)]), ([1], [(0, 0, 0)], -1.0),
], ids=["shapes", "no atoms", "nan", "tolerance"])
def test_bad_input(args: Tuple[object, ...]) -> None:
    with pytest.raises(ValueError, match="point_group"):
        vexmora.point_group(*args)  # type: ignore[arg-type]


def gaussian_groups() -> Dict[str, str]:
    """Stem -> the last "Full point group" of each shared log."""
    out = {}
    for chk in good_checkpoints():
        log = chk.with_suffix(".log")
        found = re.findall(r"Full point group\s+(\S+)", log.read_text()) if log.exists() else []
        if found:
            out[chk.stem] = found[-1]
    return out


@pytest.mark.parametrize("stem, name", sorted(gaussian_groups().items()))
def test_shared_logs(stem: str, name: str) -> None:
    c = vexmora.load(next(p for p in good_checkpoints() if p.stem == stem))
    assert vexmora.point_group(c.atomic_numbers, c.coordinates, masses=c.atomic_masses).name.upper() == name

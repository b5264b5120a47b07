"""The electrostatic potential of a density, and atomic charges fitted to it.

The potential at points comes from the C++ core (nuclear-attraction integrals
over the basis, in blocks of points on several threads without the interpreter
lock). The charges are least-squares fits of point charges on the atoms to the
potential at points around the molecule (Merz-Kollman shells, a CHELPG grid),
with the total charge as a Lagrange constraint, and RESP's two restrained
stages on the Merz-Kollman points. The fits' linear systems are atoms x atoms:
NumPy solves them.
"""
from __future__ import annotations

import math
import warnings
from dataclasses import dataclass
from typing import TYPE_CHECKING, Dict, List, Mapping, Optional, Sequence, Tuple, cast

import numpy as np

from . import _core
from ._grid import MAX_CUBE_POINTS, _points_bohr, check_positions, density_kind, potential_values

if TYPE_CHECKING:
    from .checkpoint import Checkpoint, PathLike

BOHR = _core.BOHR_TO_ANGSTROM

#: Merz-Kollman radii, Angstrom (Singh & Kollman 1984; Besler, Merz & Kollman 1990).
MK_RADII: Dict[int, float] = {1: 1.20, 2: 1.20, 3: 1.37, 4: 1.45, 5: 1.45, 6: 1.50, 7: 1.50,
                              8: 1.40, 9: 1.35, 10: 1.30, 11: 1.57, 12: 1.36, 13: 1.24, 14: 1.17,
                              15: 1.80, 16: 1.75, 17: 1.70}
#: The shells of Merz-Kollman points, in units of each atom's radius.
MK_LAYERS = (1.4, 1.6, 1.8, 2.0)
#: CHELPG's grid: spacing and reach beyond the atoms, Angstrom (Breneman & Wiberg 1990).
CHELPG_SPACING = 0.3
CHELPG_REACH = 2.8
#: Covalent radii, Angstrom (Cordero et al. 2008), for the bond graph where the
#: checkpoint holds no bond table: atoms closer than the sum plus 0.45 are bonded.
COVALENT_RADII: Dict[int, float] = {
    1: 0.31, 2: 0.28, 3: 1.28, 4: 0.96, 5: 0.84, 6: 0.76, 7: 0.71, 8: 0.66, 9: 0.57, 10: 0.58,
    11: 1.66, 12: 1.41, 13: 1.21, 14: 1.11, 15: 1.07, 16: 1.05, 17: 1.02, 18: 1.06, 19: 2.03,
    20: 1.76, 35: 1.20, 53: 1.39}
BOND_TOLERANCE = 0.45
SCHEMES = ("mk", "chelpg", "resp")
#: Rounds of the restrained fit at most; one that has not settled by then warns.
RESP_ROUNDS = 200


def chelpg_radius(z: int) -> float:
    """CHELPG's exclusion radius of element ``z``, Angstrom."""
    return 1.45 if z <= 2 else 1.50 if z <= 6 else 1.70 if z <= 10 else 2.0


def potential_at(ckpt: "Checkpoint", points: "np.typing.ArrayLike", kind: str = "SCF",
                 threads: Optional[int] = None, spin: bool = False) -> np.ndarray:
    ev = potential_values(ckpt, kind, spin)
    out: np.ndarray = ev.at(_points_bohr(points), threads)
    return out


def sphere(n: int) -> np.ndarray:
    """Up to ``n`` points on the unit sphere, (m, 3): rings of latitude, as the
    Merz-Kollman scheme builds them."""
    nequat = int(math.sqrt(math.pi * n))
    nvert = nequat // 2
    out: List[Tuple[float, float, float]] = []
    for i in range(nvert + 1):
        phi = math.pi * i / nvert if nvert else 0.0
        nhor = max(1, int(nequat * math.sin(phi) + 1e-10))
        for j in range(nhor):
            if len(out) == n:
                return np.array(out).reshape(-1, 3)
            t = 2 * math.pi * j / nhor
            out.append((math.cos(t) * math.sin(phi), math.sin(t) * math.sin(phi), math.cos(phi)))
    return np.array(out).reshape(-1, 3)


def _radii(numbers: Sequence[int], symbols: Sequence[str], table: Mapping[int, float],
           given: Optional[Mapping[object, float]], scheme: str) -> np.ndarray:
    """Each atom's radius (Angstrom): ``given`` (by atomic number or symbol) first."""
    out = []
    for z, sym in zip(numbers, symbols):
        r = None
        if given is not None:
            r = given.get(int(z), given.get(sym))
        if r is None:
            r = table.get(int(z))
        if r is None:
            raise ValueError(f"no {scheme} radius for element {sym} (Z={int(z)}): "
                             f"give one with radii={{'{sym}': R}} (Angstrom)")
        out.append(float(r))
    return np.array(out)


def mk_points(coords: np.ndarray, radii: np.ndarray, layers: Sequence[float] = MK_LAYERS,
              density: float = 1.0) -> np.ndarray:
    """Merz-Kollman points (Angstrom): on shells of ``layers`` x each atom's radius,
    ``density`` points per square Angstrom, those closer to another atom than its
    scaled radius dropped."""
    planned = sum(int(density * 4 * math.pi * (scale * r) ** 2) for scale in layers for r in radii)
    if planned > MAX_CUBE_POINTS:
        raise ValueError(f"the Merz-Kollman shells would hold {planned} points: choose a smaller "
                         "density= (points per square Angstrom)")
    out = []
    for scale in layers:
        for a, (centre, r) in enumerate(zip(coords, radii)):
            rs = scale * r
            pts = centre + rs * sphere(int(density * 4 * math.pi * rs * rs))
            d = np.linalg.norm(pts[:, None, :] - coords[None, :, :], axis=2)
            inside = d < scale * radii[None, :]
            inside[:, a] = False  # on its own shell
            out.append(pts[~inside.any(axis=1)])
    return np.concatenate(out) if out else np.zeros((0, 3))


def chelpg_points(coords: np.ndarray, radii: np.ndarray, spacing: float = CHELPG_SPACING,
                  reach: float = CHELPG_REACH) -> np.ndarray:
    """CHELPG's points (Angstrom): a cubic grid ``spacing`` apart over the atoms' box
    extended by ``reach``, centred on it, without the points inside an atom's radius
    or farther than ``reach`` from every atom."""
    lo, hi = coords.min(axis=0) - reach, coords.max(axis=0) + reach
    centre = (lo + hi) / 2
    counts = [int(math.ceil((hi[k] - lo[k]) / spacing - 1e-9)) + 1 for k in range(3)]
    if math.prod(counts) > MAX_CUBE_POINTS:
        raise ValueError(f"the CHELPG grid would hold {' x '.join(map(str, counts))} points: "
                         "choose a larger spacing (a smaller density=)")
    axes = [centre[k] + (np.arange(n) - (n - 1) / 2) * spacing for k, n in enumerate(counts)]
    pts = np.stack(np.meshgrid(*axes, indexing="ij"), axis=-1).reshape(-1, 3)
    keep = np.ones(len(pts), dtype=bool)
    nearest = np.full(len(pts), np.inf)
    for centre_a, r in zip(coords, radii):  # atom by atom: memory stays at the grid's size
        d = np.linalg.norm(pts - centre_a, axis=1)
        keep &= d >= r
        nearest = np.minimum(nearest, d)
    return pts[keep & (nearest <= reach)]


def inverse_distances(points_bohr: np.ndarray, coords_bohr: np.ndarray) -> np.ndarray:
    """1/|r_k - R_a|, (npoints, natoms), 1/Bohr."""
    out: np.ndarray = 1.0 / np.linalg.norm(points_bohr[:, None, :] - coords_bohr[None, :, :], axis=2)
    return out


def constrained_fit(A: np.ndarray, B: np.ndarray, total: float, restrained: np.ndarray,
                    a: float, b: float, groups: np.ndarray, fixed: np.ndarray,
                    free: np.ndarray) -> np.ndarray:
    """Charges minimising 1/2 |M q - V|^2 + a sum_restrained (sqrt(q^2 + b^2) - b)
    (A = M^T M, B = M^T V) with sum q = total; atoms ``free`` share the charge of
    their ``groups`` entry, the others keep ``fixed``. The hyperbolic restraint is
    met by iteration, as the RESP program does."""
    ids = np.unique(groups[free])
    G = np.zeros((len(groups), len(ids)))
    for j, g in enumerate(ids):
        G[free & (groups == g), j] = 1.0
    q0 = np.where(free, 0.0, fixed)
    AG, rhs = G.T @ A @ G, G.T @ (B - A @ q0)
    n = len(ids)
    x = np.zeros(n)
    change = 0.0
    for _ in range(RESP_ROUNDS):
        q = G @ x + q0
        diag = np.where(restrained & free, a / np.sqrt(q * q + b * b), 0.0) if a > 0 else np.zeros(len(q))
        K = np.zeros((n + 1, n + 1))
        K[:n, :n] = AG + np.diag(G.T @ diag)
        K[:n, n] = K[n, :n] = G.sum(axis=0)
        sol = np.linalg.solve(K, np.append(rhs, total - q0.sum()))
        change = float(np.abs(sol[:n] - x).max()) if n else 0.0
        done = change < 1e-12
        x = sol[:n]
        if done or a == 0:
            break
    else:
        warnings.warn(f"RESP: the restrained charges did not settle in {RESP_ROUNDS} rounds (their last "
                      f"change {change:.1e} e); these are the last round's", RuntimeWarning, stacklevel=4)
    result: np.ndarray = G @ x + q0
    return result


def bond_graph(ckpt: "Checkpoint") -> List[List[int]]:
    """Each atom's neighbours: from the bond table where the checkpoint holds one,
    else from covalent radii."""
    numbers = ckpt.atomic_numbers
    out: List[List[int]] = [[] for _ in numbers]
    bonds = ckpt.bonds
    if bonds is not None and len(bonds.pairs):
        pairs = [(int(a), int(b)) for a, b in bonds.pairs]
    else:
        xyz = ckpt.coordinates
        r = np.array([COVALENT_RADII.get(int(z), 1.5) for z in numbers])
        d = np.linalg.norm(xyz[:, None] - xyz[None], axis=2)
        first, second = np.nonzero(np.triu(d < r[:, None] + r[None, :] + BOND_TOLERANCE, 1))
        pairs = list(zip(first.tolist(), second.tolist()))
    for a, b in pairs:
        out[a].append(b)
        out[b].append(a)
    return out


@dataclass(frozen=True)
class EspCharges:
    """Charges fitted to the electrostatic potential at points."""

    #: "mk", "chelpg" or "resp".
    scheme: str
    #: The fitted charges, (natoms,), elementary charges; they add up to the total charge.
    charges: np.ndarray
    #: The fitting points, (npoints, 3), Angstrom.
    points: np.ndarray
    #: The potential of the molecule at the points, (npoints,), atomic units (Hartree/e).
    potential: np.ndarray
    #: sqrt(mean((V_fit - V)^2)), atomic units, as Gaussian prints it.
    rms: float
    #: rms / sqrt(mean(V^2)).
    rrms: float
    #: RESP: the charges after its first stage, (natoms,); None for the other schemes.
    stage1: Optional[np.ndarray] = None


class EspMixin:
    """The potential, ESP charges and the ESP file, as :class:`~vexmora.Checkpoint` methods."""

    _reader: "_core.Reader"

    def _ckpt(self) -> "Checkpoint":
        return cast("Checkpoint", self)

    def potential_at(self, points: "np.typing.ArrayLike", kind: str = "SCF",
                     threads: Optional[int] = None, *, spin: bool = False) -> np.ndarray:
        """The electrostatic potential at points: (n_points,), atomic units (Hartree/e).

        V(r) = sum_A Z_A / |r - R_A| - integral rho(r') / |r - r'| dr', rho the density of
        ``kind`` (one of :attr:`densities`), Z the nuclear charges the job used (an ECP's
        core left out). ``spin=True`` gives the potential of the spin density alone
        (taken as electrons, no nuclei). ``points`` is (n_points, 3) in Angstrom;
        ``threads=None`` uses every core. A point on a nucleus raises ValueError.
        """
        return potential_at(self._ckpt(), points, kind, threads, spin)

    def esp_charges(self, scheme: str = "mk", kind: str = "SCF", *, density: Optional[float] = None,
                    layers: Optional[Sequence[float]] = None,
                    radii: Optional[Mapping[object, float]] = None,
                    total_charge: Optional[float] = None,
                    restraint: Tuple[float, float] = (0.0005, 0.001), hyperbola: float = 0.1,
                    threads: Optional[int] = None) -> EspCharges:
        """Atomic charges fitted to the electrostatic potential of density ``kind``.

        ``scheme``: "mk" (Merz-Kollman: points on shells at ``layers`` (default 1.4, 1.6,
        1.8, 2.0) times each atom's MK radius, ``density`` points per square Angstrom,
        default 1), "chelpg" (Breneman-Wiberg: a grid 0.3 Angstrom apart, or
        1/``density``, within 2.8 Angstrom of the atoms, outside their radii) or "resp"
        (two restrained stages on the MK points: ``restraint`` = (a1, a2), the hyperbola's
        ``b``; stage 2 refits methyl and methylene carbons with their hydrogens
        equivalent). The charges add up to ``total_charge`` (default the checkpoint's).
        ``radii`` (Angstrom, by atomic number or symbol) replaces the scheme's radii;
        an element without one raises ValueError. Least squares in atomic units: RESP
        minimises 1/2 sum (V_fit - V)^2 + a sum (sqrt(q^2 + b^2) - b) over the heavy atoms,
        the RESP program's normalisation.
        """
        if scheme not in SCHEMES:
            raise ValueError(f"scheme must be one of {', '.join(SCHEMES)}, not {scheme!r}")
        ckpt = self._ckpt()
        density_kind(ckpt, kind, False)
        check_positions(ckpt)
        numbers = [int(z) for z in ckpt.atomic_numbers]
        xyz = np.asarray(ckpt.coordinates, dtype=float)
        if density is not None and not (math.isfinite(density) and density > 0):
            raise ValueError(f"density must be a number > 0, not {density!r}")
        if layers is not None and not (len(layers) and all(math.isfinite(x) and x > 0 for x in layers)):
            raise ValueError(f"layers must be numbers > 0 (multiples of the radii), not {layers!r}")
        if scheme == "chelpg":
            if layers is not None:
                raise ValueError("layers= belongs to the MK and RESP schemes, not CHELPG")
            r = _radii(numbers, ckpt.symbols, {z: chelpg_radius(z) for z in set(numbers)}, radii, "CHELPG")
            points = chelpg_points(xyz, r, CHELPG_SPACING if density is None else 1 / density)
        else:
            r = _radii(numbers, ckpt.symbols, MK_RADII, radii, "Merz-Kollman")
            points = mk_points(xyz, r, MK_LAYERS if layers is None else tuple(layers),
                               1.0 if density is None else density)
        if len(points) < len(numbers):
            raise ValueError(f"{len(points)} fitting points for {len(numbers)} atoms: too few")
        v = self.potential_at(points, kind, threads)
        M = inverse_distances(points / BOHR, xyz / BOHR)
        A, B = M.T @ M, M.T @ v
        total = float(ckpt.charge if total_charge is None else total_charge)
        n = len(numbers)
        heavy = np.array([z != 1 for z in numbers])
        everyone = np.ones(n, dtype=bool)
        groups = np.arange(n)
        stage1 = None
        if scheme != "resp":
            q = constrained_fit(A, B, total, heavy, 0.0, hyperbola, groups, np.zeros(n), everyone)
        else:
            stage1 = constrained_fit(A, B, total, heavy, restraint[0], hyperbola, groups,
                                     np.zeros(n), everyone)
            free, groups = self._resp_groups(numbers)
            q = constrained_fit(A, B, total, heavy, restraint[1], hyperbola, groups, stage1, free) \
                if free.any() else stage1
        fit = M @ q
        rms = float(np.sqrt(np.mean((fit - v) ** 2)))
        return EspCharges(scheme, q, points, v, rms, rms / float(np.sqrt(np.mean(v * v))), stage1)

    def _resp_groups(self, numbers: List[int]) -> Tuple[np.ndarray, np.ndarray]:
        """RESP's second stage: the atoms refitted (methyl and methylene carbons, their
        hydrogens) and each atom's equivalence group (a group's hydrogens share one)."""
        n = len(numbers)
        free = np.zeros(n, dtype=bool)
        groups = np.arange(n)
        for a, nb in enumerate(bond_graph(self._ckpt())):
            hs = [h for h in nb if numbers[h] == 1]
            if numbers[a] == 6 and len(hs) >= 2:
                free[a] = True
                free[hs] = True
                groups[hs] = n + a
        return free, groups

    def write_esp(self, path: "PathLike", scheme: str = "mk", kind: str = "SCF", *,
                  fit: Optional[EspCharges] = None, **options: object) -> None:
        """Write Gaussian's ESP file (antechamber's ``-fi gesp``): the atoms (Bohr) with
        the charges of :meth:`esp_charges` (``scheme``, ``kind`` and ``options`` passed
        on, or a given ``fit``), then the potential (atomic units) at each point (Bohr),
        every number in Fortran's D16.8. The file appears whole or not at all."""
        if fit is None:
            fit = self.esp_charges(scheme, kind, **options)  # type: ignore[arg-type]
        result = fit
        self._ckpt()._write(lambda p: self._reader.write_esp(
            p, result.charges.tolist(), np.ascontiguousarray(result.points / BOHR),
            result.potential),
            path)

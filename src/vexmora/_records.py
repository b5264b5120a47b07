"""The job's further data, as :class:`~vexmora.Checkpoint` properties: the response
properties (record 619), the magnetic tensors, the bond table, the optimisation or
trajectory path, the nuclear data and the input orientation."""
from __future__ import annotations

from dataclasses import dataclass
from typing import Any, Dict, Optional, Tuple

import numpy as np

from . import _core


class RecordsMixin:
    """Properties over the reader's further records; each is None where absent."""

    _reader: "_core.Reader"

    @property
    def dipole_derivatives(self) -> Optional[np.ndarray]:
        """Dipole derivatives with respect to the nuclear positions in the standard
        orientation, (natoms, 3, 3): [atom, displacement x/y/z, dipole component],
        atomic units (e Bohr / Bohr = e); None when absent."""
        return self._reader.dipole_derivatives

    @property
    def polarizability(self) -> Optional[np.ndarray]:
        """The static dipole polarizability in the standard orientation, symmetric
        (3, 3), atomic units (Bohr^3); None when absent."""
        return self._reader.polarizability

    @property
    def polarizability_derivatives(self) -> Optional[np.ndarray]:
        """Polarizability derivatives with respect to the nuclear positions in the
        standard orientation, (natoms, 3, 3, 3): [atom, displacement, i, j], each
        (i, j) block symmetric, atomic units (Bohr^2); None when absent."""
        return self._reader.polarizability_derivatives

    @property
    def hyperpolarizability(self) -> Optional[np.ndarray]:
        """The static first hyperpolarizability beta in the standard orientation,
        fully symmetric (3, 3, 3), atomic units; None when absent."""
        return self._reader.hyperpolarizability

    # --- sections of further records ---------------------------------------
    def _section(self, label: str) -> Optional[np.ndarray]:
        value = self._reader.sections.get(label)
        return value if isinstance(value, np.ndarray) else None

    @property
    def hyperfine(self) -> Optional[Hyperfine]:
        """The hyperfine couplings of an open-shell job (atomic units); None when
        the checkpoint holds neither part."""
        iso = self._section("Isotropic Hyperfine splittings")
        aniso = self._section("Anisotropic Hyperfine tensors")
        if iso is None and aniso is None:
            return None
        return Hyperfine(iso, None if aniso is None else _symmetric(aniso))

    @property
    def quadrupole_couplings(self) -> Optional[np.ndarray]:
        """The nuclear quadrupole coupling tensors in the standard orientation,
        symmetric (natoms, 3, 3), atomic units; None when absent."""
        q = self._section("QEq coupling tensors")
        return None if q is None else _symmetric(q)

    @property
    def bonds(self) -> Optional[Bonds]:
        """The job's bond table (Gaussian's connectivity); None when absent."""
        s = self._reader.sections
        if "RBond" not in s:
            return None
        count = np.asarray(s["NBond"])
        n, mx = len(count), int(s["MxBond"])
        partners = np.asarray(s["IBond"]).reshape(n, mx) - 1
        orders = np.asarray(s["RBond"]).reshape(n, mx)
        found: Dict[Tuple[int, int], float] = {}  # each bond once, whichever atom lists it
        for a in range(n):
            for b, order in zip(partners[a, :max(0, min(int(count[a]), mx))], orders[a]):
                if 0 <= b < n and b != a:
                    found.setdefault((min(a, int(b)), max(a, int(b))), float(order))
        pairs = sorted(found)
        return Bonds(np.array(pairs, dtype=np.int64).reshape(-1, 2),
                     np.array([found[p] for p in pairs], dtype=float))

    @property
    def optimization(self) -> Optional[Path]:
        """The steps of a geometry optimisation, in the order taken; None when
        the checkpoint holds no optimisation path."""
        return _path(self._reader.sections, "Optimization", "Opt point", "Gradient")

    @property
    def trajectory(self) -> Optional[Path]:
        """The steps of an ADMP or IRC trajectory (the momenta stored in the
        place of the gradients); None when the checkpoint holds none."""
        return _path(self._reader.sections, "Trajectory", "Traj num", "Momentum")

    @property
    def nuclear_spins(self) -> Optional[np.ndarray]:
        """The nuclear spin quantum numbers I of the isotopes used, (natoms,)
        (0.5 for 1H); None when absent."""
        spins = self._section("Nuclear spins")
        return None if spins is None else spins / 2.0

    @property
    def nuclear_g_factors(self) -> Optional[np.ndarray]:
        """Gaussian's nuclear "g-factors" of the isotopes used, (natoms,): the
        magnetic moments in nuclear magnetons (2.792846 for 1H; the g-factor
        proper is this divided by the spin); None when absent."""
        return self._section("Nuclear GFac")

    @property
    def input_orientation(self) -> Optional[Tuple[np.ndarray, np.ndarray]]:
        """(rotation (3, 3), translation (3,) Angstrom) taking the standard
        orientation back to the input frame: x_input = rotation @ x + translation;
        None without the orientation record."""
        rt = self._section("RotTr to input orientation")
        if rt is None:
            return None
        return rt[:9].reshape(3, 3, order="F"), rt[9:] * _core.BOHR_TO_ANGSTROM


@dataclass(frozen=True)
class Hyperfine:
    """Hyperfine couplings, atomic units; either part None when absent."""

    #: Isotropic (Fermi contact) couplings, (natoms,).
    isotropic: Optional[np.ndarray]
    #: Anisotropic (spin dipolar) tensors in the standard orientation, symmetric (natoms, 3, 3).
    anisotropic: Optional[np.ndarray]


@dataclass(frozen=True)
class Bonds:
    """A bond table: pair k joins atoms pairs[k] (0-based, first < second)."""

    #: Bonded atoms, (nbonds, 2) int64.
    pairs: np.ndarray
    #: Bond orders, (nbonds,), as Gaussian assigns them (1.5 aromatic).
    orders: np.ndarray


@dataclass(frozen=True)
class Path:
    """The geometries of an optimisation or a trajectory, one row per step."""

    #: The energy at each step, (nsteps,), Hartree.
    energies: np.ndarray
    #: All the results stored per step, (nsteps, nresults), the energy first.
    results: np.ndarray
    #: The geometries, (nsteps, natoms, 3), Angstrom, standard orientation.
    geometries: np.ndarray
    #: The Cartesian gradients, (nsteps, natoms, 3), Hartree/Bohr (a trajectory's
    #: momenta, atomic units).
    gradients: np.ndarray


def _symmetric(triangles: np.ndarray) -> np.ndarray:
    """(k, 3, 3) symmetric matrices of k lower triangles xx, yx, yy, zx, zy, zz."""
    t = np.asarray(triangles).reshape(-1, 6)
    return t[:, [0, 1, 3, 1, 2, 4, 3, 4, 5]].reshape(-1, 3, 3)


def _path(s: Dict[str, Any], name: str, point: str, third: str) -> Optional[Path]:
    """The geometries of an optimisation or trajectory from the sections of record 701;
    a trajectory's energies as stored, formchk's reference added back."""
    if f"{name} MaxStp" not in s:
        return None
    steps = int(s[f"{name} Number of geometries"][0])

    def rows(what: str) -> np.ndarray:
        return np.asarray(s[f"{point}{1:8d} {what}"[:40]]).reshape(steps, -1)

    results = rows("Results for each geometry")
    if f"{name} Reference Energy" in s:  # exact: the reference is the value truncated
        results = results.copy()
        results[:, 4] += s[f"{name} Reference Energy"]
    xyz, grad = rows("Geometries"), rows(f"{third} at each geometry")
    energies = results[:, 0] if results.shape[1] else np.zeros(steps)
    return Path(energies, results, xyz.reshape(steps, -1, 3) * _core.BOHR_TO_ANGSTROM,
                grad.reshape(steps, -1, 3))

"""Point groups of molecules: :func:`point_group`."""
from __future__ import annotations

from dataclasses import dataclass
from typing import Optional

import numpy as np
import numpy.typing as npt

from . import _core

#: The default tolerance, Angstrom: an operation holds when it carries every atom
#: to within this distance of an equivalent atom. Optimised geometries are
#: symmetric to 1e-5 Angstrom or better; one distorted by a few hundredths of an
#: Angstrom gets the lower group.
TOLERANCE: float = _core.SYMMETRY_TOLERANCE


@dataclass(frozen=True)
class PointGroup:
    """A molecule's point group."""

    #: Schoenflies symbol as Gaussian prints it apart from case: "C1", "Cs", "C2v",
    #: "S4", "D3h", "Td", "Oh", "Ih", "C*v", "D*h"; "Kh" for one atom.
    name: str
    #: Rotational symmetry number: the number of proper rotations (1 for C*v, 2 for D*h).
    symmetry_number: int
    #: Number of operations, the identity included; 0 for the infinite linear groups.
    order: int

    @property
    def linear(self) -> bool:
        """Whether the molecule is linear."""
        return "*" in self.name


def point_group(atomic_numbers: npt.ArrayLike, coordinates: npt.ArrayLike, tolerance: float = TOLERANCE,
                masses: Optional[npt.ArrayLike] = None) -> PointGroup:
    """The point group of atoms with ``atomic_numbers`` (natoms,) at ``coordinates``
    (natoms, 3), Angstrom, in any orientation.

    Atoms are equivalent when their atomic numbers and, if ``masses`` (natoms,),
    amu, are given, their masses agree. ``tolerance`` is in Angstrom (see
    :data:`TOLERANCE`). Raises ValueError for arrays of the wrong shape, no atoms,
    non-finite coordinates or a tolerance that is not positive.
    """
    z = np.ascontiguousarray(atomic_numbers, dtype=np.int64)
    xyz = np.ascontiguousarray(coordinates, dtype=np.float64)
    m = np.ascontiguousarray(np.zeros(0) if masses is None else masses, dtype=np.float64)
    n = z.shape[0] if z.ndim == 1 else -1
    if n < 1 or xyz.shape != (n, 3) or (masses is not None and m.shape != (n,)):
        raise ValueError(f"point_group needs natoms >= 1 atomic numbers, (natoms, 3) coordinates"
                         f"{' and (natoms,) masses' if masses is not None else ''}; got shapes "
                         f"{z.shape}, {xyz.shape}{', ' + str(m.shape) if masses is not None else ''}")
    if not np.all(np.isfinite(xyz)):
        raise ValueError("point_group: coordinates that are not finite numbers")
    if not tolerance > 0.0:
        raise ValueError(f"point_group: the tolerance must be positive (Angstrom), not {tolerance}")
    name, sigma, order = _core.point_group(z, xyz, m, float(tolerance))
    return PointGroup(name, sigma, order)

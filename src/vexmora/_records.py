"""The job's further data, as :class:`~vexmora.Checkpoint` properties: response
properties (record 619) and what else Gaussian's formatted checkpoint holds."""
from __future__ import annotations

from typing import TYPE_CHECKING, Optional

import numpy as np

if TYPE_CHECKING:  # pragma: no cover
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

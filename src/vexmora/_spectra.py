"""IR intensities, Raman activities and depolarisation ratios of the normal modes,
from the dipole and polarisability derivatives, and broadened spectra."""
from __future__ import annotations

import math
from typing import Optional, Tuple

import numpy as np
import numpy.typing as npt

from . import _core

#: km/mol of an IR intensity per (e^2/amu) of |d mu / dQ|^2, Q the mass-weighted
#: normal coordinate (amu^1/2 Bohr): N_A pi / (3 c^2 4 pi eps0) in these units.
IR_KM_PER_MOL = 974.8801
BOHR_ANGSTROM = _core.CODATA["bohr_metre"] * 1e10
LINESHAPES = ("lorentzian", "gaussian")
KINDS = ("ir", "raman")


def _per_mode(derivatives: np.ndarray, modes: np.ndarray, reduced_masses: np.ndarray) -> np.ndarray:
    """Derivatives with respect to the mass-weighted normal coordinates: one row per mode.

    ``derivatives`` is (natoms, 3, ...) per Cartesian displacement; a mode of unit
    Cartesian norm and reduced mass mu moves Q by sqrt(mu) per unit displacement.
    """
    flat = derivatives.reshape(derivatives.shape[0] * 3, -1)
    return np.asarray((modes.reshape(len(modes), -1) @ flat) / np.sqrt(reduced_masses)[:, None])


def ir_intensities(dipole_derivatives: np.ndarray, modes: np.ndarray,
                   reduced_masses: np.ndarray) -> np.ndarray:
    """IR intensities, (n_modes,), km/mol, of dipole derivatives (natoms, 3, 3), e."""
    d = _per_mode(dipole_derivatives, modes, reduced_masses)
    return np.asarray(IR_KM_PER_MOL * np.einsum("kc,kc->k", d, d))


def raman(polarizability_derivatives: np.ndarray, modes: np.ndarray,
          reduced_masses: np.ndarray) -> Tuple[np.ndarray, np.ndarray]:
    """Raman activities 45 a'^2 + 7 g'^2, (n_modes,), Angstrom^4/amu, and the
    depolarisation ratios, (n_modes, 2): plane-polarised 3 g'^2 / (45 a'^2 + 4 g'^2)
    and unpolarised 6 g'^2 / (45 a'^2 + 7 g'^2); 0 where a mode has no activity."""
    p = _per_mode(polarizability_derivatives, modes, reduced_masses).reshape(-1, 3, 3) * BOHR_ANGSTROM ** 2
    p = 0.5 * (p + p.transpose(0, 2, 1))
    a2 = (np.trace(p, axis1=1, axis2=2) / 3.0) ** 2
    diag = np.diagonal(p, axis1=1, axis2=2)
    g2 = 0.5 * ((diag[:, 0] - diag[:, 1]) ** 2 + (diag[:, 1] - diag[:, 2]) ** 2 + (diag[:, 2] - diag[:, 0]) ** 2
                + 6.0 * (p[:, 0, 1] ** 2 + p[:, 1, 2] ** 2 + p[:, 2, 0] ** 2))
    activity = 45.0 * a2 + 7.0 * g2
    with np.errstate(divide="ignore", invalid="ignore"):
        plane = np.where(activity > 0, 3.0 * g2 / (45.0 * a2 + 4.0 * g2), 0.0)
        unpolarised = np.where(activity > 0, 6.0 * g2 / activity, 0.0)
    return activity, np.stack([plane, unpolarised], axis=1)


def spectrum(frequencies: np.ndarray, strengths: np.ndarray, fwhm: float, lineshape: str,
             grid: Optional[npt.ArrayLike]) -> Tuple[np.ndarray, np.ndarray]:
    """Lines of ``strengths`` at ``frequencies`` (cm^-1), each broadened to unit area
    times its strength, on ``grid`` (cm^-1; default from 0 to 200 beyond the highest
    line, every 1 cm^-1). Imaginary modes are left out."""
    if not (isinstance(fwhm, (int, float)) and math.isfinite(fwhm) and fwhm > 0):
        raise ValueError(f"fwhm must be a positive number of cm^-1, not {fwhm!r}")
    if lineshape not in LINESHAPES:
        raise ValueError(f"lineshape must be one of {', '.join(LINESHAPES)}, not {lineshape!r}")
    real = frequencies > 0
    nu, s = frequencies[real], strengths[real]
    if grid is None:
        x = np.arange(0.0, (nu.max() if len(nu) else 0.0) + 200.0 + 1.0, 1.0)
    else:
        x = np.asarray(grid, dtype=float).ravel()
    d = x[:, None] - nu[None, :]
    if lineshape == "lorentzian":
        shape = (fwhm / (2.0 * math.pi)) / (d * d + (fwhm / 2.0) ** 2)
    else:
        c = 4.0 * math.log(2.0) / (fwhm * fwhm)
        shape = math.sqrt(c / math.pi) * np.exp(-c * d * d)
    return x, shape @ s

"""Broadened IR and Raman spectra of the normal modes' intensities."""
from __future__ import annotations

import math
from typing import Optional, Tuple

import numpy as np
import numpy.typing as npt

LINESHAPES = ("lorentzian", "gaussian")
KINDS = ("ir", "raman")


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

"""Broadened IR and Raman spectra of the normal modes' intensities."""
from __future__ import annotations

import math
from typing import Any, Optional, Tuple

import numpy as np
import numpy.typing as npt

LINESHAPES = ("lorentzian", "gaussian")
KINDS = ("ir", "raman")
#: The intensity axis of each kind, as plain text.
UNITS = {"ir": "IR intensity (km/mol per cm⁻¹)", "raman": "Raman activity (Å⁴/amu per cm⁻¹)"}


class Spectrum(Tuple[np.ndarray, np.ndarray]):
    """A broadened spectrum: the pair (wavenumbers, intensities), each (n_points,), cm^-1 and
    the kind's unit per cm^-1, which unpacks as before (``x, y = vib.spectrum()``), with the
    kind, the line width (cm^-1) and the line shape it was made with, and :meth:`plot`."""

    kind: str
    fwhm: float
    lineshape: str

    def __new__(cls, wavenumbers: np.ndarray, intensities: np.ndarray, kind: str = "ir",
                fwhm: float = 10.0, lineshape: str = "lorentzian") -> "Spectrum":
        self = super().__new__(cls, (wavenumbers, intensities))
        self.kind, self.fwhm, self.lineshape = kind, fwhm, lineshape
        return self

    def __getnewargs__(self) -> Tuple[Any, ...]:
        return (self[0], self[1], self.kind, self.fwhm, self.lineshape)

    @property
    def wavenumbers(self) -> np.ndarray:
        """cm^-1, (n_points,)."""
        return self[0]

    @property
    def intensities(self) -> np.ndarray:
        """km/mol per cm^-1 (IR) or Angstrom^4/amu per cm^-1 (Raman), (n_points,)."""
        return self[1]

    def plot(self, library: str = "plotly") -> Any:
        """The spectrum as a figure, wavenumbers decreasing to the right: a
        ``plotly.graph_objects.Figure`` (needs plotly, the ``view`` extra; ``fig.show()``,
        ``fig.write_html(path)``) or, with ``library="matplotlib"``, a matplotlib Figure
        (the ``plot`` extra)."""
        if library == "matplotlib":
            from ._plot import spectrum_figure

            return spectrum_figure(self)
        if library != "plotly":
            raise ValueError(f'library must be "plotly" or "matplotlib", not {library!r}')
        from ._view import plotly

        go = plotly()
        name = "IR" if self.kind == "ir" else "Raman"
        fig = go.Figure(go.Scatter(x=self[0], y=self[1], mode="lines", name=name,
                                   line=dict(width=1.2, color="#1f3f8f")))
        fig.update_layout(title=dict(text=f"{name} spectrum ({self.lineshape}, FWHM {self.fwhm:g} cm⁻¹)",
                                     x=0.02),
                          xaxis=dict(title=dict(text="Wavenumber (cm⁻¹)"), autorange="reversed"),
                          yaxis=dict(title=dict(text=UNITS[self.kind]), rangemode="tozero"),
                          template="simple_white", margin=dict(l=70, r=20, t=50, b=50))
        return fig


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

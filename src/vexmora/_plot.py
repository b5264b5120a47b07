"""IR and Raman spectra as image files (needs matplotlib, the ``plot`` extra)."""
from __future__ import annotations

import os
import tempfile
from typing import TYPE_CHECKING, Any

from ._outputs import input_ids, refuse_inputs
from .checkpoint import Vibrations

if TYPE_CHECKING:
    from ._spectra import Spectrum

LABELS = {"ir": "IR intensity (km mol$^{-1}$ per cm$^{-1}$)",
          "raman": "Raman activity (Å$^4$ amu$^{-1}$ per cm$^{-1}$)"}


def figure(vib: Vibrations, kind: str = "ir", fwhm: float = 10.0, lineshape: str = "lorentzian") -> Any:
    """A matplotlib figure of the broadened spectrum, wavenumbers decreasing to the right."""
    return spectrum_figure(vib.spectrum(kind, fwhm=fwhm, lineshape=lineshape))


def spectrum_figure(spectrum: "Spectrum") -> Any:
    """A matplotlib figure of a :class:`~vexmora._spectra.Spectrum`."""
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        raise RuntimeError("plotting needs matplotlib (pip install 'vexmora[plot]')") from None
    x, y = spectrum
    fig, ax = plt.subplots(figsize=(8, 4))
    ax.plot(x, y, lw=1.0)
    ax.set_xlim(x.max(), x.min())
    ax.set_xlabel("Wavenumber (cm$^{-1}$)")
    ax.set_ylabel(LABELS[spectrum.kind])
    fig.tight_layout()
    return fig


def save(vib: Vibrations, path: str, source: str, kind: str = "ir", fwhm: float = 10.0) -> None:
    """Write the spectrum to ``path`` (format from its suffix: .png, .svg, .pdf), whole or
    not at all; never over ``source``."""
    refuse_inputs([path], input_ids([source]))
    fmt = os.path.splitext(path)[1].lstrip(".").lower()
    if fmt not in ("png", "svg", "pdf"):
        raise ValueError(f"{path}: the plot must be a .png, .svg or .pdf file")
    fig = figure(vib, kind, fwhm)
    import matplotlib.pyplot as plt

    fd, tmp = tempfile.mkstemp(prefix=".vexmora-", suffix="." + fmt, dir=os.path.dirname(os.path.abspath(path)))
    try:
        with os.fdopen(fd, "wb") as f:
            fig.savefig(f, format=fmt)
        os.replace(tmp, path)
    except BaseException:
        os.unlink(tmp)
        raise
    finally:
        plt.close(fig)

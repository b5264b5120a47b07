"""IR intensities, Raman activities and depolarisation ratios against Gaussian's own
.fchk ("Vib-E2") and .log ("IR Inten"); broadened spectra and their plots."""
from __future__ import annotations

import re
from pathlib import Path
from typing import List

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import vexmora
import vexmora.cli
from refdata import read_fchk, real_checkpoints
from test_vibrations import job

WITH_E2 = [c for c in real_checkpoints() if c.with_suffix(".fchk").exists()
           and "Vib-E2" in c.with_suffix(".fchk").read_text(errors="replace")]


def degenerate_sets(freqs: np.ndarray) -> List[np.ndarray]:
    """Indices of modes whose frequencies agree to 0.01 cm^-1."""
    cuts = np.flatnonzero(np.diff(freqs) > 0.01) + 1
    return np.split(np.arange(len(freqs)), cuts)


@pytest.mark.parametrize("chk", WITH_E2, ids=lambda p: p.stem)
def test_intensities_equal_gaussians(chk: Path) -> None:
    v = vexmora.load(chk).vibrations()
    ref = read_fchk(chk.with_suffix(".fchk"))
    nm = int(ref["Number of Normal Modes"].values[0])
    e2 = np.array(ref["Vib-E2"].values).reshape(-1, nm)  # freq, mass, k, IR, Raman, depolar P, U, ...
    sets = degenerate_sets(v.frequencies)
    assert v.ir_intensities is not None
    for s in sets:  # Gaussian prints 7 digits
        assert v.ir_intensities[s].sum() == pytest.approx(e2[3][s].sum(), rel=1e-6, abs=1e-6)
    if not e2[4].any():  # no polarizability derivatives in this job
        assert v.raman_activities is None and v.depolarization_ratios is None
        return
    assert v.raman_activities is not None and v.depolarization_ratios is not None
    for s in sets:
        assert v.raman_activities[s].sum() == pytest.approx(e2[4][s].sum(), rel=1e-6, abs=1e-6)
        if len(s) == 1:
            assert np.allclose(v.depolarization_ratios[s[0]], e2[5:7, s[0]], rtol=1e-6, atol=1e-8)


@pytest.mark.parametrize("log", [c.with_suffix(".log") for c in WITH_E2 if c.with_suffix(".log").exists()],
                         ids=lambda p: p.stem)
def test_ir_line_of_the_log(log: Path) -> None:
    v = vexmora.load(log.with_suffix(".chk")).vibrations()
    printed = [float(x) for line in re.findall(r"IR Inten\s+--(.*)", log.read_text()) for x in line.split()]
    assert v.ir_intensities is not None and np.allclose(v.ir_intensities, printed, atol=6e-5)  # 4 decimals


lines = st.lists(st.tuples(st.floats(-500, 4000), st.floats(0, 500)), min_size=1, max_size=6)


@settings(max_examples=60, deadline=None)
@given(lines=lines, fwhm=st.floats(2, 40))
def test_spectrum_lines_keep_their_area(lines: List[tuple], fwhm: float) -> None:
    nu = np.array([f for f, _ in lines])
    s = np.array([i for _, i in lines])
    v = vexmora.Vibrations(nu, np.ones_like(nu), np.ones_like(nu), np.zeros((len(nu), 1, 3)), 0.0, s)
    grid = np.arange(-1000.0, 5000.0, 0.25)
    x, y = v.spectrum("ir", fwhm=fwhm, lineshape="gaussian", grid=grid)
    real = s[nu > 0].sum()  # imaginary modes are left out
    assert np.array_equal(x, grid) and np.sum(y) * 0.25 == pytest.approx(real, rel=1e-6, abs=1e-9)
    # A Lorentzian line peaks at 2 S / (pi fwhm) at its own wavenumber.
    k = int(np.argmax(nu))
    if nu[k] > 0 and np.all(np.abs(np.delete(nu, k) - nu[k]) > 1e4 * fwhm) and s[k] > 0:
        _, peak = v.spectrum("ir", fwhm=fwhm, grid=[nu[k]])
        assert peak[0] == pytest.approx(2 * s[k] / (np.pi * fwhm))


@pytest.mark.parametrize("kwargs, message", [
    ({"kind": "uv"}, "kind"), ({"fwhm": -1.0}, "fwhm"), ({"lineshape": "voigt"}, "lineshape"),
    ({"kind": "raman"}, "no polarizability derivatives"),
])
def test_bad_spectrum_options(kwargs: dict, message: str) -> None:
    nu = np.array([1000.0])
    v = vexmora.Vibrations(nu, nu, nu, np.zeros((1, 1, 3)), 0.0, np.array([1.0]))
    with pytest.raises(ValueError, match=message):
        v.spectrum(**kwargs)


def test_freq_plot(tmp_path: Path, capsys: pytest.CaptureFixture) -> None:
    pytest.importorskip("matplotlib")
    from vexmora._plot import figure

    chk = job().write(tmp_path / "f.chk")
    assert vexmora.cli.main(["freq", chk, "--plot", str(tmp_path / "s.svg")]) == 1  # no dipole derivatives
    assert "no dipole derivatives" in capsys.readouterr().err and not (tmp_path / "s.svg").exists()
    assert vexmora.cli.main(["freq", chk, "--plot", chk]) == 1
    assert "overwrite" in capsys.readouterr().err and vexmora.load(chk).hessian is not None
    if WITH_E2:
        real = WITH_E2[0]
        assert vexmora.cli.main(["freq", str(real), "--plot", str(tmp_path / "s.svg")]) == 0
        assert (tmp_path / "s.svg").read_text().lstrip().startswith("<?xml")
        ax = figure(vexmora.load(real).vibrations()).axes[0]
        assert ax.xaxis_inverted() and "cm" in ax.get_xlabel() and "km" in ax.get_ylabel()

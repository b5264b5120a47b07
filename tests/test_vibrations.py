"""The job's properties (gradient, moments, Mulliken charges, masses, force constants) on
Checkpoint, and the harmonic vibrations: against Gaussian's own .fchk and .log, and
synthetic checkpoints for what the real files lack."""
from __future__ import annotations

import pickle
import re
from pathlib import Path
from typing import Any, Sequence

import numpy as np
import pytest

import vexmora
from chkbuilder import h2, ints, lower_triangle, mol, reals
from refdata import read_fchk, real_checkpoints

PAIRS = [c for c in real_checkpoints() if c.with_suffix(".fchk").exists()]


@pytest.mark.parametrize("chk", PAIRS, ids=lambda p: p.stem)
def test_vibrations_equal_gaussians(chk: Path) -> None:
    c = vexmora.load(chk)
    ref = read_fchk(chk.with_suffix(".fchk"))
    if "Vib-E2" not in ref:
        pytest.skip("Gaussian's file holds no vibrations")
    v, nm = c.vibrations(), int(ref["Number of Normal Modes"].values[0])
    e2 = np.array(ref["Vib-E2"].values)  # frequencies, reduced masses, force constants, ...
    for k, ours in enumerate((v.frequencies, v.reduced_masses, v.force_constants)):
        assert np.allclose(ours, e2[k * nm:(k + 1) * nm], rtol=1e-8, atol=1e-9), k
    theirs = np.array(ref["Vib-Modes"].values).reshape(v.modes.shape)
    signs = np.sign(np.einsum("kij,kij->k", theirs, v.modes))[:, None, None]
    assert np.allclose(signs * v.modes, theirs, atol=1e-8)
    if chk.with_suffix(".log").exists():
        log = chk.with_suffix(".log").read_text(errors="replace")
        zpe = float(re.search(r"Zero-point correction= +(\S+)", log).group(1))
        assert v.zero_point_energy == pytest.approx(zpe, abs=1e-6)


BOND = ((0.0, 0.0, 0.0), (0.0, 0.0, 1.4))
H_MASS = 1.00782504


def springs(xyz: Sequence[Sequence[float]], k: float = 0.37) -> Any:
    """The Hessian of harmonic bonds between every two atoms, Hartree/Bohr^2."""
    n = len(xyz)
    h = np.zeros((n, 3, n, 3))
    for a in range(n):
        for b in range(a):
            u = np.subtract(xyz[a], xyz[b])
            block = k * np.outer(u, u) / u.dot(u)
            for i, j, sign in ((a, a, 1), (b, b, 1), (a, b, -1), (b, a, -1)):
                h[i, :, j] += sign * block
    return h.reshape(3 * n, 3 * n)


def job(xyz: Sequence[Sequence[float]] = BOND, moltyp: int = -12348, short: int = 0,
        flags: int = 1 | 1 << 12, gradient: float = 1e-3, k: float = 0.37) -> Any:
    """H atoms at xyz with a Hessian, a gradient, moments, charges and masses; ``short``
    cuts each record that many words before its item ends."""
    n, cut = len(xyz), (lambda words: words[:len(words) - short] if short else words)
    blocks = 7 if moltyp in (-12346, -12347) else 16
    tail = [0.0] * ((blocks - 6) * (n + 3)) + [H_MASS] * n
    moments = [1.0, -0.5, 0.25] + [0.0] * (43 + 126 * n) + [0.5, 0.25, -0.75, 0.125, 0.0, 0.0]
    return (h2().remove(670).replace(997, mol([1] * n, xyz, moltyp=moltyp), reals(cut(tail)))
            .add(585, reals(lower_triangle(springs(xyz, k))))
            .add(584, reals(cut([gradient * (k + 1) for k in range(3 * n)])))
            .add(619, ints([flags << 32]), reals(cut(moments)))
            .add(605, ints([1 << 32]), reals(cut([0.125 * (-1) ** k for k in range(n)]))))


PRESENT = ("gradient", "dipole", "quadrupole", "mulliken_charges", "atomic_masses")


@pytest.mark.parametrize("b, present, modes, imaginary", [
    (job(), PRESENT, 1, 0),  # linear: 3N - 5
    (job(BOND + ((0.0, 1.3, 2.2),), moltyp=-12347), PRESENT, 3, 0),
    (job(((0.0, 0.0, 0.0),)), PRESENT, 0, 0),
    (job(short=1), ("dipole",), None, 0),
    (job(moltyp=-12345), PRESENT[:4], None, 0),
    (job(flags=1, gradient=0.0), ("dipole", "mulliken_charges", "atomic_masses"), 1, 0),
    (job(k=-0.37), PRESENT, 1, 1),  # a transition state: the stretch is imaginary
], ids=["linear", "bent, older layout", "one atom", "records too short", "MolTyp without masses",
        "no quadrupole, zero gradient", "imaginary"])
def test_synthetic_properties_and_modes(b: Any, present: Sequence[str], modes: Any,
                                        imaginary: int, tmp_path: Path) -> None:
    c = pickle.loads(pickle.dumps(vexmora.load(b.write(tmp_path / "t.chk"))))  # one atom too
    assert [p for p in PRESENT if getattr(c, p) is not None] == list(present)
    c.write_fchk(tmp_path / "t.fchk")
    written = read_fchk(tmp_path / "t.fchk")
    assert ("Real atomic weights" in written) == ("atomic_masses" in present)
    # formchk's NImag on a frequency job; the Hessian makes the derivative order 2
    assert written["NImag"].values == [imaginary] if modes else "NImag" not in written
    assert written["Job Status"].values == [1] and written["Nuclear derivative order"].values == [2]
    if modes is None:
        with pytest.raises(ValueError, match="no atomic masses"):
            c.vibrations()
        return
    v = c.vibrations()
    assert v.modes.shape == (modes, len(c.atomic_numbers), 3)
    assert np.sum(v.frequencies < 0) == imaginary and np.all(v.frequencies != 0)
    if modes == 0:  # every per-mode array empty, none None
        assert [None if a is None else len(a) for a in (v.frequencies, v.reduced_masses, v.force_constants,
                                         v.ir_intensities, v.raman_activities, v.depolarization_ratios)] == [0] * 6
    if modes == 1:  # the bond stretch: the atoms move apart along it
        assert np.allclose(np.abs(v.modes[0]), np.sqrt(0.5) * np.array([[0, 0, 1], [0, 0, 1]]))
        assert v.reduced_masses[0] == pytest.approx(H_MASS)

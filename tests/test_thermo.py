"""Thermochemistry against Gaussian's own block in the shared log and against GoodVibes'
quasi-harmonic corrections of the same log; symmetry numbers from the route; bad input."""
from __future__ import annotations

import copy
import re
import shutil
import subprocess
import sys
import warnings
from pathlib import Path
from typing import Any, Dict, List, Tuple

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import vexmora
from refdata import TESTDATA, good_checkpoints
from chkbuilder import labels, orientation
from test_vibrations import BOND, job, springs

from vexmora._thermo import route_turns_symmetry_off

# GoodVibes beside this interpreter (a venv not on PATH), else on PATH.
GOODVIBES = shutil.which("goodvibes", path=str(Path(sys.executable).parent)) or shutil.which("goodvibes")
FREQ_LOGS = [p for p in sorted(TESTDATA.glob("*.log")) if "Thermochemistry" in p.read_text(errors="replace")] \
    if TESTDATA.is_dir() else []
NUMBER = r"(-?\d+\.\d+)"
CORRECTIONS = {"zero_point_energy": "Zero-point correction", "thermal_energy": "Thermal correction to Energy",
               "enthalpy": "Thermal correction to Enthalpy", "gibbs_free_energy": "Thermal correction to Gibbs Free Energy"}
SUMS = {"zero_point_energy": "zero-point Energies", "thermal_energy": "thermal Energies",
        "enthalpy": "thermal Enthalpies", "gibbs_free_energy": "thermal Free Energies"}


def gaussian_block(log: str) -> Dict[str, Any]:
    """The numbers of the last thermochemistry block of a log."""
    block = log[log.rindex("- Thermochemistry -"):]
    out: Dict[str, Any] = {"T": float(re.search(r"Temperature\s+" + NUMBER, block).group(1)),
                           "P": float(re.search(r"Pressure\s+" + NUMBER, block).group(1)),
                           "sigma": int(re.search(r"Rotational symmetry number\s+(\d+)", block).group(1))}
    for key, label in CORRECTIONS.items():
        out[key] = float(re.search(re.escape(label) + r"=\s+" + NUMBER, block).group(1))
        out["sum " + key] = float(re.search(r"Sum of electronic and " + SUMS[key] + r"=\s+" + NUMBER,
                                            block).group(1))
    out["table"] = {row: tuple(map(float, re.search(rf"\n {row}\s+{NUMBER}\s+{NUMBER}\s+{NUMBER}",
                                                    block).groups())) for row in vexmora._thermo.ROWS}
    return out


@pytest.mark.parametrize("log", FREQ_LOGS, ids=lambda p: p.stem)
def test_every_line_of_gaussians_block(log: Path) -> None:
    ref = gaussian_block(log.read_text(errors="replace"))
    th = vexmora.load(log.with_suffix(".chk")).thermochemistry(ref["T"], ref["P"])
    assert th.symmetry_number == ref["sigma"]
    for key in CORRECTIONS:  # printed to 6 decimals
        assert getattr(th, key) == pytest.approx(ref[key], abs=1e-6), key
        assert th.electronic_energy + getattr(th, key) == pytest.approx(ref["sum " + key], abs=1e-6), key
    for row, values in ref["table"].items():  # printed to 3 decimals
        assert np.allclose(th.table[row], values, atol=5.1e-4), row


def goodvibes(log: Path, tmp: Path, args: List[str]) -> Dict[str, float]:
    """GoodVibes' columns (E, ZPE, H, T.S, T.qh-S, G(T), qh-G(T), qh-H), Hartree, for one log."""
    shutil.copy(log, tmp / log.name)
    subprocess.run([str(GOODVIBES), "-v", "1.0", *args, log.name], cwd=tmp, check=True, capture_output=True)
    lines = (tmp / "GoodVibes_output.dat").read_text().splitlines()
    header = next(line for line in lines if line.split()[:1] == ["Structure"]).split()[1:]
    values = next(line for line in lines if line.split()[1:2] == [log.stem]).split()[2:]
    return dict(zip(header, map(float, values)))


@pytest.mark.skipif(GOODVIBES is None, reason="GoodVibes is not installed")
@pytest.mark.parametrize("args, kwargs", [
    ([], {}),
    (["--temp", "400"], {"temperature": 400.0}),
    (["-c", "1.0"], {"concentration": 1.0}),
    (["--qs", "truhlar", "-f", "500"], {"quasi_harmonic": "truhlar", "cutoff": 500.0}),
    (["-q", "-f", "500"], {"cutoff": 500.0, "head_gordon": True}),
    (["-f", "300", "--zpe-vscal", "0.97"], {"cutoff": 300.0, "zpe_scale": 0.97}),
    (["-v", "0.95"], {"frequency_scale": 0.95}),  # the ZPE scaled too
    (["-v", "0.95", "--qs", "truhlar", "-f", "500"],  # the cutoff on the unscaled wavenumbers
     {"frequency_scale": 0.95, "quasi_harmonic": "truhlar", "cutoff": 500.0}),
], ids=["default", "400 K", "1 M", "truhlar", "head-gordon", "zpe scale", "frequency scale",
        "scaled truhlar"])
@pytest.mark.parametrize("log", FREQ_LOGS, ids=lambda p: p.stem)
def test_goodvibes_quasi_harmonic(log: Path, args: List[str], kwargs: Dict[str, Any], tmp_path: Path) -> None:
    ref = goodvibes(log, tmp_path, args)
    c = vexmora.load(log.with_suffix(".chk"))
    kwargs = {"quasi_harmonic": "grimme", **kwargs}
    th = c.thermochemistry(kwargs.pop("temperature", 298.15), **kwargs)
    t = th.temperature
    assert th.electronic_energy == pytest.approx(ref["E"], abs=1e-6)
    assert th.zero_point_energy == pytest.approx(ref["ZPE"], abs=1e-6)
    assert th.electronic_energy + th.harmonic_enthalpy == pytest.approx(ref["H"], abs=2e-6)
    assert t * th.harmonic_entropy == pytest.approx(ref["T.S"], abs=2e-6)
    assert t * th.entropy == pytest.approx(ref["T.qh-S"], abs=2e-6)
    assert th.electronic_energy + th.harmonic_gibbs_free_energy == pytest.approx(ref["G(T)"], abs=2e-6)
    assert th.free_energy == pytest.approx(ref["qh-G(T)"], abs=2e-6)
    if "qh-H" in ref:
        assert th.electronic_energy + th.enthalpy == pytest.approx(ref["qh-H"], abs=2e-6)


@pytest.mark.parametrize("route, off", [
    ("#p B3LYP/6-31G(d) opt freq", False), ("# freq NoSymm", True), ("#p freq nosymmetry", True),
    ("# freq Symm(None)", True), ("# freq Symmetry=None", True), ("# freq symm=(loose,none)", True),
    ("# freq Symm=Loose", False), ("# freq scf=(nosymm)", False), ("# freq guess=nosymm", False),
])
def test_route_symmetry(route: str, off: bool) -> None:
    assert route_turns_symmetry_off(route) == off


# The rule as regular expressions: NoSymm(etry) as a word not after "=", "(" or ","; or
# Symm(etry) not inside a word, with "=(...)", "(...)" or "=word" naming None.
NOSYMM = re.compile(r"(?<![\w=(,])nosymm(?:etry)?\b", re.I)
SYMM = re.compile(r"(?<![\w])symm(?:etry)?\s*(?:=\s*\(([^)]*)\)|\(([^)]*)\)|=\s*(\w+))", re.I)
ROUTE_PIECES = ["#p", " ", "  ", "freq", "NoSymm", "nosymmetry", "Symm", "symmetry", "=", "(", ")", ",",
                "None", "none", "loose", "x", "scf", "Guess", "etry", "_", "\t"]


@settings(max_examples=400, deadline=None)
@given(st.lists(st.sampled_from(ROUTE_PIECES), max_size=12))
def test_route_symmetry_follows_the_rule(pieces: List[str]) -> None:
    route = "".join(pieces)
    off = bool(NOSYMM.search(route)) or any(
        "none" in (o.strip().lower() for o in re.split(r"[,\s]+", ",".join(g for g in groups if g)))
        for groups in SYMM.findall(route))
    assert route_turns_symmetry_off(route) == off, route


TRI = job(((0.0, 0.0, 0.0), (0.0, 1.5, 0.0), (1.3, 0.75, 0.0)), moltyp=-12347)  # equilateral H3: D3h


# subgroup: record 551's second word (the order of the Abelian subgroup Gaussian used), None: no record.
@pytest.mark.parametrize("symmetry, route, subgroup, sigma, source", [
    ("geometry", "#p freq nosymm", None, 6, "geometry"), ("gaussian", "#p freq", None, 6, "geometry"),
    ("gaussian", "#p freq nosymm", None, 1, "route"), (3, "#p freq", None, 3, "given"),
    ("gaussian", "#p freq", 1, 1, "checkpoint"), ("gaussian", "#p freq", 4, 6, "geometry"),
    ("geometry", "#p freq", 1, 6, "geometry"),
])
def test_symmetry_number(symmetry: Any, route: str, subgroup: Any, sigma: int, source: str,
                         tmp_path: Path) -> None:
    b = copy.deepcopy(TRI).replace(502, labels("H3", route, ["1", "H 1S", "2", "H 1S"]))
    if subgroup is not None:
        b.add(551, orientation(subgroup=subgroup))
    c = vexmora.load(b.write(tmp_path / "h3.chk"))
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        th = c.thermochemistry(symmetry=symmetry)
    assert [str(w.message).split(": ", 1)[1][:7] for w in caught] == ["warning"] * (sigma < 6 and symmetry == "gaussian")
    assert (th.point_group, th.symmetry_number, th.symmetry_source) == ("D3h", sigma, source)
    one = c.thermochemistry(symmetry=1)  # S_rot differs by R ln(sigma); nothing else does
    assert th.table["Rotational"][2] == pytest.approx(one.table["Rotational"][2] - 1.987204 * np.log(sigma), abs=1e-5)
    assert th.zero_point_energy == one.zero_point_energy


@pytest.mark.parametrize("b, kwargs, message", [
    (TRI, {"temperature": -1.0}, "temperature"), (TRI, {"pressure": 0.0}, "pressure"),
    (TRI, {"quasi_harmonic": "grime"}, "quasi_harmonic"), (TRI, {"symmetry": "point"}, "symmetry"),
    (TRI, {"symmetry": 0}, "symmetry"), (TRI, {"concentration": -2.0}, "concentration"),
    (TRI, {"frequency_scale": float("nan")}, "frequency_scale"),
    (job(moltyp=-12345), {}, "no atomic masses"), (job().remove(585), {}, "no Hessian"),
])
def test_bad_input(b: Any, kwargs: Dict[str, Any], message: str, tmp_path: Path) -> None:
    with pytest.raises(ValueError, match=message):
        vexmora.load(b.write(tmp_path / "x.chk")).thermochemistry(**kwargs)


def test_every_mode_frozen_out(tmp_path: Path) -> None:
    """At 1 K (h c nu / k T far beyond exp's range): a finite table, no vibrational heat
    capacity, and the vibrational energy the zero point's."""
    th = vexmora.load(copy.deepcopy(TRI).write(tmp_path / "h3.chk")).thermochemistry(1.0, symmetry="geometry")
    assert np.isfinite(list(th.table.values())).all() and th.table["Vibrational"][1] == pytest.approx(0, abs=1e-12)
    assert th.table["Vibrational"][0] == pytest.approx(th.zero_point_energy * 627.5094740631, rel=1e-9)


HARTREE_PER_WAVENUMBER = 1 / 219474.6313632  # h c / E_h, cm^-1


def saddle_point() -> Any:
    """A bent H3 whose spring between atoms 1 and 3 pushes them apart: one imaginary mode."""
    xyz = BOND + ((0.0, 1.3, 2.2),)
    h = springs(xyz).reshape(3, 3, 3, 3)
    pair = -0.9 * springs([xyz[0], xyz[2]]).reshape(2, 3, 2, 3) / 0.37
    for i, a in enumerate((0, 2)):
        for j, b in enumerate((0, 2)):
            h[a, :, b] += pair[i, :, j]
    from chkbuilder import lower_triangle, reals
    return job(xyz, moltyp=-12347).replace(585, reals(lower_triangle(h.reshape(9, 9))))


HESSIANS = [p for p in good_checkpoints() if vexmora.load(p).hessian is not None]


@pytest.mark.parametrize("source", ["synthetic saddle point", "synthetic minimum"] + HESSIANS,
                         ids=lambda p: getattr(p, "stem", p))
def test_zero_point_energy(source: Any, tmp_path: Path) -> None:
    """Half the sum of the real wavenumbers, imaginary ones left out, in the vibrations and the
    thermochemistry alike; frequency_scale without zpe_scale scales it too (as documented)."""
    saddle = "saddle" in str(source) or "-ts" in str(source)
    if isinstance(source, str):
        b = saddle_point() if saddle else job(BOND + ((0.0, 1.3, 2.2),), moltyp=-12347)
        source = Path(b.write(tmp_path / "z.chk"))
    c = vexmora.load(source)
    v = c.vibrations()
    nu = v.frequencies
    assert (nu < 0).sum() == saddle
    zpe = 0.5 * nu[nu > 0].sum() * HARTREE_PER_WAVENUMBER
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        th, scaled = c.thermochemistry(), c.thermochemistry(frequency_scale=0.95)
    assert v.zero_point_energy == pytest.approx(zpe, rel=1e-7)
    assert th.zero_point_energy == pytest.approx(v.zero_point_energy, rel=1e-12)
    assert scaled.zero_point_energy == pytest.approx(0.95 * zpe, rel=1e-7)

"""The viewer: isosurfaces against shapes known exactly, the view's box and values against
the cube file write_cube writes, normal-mode arrows against Gaussian's modes, the potential
view, the summary card parsed as HTML with the numbers of Gaussian's .fchk, pages written
whole and never over an input, the view command, and Spectrum.plot."""
from __future__ import annotations

import pickle
import subprocess
import sys
from html.parser import HTMLParser
from pathlib import Path
from typing import Any, Dict, List, Tuple

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import vexmora
import vexmora.cli
from vexmora import _grid, _view
from vexmora._mesh import isosurface
from chkbuilder import h2
from refdata import TESTDATA, read_fchk
from test_grid import read_cube, shell, synthetic

BOHR = 0.529177249
HO2 = TESTDATA / "g16-ho2-ub2plyp-ccpvtz-freq.chk"
needs_ho2 = pytest.mark.skipif(not HO2.with_suffix(".fchk").exists(), reason="no real HO2 files")


def edges_of(triangles: np.ndarray) -> Tuple[np.ndarray, np.ndarray]:
    e = np.sort(np.concatenate([triangles[:, [0, 1]], triangles[:, [1, 2]], triangles[:, [2, 0]]]), axis=1)
    return np.unique(e, axis=0, return_counts=True)


@settings(max_examples=15, deadline=None)
@given(centre=st.tuples(*[st.floats(-0.3, 0.3)] * 3), radius=st.floats(0.6, 1.2),
       shear=st.floats(-0.3, 0.3), gradient=st.tuples(*[st.floats(-1, 1)] * 3))
def test_isosurface_of_a_sphere_and_a_plane(centre: Tuple[float, ...], radius: float, shear: float,
                                            gradient: Tuple[float, ...]) -> None:
    """On a sheared box: a sphere's surface is closed (every edge in two triangles, Euler
    characteristic 2), near the sphere, of its area, facing out; a linear field's surface
    lies exactly on its plane, facing downhill."""
    n, h = 34, 0.1
    axes = np.array([[h, 0, 0], [shear * h, h, 0], [0, 0.5 * shear * h, h]])
    origin = -np.array([1.0, 1.0, 1.0]) * 1.6 - np.array([shear * 1.6, 0.5 * shear * 1.6, 0])
    pts = origin + np.indices((n, n, n)).reshape(3, -1).T @ axes
    c = np.array(centre)
    sphere = isosurface(-((pts - c) ** 2).sum(axis=1).reshape(n, n, n), -radius ** 2, origin, axes)
    edges, counts = edges_of(sphere.triangles)
    assert set(counts) == {2}
    assert len(sphere.vertices) - len(edges) + len(sphere) == 2
    r = np.linalg.norm(sphere.vertices - c, axis=1)
    assert np.abs(r - radius).max() < h * h / radius
    p = sphere.vertices[sphere.triangles]
    normal = np.cross(p[:, 1] - p[:, 0], p[:, 2] - p[:, 0])
    area = 0.5 * np.linalg.norm(normal, axis=1)
    assert np.isclose(area.sum(), 4 * np.pi * radius ** 2, rtol=0.03)
    # (a grid point exactly at the level makes triangles of no area: no direction)
    assert ((normal * (p.mean(axis=1) - c)).sum(axis=1)[area > 1e-12] > 0).all()
    g = np.array(gradient)
    if np.linalg.norm(g) < 0.1:
        return
    plane = isosurface((pts @ g).reshape(n, n, n), 0.05, origin, axes)
    assert len(plane) and np.abs(plane.vertices @ g - 0.05).max() < 1e-12
    q = plane.vertices[plane.triangles]
    down = np.cross(q[:, 1] - q[:, 0], q[:, 2] - q[:, 0]) @ g
    assert (down[np.abs(down) > 1e-12] < 0).all()


def test_isosurface_of_nothing() -> None:
    flat = np.zeros((4, 4, 4))
    assert len(isosurface(flat, 1.0, np.zeros(3), np.eye(3))) == 0
    assert len(isosurface(flat + 2, 1.0, np.zeros(3), np.eye(3))) == 0


@pytest.fixture(scope="module")
def hpd(tmp_path_factory: pytest.TempPathFactory) -> vexmora.Checkpoint:
    """Three H atoms with s, p and d shells (Cartesian); orbital k is basis function k."""
    shells = [shell(1, 0), shell(1, 1), shell(2, 2), shell(3, 1, sp=True)]
    return synthetic(tmp_path_factory.mktemp("hpd"), shells, "cartesian", nae=3, nbe=3)


@pytest.mark.parametrize("what, kw", [(2, dict(spacing=0.15)), ("homo", dict(shape=(21, 17, 25), margin=1.5)),
                                      ("density", dict(spacing=0.2))])
def test_box_and_values_are_write_cubes(hpd: vexmora.Checkpoint, tmp_path: Path, what: Any,
                                        kw: Dict[str, Any]) -> None:
    """The view's box and values are those of the cube file of the same request, and of
    orbitals_at/density_at at its points; its surfaces' vertices lie at the isovalue."""
    pytest.importorskip("plotly")
    hpd.write_cube(tmp_path / "c.cube", what, **kw)
    cube = read_cube(tmp_path / "c.cube")
    vol = _view.volume(hpd, what, **kw)
    assert np.allclose(vol.origin, np.array(cube["origin"]) * BOHR, atol=1e-9)
    assert np.allclose(vol.axes, cube["steps"] * BOHR, atol=1e-9)
    assert vol.values.shape == cube["values"].shape
    assert np.allclose(vol.values, cube["values"], rtol=1e-5, atol=1e-12)
    at = (hpd.density_at(vol.points()) if what == "density"
          else hpd.orbitals_at(vol.points(), [what])[:, 0])
    assert np.allclose(vol.values.ravel(), at, rtol=1e-12, atol=1e-14)
    fine = dict(kw, spacing=0.08) if "spacing" in kw else kw
    fig = hpd.view(what, **fine)
    surfaces = [t for t in fig.data[1:]]
    assert [t.name for t in surfaces] == (["+0.02 a.u."] if what == "density" else ["+0.05 a.u.", "-0.05 a.u."])
    for t in surfaces:
        level = float(t.name.split()[0])
        xyz = np.stack([t.x, t.y, t.z], axis=1).astype(float)
        got = hpd.density_at(xyz) if what == "density" else hpd.orbitals_at(xyz, [what])[:, 0]
        # linear along each edge: close where the values are smooth, coarser where they
        # are steep (by the nuclei)
        error = np.abs(got - level) / abs(level)
        if "spacing" in kw:
            assert np.median(error) < 0.02 and np.percentile(error, 75) < 0.05
        assert t.color == (_view.PLUS if level > 0 else _view.MINUS)


def test_molecule_and_bad_requests(hpd: vexmora.Checkpoint, monkeypatch: pytest.MonkeyPatch) -> None:
    pytest.importorskip("plotly")
    fig = hpd.view()
    mol = fig.data[0]
    sphere = len(_view._sphere()[0])
    assert len(fig.data) == 1 and len(mol.x) == 3 * sphere + 2 * 24 * len(_view.bonds(hpd))
    assert _view.bonds(hpd) == [(0, 1), (1, 2)]  # 0.74 and 0.90 A apart; 1 and 3 1.49 A
    assert set(mol.vertexcolor) == {"#FFFFFF"} and set(mol.text) >= {"H1", "H2", "H3"}
    assert "H3" in fig.layout.title.text
    for call, message in [(lambda: hpd.view("homoo"), "what must be"),
                          (lambda: hpd.view("homo", isovalue=-1), "isovalue must be a positive"),
                          (lambda: hpd.view(99), "out of range"),
                          (lambda: hpd.view(mode=0), "no Hessian")]:
        with pytest.raises(ValueError, match=message):
            call()
    assert _view.view_spacing(hpd, None) is None  # the cube's box
    monkeypatch.setattr(_view, "MAX_VIEW_POINTS", 20_000)  # as for a large molecule
    spacing = _view.view_spacing(hpd, None)
    counts = _grid.cube_box(hpd.coordinates / BOHR, spacing, None, None)[2]
    assert 10_000 < np.prod(counts) <= 26_000
    assert len(hpd.view("homo").data[1].x) < len(hpd.view("homo", spacing=_grid.DEFAULT_SPACING).data[1].x) / 3
    with pytest.warns(UserWarning, match="nothing to draw"):
        assert len(hpd.view("homo", isovalue=50.0, spacing=0.3).data) == 1


@needs_ho2
def test_mode_arrows_follow_gaussians_modes() -> None:
    pytest.importorskip("plotly")
    ckpt = vexmora.load(HO2)
    fchk = read_fchk(HO2.with_suffix(".fchk"))
    modes = np.array(fchk["Vib-Modes"].values).reshape(-1, len(ckpt.symbols), 3)
    xyz = ckpt.coordinates
    for k, mode in enumerate(modes):
        fig = ckpt.view(mode=k)
        arrows = fig.data[-1]
        assert arrows.name.startswith(f"mode {k + 1}: ")
        assert abs(float(arrows.name.split()[2].rstrip("i")) - fchk["Vib-E2"].values[k]) < 0.5
        pts = np.stack([arrows.x, arrows.y, arrows.z], axis=1).astype(float)
        starts, tips, _ = _view.arrows(ckpt, k)
        d = mode / np.linalg.norm(mode, axis=1).max() * 1.5
        # along Gaussian's mode, either sign (a mode's phase is free), the longest 1.5 A
        sign = np.sign(np.sum((tips - xyz) * d))
        assert np.allclose(starts, xyz) and np.allclose(tips - xyz, sign * d, atol=2e-3)
        for a in np.flatnonzero(np.linalg.norm(d, axis=1) > 0.05):  # each tip drawn
            assert np.linalg.norm(pts - tips[a], axis=1).min() < 1e-5
    with pytest.raises(ValueError, match="out of range"):
        ckpt.view(mode=len(modes))


@needs_ho2
@pytest.mark.parametrize("what, kw, kind", [("spin", {}, "SCF"), ("MP2", dict(spin=True), "MP2")])
def test_spin_density_surfaces(what: str, kw: Dict[str, Any], kind: str) -> None:
    """A spin density's two signed surfaces lie where density_at(spin=True) has the isovalue."""
    pytest.importorskip("plotly")
    ckpt = vexmora.load(HO2)
    fig = ckpt.view(what, isovalue=0.005, spacing=0.08, **kw)
    assert [t.name for t in fig.data[1:]] == ["+0.005 a.u.", "-0.005 a.u."]
    assert f"{kind} spin density" in fig.layout.title.text
    for t in fig.data[1:]:
        xyz = np.stack([t.x, t.y, t.z], axis=1).astype(float)
        got = ckpt.density_at(xyz, kind=kind, spin=True)
        level = float(t.name.split()[0])
        assert np.median(np.abs(got - level)) < 0.03 * abs(level), t.name  # linear between points


def test_potential_view(tmp_path: Path) -> None:
    """The colours are the potential at the vertices of the density's 0.001 surface."""
    pytest.importorskip("plotly")
    from chkbuilder import h2_job

    ckpt = vexmora.load(h2_job(tmp_path))
    fig = ckpt.view("potential", spacing=0.15)
    surface = fig.data[1]
    xyz = np.stack([surface.x, surface.y, surface.z], axis=1).astype(float)
    assert np.abs(ckpt.density_at(xyz) - 0.001).max() < 2e-4
    assert np.allclose(surface.intensity, ckpt.potential_at(xyz), rtol=1e-5, atol=1e-7)
    assert surface.cmin == -surface.cmax and surface.colorscale


class Tags(HTMLParser):
    """Checks that every element is closed in order; gathers the table's cells."""

    VOID = {"br", "hr", "img", "meta", "link", "input", "col", "wbr"}

    def __init__(self) -> None:
        super().__init__()
        self.open: List[str] = []
        self.cells: Dict[str, str] = {}
        self.tags: List[str] = []
        self._cell: List[str] = []

    def handle_starttag(self, tag: str, attrs: Any) -> None:
        self.tags.append(tag)
        if tag not in self.VOID:
            self.open.append(tag)
        if tag in ("th", "td"):
            self._cell = []

    def handle_endtag(self, tag: str) -> None:
        assert self.open and self.open.pop() == tag, f"</{tag}> closes nothing open"
        if tag == "td" and self.tags.count("th"):
            self.cells[self._key] = "".join(self._cell).strip()
        if tag == "th":
            self._key = "".join(self._cell).strip()

    def handle_data(self, data: str) -> None:
        self._cell.append(data)


def parse_card(ckpt: vexmora.Checkpoint) -> Dict[str, str]:
    card = ckpt._repr_html_()
    p = Tags()
    p.feed(card)
    p.close()
    assert not p.open and "script" not in p.tags and "<script" not in card.lower()
    return p.cells


def test_card_of_a_builder_checkpoint(tmp_path: Path) -> None:
    b = h2()
    cells = parse_card(vexmora.load(b.write(tmp_path / "h&<2>.chk")))
    assert cells["SCF energy"] == "-1.11670000 Eh" and cells["Charge, multiplicity"] == "0, 1"
    assert cells["Point group"] == "D*h" and cells["Basis functions"] == "2"
    assert cells["HOMO, LUMO"].startswith("-0.5780 Eh, 0.6700 Eh (gap 33.96 eV)")
    assert "Frequencies" not in cells and "Total energy" not in cells
    assert "h&amp;&lt;2&gt;.chk" in vexmora.load(tmp_path / "h&<2>.chk")._repr_html_()


@needs_ho2
def test_card_holds_gaussians_numbers() -> None:
    fchk = read_fchk(HO2.with_suffix(".fchk"))
    cells = parse_card(vexmora.load(HO2))
    assert float(cells["SCF energy"].split()[0]) == pytest.approx(fchk["SCF Energy"].values[0], abs=6e-9)
    assert float(cells["Total energy"].split()[0]) == pytest.approx(fchk["Total Energy"].values[0], abs=6e-9)
    assert cells["Charge, multiplicity"] == f"{fchk['Charge'].values[0]}, {fchk['Multiplicity'].values[0]}"
    assert cells["Point group"] == "Cs"
    head, listed = cells["Frequencies"].split("all (cm⁻¹)")
    assert head.startswith("3 modes, ") and "zero-point energy" in head
    freqs = [float(x) for x in listed.split(",")]
    assert np.allclose(freqs, fchk["Vib-E2"].values[:3], atol=0.06)


def test_pages_whole_never_over_an_input(hpd: vexmora.Checkpoint, tmp_path: Path,
                                         capsys: pytest.CaptureFixture) -> None:
    pytest.importorskip("plotly")
    chk = Path(hpd.path)
    before = chk.read_bytes()
    page = tmp_path / "p.html"
    hpd.write_html(page, 2, spacing=0.2)
    text = page.read_text()
    assert text.lower().startswith(("<html>", "<!doctype html>")) and "<title>s0.chk: 2</title>" in text and "<script src" not in text
    assert "plotly.js v" in text and text.rstrip().endswith("</html>")
    page.write_text("old")
    with pytest.raises(ValueError):
        hpd.write_html(page, 2, isovalue=0)
    with pytest.raises(vexmora.WriteError, match="never replaced"):
        hpd.write_html(chk)
    with pytest.raises(vexmora.WriteError, match="No such file or directory"):
        hpd.write_html(tmp_path / "missing" / "p.html")
    assert page.read_text() == "old" and chk.read_bytes() == before
    main = vexmora.cli.main
    assert main(["view", str(chk), "--orbital", "3", "--spacing", "0.25", "-o", str(page)]) == 0
    assert capsys.readouterr().out == f"Wrote {page}\n" and "orbital 3" in page.read_text()
    link = tmp_path / "link.html"
    link.symlink_to(chk)
    for args, message in [(["-o", str(link)], "never replaced"), (["-o", str(chk)], "name it .html"),
                          (["-o", str(tmp_path / "p.fchk")], "not of a web page"),
                          (["--orbital", "x"], "not homo, lumo"), (["--mode", "0"], "not a mode number")]:
        assert main(["view", str(chk), *args]) == 1
        assert message in capsys.readouterr().err
    with pytest.raises(SystemExit):
        main(["view", str(chk), "--orbital", "1", "--density"])
    assert chk.read_bytes() == before and not (tmp_path / "p.fchk").exists()
    assert main(["view", str(chk), "--density", "--spacing", "0.25"]) == 0
    assert chk.with_suffix(".html").exists()


@pytest.mark.parametrize("source, args, shown", [
    ("hpd", ["--orbital", "homo"], "HOMO (alpha orbital 3, "),
    ("freq", ["--mode", "1"], "mode 1: "),
    ("h2", ["--potential"], "electrostatic potential on the SCF density 0.001 a.u."),
    ("h2", ["--density", "SCF"], "SCF total density, 0.02 a.u."),
], ids=["orbital homo", "mode", "potential", "density kind"])
def test_view_command_draws_what_is_asked(source: str, args: List[str], shown: str, hpd: vexmora.Checkpoint,
                                          tmp_path: Path, capsys: pytest.CaptureFixture) -> None:
    pytest.importorskip("plotly")
    from chkbuilder import h2_job
    from test_vibrations import job
    chk = {"hpd": lambda: hpd.path, "freq": lambda: job().write(tmp_path / "f.chk"),
           "h2": lambda: str(h2_job(tmp_path))}[source]()
    page = tmp_path / "p.html"
    assert vexmora.cli.main(["view", str(chk), *args, "--spacing", "0.3", "-o", str(page)]) == 0, \
        capsys.readouterr().err
    assert capsys.readouterr().out == f"Wrote {page}\n" and shown in page.read_text()


def test_spectrum_object_and_plots() -> None:
    nu = np.array([500.0, 1500.0])
    vib = vexmora.Vibrations(nu, nu, nu, np.zeros((2, 1, 3)), 0.0, np.array([10.0, 30.0]))
    spectrum = vib.spectrum(fwhm=8.0)
    x, y = spectrum
    assert isinstance(spectrum, vexmora.Spectrum) and (spectrum.kind, spectrum.fwhm) == ("ir", 8.0)
    again = pickle.loads(pickle.dumps(spectrum))
    assert again.kind == "ir" and np.array_equal(again.intensities, y) and np.array_equal(again[0], x)
    pytest.importorskip("plotly")
    fig = spectrum.plot()
    assert fig.layout.xaxis.autorange == "reversed" and "km/mol" in fig.layout.yaxis.title.text
    assert np.array_equal(fig.data[0].x, x) and np.array_equal(fig.data[0].y, y)
    raman = vexmora.Spectrum(x, y, "raman").plot().layout
    assert raman.xaxis.autorange == "reversed" and raman.yaxis.title.text.startswith("Raman activity")
    with pytest.raises(ValueError, match="library must be"):
        spectrum.plot("bokeh")
    pytest.importorskip("matplotlib")
    ax = spectrum.plot("matplotlib").axes[0]
    assert ax.xaxis_inverted()


def test_core_imports_no_plotting_library(tmp_path: Path) -> None:
    chk = h2().write(tmp_path / "h.chk")
    code = ("import sys, vexmora; c = vexmora.load(sys.argv[1]); c._repr_html_(); repr(c); "
            "print(sorted(m for m in sys.modules if m.split('.')[0] in ('plotly', 'matplotlib')))")
    out = subprocess.run([sys.executable, "-c", code, str(chk)], capture_output=True, text=True, check=True)
    assert out.stdout.strip() == "[]"

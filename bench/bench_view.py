"""Prints how long writing the HOMO page of an 18-atom molecule takes, and its size.

The molecule is synthetic: p-xylene, C8H10, with 6-31G(d)-like shells in Gaussian's
default Cartesian d (carbon: s, sp, sp and six d functions; hydrogen: two s), 140 basis
functions, random orthonormal orbitals (a rougher HOMO than a real one: more surface
to mesh) and their closed-shell density. The page is
``Checkpoint.write_html(path, "homo")`` with its defaults (the cube's box: points 1/6 Bohr
apart, 4 Bohr beyond the atoms; the ±0.05 surfaces; plotly's JavaScript inside); the goal is under
3 s and under 15 MB. Also shown, measured side by side in the same run (best of five,
the runs taking turns): the cube file of the same orbital on the same box, the parts of the page (the values on the box, the meshes, the figure as HTML) and
the page of the molecule alone.

Run it with the interpreter Vexmora is installed in (plotly needed):
python bench/bench_view.py
"""
from __future__ import annotations

import math
import os
import sys
import tempfile
import time
from pathlib import Path
from typing import Any, Callable, Dict, List, Sequence, Tuple

import numpy as np

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
sys.path.insert(0, str(HERE.parent / "tests"))

import vexmora  # noqa: E402
from bench_grid import interleaved, shells  # noqa: E402
from chkbuilder import basis, densities, h2, lower_triangle, mol, reals  # noqa: E402

BOHR = 0.529177249


def xylene() -> Tuple[List[int], List[List[float]]]:
    """p-Xylene in the xy plane (Bohr): ring C-C 1.39 A, C-H 1.08 A, ring-methyl 1.51 A."""
    z: List[int] = []
    xyz: List[List[float]] = []

    def atom(q: int, p: Sequence[float]) -> None:
        z.append(q)
        xyz.append([c / BOHR for c in p])

    for k in range(6):
        a = math.pi / 3 * k
        u = np.array([math.cos(a), math.sin(a), 0.0])
        atom(6, 1.39 * u)
        if k in (0, 3):  # a methyl group: its carbon, one hydrogen in the plane, two above and below
            c = (1.39 + 1.51) * u
            atom(6, c)
            atom(1, c + 1.09 * u * 0.34 + 1.09 * 0.94 * np.array([-u[1], u[0], 0.0]))
            for s in (1, -1):
                atom(1, c + 1.09 * (0.34 * u + 0.47 * np.array([u[1], -u[0], 0.0]) +
                                    0.81 * s * np.array([0.0, 0.0, 1.0])))
        else:
            atom(1, (1.39 + 1.08) * u)
    return z, xyz


def molecule(tmp: str) -> vexmora.Checkpoint:
    z, xyz = xylene()
    n = 15 * z.count(6) + 2 * z.count(1)
    nocc = sum(z) // 2
    c, _ = np.linalg.qr(np.random.default_rng(5).normal(size=(n, n)))
    b = h2().replace(997, mol(z, xyz, nbasis=n, nae=nocc, nbe=nocc))
    b.replace(670, basis(shells(z, xyz), bhdr4=1))  # Cartesian d, as 6-31G(d) in Gaussian
    b.replace(522, reals(np.linspace(-11, 2, n))).replace(524, reals(c.ravel()))
    b.add(603, densities(1, lower_triangle(2 * c[:nocc].T @ c[:nocc])))
    return vexmora.load(b.write(os.path.join(tmp, "xylene.chk")))


def main(argv: Sequence[str]) -> int:
    from vexmora import _view

    print(f"vexmora from {vexmora.__file__}")
    with tempfile.TemporaryDirectory() as tmp:
        ckpt = molecule(tmp)
        page = os.path.join(tmp, "homo.html")
        vol = _view.volume(ckpt, "homo")
        print(f"C8H10 ({len(ckpt.symbols)} atoms), {ckpt.n_basis} Cartesian basis functions; "
              f"the page's box {' x '.join(map(str, vol.values.shape))} = {vol.values.size} points "
              f"(best of 5, runs interleaved)")
        meshes = [_view.surface_mesh(vol, s * _view.ORBITAL_ISOVALUE) for s in (1, -1)]
        fig = ckpt.view("homo")
        runs: Dict[str, Callable[[], Any]] = {
            "HOMO page (write_html)": lambda: ckpt.write_html(page, "homo"),
            "  values on the box": lambda: _view.volume(ckpt, "homo"),
            "  the two meshes": lambda: [_view.surface_mesh(vol, s * _view.ORBITAL_ISOVALUE)
                                         for s in (1, -1)],
            "  the figure as HTML": lambda: _view.page(fig, "x"),
            "molecule page": lambda: ckpt.write_html(os.path.join(tmp, "m.html")),
            "HOMO cube (write_cube defaults)": lambda: ckpt.write_cube(os.path.join(tmp, "h.cube"), "homo"),
        }
        t = interleaved(runs)
        for k, (w, cpu) in t.items():
            print(f"  {k:34s} {1000 * w:8.1f} ms wall {1000 * cpu:8.1f} ms CPU")
        size = os.path.getsize(page)
        js = os.path.getsize(os.path.join(tmp, "m.html"))
        print(f"  HOMO page {size / 1e6:.2f} MB (the molecule's page {js / 1e6:.2f} MB, mostly plotly.js); "
              f"{sum(len(m) for m in meshes)} triangles, {sum(len(m.vertices) for m in meshes)} vertices; "
              f"the cube file {os.path.getsize(os.path.join(tmp, 'h.cube')) / 1e6:.1f} MB")
        wall = t["HOMO page (write_html)"][0]
        print(f"  goal: < 3 s and < 15 MB: {wall:.2f} s, {size / 1e6:.2f} MB -> "
              f"{'met' if wall < 3 and size < 15e6 else 'NOT met'}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

"""Prints how fast Vexmora computes the electrostatic potential and ESP charges,
against PySCF's nuclear-attraction integrals on the same points.

The molecule is synthetic: octatetraene, C8H10 (18 atoms), 6-31G(d) shells with
Cartesian d (carbon: s, sp, sp, 6d; hydrogen: two s), 140 basis functions,
random orthonormal orbitals and their closed-shell density. PySCF reads the same
basis and orbitals from our Molden file. Measured side by side in one run, the
runs taking turns, best of ``--repeat`` with the spread (worst / best), one
thread each (OMP_NUM_THREADS=1), wall and CPU time:

* 2000 points within a few Angstrom of the atoms: ``potential_at`` against
  ``einsum("pij,ij->p", mol.intor("int1e_grids", grids=...), dm)`` plus the
  nuclei (in chunks of 250 points, so its (points, n, n) integrals fit in
  memory), and the largest difference;
* ``potential_at`` on two threads against one (20000 points);
* an 80^3 potential cube on two threads;
* MK charges (``esp_charges("mk")``, the potential at its points included).

Run it with the interpreter Vexmora is installed in (PySCF needed for the
comparison):  python bench/bench_esp.py [--repeat N]
"""
from __future__ import annotations

import os

os.environ["OMP_NUM_THREADS"] = "1"  # before NumPy and PySCF start their pools

import argparse  # noqa: E402
import math  # noqa: E402
import sys  # noqa: E402
import tempfile  # noqa: E402
import time  # noqa: E402
from pathlib import Path  # noqa: E402
from typing import Any, Callable, Dict, List, Sequence, Tuple  # noqa: E402

import numpy as np  # noqa: E402

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
sys.path.insert(0, str(HERE.parent / "tests"))

import vexmora  # noqa: E402
from bench_grid import shells  # noqa: E402  (the same basis, here with Cartesian d)
from chkbuilder import basis, densities, h2, lower_triangle, mol, reals  # noqa: E402

BOHR = 0.529177249


def octatetraene() -> Tuple[List[int], List[List[float]]]:
    """A planar zigzag C8H10 (Bohr): carbons 1.40 A apart, one hydrogen each, two at the ends."""
    z, xyz = [], []
    for i in range(8):
        side = 1 if i % 2 else -1
        c = np.array([1.21 * i, 0.35 * side, 0.0])
        z.append(6), xyz.append(c)
        z.append(1), xyz.append(c + [0.0, 1.08 * side, 0.0])
    z += [1, 1]
    xyz += [np.array([-0.94, -0.89, 0.0]), np.array([1.21 * 7 + 0.94, 0.89, 0.0])]
    return z, [list(x / BOHR) for x in xyz]


def molecule(tmp: str) -> vexmora.Checkpoint:
    z, xyz = octatetraene()
    n = 15 * z.count(6) + 2 * z.count(1)
    nocc = sum(z) // 2
    c, _ = np.linalg.qr(np.random.default_rng(5).normal(size=(n, n)))
    b = h2().replace(997, mol(z, xyz, nbasis=n, nae=nocc, nbe=nocc))
    b.replace(670, basis(shells(z, xyz), bhdr4=1, bhdr5=1))  # Cartesian d (6D)
    b.replace(522, reals(np.linspace(-11, 2, n))).replace(524, reals(c.ravel()))
    b.add(603, densities(1, lower_triangle(2 * c[:nocc].T @ c[:nocc])))
    return vexmora.load(b.write(os.path.join(tmp, "c8h10.chk")))


def around(ckpt: vexmora.Checkpoint, n: int, seed: int) -> np.ndarray:
    """Random points 0.5 to 4 Angstrom from a random atom (Angstrom)."""
    rng = np.random.default_rng(seed)
    d = rng.normal(size=(n, 3))
    d *= (rng.uniform(0.5, 4.0, n) / np.linalg.norm(d, axis=1))[:, None]
    return ckpt.coordinates[rng.integers(0, len(ckpt.coordinates), n)] + d


def pyscf_potential(ckpt: vexmora.Checkpoint, tmp: str) -> Callable[[np.ndarray], np.ndarray]:
    from pyscf.tools import molden
    path = os.path.join(tmp, "c8h10.molden")
    ckpt.write_molden(path)
    m, _, c, occ, _, _ = molden.load(path)
    dm = (np.asarray(c) * np.asarray(occ)) @ np.asarray(c).T
    z, xyz = m.atom_charges(), m.atom_coords()

    def potential(points: np.ndarray) -> np.ndarray:
        p = points / BOHR
        out = np.empty(len(p))
        for k in range(0, len(p), 250):
            q = p[k:k + 250]
            elec = np.einsum("pij,ij->p", m.intor("int1e_grids", grids=q), dm)
            nuc = (z / np.linalg.norm(q[:, None] - xyz[None], axis=2)).sum(1)
            out[k:k + 250] = nuc - elec
        return out

    return potential


def timed(fn: Callable[[], Any]) -> Tuple[float, float]:
    w, c = time.perf_counter(), time.process_time()
    fn()
    return time.perf_counter() - w, time.process_time() - c


def interleaved(runs: Dict[str, Callable[[], Any]], repeat: int) -> Dict[str, List[Tuple[float, float]]]:
    """Every (wall, CPU) time of each run, the runs taking turns."""
    times: Dict[str, List[Tuple[float, float]]] = {k: [] for k in runs}
    for _ in range(repeat):
        for k, fn in runs.items():
            times[k].append(timed(fn))
    return times


def best(t: List[Tuple[float, float]]) -> Tuple[float, float, float]:
    """Best wall, best CPU, spread of the wall times (worst / best)."""
    w = [x[0] for x in t]
    return min(w), min(x[1] for x in t), max(w) / min(w)


def report(name: str, t: List[Tuple[float, float]]) -> None:
    w, c, s = best(t)
    print(f"  {name:44s} wall {w:8.3f} s  cpu {c:8.3f} s  spread {s:5.2f}")


def main(argv: Sequence[str]) -> int:
    ap = argparse.ArgumentParser()
    ap.add_argument("--repeat", type=int, default=5)
    ap.add_argument("--no-cube", action="store_true")
    args = ap.parse_args(argv)
    print(f"vexmora from {vexmora.__file__}")
    with tempfile.TemporaryDirectory() as tmp:
        ckpt = molecule(tmp)
        print(f"C8H10: {len(ckpt.atomic_numbers)} atoms, {ckpt.n_basis} Cartesian functions, "
              f"repeats {args.repeat}")
        points = around(ckpt, 2000, 1)
        ours = ckpt.potential_at(points, threads=1)
        try:
            ref_fn = pyscf_potential(ckpt, tmp)
        except ImportError:
            ref_fn = None
        print("2000 points, one thread each:")
        runs: Dict[str, Callable[[], Any]] = {"vexmora potential_at": lambda: ckpt.potential_at(points, threads=1)}
        if ref_fn is not None:
            ref = ref_fn(points)
            print(f"  max |V - V_pyscf| = {np.abs(ours - ref).max():.2e} a.u. "
                  f"(|V| up to {np.abs(ref).max():.2f}); goal < 1e-7")
            runs["pyscf int1e_grids + einsum"] = lambda: ref_fn(points)
        t = interleaved(runs, args.repeat)
        for k, v in t.items():
            report(k, v)
        if ref_fn is not None:
            ratio = best(t["pyscf int1e_grids + einsum"])[0] / best(t["vexmora potential_at"])[0]
            cpu = best(t["pyscf int1e_grids + einsum"])[1] / best(t["vexmora potential_at"])[1]
            print(f"  ratio pyscf / vexmora: wall {ratio:.1f}x, cpu {cpu:.1f}x; goal >= 10x")

        many = around(ckpt, 20000, 2)
        t = interleaved({"one thread": lambda: ckpt.potential_at(many, threads=1),
                         "two threads": lambda: ckpt.potential_at(many, threads=2)}, args.repeat)
        print("20000 points:")
        for k, v in t.items():
            report(k, v)
        print(f"  two threads / one: {best(t['one thread'])[0] / best(t['two threads'])[0]:.2f}x "
              "faster (wall); goal >= 1.7x")

        if not args.no_cube:
            path = os.path.join(tmp, "v.cube")
            t = interleaved({"80^3 potential cube, two threads":
                             lambda: ckpt.write_cube(path, "potential", shape=80, threads=2)},
                            max(1, min(args.repeat, 2)))
            print("cube:")
            report("80^3 potential cube, two threads", t["80^3 potential cube, two threads"])
            print(f"  goal <= 60 s: {'met' if best(t['80^3 potential cube, two threads'])[0] <= 60 else 'NOT met'}")

        fit = ckpt.esp_charges("mk", threads=1)
        t = interleaved({"MK charges, one thread": lambda: ckpt.esp_charges("mk", threads=1),
                         "MK charges, two threads": lambda: ckpt.esp_charges("mk", threads=2)},
                        args.repeat)
        print(f"MK charges ({len(fit.points)} points):")
        for k, v in t.items():
            report(k, v)
        print(f"  goal < 2 s: {'met' if best(t['MK charges, one thread'])[0] < 2 else 'NOT met'}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

"""Prints how fast Vexmora writes cube files, against PySCF's cubegen.

The molecule is synthetic: a zigzag chain of ten carbon atoms with twenty-two
hydrogens, 6-31G(d)-like shells (carbon: s, sp, sp and a pure d; hydrogen: two s),
184 basis functions, random orthonormal orbitals and their closed-shell density.
PySCF reads the same basis and orbitals from our Molden file. On the same box
(80 points per axis, 3 Bohr beyond the atoms, as cubegen's defaults), measured
side by side in one run, the runs taking turns, best of five, one thread each
(OMP_NUM_THREADS=1), in wall and in CPU time (the CPU time is the fairer figure
on a machine shared with other work):

* density: ``Checkpoint.write_cube(path, "density")`` against ``cubegen.density``;
* one orbital: ``write_cube(path, k)`` against ``cubegen.orbital``;
* Vexmora on two threads against one;
* memory: the growth of the peak resident size while Vexmora writes a cube,
  against the size of the cube's values.

Run it with the interpreter Vexmora is installed in (PySCF needed for the
comparison):  python bench/bench_grid.py
"""
from __future__ import annotations

import os

os.environ["OMP_NUM_THREADS"] = "1"  # before NumPy and PySCF start their pools

import math  # noqa: E402
import resource  # noqa: E402
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
from chkbuilder import (Shell, basis, densities, h2, lower_triangle, mol, raw_coefs,  # noqa: E402
                        reals)

BOHR = 0.529177249
# 6-31G(d) carbon and hydrogen (exponents, s and p coefficients of normalised primitives).
C_CORE = ([3047.52, 457.370, 103.949, 29.2102, 9.28666, 3.16393],
          [0.00183, 0.01403, 0.06884, 0.23218, 0.46794, 0.36231])
C_SP = ([7.86827, 1.88129, 0.544249], [-0.11933, -0.16085, 1.14346], [0.06900, 0.31642, 0.74431])
H_S = ([18.7311, 2.82539, 0.640122], [0.03349, 0.23473, 0.81376])


def chain() -> Tuple[List[int], List[List[float]]]:
    """A zigzag C10H22 chain (Bohr): carbons 1.54 A apart, two hydrogens each, one more per end."""
    z, xyz = [], []
    for i in range(10):
        c = [1.26 * i / BOHR, (0.42 if i % 2 else -0.42) / BOHR, 0.0]
        z.append(6), xyz.append(c)
        side = 1 if i % 2 else -1
        for dz in (0.89, -0.89):
            z.append(1), xyz.append([c[0], c[1] + side * 0.51 / BOHR, dz / BOHR])
    z += [1, 1]
    xyz += [[-1.0 / BOHR, -0.42 / BOHR, 0.0], [(1.26 * 9 + 1.0) / BOHR, 0.42 / BOHR, 0.0]]
    return z, xyz


def shells(z: Sequence[int], xyz: Sequence[Sequence[float]]) -> List[Shell]:
    out = []
    for a, (zz, c) in enumerate(zip(z, xyz), start=1):
        if zz == 6:
            out.append(Shell(a, 0, C_CORE[0], {0: raw_coefs(C_CORE[1], C_CORE[0], 0)}, centre=c))
            out.append(Shell(a, 1, C_SP[0], {0: raw_coefs(C_SP[1], C_SP[0], 0),
                                              1: raw_coefs(C_SP[2], C_SP[0], 1)}, centre=c))
            out.append(Shell(a, 1, [0.168714], {0: [1.0], 1: [1.0]}, centre=c))
            out.append(Shell(a, 2, [0.8], {2: [1.0]}, centre=c))
        else:
            out.append(Shell(a, 0, H_S[0], {0: raw_coefs(H_S[1], H_S[0], 0)}, centre=c))
            out.append(Shell(a, 0, [0.161278], {0: [1.0]}, centre=c))
    return out


def molecule(tmp: str) -> vexmora.Checkpoint:
    z, xyz = chain()
    n = 14 * z.count(6) + 2 * z.count(1)
    nocc = sum(z) // 2
    c, _ = np.linalg.qr(np.random.default_rng(5).normal(size=(n, n)))
    b = h2().replace(997, mol(z, xyz, nbasis=n, nae=nocc, nbe=nocc))
    b.replace(670, basis(shells(z, xyz), bhdr4=0))  # pure d
    b.replace(522, reals(np.linspace(-11, 2, n))).replace(524, reals(c.ravel()))
    b.add(603, densities(1, lower_triangle(2 * c[:nocc].T @ c[:nocc])))
    return vexmora.load(b.write(os.path.join(tmp, "c10h22.chk")))


def peak_mib() -> float:
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024


def timed(fn: Callable[[], Any]) -> Tuple[float, float]:
    """Wall and CPU seconds of one call (the CPU time of the whole process)."""
    w, c = time.perf_counter(), time.process_time()
    fn()
    return time.perf_counter() - w, time.process_time() - c


def interleaved(runs: Dict[str, Callable[[], Any]], repeat: int = 5) -> Dict[str, Tuple[float, float]]:
    """Best wall and CPU time of each run, the runs taking turns: on a shared
    machine every run meets the same load."""
    best = {k: (math.inf, math.inf) for k in runs}
    for _ in range(repeat):
        for k, fn in runs.items():
            w, c = timed(fn)
            best[k] = (min(best[k][0], w), min(best[k][1], c))
    return best


def main(argv: Sequence[str]) -> int:
    print(f"vexmora from {vexmora.__file__}")
    margin = 3 * BOHR
    with tempfile.TemporaryDirectory() as tmp:
        ckpt = molecule(tmp)
        homo = ckpt.n_alpha - 1
        out = os.path.join(tmp, "v.cube")
        print(f"C10H22, {ckpt.n_basis} basis functions, 80^3 points, 3 Bohr margin "
              f"(best of 5, runs interleaved; CPU = the process's CPU time)")
        before = peak_mib()
        ckpt.write_cube(out, "density", shape=80, margin=margin, threads=1)
        grown = peak_mib() - before

        def ours(what: Any, threads: int) -> Callable[[], None]:
            return lambda: ckpt.write_cube(out, what, shape=80, margin=margin, threads=threads)

        runs: Dict[str, Callable[[], Any]] = {
            "vexmora density, 1 thread": ours("density", 1),
            "vexmora density, 2 threads": ours("density", 2),
            "vexmora orbital, 1 thread": ours(homo, 1),
            "vexmora orbital, 2 threads": ours(homo, 2)}
        try:
            from pyscf.tools import cubegen, molden
        except ImportError:
            cubegen = None
            print("  pyscf not installed: no comparison")
        if cubegen is not None:
            ckpt.write_molden(os.path.join(tmp, "m.molden"))
            m, _, c, _, _, _ = molden.load(os.path.join(tmp, "m.molden"))
            dm = 2 * c[:, :ckpt.n_alpha] @ c[:, :ckpt.n_alpha].T
            pc = os.path.join(tmp, "p.cube")
            runs["pyscf cubegen.density"] = lambda: cubegen.density(m, pc, dm, 80, 80, 80,
                                                                    margin=3.0)
            runs["pyscf cubegen.orbital"] = lambda: cubegen.orbital(m, pc, c[:, homo], 80, 80,
                                                                    80, margin=3.0)
        t = interleaved(runs)
        for k, (w, cpu) in t.items():
            print(f"  {k:28s} {1000 * w:9.1f} ms wall {1000 * cpu:9.1f} ms CPU")
        for what in ("density", "orbital"):
            one, two = t[f"vexmora {what}, 1 thread"], t[f"vexmora {what}, 2 threads"]
            print(f"  {what}: two threads / one {one[0] / two[0]:.2f} x (wall)", end="")
            if cubegen is not None:
                p = t[f"pyscf cubegen.{what}"]
                print(f"; pyscf / vexmora {p[0] / one[0]:.1f} x wall, {p[1] / one[1]:.1f} x CPU",
                      end="")
            print()
        print(f"  peak memory growth writing a density cube {grown:.1f} MiB "
              f"(the cube's values: {80 ** 3 * 8 / 2**20:.1f} MiB)")
        if cubegen is not None:
            rho = cubegen.density(m, pc, dm, 80, 80, 80, margin=3.0)
            ckpt.write_cube(out, "density", shape=80, margin=margin)
            print(f"  density cubes: largest value {rho.max():.2f}, largest difference "
                  f"{np.abs(read_values(out) - rho.ravel()).max():.1e} (ours: 6 digits, "
                  "the box to 6 decimals)")
    return 0


def read_values(path: str) -> Any:
    lines = Path(path).read_text().split("\n")
    natoms = abs(int(lines[2].split()[0]))
    return np.array(" ".join(lines[6 + natoms:]).split(), dtype=float)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

"""Prints the vexmora library's speed and memory against the floor and the peers.

All figures are measured side by side in one run, on the synthetic hydrogen
chain of ``bench_read.py`` (N atoms, N basis functions; N = 2000 by default,
a 46 MiB checkpoint) and on copies of a real checkpoint:

* ``load+arrays``: ``vexmora.load`` and taking ``mo_coefficients_alpha``,
  ``mo_energies_alpha`` and ``densities["SCF"]``, against ``numpy.fromfile``
  of the same file (the floor) and against IOData's and cclib's loading of the
  ``.fchk`` that Vexmora writes for it (when installed);
* ``ChkReader_``: constructing the specified reader, against the floor;
* ``convert -j 2`` against ``-j 1`` over 200 copies of a real checkpoint;
* the peak memory of a load, against the file's size plus the results.

Run it with the interpreter Vexmora is installed in:
``python bench/bench_library.py [N]``.
"""
from __future__ import annotations

import os
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path
from typing import Callable, List, Optional, Sequence

import numpy as np

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import Vexmora_  # noqa: E402
import vexmora  # noqa: E402
from bench_read import TESTDATA, best_of, hydrogen_chain  # noqa: E402


def load_and_take(path: str) -> None:
    c = vexmora.load(path)
    c.mo_coefficients_alpha, c.mo_energies_alpha, c.densities["SCF"]


def peer(name: str, fn: Callable[[], object]) -> Optional[float]:
    """Seconds for one run of a peer, or None when it is not installed."""
    try:
        t0 = time.perf_counter()
        fn()
        return time.perf_counter() - t0
    except ImportError:
        return None


def iodata_load(fchk: str) -> object:
    import iodata
    return iodata.load_one(fchk)


def cclib_load(fchk: str) -> object:
    import cclib
    return cclib.io.ccread(fchk)


MEMORY_PROBE = """
import sys
import numpy, vexmora
def rss():  # the peak of this image (ru_maxrss would carry the parent's over exec)
    with open("/proc/self/status") as f:
        return next(int(l.split()[1]) * 1024 for l in f if l.startswith("VmHWM:"))
base = rss()
c = vexmora.load(sys.argv[1])
loaded = rss() - base
mo, e = c.mo_coefficients_alpha, c.mo_energies_alpha
n = c.n_basis
held = mo.nbytes + e.nbytes + 8 * n * (n + 1) // 2   # what the reader keeps
print(loaded, held)
"""


def memory(path: str) -> None:
    done = subprocess.run([sys.executable, "-c", MEMORY_PROBE, path], capture_output=True,
                          text=True, check=True)
    peak, held = (int(x) for x in done.stdout.split())
    size = os.path.getsize(path)
    print(f"peak memory of load: {peak / 2**20:.1f} MiB; file {size / 2**20:.1f} MiB + results "
          f"{held / 2**20:.1f} MiB: ratio {peak / (size + held):.2f} (goal <= 1.10)")


def converter(tmp: str) -> None:
    real = TESTDATA / "g16-ts26-hf-sto3g-freq.chk"
    src = Path(tmp) / "copies"
    src.mkdir()
    for i in range(200):
        if real.exists():
            shutil.copy(real, src / f"c{i:03d}.chk")
        else:
            hydrogen_chain(60).write(src / f"c{i:03d}.chk")
    one = Path(tmp) / "one"
    one.mkdir()
    shutil.copy(src / "c000.chk", one)

    def seconds(folder: Path, jobs: int) -> float:
        """The best of three runs of the whole command."""
        return best_of(lambda: subprocess.run(
            [sys.executable, "-m", "vexmora", "convert", str(folder), "-o",
             os.path.join(tmp, f"out{jobs}"), "-j", str(jobs)], check=True), 3)

    whole = [seconds(src, jobs) for jobs in (1, 2)]
    start = seconds(one, 1)  # the interpreter, the imports and one file
    net = [(w - start) / 199 for w in whole]
    print(f"convert: -j 1 {200 / whole[0]:.0f} files/s, -j 2 {200 / whole[1]:.0f} files/s: "
          f"ratio {whole[0] / whole[1]:.2f} for the whole command; {net[0] / net[1]:.2f} for the "
          f"files after start-up ({start:.2f} s) (goal >= 1.6) on {os.cpu_count()} cores "
          f"({'real ' + real.name if real.exists() else 'synthetic H60'})")


def main(argv: Sequence[str]) -> int:
    n = int(argv[0]) if argv else 2000
    with tempfile.TemporaryDirectory() as tmp:
        path = hydrogen_chain(n).write(os.path.join(tmp, f"h{n}.chk"))
        fchk = os.path.join(tmp, f"h{n}.fchk")
        vexmora.load(path).write_fchk(fchk)
        size = os.path.getsize(path)
        floor = best_of(lambda: np.fromfile(path, dtype=np.uint8), 7)
        ours = best_of(lambda: load_and_take(path), 7)
        specified = best_of(lambda: Vexmora_.ChkReader_(path), 7)
        print(f"synthetic H{n} chain: {size / 2**20:.1f} MiB, {n} basis functions")
        print(f"numpy.fromfile (floor):       {1000 * floor:8.1f} ms")
        print(f"vexmora load + 3 arrays:      {1000 * ours:8.1f} ms  "
              f"= {ours / floor:.2f} x floor (goal <= 2)")
        print(f"ChkReader_ construction:      {1000 * specified:8.1f} ms  "
              f"= {specified / floor:.2f} x floor (goal <= 1.3)")
        for name, fn in (("IOData load_one", iodata_load), ("cclib ccread", cclib_load)):
            t = peer(name, lambda: fn(fchk))
            if t is None:
                print(f"{name + ' of our .fchk:':30s} not installed")
            else:
                print(f"{name + ' of our .fchk:':30s}{1000 * t:8.1f} ms  = vexmora x {t / ours:.0f}"
                      + (" (goal >= 100)" if name.startswith("IOData") else ""))
        memory(path)
        converter(tmp)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

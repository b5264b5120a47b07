"""Prints the vexmora library's speed and memory against the floor and the peers.

All figures are measured side by side in one run, on the synthetic hydrogen
chain of ``bench_read.py`` (N atoms, N basis functions; N = 2000 by default,
a 46 MiB checkpoint) and on copies of a real checkpoint:

* ``load+arrays``: ``vexmora.load`` and taking ``mo_coefficients_alpha``,
  ``mo_energies_alpha`` and ``densities["SCF"]``, against ``numpy.fromfile``
  of the same file (the floor) and against IOData's and cclib's loading of the
  ``.fchk`` that Vexmora writes for it (when installed);
* ``ChkReader_``: constructing the specified reader, against the floor;
* ``load+metadata``: ``vexmora.load`` and the symbols, charge and energies of a
  synthetic checkpoint of about 1 GiB (no large record needed);
* ``convert -j 2`` against ``-j 1`` over 200 copies of a real checkpoint;
* the peak memory of a load and the three arrays, against the file's size plus
  the results.

Every repetition loads afresh; times are the best of 5. The timings run twice,
in this process and in a child whose allocator keeps freed memory
(``MALLOC_TRIM_THRESHOLD_``, ``MALLOC_TOP_PAD_``), to show how much fresh pages
from the kernel cost; the minor page faults of one load are printed with them.

Run it with the interpreter Vexmora is installed in:
``python bench/bench_library.py [N] [--no-convert] [--no-big]``.
"""
from __future__ import annotations

import os
import resource
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
from chkbuilder import ints  # noqa: E402

REPEAT = 5
KEEP_MEMORY = {"MALLOC_TRIM_THRESHOLD_": "1000000000", "MALLOC_TOP_PAD_": "200000000"}


def load_and_take(path: str) -> None:
    c = vexmora.load(path)
    c.mo_coefficients_alpha, c.mo_energies_alpha, c.densities["SCF"]


def page_faults(fn: Callable[[], object]) -> int:
    """Minor page faults of one run of ``fn`` (after a first, warming run)."""
    fn()
    before = resource.getrusage(resource.RUSAGE_SELF).ru_minflt
    fn()
    return resource.getrusage(resource.RUSAGE_SELF).ru_minflt - before


def big_checkpoint(path: str, gib: float = 1.0) -> str:
    """A hydrogen chain of about ``gib`` GiB whose orbitals and density (1.5 n^2
    words, zeros) are written a block at a time after the records of the builder."""
    n = int((gib * 2**30 / 12) ** 0.5)
    records = [(label, data) for label, data, _ in hydrogen_chain(n, orbitals=False).records]
    head = ints([1 << 32])  # the density's selection word: SCF only
    big = [(522, n), (524, n * n), (603, 1 + n * (n + 1) // 2)]
    labels = [r[0] for r in records] + [b[0] for b in big]
    sizes = [len(d) // 8 for _, d in records] + [w for _, w in big]
    pos, directory = 4 + 4 * len(sizes), []
    for label, w in zip(labels, sizes):
        directory += [label, pos, pos + w, 0]
        pos += w
    block = bytes(8 * 2**20)
    with open(path, "wb") as f:
        f.write(ints([len(sizes), pos, 0, 0]) + ints(directory))
        for _, data in records:
            f.write(data)
        for label, w in big:
            left = w
            if label == 603:
                f.write(head)
                left -= 1
            while left > 0:
                k = min(left, 2**20)
                f.write(block[: 8 * k])
                left -= k
    return path


def load_metadata(path: str) -> None:
    c = vexmora.load(path)
    c.symbols, c.charge, c.scf_energy, c.total_energy


def peer(name: str, fn: Callable[[], object]) -> Optional[float]:
    """The best of 3 runs of a peer, seconds, or None when it is not installed."""
    try:
        return best_of(fn, 3)
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
mo, e, d = c.mo_coefficients_alpha, c.mo_energies_alpha, c.densities["SCF"]
print(rss() - base, mo.nbytes + e.nbytes + d.nbytes)
"""


FLOOR_PROBE = """
import sys, time
import numpy
best = float("inf")
for _ in range(int(sys.argv[2])):
    t0 = time.perf_counter()
    numpy.fromfile(sys.argv[1], dtype=numpy.uint8)
    best = min(best, time.perf_counter() - t0)
print(best)
"""


def memory(path: str) -> None:
    done = subprocess.run([sys.executable, "-c", MEMORY_PROBE, path], capture_output=True,
                          text=True, check=True)
    peak, held = (int(x) for x in done.stdout.split())
    size = os.path.getsize(path)
    print(f"peak memory of load + 3 arrays: {peak / 2**20:.1f} MiB; file {size / 2**20:.1f} MiB "
          f"+ results {held / 2**20:.1f} MiB: ratio {peak / (size + held):.2f} (goal <= 1.10)")


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


def best_of_each(fns: Sequence[Callable[[], object]], repeat: int) -> List[float]:
    """The shortest of ``repeat`` runs of each, in seconds, the runs taking turns
    so that a busy moment of the machine hits all alike."""
    best = [float("inf")] * len(fns)
    for _ in range(repeat):
        for i, fn in enumerate(fns):
            best[i] = min(best[i], best_of(fn, 1))
    return best


def timings(path: str) -> float:
    """Prints the load against the floor; returns the load + 3 arrays, seconds.

    The floor is the best of NumPy here and NumPy alone in a fresh process:
    whether its array comes from memory this process freed or from the kernel
    depends on what the reader did before."""
    fromfile = lambda: np.fromfile(path, dtype=np.uint8)  # noqa: E731
    alone = float(subprocess.run([sys.executable, "-c", FLOOR_PROBE, path, str(REPEAT)],
                                 capture_output=True, text=True, check=True).stdout)
    floor, ours, specified = best_of_each([fromfile, lambda: load_and_take(path),
                                           lambda: Vexmora_.ChkReader_(path)], REPEAT)
    floor = min(alone, floor)
    faults = [page_faults(f) for f in (lambda: np.fromfile(path, dtype=np.uint8),
                                       lambda: load_and_take(path), lambda: Vexmora_.ChkReader_(path))]
    print(f"  numpy.fromfile (floor):     {1000 * floor:8.1f} ms  {faults[0]:6d} page faults")
    print(f"  vexmora load + 3 arrays:    {1000 * ours:8.1f} ms  {faults[1]:6d} page faults  "
          f"= {ours / floor:.2f} x floor (goal <= 2)")
    print(f"  ChkReader_ construction:    {1000 * specified:8.1f} ms  {faults[2]:6d} page faults  "
          f"= {specified / floor:.2f} x floor (goal <= 1.3)", flush=True)
    return ours


def main(argv: Sequence[str]) -> int:
    if argv and argv[0] == "--timings":  # the child with the allocator settings
        timings(argv[1])
        return 0
    numbers = [a for a in argv if not a.startswith("--")]
    n = int(numbers[0]) if numbers else 2000
    with tempfile.TemporaryDirectory() as tmp:
        path = hydrogen_chain(n).write(os.path.join(tmp, f"h{n}.chk"))
        fchk = os.path.join(tmp, f"h{n}.fchk")
        vexmora.load(path).write_fchk(fchk)
        size = os.path.getsize(path)
        print(f"synthetic H{n} chain: {size / 2**20:.1f} MiB, {n} basis functions; best of {REPEAT}")
        print("this process:")
        ours = timings(path)
        print("allocator keeping freed memory (" +
              " ".join(f"{k}={v}" for k, v in KEEP_MEMORY.items()) + "):", flush=True)
        subprocess.run([sys.executable, __file__, "--timings", path],
                       env={**os.environ, **KEEP_MEMORY}, check=True)
        for name, fn in (("IOData load_one", iodata_load), ("cclib ccread", cclib_load)):
            t = peer(name, lambda: fn(fchk))
            if t is None:
                print(f"{name + ' of our .fchk:':30s} not installed")
            else:
                print(f"{name + ' of our .fchk:':30s}{1000 * t:8.1f} ms  = vexmora x {t / ours:.0f}"
                      + (" (goal >= 100)" if name.startswith("IOData") else ""))
        memory(path)
        if "--no-big" not in argv:
            big = big_checkpoint(os.path.join(tmp, "big.chk"))
            meta = best_of(lambda: load_metadata(big), REPEAT)
            print(f"load + metadata of a {os.path.getsize(big) / 2**30:.2f} GiB checkpoint: "
                  f"{1000 * meta:.1f} ms (goal <= 20)")
            os.remove(big)
        if "--no-convert" not in argv:
            converter(tmp)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

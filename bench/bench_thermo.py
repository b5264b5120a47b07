"""Prints the speed of ``vexmora thermo`` against GoodVibes on the same jobs.

Side by side in one run: the thermochemistry (Grimme's quasi-harmonic entropy,
298.15 K, 1 atm) of N copies of the shared HO2 frequency job (N = 200 by
default), read from the checkpoints by ``vexmora thermo -j 2`` and ``-j 1``,
and from the logs by GoodVibes (``goodvibes -v 1.0``, when installed); and the
point groups of random clusters of 100 and 1000 atoms. Run it with the interpreter
Vexmora is installed in: ``python bench/bench_thermo.py [N]``.
"""
from __future__ import annotations

import os
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path
from typing import List

import numpy as np

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import vexmora  # noqa: E402
from bench_read import TESTDATA  # noqa: E402

STEM = "g16-ho2-ub2plyp-ccpvtz-freq"


def seconds(argv: List[str], cwd: str) -> float:
    t0 = time.perf_counter()
    subprocess.run(argv, cwd=cwd, check=True, capture_output=True)
    return time.perf_counter() - t0


def main() -> None:
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 200
    data = Path(os.environ.get("VEXMORA_TESTDATA") or TESTDATA)
    if not (data / f"{STEM}.chk").exists():
        sys.exit(f"needs {STEM}.chk and .log in {data}")
    goodvibes = shutil.which("goodvibes", path=str(Path(sys.executable).parent)) or shutil.which("goodvibes")
    with tempfile.TemporaryDirectory() as tmp:
        for k in range(n):
            for ext in (".chk", ".log"):
                shutil.copy(data / f"{STEM}{ext}", Path(tmp) / f"m{k:04d}{ext}")
        chks = sorted(str(p) for p in Path(tmp).glob("*.chk"))
        ours = {j: seconds([sys.executable, "-m", "vexmora", "thermo", "-j", str(j), *chks], tmp) for j in (1, 2)}
        print(f"vexmora thermo, {n} checkpoints: -j 1 {ours[1]:.2f} s, -j 2 {ours[2]:.2f} s "
              f"(ratio {ours[1] / ours[2]:.2f})")
        if goodvibes is not None:
            logs = sorted(p.name for p in Path(tmp).glob("*.log"))
            theirs = seconds([goodvibes, "-v", "1.0", *logs], tmp)
            print(f"goodvibes -v 1.0, {n} logs: {theirs:.2f} s; vexmora -j 1 is {theirs / ours[1]:.1f} times faster")
    rng = np.random.default_rng(0)
    for atoms in (100, 1000):
        cluster = rng.normal(size=(atoms, 3)) * atoms ** (1 / 3)
        t0 = time.perf_counter()
        vexmora.point_group(rng.integers(1, 9, atoms), cluster)
        print(f"point group of {atoms} random atoms: {time.perf_counter() - t0:.4f} s")


if __name__ == "__main__":
    main()

"""Prints how fast Vexmora reads checkpoints and writes formatted ones.

For a synthetic checkpoint of a chain of hydrogen atoms (one s function each,
so N atoms give N basis functions, an N x N orbital matrix and an N(N+1)/2
density) and for every real checkpoint in ../shared/testdata, it times:

* ``read``:  opening the checkpoint and reading everything (the constructor);
* ``props``: taking the orbitals, the density and the coordinates into Python;
* ``fchk``:  writing the formatted checkpoint;
* ``text``:  the text route, parsing that formatted checkpoint back into floats
  with plain Python (what a reader of .fchk files must do at the least).

It also prints the peak resident memory of the process. Run it with the
interpreter Vexmora is installed in:  python bench/bench_read.py [N ...]
"""
from __future__ import annotations

import gc
import os
import resource
import sys
import tempfile
import time
from pathlib import Path
from typing import Callable, Dict, List, Sequence

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tests"))

import Vexmora_  # noqa: E402
from chkbuilder import (  # noqa: E402
    H1S_COEFS, H1S_EXPS, ChkBuilder, Shell, basis, densities, general, job, labels,
    mol, raw_coefs, reals, switches, text)

TESTDATA = HERE.parents[1] / "shared" / "testdata"


def hydrogen_chain(n: int, orbitals: bool = True) -> ChkBuilder:
    """An RHF/STO-3G-like checkpoint of ``n`` hydrogen atoms 1.4 Bohr apart;
    without ``orbitals``, also without the orbitals and the density."""
    xyz = [(0.0, 0.0, 1.4 * i) for i in range(n)]
    stored = raw_coefs(H1S_COEFS, H1S_EXPS, 0)
    shells = [Shell(atom=i + 1, T=0, exps=H1S_EXPS, coefs={0: stored}, centre=xyz[i])
              for i in range(n)]
    b = ChkBuilder()
    b.add(998, switches())
    b.add(501, general({0: 2.0, 31: -0.5 * n, 42: -0.5 * n}))
    b.add(502, labels(f"H{n} chain", "#p HF/STO-3G", []))
    b.add(993, job([0] * 9, "HF", "STO-3G"))
    b.add(801, text("ES64L-G16RevA.03"))
    b.add(997, mol([1] * n, xyz, nbasis=n, nae=n // 2, nbe=n // 2))
    b.add(670, basis(shells))
    if not orbitals:
        return b
    b.add(522, reals([0.001 * k - 0.5 for k in range(n)]))
    b.add(524, reals([((7 * k) % 101 - 50) / 97.0 for k in range(n * n)]))
    b.add(603, densities(1, [((3 * k) % 53 - 26) / 61.0 for k in range(n * (n + 1) // 2)]))
    return b


def best_of(fn: Callable[[], object], repeat: int) -> float:
    """The shortest of ``repeat`` runs, in seconds."""
    best = float("inf")
    for _ in range(repeat):
        gc.collect()
        t0 = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - t0)
    return best


def parse_fchk_numbers(path: str) -> int:
    """The text route: every number of every array section as a Python value."""
    count = 0
    with open(path, "r") as fh:
        for line in fh:
            if line[:1] == " " or line[:1] == "-":
                for tok in line.split():
                    float(tok.replace("D", "E"))
                    count += 1
    return count


def bench(chk: str, out_dir: str, repeat: int) -> Dict[str, float]:
    """Times of the four steps for one checkpoint, in milliseconds."""
    fchk = os.path.join(out_dir, Path(chk).stem + ".fchk")
    reader = Vexmora_.ChkReader_(chk)

    def props() -> None:
        m = reader.params.mol
        m.amocoeff, m.aoene, m.coords, m.totdens, m.primexp

    times = {
        "read": best_of(lambda: Vexmora_.ChkReader_(chk), repeat),
        "props": best_of(props, repeat),
        "fchk": best_of(lambda: reader.write_fchk(fname=fchk), repeat),
        "text": best_of(lambda: parse_fchk_numbers(fchk), repeat),
    }
    return {k: 1000.0 * v for k, v in times.items()}


def row(name: str, size: int, t: Dict[str, float]) -> str:
    ratio = t["text"] / max(t["read"] + t["props"], 1e-9)
    return (f"{name:40s} {size / 2**20:8.2f} {t['read']:9.2f} {t['props']:9.2f} "
            f"{t['fchk']:9.2f} {t['text']:9.2f} {ratio:8.1f}")


def main(argv: Sequence[str]) -> int:
    sizes: List[int] = [int(a) for a in argv] or [100, 500, 1500]
    print(f"Vexmora_ from {Vexmora_.__file__}")
    print(f"{'checkpoint':40s} {'MiB':>8s} {'read ms':>9s} {'props ms':>9s} "
          f"{'fchk ms':>9s} {'text ms':>9s} {'text/ours':>8s}")
    with tempfile.TemporaryDirectory() as tmp:
        for n in sizes:
            path = hydrogen_chain(n).write(os.path.join(tmp, f"h{n}.chk"))
            t = bench(path, tmp, repeat=3 if n <= 500 else 1)
            print(row(f"synthetic H{n} chain", os.path.getsize(path), t))
        if TESTDATA.is_dir():
            for chk in sorted(TESTDATA.glob("*.chk")):
                if "-broken-" in chk.name:
                    continue
                t = bench(str(chk), tmp, repeat=5)
                print(row(chk.name, chk.stat().st_size, t))
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024.0
    print(f"peak resident memory: {peak:.1f} MiB")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

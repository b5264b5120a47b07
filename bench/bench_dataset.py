"""Prints the speed and memory of ``vexmora.write_dataset`` (the ``dataset`` command).

Side by side in one run:
- for each shared job with a log, the rows per second of the table written from N
  copies of its checkpoint (N = 200 by default) with one and two threads (``-j 1``,
  ``-j 2``), against cclib's ``ccframe`` over copies of the same job's log (parse with
  ``ccread``, then one pandas frame; when cclib is installed), and the ratio per job;
- the rows per second for the builder's checkpoints (the H2 job, and a frequency job
  whose rows hold the thermochemistry);
- the peak memory (maximum resident set) of a child that writes 1 000 and 20 000
  rows of builder files: flat when the rows stream out in row groups.

Run it with the interpreter Vexmora is installed in (with pyarrow):
``python bench/bench_dataset.py [N]``.
"""
from __future__ import annotations

import os
import subprocess
import sys
import tempfile
import time
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path
from typing import List, Optional

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tests"))

import vexmora  # noqa: E402
from chkbuilder import h2_job  # noqa: E402

TESTDATA = Path(os.environ.get("VEXMORA_TESTDATA") or HERE.parents[1] / "shared" / "testdata")
REPEATS = 3

MEMORY_CHILD = r"""
import resource, sys, tempfile, os, vexmora
from concurrent.futures import ThreadPoolExecutor
paths = sys.argv[2:] * int(sys.argv[1])
with tempfile.TemporaryDirectory() as tmp, ThreadPoolExecutor(2) as pool:
    vexmora.write_dataset(paths, os.path.join(tmp, "t.parquet"), executor=pool)
print(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss)
"""


def rows_per_second(paths: List[str], jobs: int, out: str) -> float:
    """Best of REPEATS: rows of ``paths`` written to ``out`` per second on ``jobs`` threads."""
    best = float("inf")
    for _ in range(REPEATS):
        with ThreadPoolExecutor(jobs) as pool:
            t0 = time.perf_counter()
            result = vexmora.write_dataset(paths, out, executor=pool)
            best = min(best, time.perf_counter() - t0)
        assert result.rows == len(paths)
    return len(paths) / best


def ccframe_rows_per_second(log: Path, n: int) -> Optional[float]:
    """cclib: ``ccread`` of ``n`` copies of ``log``, then ``ccframe`` of them, rows per second."""
    try:
        from cclib.io import ccframe, ccread
    except ImportError:
        return None
    t0 = time.perf_counter()
    frame = ccframe([ccread(str(log)) for _ in range(n)])
    assert len(frame) == n
    return n / (time.perf_counter() - t0)


def builder_files(tmp: Path) -> List[str]:
    files = [str(h2_job(tmp))]
    try:  # the tests' frequency job: masses, so the rows hold the thermochemistry
        from test_vibrations import job

        files.append(job().write(tmp / "freq.chk"))
    except ImportError:
        pass
    return files


def main() -> None:
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 200
    logged = [c for c in sorted(TESTDATA.glob("*.chk")) if c.with_suffix(".log").exists()]
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "t.parquet")
        print(f"rows per second, {n} rows a job (best of {REPEATS}); cclib's ccframe over "
              f"{max(2, n // 40)} copies of the log")
        print(f"{'job':<34}{'-j 1':>10}{'-j 2':>10}{'ccframe':>10}{'-j 1 / ccframe':>16}")
        for chk in logged:
            ours = {j: rows_per_second([str(chk)] * n, j, out) for j in (1, 2)}
            theirs = ccframe_rows_per_second(chk.with_suffix(".log"), max(2, n // 40))
            ratio = f"{ours[1] / theirs:.0f}x" if theirs else "-"
            print(f"{chk.stem:<34}{ours[1]:>10.0f}{ours[2]:>10.0f}{theirs or 0:>10.1f}{ratio:>16}")
        if not logged:
            print(f"(no shared checkpoints with logs in {TESTDATA})")
        files = builder_files(Path(tmp))
        for f in files:
            ours = {j: rows_per_second([f] * (5 * n), j, out) for j in (1, 2)}
            print(f"{'builder ' + Path(f).stem:<34}{ours[1]:>10.0f}{ours[2]:>10.0f}")
        print("peak memory of a child writing builder rows (-j 2):")
        for rows in (1000, 20000):
            run = subprocess.run([sys.executable, "-c", MEMORY_CHILD, str(rows // len(files)), *files],
                                 capture_output=True, text=True, check=True)
            print(f"  {rows:>6} rows: {int(run.stdout.split()[-1]) / 1024:.1f} MiB")


if __name__ == "__main__":
    main()

"""Prints the speed and memory of ``vexmora.write_dataset`` (the ``dataset`` command).

Side by side in one run:
- for each shared job with a log, the rows per second of the table written from N
  copies of its checkpoint (N = 1000 by default) as ``-j 1`` (in the calling thread)
  and ``-j 2`` (two threads) read them, against cclib's ``ccframe`` over copies of the same job's log (parse with
  ``ccread``, then one pandas frame; when cclib is installed), and the ratio per job;
- the rows per second for the builder's checkpoints (the H2 job, and a frequency job
  whose rows hold the thermochemistry);
- the resident memory of a child that writes 1 000 and 20 000 rows of builder files
  (after its imports, and the most seen while writing): flat when the rows stream
  out in row groups.

Run it with the interpreter Vexmora is installed in (with pyarrow):
``python bench/bench_dataset.py [N]``.
"""
from __future__ import annotations

import logging
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
from vexmora._dataset import SerialExecutor  # noqa: E402

TESTDATA = Path(os.environ.get("VEXMORA_TESTDATA") or HERE.parents[1] / "shared" / "testdata")
REPEATS = 3

# Prints the resident set after the imports and the largest seen while writing
# (sampled as the rows come), in pages.
MEMORY_CHILD = r"""
import sys, tempfile, os, vexmora, pyarrow.parquet
from concurrent.futures import ThreadPoolExecutor
paths = sys.argv[2:] * int(sys.argv[1])
def resident():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1])
seen = [0, resident()]
def progress(n):
    seen[0] += n
    seen.append(resident())
with tempfile.TemporaryDirectory() as tmp, ThreadPoolExecutor(2) as pool:
    vexmora.write_dataset(paths, os.path.join(tmp, "t.parquet"), executor=pool, progress=progress)
print(seen[1], max(seen[1:] + [resident()]))
"""


def rows_per_second(paths: List[str], jobs: int, out: str) -> float:
    """Best of REPEATS: rows of ``paths`` written to ``out`` per second on ``jobs`` threads."""
    best = float("inf")
    for _ in range(REPEATS):
        with ThreadPoolExecutor(jobs) if jobs > 1 else SerialExecutor() as pool:  # as the command
            t0 = time.perf_counter()
            result = vexmora.write_dataset(paths, out, executor=pool)
            best = min(best, time.perf_counter() - t0)
        assert result.rows == len(paths)
    return len(paths) / best


def ccframe_rows_per_second(log: Path, n: int) -> Optional[float]:
    """cclib: ``ccread`` of ``log`` ``n`` times, then ``ccframe`` of them, rows per second
    (best of REPEATS)."""
    try:
        from cclib.io import ccframe, ccread
    except ImportError:
        return None
    best = float("inf")
    for _ in range(REPEATS):
        t0 = time.perf_counter()
        frame = ccframe([ccread(str(log), loglevel=logging.ERROR) for _ in range(n)])
        best = min(best, time.perf_counter() - t0)
    assert len(frame) == n
    return n / best


def builder_files(tmp: Path) -> List[str]:
    files = [str(h2_job(tmp))]
    try:  # the tests' frequency job: masses, so the rows hold the thermochemistry
        from test_vibrations import job

        files.append(job().write(tmp / "freq.chk"))
    except ImportError:
        pass
    return files


def main() -> None:
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 1000
    logged = [c for c in sorted(TESTDATA.glob("*.chk")) if c.with_suffix(".log").exists()]
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "t.parquet")
        print(f"rows per second, {n} rows a job (best of {REPEATS}); cclib's ccframe over the log "
              f"read {max(2, n // 40)} times")
        print(f"{'job':<34}{'-j 1':>10}{'-j 2':>10}{'ccframe':>10}{'-j 1 / ccframe':>16}{'-j 2 / ccframe':>16}")
        for chk in logged:
            ours = {j: rows_per_second([str(chk)] * n, j, out) for j in (1, 2)}
            theirs = ccframe_rows_per_second(chk.with_suffix(".log"), max(2, n // 40))
            ratios = [f"{ours[j] / theirs:.0f}x" if theirs else "-" for j in (1, 2)]
            print(f"{chk.stem:<34}{ours[1]:>10.0f}{ours[2]:>10.0f}{theirs or 0:>10.1f}{ratios[0]:>16}{ratios[1]:>16}")
        if not logged:
            print(f"(no shared checkpoints with logs in {TESTDATA})")
        files = builder_files(Path(tmp))
        for f in files:
            ours = {j: rows_per_second([f] * (5 * n), j, out) for j in (1, 2)}
            print(f"{'builder ' + Path(f).stem:<34}{ours[1]:>10.0f}{ours[2]:>10.0f}")
        print("memory of a child writing builder rows (-j 2):")
        for rows in (1000, 20000):
            run = subprocess.run([sys.executable, "-c", MEMORY_CHILD, str(rows // len(files)), *files],
                                 capture_output=True, text=True, check=True)
            imports, peak = (int(k) * os.sysconf("SC_PAGE_SIZE") / 2 ** 20 for k in run.stdout.split()[-2:])
            print(f"  {rows:>6} rows: {peak:.1f} MiB resident at most, {imports:.1f} MiB after the imports")


if __name__ == "__main__":
    main()

"""Writers on a full disk without privileges: RLIMIT_FSIZE with SIGXFSZ ignored
(EFBIG) and /dev/full (ENOSPC). A failing call raises with the path and reason
(Vexmora_: RuntimeError with its report; vexmora: WriteError, an OSError with
the errno), leaves an existing target as it was and no temporary file; a new
file gets the umask's mode."""
from __future__ import annotations

import errno
import json
import os
import subprocess
import sys
from pathlib import Path

import pytest

from chkbuilder import h2, mol


# Runs in a child, so that the limit and the umask stay there. Reads a list of
# [binding, writer, checkpoint, target, size limit or null]; prints, for each,
# null or the error's class, errno and first line.
CHILD = r"""
import json, os, resource, signal, sys, Vexmora_, vexmora
signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
os.umask(0o027)
hard = resource.getrlimit(resource.RLIMIT_FSIZE)[1]
jobs, out = json.load(sys.stdin), []
os.close(0)  # as for a daemon: each output is opened as descriptor 0
for binding, writer, chk, target, limit in jobs:
    r = Vexmora_.ChkReader_(chk) if binding == "ChkReader_" else vexmora.load(chk)
    resource.setrlimit(resource.RLIMIT_FSIZE, (hard if limit is None else limit, hard))
    try:
        getattr(r, writer)(target)
        out.append(None)
    except (RuntimeError, OSError) as exc:
        out.append([type(exc).__name__, getattr(exc, "errno", None), str(exc).split("\n", 1)[0]])
    resource.setrlimit(resource.RLIMIT_FSIZE, (hard, hard))
print(json.dumps(out))
"""

OLD = b"the previous content\n" * 10
# Below every output: the .fchk (~8.7 kB) fails mid-way, the .gjf, .molden
# and .xyz (~2.6, 5 and 3 kB) at the final flush.
LIMIT = 1024
CASES = [(binding, writer, target, limit)
         for binding, writers in (("ChkReader_", ("fchk", "gjf")),
                                  ("vexmora.load", ("fchk", "gjf", "molden", "xyz")))
         for writer in writers
         for target, limit in (("new", LIMIT), ("existing", LIMIT), ("/dev/full", None), ("new", None))]


def test_writers_on_a_full_disk(tmp_path: Path) -> None:
    n = 60  # enough atoms that both outputs exceed the limit
    chk = h2().replace(997, mol([6] * n, [(0.0, 0.0, 1.5 * i) for i in range(n)],
                                nae=3 * n, nbe=3 * n)).write(tmp_path / "job.chk")
    jobs = []
    for k, (binding, writer, target, limit) in enumerate(CASES):
        path = tmp_path / f"case{k}" / f"out.{writer}"
        path.parent.mkdir()
        if target == "existing":
            path.write_bytes(OLD)
        jobs.append([binding, "write_" + writer, chk, target if target == "/dev/full" else str(path),
                     limit])
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    # Run from tmp_path: the source folder vexmora/ must not shadow the package.
    run = subprocess.run([sys.executable, "-c", CHILD], input=json.dumps(jobs), env=env,
                         cwd=tmp_path, capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, run.stderr
    results = json.loads(run.stdout.strip().splitlines()[-1])
    for k, ((binding, writer, target, limit), job, got) in enumerate(zip(CASES, jobs, results)):
        path, left = Path(job[3]), os.listdir(tmp_path / f"case{k}")
        if target == "new" and limit is None:
            assert got is None and left == [path.name], job
            assert path.stat().st_mode & 0o777 == 0o640, job  # 0666 less the umask 027
            continue
        code = errno.ENOSPC if target == "/dev/full" else errno.EFBIG
        if binding == "ChkReader_":
            assert got == ["RuntimeError", None, f"Error: Can not write file: {path}: {os.strerror(code)}"]
        else:
            assert got == ["WriteError", code, f"{path}: {os.strerror(code)}"], job
        assert left == (["out." + writer] if target == "existing" else []), job
        if target == "existing":
            assert path.read_bytes() == OLD, job

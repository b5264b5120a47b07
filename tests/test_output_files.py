"""Writers on a full disk without privileges: RLIMIT_FSIZE with SIGXFSZ ignored
(EFBIG) and /dev/full (ENOSPC). A failing call raises with the path and reason,
leaves an existing target as it was and no temporary file; a new file gets the umask's mode."""
from __future__ import annotations

import errno
import json
import os
import subprocess
import sys
from pathlib import Path

import pytest

from chkbuilder import h2, mol

pytest.importorskip("Vexmora_")
pytest.importorskip("vexmora")

# Runs in a child, so that the limit and the umask stay there. Reads a list of
# [binding, writer, checkpoint, target, size limit or null]; prints, for each,
# the first line of the error or null.
CHILD = r"""
import json, os, resource, signal, sys
import Vexmora_, vexmora
signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
os.umask(0o027)
hard = resource.getrlimit(resource.RLIMIT_FSIZE)[1]
out = []
for binding, writer, chk, target, limit in json.load(sys.stdin):
    r = Vexmora_.ChkReader_(chk) if binding == "ChkReader_" else vexmora.load(chk)
    resource.setrlimit(resource.RLIMIT_FSIZE, (hard if limit is None else limit, hard))
    try:
        getattr(r, writer)(target)
        out.append(None)
    except RuntimeError as exc:
        out.append(str(exc).split("\n", 1)[0])
    resource.setrlimit(resource.RLIMIT_FSIZE, (hard, hard))
print(json.dumps(out))
"""

OLD = b"the previous content\n" * 10
# Below every output: the .fchk (~8.7 kB) fails mid-way, the .gjf, .molden
# and .xyz (~2.6, 5 and 3 kB) at the final flush.
LIMIT = 1024
CASES = [(binding, writer, target, limit)
         for binding in ("ChkReader_", "vexmora.load")
         for writer in ("write_fchk", "write_gjf") + (("write_molden", "write_xyz")
                                                     if binding == "vexmora.load" else ())
         for target, limit in (("new", LIMIT), ("existing", LIMIT), ("/dev/full", None),
                               ("new", None))]


def test_writers_on_a_full_disk(tmp_path: Path) -> None:
    n = 60  # enough atoms that both outputs exceed the limit
    chk = h2().replace(997, mol([6] * n, [(0.0, 0.0, 1.5 * i) for i in range(n)],
                                nae=3 * n, nbe=3 * n)).write(tmp_path / "job.chk")
    targets = [target if target == "/dev/full" else str(tmp_path / f"case{k}" / f"out.{w[6:]}")
               for k, (_, w, target, _) in enumerate(CASES)]
    for (_, _, target, _), path in zip(CASES, targets):
        if target != "/dev/full":
            os.mkdir(os.path.dirname(path))
        if target == "existing":
            Path(path).write_bytes(OLD)
    jobs = [[binding, writer, chk, path, limit] for (binding, writer, _, limit), path in zip(CASES, targets)]
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    # Run from tmp_path: the source folder vexmora/ must not shadow the package.
    run = subprocess.run([sys.executable, "-c", CHILD], input=json.dumps(jobs), env=env,
                         cwd=tmp_path, capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, run.stderr
    results = json.loads(run.stdout.strip().splitlines()[-1])
    for case, path, got in zip(CASES, targets, results):
        writer, target, limit = case[1:]
        if target == "new" and limit is None:
            assert got is None, case
            assert os.stat(path).st_mode & 0o777 == 0o640, case  # 0666 less the umask 027
            assert os.listdir(os.path.dirname(path)) == [os.path.basename(path)], case
            continue
        code = errno.ENOSPC if target == "/dev/full" else errno.EFBIG
        assert got == f"Error: Can not write file: {path}: {os.strerror(code)}", case
        if target != "/dev/full":
            left = os.listdir(os.path.dirname(path))
            assert left == (["out." + writer[6:]] if target == "existing" else []), case
        if target == "existing":
            assert Path(path).read_bytes() == OLD, case

"""Prints how fast Vexmora writes a Molden file, against IOData's writer.

On the synthetic hydrogen chain of ``bench_read.py`` (N atoms, N basis
functions, an N x N orbital matrix; N = 2000 by default), measured side by
side in one run:

* ``vexmora``: ``Checkpoint.write_molden`` (best of three);
* ``iodata``: ``iodata.dump_one`` of the same data to ``.molden``, the data
  taken from ``Checkpoint.to_iodata`` beforehand (one run; it is slow).

Needs qc-iodata (Python 3.10 or later) for the comparison. Run it with the
interpreter Vexmora is installed in:  python bench/bench_molden.py [N]
"""
from __future__ import annotations

import os
import sys
import tempfile
import time
from pathlib import Path
from typing import Sequence

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import vexmora  # noqa: E402
from bench_read import best_of, hydrogen_chain  # noqa: E402


def main(argv: Sequence[str]) -> int:
    n = int(argv[0]) if argv else 2000
    print(f"vexmora from {vexmora.__file__}")
    with tempfile.TemporaryDirectory() as tmp:
        ckpt = vexmora.load(hydrogen_chain(n).write(os.path.join(tmp, f"h{n}.chk")))
        ours = os.path.join(tmp, "ours.molden")
        t_ours = best_of(lambda: ckpt.write_molden(ours), 3)
        print(f"H{n} chain, {n} basis functions")
        print(f"  vexmora write_molden {1000 * t_ours:10.1f} ms  "
              f"({os.path.getsize(ours) / 2**20:.1f} MiB)")
        try:
            import iodata
        except ImportError:
            print("  iodata not installed: no comparison")
            return 0
        data = ckpt.to_iodata()
        theirs = os.path.join(tmp, "iodata.molden")
        t0 = time.perf_counter()
        iodata.dump_one(data, theirs)
        t_theirs = time.perf_counter() - t0
        print(f"  iodata dump_one      {1000 * t_theirs:10.1f} ms  "
              f"({os.path.getsize(theirs) / 2**20:.1f} MiB)")
        print(f"  ratio iodata/vexmora {t_theirs / t_ours:10.1f} x")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

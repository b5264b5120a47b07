"""Prints how fast Vexmora hands a checkpoint to PySCF, against PySCF's Molden reader.

On the synthetic hydrogen chain of ``bench_read.py`` (N atoms, N basis
functions, an N x N orbital matrix; N = 2000 by default), measured side by
side in one run:

* ``vexmora``: ``Checkpoint.to_pyscf()`` of a freshly loaded checkpoint (the
  orbitals read from the file included), best of three;
* ``molden``: ``pyscf.tools.molden.load`` of our Molden file of the same
  checkpoint (written beforehand), and the same mean-field object built from
  what it returns; one run, as it is slow.

Needs PySCF. Run it with the interpreter Vexmora is installed in:
python bench/bench_pyscf.py [N]
"""
from __future__ import annotations

import os
import sys
import tempfile
import time
from pathlib import Path
from typing import Any, Sequence

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import vexmora  # noqa: E402
from bench_read import best_of, hydrogen_chain  # noqa: E402


def from_molden(path: str) -> Any:
    from pyscf import scf
    from pyscf.tools import molden

    mol, mo_energy, mo_coeff, mo_occ, _, _ = molden.load(path)
    mf = scf.RHF(mol)
    mf.mo_energy, mf.mo_coeff, mf.mo_occ = mo_energy, mo_coeff, mo_occ
    return mf


def main(argv: Sequence[str]) -> int:
    n = int(argv[0]) if argv else 2000
    print(f"vexmora from {vexmora.__file__}")
    try:
        import pyscf
    except ImportError:
        print("PySCF is not installed: nothing to compare")
        return 0
    print(f"pyscf {pyscf.__version__}")
    with tempfile.TemporaryDirectory() as tmp:
        chk = hydrogen_chain(n).write(os.path.join(tmp, f"h{n}.chk"))
        vexmora.load(chk).to_pyscf()  # PySCF's imports, once
        t_ours = best_of(lambda: vexmora.load(chk).to_pyscf(), 3)
        print(f"H{n} chain, {n} basis functions")
        print(f"  vexmora load + to_pyscf {1000 * t_ours:10.1f} ms")
        path = os.path.join(tmp, "h.molden")
        vexmora.load(chk).write_molden(path)
        t0 = time.perf_counter()
        from_molden(path)
        t_theirs = time.perf_counter() - t0
        print(f"  pyscf molden.load       {1000 * t_theirs:10.1f} ms  "
              f"({os.path.getsize(path) / 2**20:.1f} MiB Molden file)")
        print(f"  ratio molden/vexmora    {t_theirs / t_ours:10.1f} x")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

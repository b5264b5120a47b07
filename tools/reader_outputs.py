#!/usr/bin/env python3
"""Writes what the installed ``Vexmora_`` makes of many checkpoints into a folder,
so that two builds can be compared byte for byte (``diff -r``): for each input its
``.fchk`` and ``.gjf``, and in ``log.txt`` its parsed texts and arrays (a digest)
or its error, and each writer's error.

    python tools/reader_outputs.py OUT [FILE...]

Without files: the fuzz seeds (build/fuzz/seeds), the shared checkpoints, the
fuzz reproducers and the bundled example. Run it with each build's interpreter
into two folders, then ``diff -r`` them.
"""
from __future__ import annotations

import hashlib
import os
import sys
from pathlib import Path
from typing import List

import Vexmora_

ROOT = Path(__file__).resolve().parents[1]


def inputs() -> List[str]:
    found: List[str] = []
    for folder, pattern in ((ROOT / "build" / "fuzz" / "seeds", "*"), (ROOT.parent / "shared" / "testdata", "*.chk"),
                            (ROOT / "fuzz" / "reproducers", "*"), (ROOT / "examples", "*.chk")):
        found += sorted(str(p) for p in folder.glob(pattern))
    return found


def main() -> None:
    out = Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    files = sys.argv[2:] or inputs()
    with open(out / "log.txt", "w") as log:
        for i, f in enumerate(files):
            tag = f"{i:04d}"
            try:
                r = Vexmora_.ChkReader_(f)
                p, m = r.params, r.params.mol
                fields = [p.route, p.gauver, p.title, p.method, p.baset, p.jobtype, list(p.info1_9), m.natoms,
                          list(m.atomicnums), list(m.orblabels), list(m.aoene), m.nbasis, list(m.shelltypes)]
                log.write(f"{tag} {os.path.basename(f)} {hashlib.sha1(repr(fields).encode()).hexdigest()}\n")
                for kind, write in (("fchk", r.write_fchk), ("gjf", r.write_gjf)):
                    try:
                        write(str(out / f"{tag}.{kind}"))
                    except Exception as exc:
                        log.write(f"{tag} {kind}: {type(exc).__name__}: {exc}\n")
            except Exception as exc:
                log.write(f"{tag} {os.path.basename(f)}: {type(exc).__name__}: {exc}\n")
    print(f"{len(files)} inputs into {out}")


if __name__ == "__main__":
    main()

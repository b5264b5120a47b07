"""Command line: ``python -m vexmora CHK [-o OUT.fchk] [--gjf OUT.gjf]``.

Prints a summary of the checkpoint and writes the requested files.
"""
from __future__ import annotations

import argparse
import sys
from collections import Counter
from typing import List, Optional, Sequence

import Vexmora_


def formula(names: Sequence[str]) -> str:
    """Hill formula: C first, then H, then the other elements alphabetically."""
    counts = Counter(n for n in names)
    order: List[str] = []
    if "C" in counts:
        order += [e for e in ("C", "H") if e in counts]
    order += sorted(e for e in counts if e not in order)
    return "".join(e + (str(counts[e]) if counts[e] > 1 else "") for e in order)


def summary(reader: Vexmora_.ChkReader_) -> str:
    """A few lines describing what the checkpoint holds."""
    p = reader.params
    m = p.mol
    lines = [
        f"Title:        {p.title}",
        f"Route:        {p.route}",
        f"Program:      {p.gauver}",
        f"Job:          {p.jobtype} {p.method}/{p.baset}",
        f"Molecule:     {formula(m.names)} ({m.natoms} atoms), charge {m.totchg}, "
        f"multiplicity {m.multiplicity}",
        f"Electrons:    {m.ne} ({m.nae} alpha, {m.nbe} beta)",
        f"Basis:        {m.nbasis} functions, {len(m.shelltypes)} shells",
        f"SCF energy:   {p.scfene:.10f} Hartree",
        f"Total energy: {p.totene:.10f} Hartree",
    ]
    return "\n".join(lines)


def main(argv: Optional[Sequence[str]] = None) -> int:
    """Entry point; returns the process exit status."""
    parser = argparse.ArgumentParser(
        prog="vexmora", description="Read a Gaussian binary checkpoint (.chk)."
    )
    parser.add_argument("chk", help="the checkpoint file to read")
    parser.add_argument("-o", "--fchk", metavar="OUT.fchk", help="write a formatted checkpoint")
    parser.add_argument("--gjf", metavar="OUT.gjf", help="write a Gaussian input file")
    args = parser.parse_args(argv)
    try:
        reader = Vexmora_.ChkReader_(args.chk)
        print(summary(reader))
        if args.fchk:
            reader.write_fchk(args.fchk)
            print(f"Wrote {args.fchk}")
        if args.gjf:
            reader.write_gjf(args.gjf)
            print(f"Wrote {args.gjf}")
    except RuntimeError as exc:
        print(str(exc).splitlines()[0], file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())

"""``vexmora freq CHK [--json]``: the harmonic frequencies of a checkpoint's Hessian."""
from __future__ import annotations

import argparse
import json

from .checkpoint import Vibrations, load


def table(vib: Vibrations) -> str:
    """One line per mode (Gaussian's units and printed digits), then the zero-point energy."""
    lines = [f"{'Mode':>4} {'Frequency':>12} {'Red. mass':>10} {'Frc const':>10}",
             f"{'':>4} {'(cm^-1)':>12} {'(amu)':>10} {'(mDyne/A)':>10}"]
    for k, (f, m, c) in enumerate(zip(vib.frequencies, vib.reduced_masses, vib.force_constants)):
        lines.append(f"{k + 1:4d} {f:12.4f} {m:10.4f} {c:10.4f}")
    lines.append(f"Zero-point energy: {vib.zero_point_energy:.8f} Hartree")
    return "\n".join(lines)


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("file", help="a checkpoint holding a Hessian (a frequency job)")
    parser.add_argument("--json", action="store_true", help="one JSON object of the numbers")


def run(args: argparse.Namespace) -> int:
    vib = load(args.file).vibrations()
    if args.json:
        print(json.dumps({"frequencies": vib.frequencies.tolist(),
                          "reduced_masses": vib.reduced_masses.tolist(),
                          "force_constants": vib.force_constants.tolist(),
                          "zero_point_energy": vib.zero_point_energy}))
    else:
        print(table(vib))
    return 0


COMMAND = ("harmonic frequencies from the Hessian", add_arguments, run)

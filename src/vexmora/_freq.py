"""``vexmora freq CHK [--json] [--plot SPECTRUM.png|svg]``: the harmonic frequencies of a
checkpoint's Hessian, with IR intensities where it holds dipole derivatives."""
from __future__ import annotations

import argparse
import json

from .checkpoint import Vibrations, load


def table(vib: Vibrations) -> str:
    """One line per mode (Gaussian's units and printed digits), then the zero-point energy."""
    ir = vib.ir_intensities
    lines = [f"{'Mode':>4} {'Frequency':>12} {'Red. mass':>10} {'Frc const':>10}" + (f" {'IR Inten':>10}" if ir is not None else ""),
             f"{'':>4} {'(cm^-1)':>12} {'(amu)':>10} {'(mDyne/A)':>10}" + (f" {'(km/mol)':>10}" if ir is not None else "")]
    for k, (f, m, c) in enumerate(zip(vib.frequencies, vib.reduced_masses, vib.force_constants)):
        lines.append(f"{k + 1:4d} {f:12.4f} {m:10.4f} {c:10.4f}" + (f" {ir[k]:10.4f}" if ir is not None else ""))
    lines.append(f"Zero-point energy: {vib.zero_point_energy:.8f} Hartree")
    return "\n".join(lines)


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("file", help="a checkpoint holding a Hessian (a frequency job)")
    parser.add_argument("--json", action="store_true", help="one JSON object of the numbers")
    parser.add_argument("--plot", metavar="SPECTRUM.png|svg", help="draw the spectrum (needs matplotlib)")
    parser.add_argument("--kind", choices=("ir", "raman"), default="ir", help="the spectrum to draw (default ir)")
    parser.add_argument("--fwhm", type=float, default=10.0, help="line width, cm^-1 (default 10)")


def run(args: argparse.Namespace) -> int:
    vib = load(args.file).vibrations()
    if args.json:
        optional = {k: getattr(vib, k) for k in ("ir_intensities", "raman_activities", "depolarization_ratios")}
        print(json.dumps({"frequencies": vib.frequencies.tolist(),
                          "reduced_masses": vib.reduced_masses.tolist(),
                          "force_constants": vib.force_constants.tolist(),
                          "zero_point_energy": vib.zero_point_energy,
                          **{k: None if v is None else v.tolist() for k, v in optional.items()}}))
    else:
        print(table(vib))
    if args.plot:
        from ._plot import save

        save(vib, args.plot, args.file, args.kind, args.fwhm)
        print(f"Wrote {args.plot}")
    return 0


COMMAND = ("harmonic frequencies from the Hessian", add_arguments, run)

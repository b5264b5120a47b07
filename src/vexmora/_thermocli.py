"""``vexmora thermo PATH...``: a table of free energies, one row per file and temperature.

Files are read and computed in parallel threads (``-j``), as ``convert`` does;
a file that cannot be used gives one line on standard error, and the others
their rows.
"""
from __future__ import annotations

import argparse
import csv
import json
import math
import sys
from concurrent.futures import ThreadPoolExecutor
from typing import Any, Dict, List, Optional, Sequence, Tuple, Union

from ._thermo import HARTREE, HARTREE_KCAL, K_B, Thermochemistry, thermochemistry_and_note
from .checkpoint import Checkpoint, load
from .convert import expand_inputs
from .errors import CheckpointError

COLUMNS = ("E", "ZPE", "H", "T.S", "T.qh-S", "G(T)", "qh-G(T)")


def temperatures(text: str) -> List[float]:
    """"298.15" or "START:STOP:STEP" (STOP included), Kelvin."""
    parts = text.split(":")
    try:
        values = [float(p) for p in parts]
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a temperature or START:STOP:STEP: {text!r}") from None
    if len(values) == 1:
        return values
    if len(values) != 3 or values[2] <= 0 or values[1] < values[0]:
        raise argparse.ArgumentTypeError(f"not START:STOP:STEP with STOP >= START and STEP > 0: {text!r}")
    start, stop, step = values
    return [start + k * step for k in range(int(math.floor((stop - start) / step + 1e-9)) + 1)]


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("paths", nargs="+", metavar="PATH", help="checkpoints, or folders of *.chk")
    t = parser.add_mutually_exclusive_group()
    t.add_argument("-T", "--temperature", type=float, default=298.15, help="Kelvin (default 298.15)")
    t.add_argument("--temperatures", type=temperatures, metavar="START:STOP:STEP", help="several, Kelvin")
    parser.add_argument("-P", "--pressure", type=float, default=1.0, help="atm (default 1)")
    parser.add_argument("--qh", choices=("grimme", "truhlar"), default="grimme",
                        help="quasi-harmonic entropy of the qh columns (default grimme)")
    parser.add_argument("--head-gordon", action="store_true", help="damp the low modes' enthalpy too")
    parser.add_argument("--cutoff", type=float, default=100.0, help="quasi-harmonic cut-off, cm^-1 (default 100)")
    parser.add_argument("-c", "--concentration", type=float, help="standard state in mol/L (default: 1 atm gas)")
    parser.add_argument("--scale", type=float, default=1.0, help="frequency scale factor (default 1)")
    parser.add_argument("--symmetry", type=symmetry_option, default="gaussian",
                        help="gaussian (default: 1 where Gaussian ran the job in C1: NoSymm or its "
                        "symmetry record), geometry, or a number")
    parser.add_argument("--sort", action="store_true", help="rows by qh-G(T), lowest first")
    parser.add_argument("--boltzmann", action="store_true",
                        help="relative qh-G(T) in kcal/mol and Boltzmann weights, per temperature")
    out = parser.add_mutually_exclusive_group()
    out.add_argument("--json", action="store_true", help="a JSON list of rows")
    out.add_argument("--csv", action="store_true", help="comma-separated rows with a header")
    parser.add_argument("-j", "--jobs", type=int, default=1, help="files computed at once (threads)")


Row = Dict[str, Any]


def row_of(path: str, th: Thermochemistry) -> Row:
    """One file's row at one temperature, as GoodVibes' columns (Hartree); "qh-H" is
    Head-Gordon's enthalpy with --head-gordon, else H."""
    e, t = th.electronic_energy, th.temperature
    return {"file": path, "T": t, "E": e, "ZPE": th.zero_point_energy, "H": e + th.harmonic_enthalpy,
            "qh-H": e + th.enthalpy, "T.S": t * th.harmonic_entropy, "T.qh-S": t * th.entropy,
            "G(T)": e + th.harmonic_gibbs_free_energy, "qh-G(T)": th.free_energy,
            "point_group": th.point_group, "symmetry_number": th.symmetry_number,
            "imaginary": list(th.imaginary_frequencies)}


def symmetry_option(text: str) -> Union[str, int]:
    """--symmetry: "gaussian", "geometry" or a symmetry number of at least 1."""
    if text in ("gaussian", "geometry"):
        return text
    if text.strip().isdigit() and int(text) >= 1:
        return int(text)
    raise argparse.ArgumentTypeError(f"not gaussian, geometry or a symmetry number: {text!r}")


def compute(path: str, args: argparse.Namespace, temps: Sequence[float]) -> Tuple[List[Row], List[str]]:
    """The rows of one file and its messages (errors and warnings), one line each."""
    try:
        ckpt = load(path)
        rows, notes = [], []
        for t in temps:
            # Warnings become lines here: the filters of `warnings` are process-wide.
            th, note = _thermo_with_note(ckpt, t, args)
            rows.append(row_of(path, th))
            if note and note not in notes:
                notes.append(note)
        return rows, notes
    except CheckpointError as exc:
        return [], [str(exc)]
    except (ValueError, RuntimeError, OSError) as exc:
        first = str(exc).split("\n", 1)[0]
        return [], [first if first.startswith(path) else f"{path}: {first}"]


def _thermo_with_note(ckpt: Checkpoint, t: float, args: argparse.Namespace) -> Tuple[Thermochemistry, Optional[str]]:
    return thermochemistry_and_note(
        ckpt, t, args.pressure, quasi_harmonic=args.qh, cutoff=args.cutoff, head_gordon=args.head_gordon,
        concentration=args.concentration, frequency_scale=args.scale, zpe_scale=None,
        symmetry=args.symmetry)


def boltzmann(rows: List[Row]) -> None:
    """Adds "dG" (kcal/mol, relative to the lowest qh-G(T) at the same temperature) and "weight"."""
    for t in {r["T"] for r in rows}:
        same = [r for r in rows if r["T"] == t]
        low = min(r["qh-G(T)"] for r in same)
        factors = [math.exp(-(r["qh-G(T)"] - low) * HARTREE / (K_B * t)) for r in same]
        for r, f in zip(same, factors):
            r["dG"] = (r["qh-G(T)"] - low) * HARTREE_KCAL
            r["weight"] = f / sum(factors)


def text_table(rows: List[Row], several: bool, weights: bool) -> str:
    width = max([len("Structure")] + [len(r["file"]) for r in rows])
    head = f"{'Structure':<{width}}" + ("  T (K)  " if several else "")
    head += "".join(f"{c:>14}" for c in COLUMNS) + f"{'PG':>6}  {'Imag':>4}"
    head += f"{'dG(kcal/mol)':>14}{'weight':>9}" if weights else ""
    lines = [head, "-" * len(head)]
    for r in rows:
        line = f"{r['file']:<{width}}" + (f"  {r['T']:7.2f}" if several else "")
        line += f"{r['E']:14.6f}{r['ZPE']:14.6f}{r['H']:14.6f}{r['T.S']:14.6f}{r['T.qh-S']:14.6f}"
        line += f"{r['G(T)']:14.6f}{r['qh-G(T)']:14.6f}{r['point_group']:>6}  {len(r['imaginary']):>4}"
        line += f"{r['dG']:14.2f}{r['weight']:9.3f}" if weights else ""
        lines.append(line)
    return "\n".join(lines)


def run(args: argparse.Namespace) -> int:
    temps = args.temperatures or [args.temperature]
    paths = expand_inputs(args.paths)
    with ThreadPoolExecutor(max(1, args.jobs)) as pool:
        results = list(pool.map(lambda p: compute(p, args, temps), paths))
    rows = [r for rs, _ in results for r in rs]
    failed = sum(1 for rs, _ in results if not rs)
    for _, notes in results:
        for note in notes:
            print(f"vexmora: {note}", file=sys.stderr)
    if args.sort:
        rows.sort(key=lambda r: (r["T"], r["qh-G(T)"]))
    if args.boltzmann and rows:
        boltzmann(rows)
    if args.json:
        print(json.dumps(rows))
    elif args.csv:
        if rows:
            writer = csv.DictWriter(sys.stdout, fieldnames=list(rows[0]), lineterminator="\n")
            writer.writeheader()
            writer.writerows({**r, "imaginary": " ".join(f"{f:.2f}" for f in r["imaginary"])} for r in rows)
    elif rows:
        print(text_table(rows, len(temps) > 1, args.boltzmann))
    return 1 if failed or not rows else 0


COMMAND = ("free energies of many checkpoints, as GoodVibes", add_arguments, run)

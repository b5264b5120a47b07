"""``vexmora charges FILE... [--scheme mk|chelpg|resp] [--density D] [--kind SCF] [--esp OUT]
[--json | --csv]``: charges fitted to the electrostatic potential, with RMS and RRMS.

Each file that cannot be used gives one line on standard error; the others their table.
"""
from __future__ import annotations

import argparse
import csv
import json
import os
import sys
from pathlib import Path
from typing import Any, Dict, List, Optional

from . import _outputs
from ._esp import SCHEMES, EspCharges
from .checkpoint import load
from .convert import expand_inputs
from .errors import CheckpointError


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("paths", nargs="+", metavar="FILE", help="checkpoints, or folders of *.chk")
    parser.add_argument("--scheme", choices=SCHEMES, default="mk", help="the fitting scheme (default mk)")
    parser.add_argument("--density", type=float, metavar="D",
                        help="MK/RESP: points per square Angstrom (default 1; 6 for antechamber's "
                        "recipe); CHELPG: points per Angstrom (default 1/0.3)")
    parser.add_argument("--kind", default="SCF", help="the density whose potential is fitted (default SCF)")
    parser.add_argument("--esp", metavar="OUT",
                        help="also write Gaussian's ESP file (for antechamber -fi gesp): the file "
                        "for one checkpoint, else a folder of CHK.esp")
    out = parser.add_mutually_exclusive_group()
    out.add_argument("--json", action="store_true", help="a JSON list, one entry per file")
    out.add_argument("--csv", action="store_true", help="comma-separated rows with a header")
    parser.add_argument("-j", "--threads", type=int, metavar="N", help="threads (default: all cores)")


def esp_target(args: argparse.Namespace, path: str, single: bool) -> Optional[str]:
    if args.esp is None:
        return None
    if single and not os.path.isdir(args.esp):
        return str(args.esp)
    return str(Path(args.esp) / f"{Path(path).stem}.esp")


def entry(path: str, symbols: List[str], fit: EspCharges) -> Dict[str, Any]:
    return {"file": path, "scheme": fit.scheme, "points": len(fit.points), "rms": fit.rms,
            "rrms": fit.rrms, "charges": [{"atom": k + 1, "symbol": s, "charge": float(q)}
                                          for k, (s, q) in enumerate(zip(symbols, fit.charges))]}


def table(e: Dict[str, Any]) -> str:
    lines = [f"{e['file']}: {e['scheme'].upper()} charges, {e['points']} points, "
             f"RMS = {e['rms']:.5f}, RRMS = {e['rrms']:.5f}",
             "  atom  element     charge"]
    lines += [f"{c['atom']:6d}  {c['symbol']:<7s}{c['charge']:11.6f}" for c in e["charges"]]
    lines.append(f"  sum{'':10s}{sum(c['charge'] for c in e['charges']):11.6f}")
    return "\n".join(lines)


def run(args: argparse.Namespace) -> int:
    if args.threads is not None and args.threads < 1:
        raise ValueError("-j: at least one thread")
    paths = expand_inputs(args.paths)
    single = len(paths) == 1
    targets = [esp_target(args, p, single) for p in paths]
    seen: Dict[str, str] = {}
    for path, esp in zip(paths, targets):  # one checkpoint's file must not replace another's
        if esp is not None:
            first = seen.setdefault(os.path.abspath(esp), path)
            if os.path.abspath(first) != os.path.abspath(path):
                raise ValueError(f"{first} and {path} would both be written to {esp}")
    _outputs.refuse_inputs([t for t in targets if t], _outputs.input_ids(paths))
    status, done = 0, []
    for path, esp in zip(paths, targets):
        try:
            ckpt = load(path)
            fit = ckpt.esp_charges(args.scheme, args.kind, density=args.density, threads=args.threads)
            if esp is not None:
                Path(esp).parent.mkdir(parents=True, exist_ok=True)
                ckpt.write_esp(esp, fit=fit)
        except (CheckpointError, ValueError, RuntimeError, OSError) as exc:
            first = str(exc).split("\n", 1)[0]  # a CheckpointError names the file already
            print(f"vexmora: {first if first.startswith(path) else f'{path}: {first}'}", file=sys.stderr)
            status = 1
            continue
        e = entry(path, ckpt.symbols, fit)
        done.append(e)
        if not (args.json or args.csv):
            print(table(e))
            if esp is not None:
                print(f"Wrote {esp}")
    if args.json:
        print(json.dumps(done, indent=1))
    elif args.csv:
        w = csv.writer(sys.stdout, lineterminator="\n")
        w.writerow(["file", "scheme", "atom", "symbol", "charge", "rms", "rrms"])
        for e in done:
            for c in e["charges"]:
                w.writerow([e["file"], e["scheme"], c["atom"], c["symbol"], f"{c['charge']:.6f}",
                            f"{e['rms']:.6f}", f"{e['rrms']:.6f}"])
    return status


COMMAND = ("charges fitted to the electrostatic potential (MK, CHELPG, RESP)", add_arguments, run)

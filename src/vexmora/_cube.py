"""``vexmora cube CHK [--mo homo,lumo,12] [--density SCF] [--potential [KIND]] [--spin]
[--spacing S | --points N] [--margin M] [-o OUT] [-j N]``: Gaussian cube files of orbitals,
densities and electrostatic potentials, one per request."""
from __future__ import annotations

import argparse
import os
import re
import sys
from pathlib import Path
from typing import Any, List, Optional, Tuple, Union

from . import _grid, _outputs
from .checkpoint import Checkpoint, load

Request = Tuple[str, Union[int, str], bool, str]  # file label, what, beta, density kind


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("file", help="the checkpoint")
    parser.add_argument("--mo", metavar="LIST",
                        help="orbitals: homo, lumo or numbers from 1 as Gaussian counts them, "
                        "comma-separated")
    parser.add_argument("--beta", action="store_true", help="the orbitals of the beta set")
    parser.add_argument("--density", metavar="KIND", nargs="?", const="SCF",
                        help="a density kind (SCF, MP2, CI, ...; default SCF)")
    parser.add_argument("--potential", metavar="KIND", nargs="?", const="SCF",
                        help="the electrostatic potential of a density kind (default SCF), Hartree/e")
    parser.add_argument("--spin", action="store_true",
                        help="the spin density of the kind (SCF without --density); with "
                        "--potential alone, the potential of the spin density")
    grid = parser.add_mutually_exclusive_group()
    grid.add_argument("--spacing", type=float, metavar="S",
                      help=f"Angstrom between points (default {_grid.DEFAULT_SPACING:.4f}, 1/6 Bohr)")
    grid.add_argument("--points", type=int, metavar="N", help="N points along each axis")
    parser.add_argument("--margin", type=float, metavar="M",
                        help=f"Angstrom beyond the atoms (default {_grid.DEFAULT_MARGIN:.4f}, 4 Bohr)")
    parser.add_argument("--large", action="store_true",
                        help=f"allow boxes of more than {_grid.MAX_CUBE_POINTS} points")
    parser.add_argument("-o", "--out", metavar="OUT",
                        help="the cube file for one request, else a folder (default: beside CHK)")
    parser.add_argument("-j", "--threads", type=int, metavar="N",
                        help="threads (default: all cores)")


def requests(args: argparse.Namespace) -> List[Request]:
    """What to write: orbitals first, then the density; the SCF density without any."""
    out: List[Request] = []
    for item in (args.mo or "").split(","):
        item = item.strip().lower()
        if not item:
            continue
        if item in ("homo", "lumo"):
            out.append((item, item, args.beta, ""))
        elif item.isdigit() and int(item) > 0:
            out.append((f"mo{int(item)}", int(item) - 1, args.beta, ""))
        else:
            raise ValueError(f"--mo: {item!r} is not homo, lumo or an orbital number from 1")
    potential = getattr(args, "potential", None)
    if args.density is not None or (args.spin and potential is None) or (not out and potential is None):
        kind = args.density or "SCF"
        out.append((f"{'spin' if args.spin else 'density'}_{_label(kind)}", kind, False, kind))
    if potential is not None:
        label = f"potential_{'spin_' if args.spin else ''}{_label(potential)}"
        out.append((label, "potential", False, potential))
    return out


def _label(kind: str) -> str:
    return re.sub(r"\W+", "_", kind).strip("_")  # "CI Rho(1)" -> CI_Rho_1


def target(args: argparse.Namespace, label: str, single: bool) -> str:
    stem = Path(args.file).stem
    if args.out is None:
        return str(Path(args.file).with_name(f"{stem}_{label}.cube"))
    if single and not os.path.isdir(args.out):
        return str(args.out)
    return str(Path(args.out) / f"{stem}_{label}.cube")


def _bar(total: int, name: str) -> Any:
    if not sys.stderr.isatty():
        return None
    try:
        from tqdm import tqdm
    except ImportError:
        return None
    return tqdm(total=total, unit="plane", desc=name, file=sys.stderr, leave=False)


def write_one(ckpt: Checkpoint, plan: _grid.CubePlan, path: str,
              threads: Optional[int]) -> None:
    bar = _bar(plan.shape[0], os.path.basename(path))

    def progress(done: int, total: int) -> None:
        if bar is not None:
            bar.update(done - bar.n)

    try:
        _grid.write_cube(ckpt, path, plan, threads, progress)
    finally:
        if bar is not None:
            bar.close()


def run(args: argparse.Namespace) -> int:
    todo = requests(args)
    if args.threads is not None and args.threads < 1:
        raise ValueError("-j: at least one thread")
    ckpt = load(args.file)
    # Every request is checked before the first file (or folder) is written.
    plans = [_grid.plan_cube(ckpt, what, spacing=args.spacing, shape=args.points,
                             margin=args.margin, beta=beta, spin=args.spin, allow_large=args.large,
                             kind=kind or "SCF")
             for _, what, beta, kind in todo]
    paths = [target(args, label, len(todo) == 1) for label, _, _, _ in todo]
    _outputs.refuse_inputs(paths, _outputs.input_ids([args.file]))
    for path, plan in zip(paths, plans):
        Path(path).parent.mkdir(parents=True, exist_ok=True)
        write_one(ckpt, plan, path, args.threads)
        print(f"Wrote {path}")
    return 0


COMMAND = ("cube files of orbitals, densities and potentials", add_arguments, run)

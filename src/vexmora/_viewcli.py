"""``vexmora view FILE [--orbital homo|lumo|N] [--density [KIND]] [--spin] [--potential]
[--mode K] [-o PAGE.html]``: one self-contained HTML page of the molecule with an orbital,
a density, the electrostatic potential or a normal mode (needs plotly, the ``view`` extra)."""
from __future__ import annotations

import argparse
from pathlib import Path
from typing import Union

from . import _grid, _outputs, _view
from .checkpoint import load


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("file", help="the checkpoint")
    what = parser.add_mutually_exclusive_group()
    what.add_argument("--orbital", metavar="homo|lumo|N",
                      help="an orbital: homo, lumo or its number from 1, as Gaussian counts them")
    what.add_argument("--density", metavar="KIND", nargs="?", const="SCF",
                      help="a density kind (SCF, MP2, CI, ...; default SCF)")
    what.add_argument("--potential", metavar="KIND", nargs="?", const="SCF",
                      help="the electrostatic potential on the density's 0.001 a.u. surface "
                      "(of KIND, default SCF)")
    parser.add_argument("--beta", action="store_true", help="the orbital of the beta set")
    parser.add_argument("--spin", action="store_true",
                        help="the spin density (of --density's kind, SCF without it)")
    parser.add_argument("--mode", type=int, metavar="K",
                        help="normal mode K (from 1, as `vexmora freq` numbers them) as arrows")
    parser.add_argument("--isovalue", type=float, metavar="V",
                        help="the surface's value, atomic units (default 0.05 for an orbital, "
                        "0.02 for a density, 0.001 for the potential)")
    parser.add_argument("--spacing", type=float, metavar="S",
                        help=f"Angstrom between points (default {_grid.DEFAULT_SPACING:.4f}, 1/6 Bohr)")
    parser.add_argument("--margin", type=float, metavar="M", help="Angstrom beyond the atoms")
    parser.add_argument("--large", action="store_true",
                        help=f"allow boxes of more than {_grid.MAX_CUBE_POINTS} points")
    parser.add_argument("-o", "--out", metavar="PAGE.html",
                        help="the page to write (default: beside FILE, named after it)")
    parser.add_argument("-j", "--threads", type=int, metavar="N", help="threads (default: all cores)")


def what(args: argparse.Namespace) -> Union[int, str]:
    """The view asked for, as :meth:`Checkpoint.view` takes it."""
    if args.orbital is not None:
        item = str(args.orbital).strip().lower()
        if item in ("homo", "lumo"):
            return item
        if item.isdigit() and int(item) > 0:
            return int(item) - 1
        raise ValueError(f"--orbital: {args.orbital!r} is not homo, lumo or an orbital number from 1")
    if args.potential is not None:
        return "potential"
    if args.density is not None:
        return "density" if args.density == "SCF" and not args.spin else args.density
    return "spin" if args.spin else "molecule"


def run(args: argparse.Namespace) -> int:
    if args.threads is not None and args.threads < 1:
        raise ValueError("-j: at least one thread")
    if args.mode is not None and args.mode < 1:
        raise ValueError(f"--mode: {args.mode} is not a mode number from 1")
    view = what(args)
    out = args.out or str(Path(args.file).with_suffix(".html"))
    _outputs.check_name(out, (".html", ".htm"), "a web page")
    try:
        _view.plotly()
    except ImportError as exc:
        raise ValueError(str(exc)) from None
    ckpt = load(args.file)
    _outputs.refuse_inputs([out], _outputs.input_ids([args.file]))
    ckpt.write_html(out, view, mode=None if args.mode is None else args.mode - 1,
                    isovalue=args.isovalue, beta=args.beta,
                    spin=args.spin and view not in ("spin", "molecule"),
                    kind=args.potential or "SCF", spacing=args.spacing, margin=args.margin,
                    threads=args.threads, allow_large=args.large)
    print(f"Wrote {out}")
    return 0


COMMAND = ("an HTML page of the molecule, an orbital, a density or a mode", add_arguments, run)

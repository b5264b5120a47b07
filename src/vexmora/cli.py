"""The ``vexmora`` command line.

``vexmora convert PATH... [-o OUTDIR] [--to fchk,gjf,molden,xyz,wfn,wfx] [-j N]``,
``vexmora info FILE [--json]``, ``vexmora freq CHK [--json]``, ``vexmora cube CHK ...``,
``vexmora thermo PATH... [options]``, ``vexmora view FILE [options]``,
``vexmora dataset PATH... -o OUT.parquet [options]``, and, as
``formchk``, ``vexmora IN.chk [OUT.fchk]`` (also
``vexmora CHK [-o X.fchk] [--gjf X.gjf]``). A file that cannot be read or
written gives one line "vexmora: PATH: reason" on standard error and exit
status 1, never a traceback. No output ever replaces an input: such a command
is refused before anything is written.
"""
from __future__ import annotations

import argparse
import json
import os
import sys
import warnings
from concurrent.futures import Executor, ThreadPoolExecutor
from pathlib import Path
from typing import Any, Callable, Dict, List, Optional, Sequence, Tuple

from . import __version__, _chargescli, _cube, _datasetcli, _freq, _outputs, _thermocli, _viewcli
from .checkpoint import FORMATS, Checkpoint, formula, load
from .convert import check_formats, expand_inputs, iter_convert
from .errors import CheckpointError, WriteError

#: The scalar attributes that ``vexmora info --json`` reports.
INFO_KEYS = ("title", "route", "method", "basis_set", "job_type", "program_version",
             "scf_energy", "total_energy", "virial_ratio", "charge", "multiplicity",
             "n_electrons", "n_alpha", "n_beta", "n_basis", "n_independent")


def summary(ckpt: Checkpoint) -> str:
    """A few lines describing what the checkpoint holds."""
    lines = [
        f"Title:        {ckpt.title}",
        f"Route:        {ckpt.route}",
        f"Program:      {ckpt.program_version}",
        f"Job:          {ckpt.job_type} {ckpt.method}/{ckpt.basis_set}",
        f"Molecule:     {formula(ckpt.symbols)} ({len(ckpt.atomic_numbers)} atoms), "
        f"charge {ckpt.charge}, multiplicity {ckpt.multiplicity}",
        f"Electrons:    {ckpt.n_electrons} ({ckpt.n_alpha} alpha, {ckpt.n_beta} beta)",
        f"Basis:        {ckpt.n_basis} functions, {len(ckpt.shell_types)} shells",
        f"SCF energy:   {ckpt.scf_energy:.10f} Hartree",
        f"Total energy: {ckpt.total_energy:.10f} Hartree",
    ]
    return "\n".join(lines)


def _fail(message: str) -> int:
    print(f"vexmora: {message}", file=sys.stderr)
    return 1


def _show_warning(message: Any, category: Any, filename: str, lineno: int, file: Any = None,
                  line: Optional[str] = None) -> None:
    """A warning as one line in the house style, without the source location."""
    print(f"vexmora: warning: {message}", file=sys.stderr)


def _line(exc: BaseException) -> str:
    """One line for the user: "PATH: reason" where the error names a file."""
    if isinstance(exc, OSError) and not isinstance(exc, WriteError) and exc.filename is not None:
        return f"{os.fsdecode(exc.filename)}: {exc.strerror}"
    return str(exc).split("\n", 1)[0]


def _jobs(text: str) -> int:
    """The -j value: a whole number of at least 1."""
    try:
        n = int(text)
    except ValueError:
        n = 0
    if n < 1:
        raise argparse.ArgumentTypeError(f"{text!r} is not a number of files at once (1 or more)")
    return n


def _info(args: argparse.Namespace) -> int:
    ckpt = load(args.file)
    if args.json:
        print(json.dumps({k: getattr(ckpt, k) for k in INFO_KEYS}))
    else:
        print(summary(ckpt))
    return 0


def _progress(total: int) -> Any:
    """A tqdm bar on a terminal, or None."""
    if not sys.stderr.isatty():
        return None
    try:
        from tqdm import tqdm
    except ImportError:
        return None
    return tqdm(total=total, unit="file", file=sys.stderr)


def _convert(args: argparse.Namespace) -> int:
    formats = check_formats([f for f in args.to.split(",") if f])
    # Threads, not processes: parsing and writing release the interpreter lock,
    # and a thread costs nothing to start, where a process imports NumPy first.
    executor: Optional[Executor] = ThreadPoolExecutor(args.jobs) if args.jobs > 1 else None
    failed = done = 0
    bar = None
    empty = [p for p in args.paths if os.path.isdir(p) and not expand_inputs([p])]
    for p in empty:
        print(f"vexmora: {p}: no *.chk files in this directory", file=sys.stderr)
    paths = [p for p in args.paths if p not in empty]
    try:
        bar = _progress(len(expand_inputs(paths)))
        for result in iter_convert(paths, args.outdir, formats, executor):
            done += 1
            if not result.ok:
                failed += 1
                line = f"vexmora: {result.error}"
                if bar is not None:
                    bar.write(line, file=sys.stderr)
                else:
                    print(line, file=sys.stderr)
            if bar is not None:
                bar.update(1)
    finally:
        if bar is not None:
            bar.close()
        if executor is not None:
            executor.shutdown()
    return 1 if failed or empty else 0


def _formchk_outputs(args: argparse.Namespace) -> List[Tuple[str, str]]:
    """(format, path) of each output the command line asks for."""
    if args.out and args.fchk and args.out != args.fchk:
        raise ValueError(f"two names for the formatted checkpoint, {args.out} and -o {args.fchk}: "
                         "give one")
    fchk = args.out or args.fchk
    if fchk is None and args.gjf is None:
        fchk = str(Path(args.chk).with_suffix(".fchk"))
    outputs = [(fmt, path) for fmt, path in (("fchk", fchk), ("gjf", args.gjf)) if path]
    if len(outputs) == 2 and os.path.abspath(outputs[0][1]) == os.path.abspath(outputs[1][1]):
        raise ValueError(f"{args.gjf}: named for both the formatted checkpoint and the Gaussian input")
    return outputs


#: Output format of the formchk form -> (its suffixes, what it is).
_FORMCHK_KINDS = {"fchk": ((".fchk", ".fch"), "a formatted checkpoint"),
                  "gjf": ((".gjf", ".com"), "a Gaussian input")}


def _formchk(argv: Sequence[str]) -> int:
    parser = argparse.ArgumentParser(
        prog="vexmora", formatter_class=argparse.RawDescriptionHelpFormatter,
        description="Read a Gaussian binary checkpoint (.chk) and write a formatted checkpoint, "
        "as formchk does.",
        epilog="subcommands (vexmora SUBCOMMAND -h for each):\n" + "\n".join(
            f"  {name:<10}{helptext}" for name, helptext in _command_help().items()))
    parser.add_argument("--version", action="version", version=f"vexmora {__version__}")
    parser.add_argument("chk", help="the checkpoint file to read")
    parser.add_argument("out", nargs="?", help="the .fchk to write (default: IN with .fchk)")
    parser.add_argument("-o", "--fchk", metavar="OUT.fchk", help="write a formatted checkpoint")
    parser.add_argument("--gjf", metavar="OUT.gjf", help="write a Gaussian input file")
    args = parser.parse_args(argv)
    outputs = _formchk_outputs(args)
    ckpt = load(args.chk)  # first: a file that is no checkpoint is named as such
    _outputs.refuse_inputs([path for _, path in outputs], _outputs.input_ids([args.chk]))
    for fmt, path in outputs:
        _outputs.check_name(path, *_FORMCHK_KINDS[fmt])
    print(summary(ckpt))
    for fmt, path in outputs:
        ckpt.write(fmt, path)
        print(f"Wrote {path}")
    return 0


def _command_help() -> Dict[str, str]:
    """Each subcommand's one-line help."""
    return {**BUILTIN_HELP, **{name: c[0] for name, c in EXTRA_COMMANDS.items()}}


BUILTIN_HELP = {"convert": "convert many checkpoints to .fchk, .gjf, .molden, .xyz",
                "info": "summarise a checkpoint"}


def _subcommands() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(prog="vexmora")
    sub = parser.add_subparsers(dest="command", required=True)
    conv = sub.add_parser("convert", help=BUILTIN_HELP["convert"],
                          description="Convert checkpoints; a directory stands for its *.chk "
                          "files. Failed files are named on standard error, one line each.")
    conv.add_argument("paths", nargs="+", metavar="PATH")
    conv.add_argument("-o", "--outdir", help="output folder (default: beside each input)")
    conv.add_argument("--to", default="fchk",
                      help=f"comma-separated formats: {','.join(FORMATS)} (default fchk)")
    conv.add_argument("-j", "--jobs", type=_jobs, default=1,
                      help="files converted at once (threads, default 1)")
    conv.set_defaults(run=_convert)
    info = sub.add_parser("info", help=BUILTIN_HELP["info"])
    info.add_argument("file")
    info.add_argument("--json", action="store_true", help="one JSON object of the scalars")
    info.set_defaults(run=_info)
    for name, (helptext, add_args, run) in EXTRA_COMMANDS.items():
        p = sub.add_parser(name, help=helptext)
        add_args(p)
        p.set_defaults(run=run)
    return parser


#: Further subcommands: name -> (help, add_arguments(parser), run(args) -> status).
EXTRA_COMMANDS: Dict[str, Any] = {}
EXTRA_COMMANDS["freq"] = _freq.COMMAND
EXTRA_COMMANDS["cube"] = _cube.COMMAND
EXTRA_COMMANDS["thermo"] = _thermocli.COMMAND
EXTRA_COMMANDS["dataset"] = _datasetcli.COMMAND
EXTRA_COMMANDS["view"] = _viewcli.COMMAND
EXTRA_COMMANDS["charges"] = _chargescli.COMMAND


def main(argv: Optional[Sequence[str]] = None) -> int:
    """Entry point; returns the process exit status."""
    args_list: List[str] = list(sys.argv[1:] if argv is None else argv)
    with warnings.catch_warnings():
        warnings.showwarning = _show_warning
        return _main(args_list)


def _main(args_list: List[str]) -> int:
    try:
        if args_list and args_list[0] in _command_help():
            args = _subcommands().parse_args(args_list)
            run: Callable[[argparse.Namespace], int] = args.run
            return run(args)
        return _formchk(args_list)
    except (CheckpointError, OSError, ValueError) as exc:
        return _fail(_line(exc))
    except KeyboardInterrupt:
        return _fail("interrupted")

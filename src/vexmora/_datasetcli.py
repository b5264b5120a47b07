"""``vexmora dataset DIR|FILES... -o out.parquet``: one Parquet table, a row per file.

Files are read ``-j`` at a time in threads; each file that fails gives one line
on standard error (and its row, with the error); the status is 1 when any did.
"""
from __future__ import annotations

import argparse
import os
import sys
from concurrent.futures import ThreadPoolExecutor
from typing import List

from . import _dataset
from .convert import expand_inputs


def _names(text: str) -> List[str]:
    return [n.strip() for n in text.split(",") if n.strip()]


def _jobs(text: str) -> int:
    from .cli import _jobs  # the command line's own check (imported late: cli imports this module)

    return _jobs(text)


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("paths", nargs="+", metavar="PATH", help="checkpoints, or folders of *.chk")
    parser.add_argument("-o", "--output", required=True, metavar="OUT.parquet", help="the table to write")
    parser.add_argument("-j", "--jobs", type=_jobs, default=1, help="files read at once (threads, default 1)")
    parser.add_argument("--columns", type=_names, metavar="A,B,...",
                        help="only these columns (path and error are always there)")
    parser.add_argument("--arrays", type=_names, metavar="NAME,...",
                        help="large arrays (mo_coefficients_alpha, densities.SCF, hessian, ...) "
                        "into an HDF5 file beside the table")
    parser.add_argument("--arrays-file", metavar="OUT.h5", help="where --arrays go (default: OUT.h5)")
    parser.add_argument("-r", "--recursive", action="store_true", help="folders' subfolders too")


def run(args: argparse.Namespace) -> int:
    from .cli import _progress

    try:
        _dataset._require("pyarrow")
    except ImportError as exc:  # one line, as every failure of the command line
        print(f"vexmora: {exc}", file=sys.stderr)
        return 1
    empty = [p for p in args.paths if os.path.isdir(p) and not expand_inputs([p], args.recursive)]
    for p in empty:
        print(f"vexmora: {p}: no *.chk files in this directory", file=sys.stderr)
    paths = [p for p in args.paths if p not in empty]
    bar = _progress(len(expand_inputs(paths, args.recursive)))

    def say(line: str) -> None:
        if bar is not None:
            bar.write(f"vexmora: {line}", file=sys.stderr)
        else:
            print(f"vexmora: {line}", file=sys.stderr)

    try:
        with ThreadPoolExecutor(args.jobs) if args.jobs > 1 else _dataset.SerialExecutor() as pool:
            result = _dataset.write_dataset(
                paths, args.output, columns=args.columns, executor=pool,
                progress=None if bar is None else bar.update, arrays=args.arrays or (),
                arrays_path=args.arrays_file, recursive=args.recursive, on_error=say)
    finally:
        if bar is not None:
            bar.close()
    return 1 if result.errors or empty else 0


COMMAND = ("a table (Parquet) of many checkpoints, a row per file", add_arguments, run)

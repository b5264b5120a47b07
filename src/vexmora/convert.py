"""Batch conversion of checkpoints, serially or on any ``concurrent.futures`` executor."""
from __future__ import annotations

import errno
import os
from concurrent.futures import Executor
from dataclasses import dataclass, field
from pathlib import Path
from typing import Dict, Iterable, Iterator, List, Optional, Sequence, Union

from . import _outputs
from ._pyformats import check_available
from .checkpoint import FORMATS, load
from .errors import CheckpointError, WriteError

PathArg = Union[str, "os.PathLike[str]"]

@dataclass(frozen=True)
class ConversionResult:
    """What became of one input: the files written, or why it failed."""

    source: str
    outputs: List[str] = field(default_factory=list)
    error: Optional[str] = None

    @property
    def ok(self) -> bool:
        """Whether every requested file was written."""
        return self.error is None

def expand_inputs(paths: Iterable[PathArg], recursive: bool = False) -> List[str]:
    """The inputs in order, each directory replaced by its ``*.chk`` files (sorted;
    with ``recursive``, those of its subdirectories too)."""
    out: List[str] = []
    for p in paths:
        if os.path.isdir(p):
            found = Path(p).rglob("*.chk") if recursive else Path(p).glob("*.chk")
            out += sorted(str(c) for c in found if c.is_file())
        else:
            out.append(os.fspath(p))
    return out

def check_formats(formats: Sequence[str]) -> List[str]:
    """The formats, validated against :data:`FORMATS`."""
    bad = [f for f in formats if f not in FORMATS]
    if bad or not formats:
        raise ValueError(f"unknown output format {', '.join(bad) or '(none)'}; "
                         f"choose from {', '.join(FORMATS)}")
    for f in formats:  # a writer's package missing is one error, before any file
        try:
            check_available(f)
        except ImportError as exc:
            raise ValueError(f"format {f}: {exc}") from None
    return list(formats)

def output_path(source: str, outdir: Optional[PathArg], fmt: str) -> str:
    """Where ``source`` converted to ``fmt`` goes: beside it, or in ``outdir``."""
    folder = Path(outdir) if outdir is not None else Path(source).parent
    return str(folder / (Path(source).stem + FORMATS[fmt]))

def convert_one(source: str, outdir: Optional[PathArg] = None,
                formats: Sequence[str] = ("fchk",)) -> ConversionResult:
    """Convert one checkpoint; failures are returned, never raised.

    Each output appears whole or not at all; when a later format fails, the
    files already written for this input are complete and are kept. When an
    output would replace ``source`` (by any name or link) nothing is written.
    """
    written: List[str] = []
    targets = [output_path(source, outdir, fmt) for fmt in formats]
    try:
        ckpt = load(source)  # first: a file that is no checkpoint is named as such
        _outputs.refuse_inputs(targets, _outputs.input_ids([source]))
        for fmt, target in zip(formats, targets):
            ckpt.write(fmt, target)
            written.append(target)
    except (CheckpointError, WriteError) as exc:
        return ConversionResult(source, written, str(exc))
    return ConversionResult(source, written)

def _duplicate_targets(sources: Sequence[str], outdir: Optional[PathArg]) -> None:
    seen: Dict[str, str] = {}
    for s in sources:
        target = os.path.abspath(output_path(s, outdir, "fchk"))
        if target in seen and os.path.abspath(seen[target]) != os.path.abspath(s):
            raise ValueError(f"{seen[target]} and {s} would both be written to {target}")
        seen[target] = s

def _make_folder(path: str) -> None:
    """Create the output folder; a file in its place is named as the system would."""
    if os.path.exists(path) and not os.path.isdir(path):
        raise WriteError(errno.ENOTDIR, os.strerror(errno.ENOTDIR), path)
    try:
        os.makedirs(path, exist_ok=True)
    except OSError as exc:
        raise WriteError(exc.errno, exc.strerror or str(exc), exc.filename or path) from None

def iter_convert(paths: Iterable[PathArg], outdir: Optional[PathArg] = None,
                 formats: Sequence[str] = ("fchk",),
                 executor: Optional[Executor] = None) -> Iterator[ConversionResult]:
    """Like :func:`convert_many`, yielding each result as soon as it is known (in order)."""
    sources = expand_inputs(paths)
    fmts = check_formats(formats)
    _duplicate_targets(sources, outdir)
    out = None if outdir is None else os.fspath(outdir)
    if out is not None:
        _make_folder(out)
    # An output that is another input of the batch is refused here, before any
    # conversion starts: that input may be read at the same time.
    inputs = _outputs.input_ids(sources)
    refused: Dict[str, ConversionResult] = {}
    for s in sources:
        try:
            _outputs.refuse_inputs([output_path(s, out, f) for f in fmts], inputs, own=s)
        except WriteError as exc:
            refused[s] = ConversionResult(s, [], str(exc))
    if executor is None:
        for s in sources:
            yield refused.get(s) or convert_one(s, out, fmts)
        return
    futures = [None if s in refused else executor.submit(convert_one, s, out, fmts) for s in sources]
    for s, f in zip(sources, futures):
        yield refused[s] if f is None else f.result()

def convert_many(paths: Iterable[PathArg], outdir: Optional[PathArg] = None,
                 formats: Sequence[str] = ("fchk",),
                 executor: Optional[Executor] = None) -> List[ConversionResult]:
    """Convert many checkpoints; one :class:`ConversionResult` per input, in order.

    A directory among ``paths`` stands for its ``*.chk`` files. Outputs go
    beside each input, or into ``outdir`` (created if needed). ``executor``
    may be any ``concurrent.futures.Executor`` (a process pool, or the executor
    of a Dask or Ray cluster); without one the files are converted here, one
    after the other. A failed input is reported in its result; the others go on.
    """
    return list(iter_convert(paths, outdir, formats, executor))


"""Many checkpoints as one table: a row per file, in a fixed schema (Apache Arrow, Parquet).

:func:`dataset` returns a ``pyarrow.Table``; :func:`write_dataset` streams the
rows to a Parquet file in row groups, so memory stays bounded whatever the
number of files, and may put large arrays (orbitals, densities, the Hessian)
into an HDF5 file beside it. The files are read on any
``concurrent.futures.Executor`` (threads by default; a process pool or a Dask
cluster's executor give the same table), a few dozen files per task, with a
bounded number of tasks in flight. A task's rows are read and computed in the
C++ core without the interpreter lock and come back as columns, which become
Arrow arrays whole; a file the core cannot read goes through :func:`row`, the
same values from the library's properties, which gives the file's message.
Rows keep the input order. A file that cannot be read is a row with its
``path`` and ``error`` (one line), all else null.

Every value is the library's own: the :class:`~vexmora.Checkpoint` property,
:meth:`~vexmora.Checkpoint.point_group`, the vibrations and the thermochemistry
``vexmora thermo`` prints (298.15 K, 1 atm, Grimme's quasi-harmonic entropy
below 100 cm^-1 for ``qh_gibbs``), in the library's units (Angstrom, Hartree).

Only this module needs pyarrow (and h5py for ``arrays=``): ``pip install
'vexmora[dataset]'``.
"""
from __future__ import annotations

import argparse
import collections
import errno
import functools
import os
import re
import secrets
import warnings
from concurrent.futures import Executor, Future, ThreadPoolExecutor
from dataclasses import dataclass, field
from pathlib import Path
from typing import (TYPE_CHECKING, Any, Callable, Deque, Dict, Generator, Iterable, Iterator, List, Mapping,
                    Optional, Sequence, Tuple, Union)

import numpy as np

from . import _core, _outputs
from .checkpoint import DENSITY_KINDS, Checkpoint, formula, load
from .convert import expand_inputs
from .errors import CheckpointError, WriteError

if TYPE_CHECKING:
    from ._thermo import Thermochemistry

PathArg = Union[str, "os.PathLike[str]"]
Row = Dict[str, Any]
Arrays = Dict[str, np.ndarray]


@dataclass(frozen=True)
class Column:
    """One column of the table: its name, Arrow type, unit and meaning."""

    name: str
    type: str  # "string", "int64", "float64", "list<string>", "list<int64>", "list<float64>"
    unit: str
    doc: str


#: The table's columns, in order. Scalars are null where the checkpoint lacks them
#: (and every column but ``path`` and ``error`` in an error row).
COLUMNS: Tuple[Column, ...] = (
    Column("path", "string", "", "the file, as given or as found in a folder"),
    Column("error", "string", "", "why the file gave no values (one line), else null"),
    Column("title", "string", "", "the job's title"),
    Column("route", "string", "", "the route section"),
    Column("method", "string", "", 'the method with its prefix, such as "RB3LYP"'),
    Column("basis_set", "string", "", "the basis set's name"),
    Column("job_type", "string", "", '"SP", "FOpt", "Freq", ...'),
    Column("program_version", "string", "", "the Gaussian version that wrote the file"),
    Column("formula", "string", "", "Hill formula"),
    Column("charge", "int64", "e", "total charge"),
    Column("multiplicity", "int64", "", "2S + 1"),
    Column("n_atoms", "int64", "", "number of atoms"),
    Column("n_basis", "int64", "", "number of basis functions"),
    Column("n_electrons", "int64", "", "number of electrons"),
    Column("symbols", "list<string>", "", "element symbols, one per atom"),
    Column("atomic_numbers", "list<int64>", "", "atomic numbers, one per atom"),
    Column("coordinates", "list<float64>", "Angstrom", "x, y, z of each atom in turn (3 natoms)"),
    Column("scf_energy", "float64", "Hartree", "the SCF energy"),
    Column("total_energy", "float64", "Hartree", "the job's highest-level energy"),
    Column("homo_energy", "float64", "Hartree", "orbital n_alpha - 1 of the alpha (or restricted) set"),
    Column("lumo_energy", "float64", "Hartree", "orbital n_alpha of that set"),
    Column("gap", "float64", "Hartree", "lumo_energy - homo_energy"),
    Column("homo_energy_beta", "float64", "Hartree", "orbital n_beta - 1 of the beta set (unrestricted)"),
    Column("lumo_energy_beta", "float64", "Hartree", "orbital n_beta of the beta set (unrestricted)"),
    Column("gap_beta", "float64", "Hartree", "lumo_energy_beta - homo_energy_beta"),
    Column("dipole", "list<float64>", "e Bohr", "the dipole moment (3), where stored"),
    Column("mulliken_charges", "list<float64>", "e", "Mulliken charges (natoms), where stored"),
    Column("point_group", "string", "", "the geometry's point group (Checkpoint.point_group())"),
    Column("symmetry_number", "int64", "", "that group's rotational symmetry number"),
    Column("frequencies", "list<float64>", "cm^-1", "harmonic frequencies, imaginary ones negative (Hessian)"),
    Column("n_imaginary", "int64", "", "number of imaginary frequencies (Hessian)"),
    Column("zpe", "float64", "Hartree", "zero-point energy, as vexmora thermo's ZPE (Hessian)"),
    Column("enthalpy", "float64", "Hartree", "E + H correction at 298.15 K, vexmora thermo's H (Hessian)"),
    Column("gibbs", "float64", "Hartree", "E + G correction at 298.15 K and 1 atm, vexmora thermo's G(T)"),
    Column("qh_gibbs", "float64", "Hartree", "the same with Grimme's quasi-harmonic entropy, qh-G(T)"),
)

#: The column added with ``arrays=``: the row's group in the HDF5 file.
ARRAYS_KEY = Column("arrays_key", "string", "", "the row's group in the HDF5 file of arrays=")

NAMES: Tuple[str, ...] = tuple(c.name for c in COLUMNS)
_THERMO = ("frequencies", "n_imaginary", "zpe", "enthalpy", "gibbs", "qh_gibbs")
#: Rows per row group of the Parquet file.
ROW_GROUP_SIZE = 1024


def _require(module: str) -> Any:
    """Import an optional dependency, or say how to install it."""
    import importlib

    try:
        return importlib.import_module(module)
    except ImportError as exc:
        what = "the arrays= HDF5 file needs h5py" if module == "h5py" else f"vexmora's datasets need {module.split('.')[0]}"
        raise ImportError(f"{what}: pip install 'vexmora[dataset]' ({exc})") from None


def schema(columns: Optional[Sequence[str]] = None, arrays: bool = False) -> Any:
    """The ``pyarrow.Schema`` of the table of ``columns`` (see :func:`select`), each field
    with its unit in its metadata; ``arrays`` adds ``arrays_key``."""
    pa = _require("pyarrow")
    types = {"string": pa.string(), "int64": pa.int64(), "float64": pa.float64(),
             "list<string>": pa.list_(pa.string()), "list<int64>": pa.list_(pa.int64()),
             "list<float64>": pa.list_(pa.float64())}
    by_name = {c.name: c for c in COLUMNS + (ARRAYS_KEY,)}
    names = select(columns) + (("arrays_key",) if arrays else ())
    fields = [pa.field(n, types[by_name[n].type], nullable=n != "path",
                       metadata={"unit": by_name[n].unit} if by_name[n].unit else None) for n in names]
    return pa.schema(fields)


def select(columns: Optional[Sequence[str]]) -> Tuple[str, ...]:
    """The columns of a table: all of :data:`COLUMNS`, or ``path``, ``error`` and those
    asked for, in the table's order. An unknown name raises ValueError."""
    if columns is None:
        return NAMES
    if isinstance(columns, str):
        columns = [columns]
    bad = [c for c in columns if c not in NAMES]
    if bad:
        raise ValueError(f"unknown column {', '.join(bad)}; the columns are {', '.join(NAMES)}")
    return tuple(n for n in NAMES if n in ("path", "error") or n in columns)


def check_arrays(arrays: Sequence[str]) -> Tuple[str, ...]:
    """Array names for ``arrays=``: a Checkpoint property that gives an array
    ("mo_coefficients_alpha", "hessian", ...) or "densities.KIND" / "spin_densities.KIND"."""
    if isinstance(arrays, str):
        arrays = [arrays]
    for name in arrays:
        head, _, kind = name.partition(".")
        if kind:
            ok = head in ("densities", "spin_densities") and kind in DENSITY_KINDS
        else:
            prop = getattr(Checkpoint, name, None)
            ret = str(getattr(getattr(prop, "fget", None), "__annotations__", {}).get("return", ""))
            ok = isinstance(prop, property) and ("Array" in ret or "ndarray" in ret) and "Tuple" not in ret
        if not ok:
            raise ValueError(f"{name!r} is not an array of a checkpoint: name a property such as "
                             f"mo_coefficients_alpha or hessian, or densities.KIND with KIND one of "
                             f"{', '.join(DENSITY_KINDS)}")
    return tuple(arrays)


# --- one file's row (runs on the workers; needs no pyarrow) ---------------------------
@functools.lru_cache(maxsize=None)
def _thermo_options() -> argparse.Namespace:
    """``vexmora thermo``'s defaults, from its own parser."""
    from . import _thermocli

    parser = argparse.ArgumentParser()
    _thermocli.add_arguments(parser)
    return parser.parse_args(["-"])


class _Values:
    """The values of one checkpoint, each computed once and only when a column needs it."""

    def __init__(self, ckpt: Checkpoint, thermo: bool = True) -> None:
        self.ckpt = ckpt
        self.notes: List[str] = []
        self.wants_thermo = thermo

    @functools.cached_property
    def group(self) -> Tuple[str, int]:
        """The point group's name and symmetry number: the thermochemistry's where it
        took the geometry's (the same call), else the checkpoint's."""
        th = self.thermo_result if self.wants_thermo else None
        if th is not None and th.symmetry_source == "geometry":
            return th.point_group, th.symmetry_number
        group = self.ckpt.point_group()
        return group.name, group.symmetry_number

    @functools.cached_property
    def thermo_result(self) -> Optional["Thermochemistry"]:
        """``vexmora thermo``'s thermochemistry, or None without a Hessian or masses."""
        c = self.ckpt
        if c.hessian is None or c.atomic_masses is None:
            return None
        from . import _thermocli

        options = _thermo_options()
        th, note = _thermocli._thermo_with_note(c, options.temperature, options)
        if note:
            self.notes.append(note)
        return th

    @functools.cached_property
    def thermo(self) -> Optional[Row]:
        """``vexmora thermo``'s row with the frequencies, or None without a Hessian or masses."""
        th = self.thermo_result
        if th is None:
            return None
        from . import _thermocli

        row = _thermocli.row_of(self.ckpt.path, th)
        frequencies = self.ckpt.vibrations().frequencies
        return {"frequencies": frequencies.tolist(), "n_imaginary": int(np.sum(frequencies < 0.0)),
                "zpe": row["ZPE"], "enthalpy": row["H"], "gibbs": row["G(T)"], "qh_gibbs": row["qh-G(T)"]}

    @functools.cached_property
    def alpha(self) -> Tuple[Optional[float], Optional[float]]:
        return self._frontier(self.ckpt.mo_energies_alpha, self.ckpt.n_alpha)

    @functools.cached_property
    def beta(self) -> Tuple[Optional[float], Optional[float]]:
        return self._frontier(self.ckpt.mo_energies_beta, self.ckpt.n_beta)

    @staticmethod
    def _frontier(energies: Optional[np.ndarray], n: int) -> Tuple[Optional[float], Optional[float]]:
        """HOMO and LUMO energies of a set of ``n`` electrons (Hartree), each None where
        the set has no such orbital."""
        if energies is None:
            return None, None
        pick = [float(energies[i]) if 0 <= i < len(energies) else None for i in (n - 1, n)]
        return pick[0], pick[1]


def _gap(pair: Tuple[Optional[float], Optional[float]]) -> Optional[float]:
    return None if pair[0] is None or pair[1] is None else pair[1] - pair[0]


def _list(a: Optional[np.ndarray]) -> Optional[List[Any]]:
    return None if a is None else np.asarray(a).ravel().tolist()


#: Column -> its value from a checkpoint's values.
_VALUE: Dict[str, Callable[[_Values], Any]] = {
    "title": lambda v: v.ckpt.title, "route": lambda v: v.ckpt.route, "method": lambda v: v.ckpt.method,
    "basis_set": lambda v: v.ckpt.basis_set, "job_type": lambda v: v.ckpt.job_type,
    "program_version": lambda v: v.ckpt.program_version, "formula": lambda v: formula(v.ckpt.symbols),
    "charge": lambda v: v.ckpt.charge, "multiplicity": lambda v: v.ckpt.multiplicity,
    "n_atoms": lambda v: len(v.ckpt.atomic_numbers), "n_basis": lambda v: v.ckpt.n_basis,
    "n_electrons": lambda v: v.ckpt.n_electrons, "symbols": lambda v: list(v.ckpt.symbols),
    "atomic_numbers": lambda v: _list(v.ckpt.atomic_numbers), "coordinates": lambda v: _list(v.ckpt.coordinates),
    "scf_energy": lambda v: v.ckpt.scf_energy, "total_energy": lambda v: v.ckpt.total_energy,
    "homo_energy": lambda v: v.alpha[0], "lumo_energy": lambda v: v.alpha[1], "gap": lambda v: _gap(v.alpha),
    "homo_energy_beta": lambda v: v.beta[0], "lumo_energy_beta": lambda v: v.beta[1],
    "gap_beta": lambda v: _gap(v.beta),
    "dipole": lambda v: _list(v.ckpt.dipole), "mulliken_charges": lambda v: _list(v.ckpt.mulliken_charges),
    "point_group": lambda v: v.group[0], "symmetry_number": lambda v: v.group[1],
}


def _thermo_value(name: str) -> Callable[[_Values], Any]:
    return lambda v: None if v.thermo is None else v.thermo[name]


_VALUE.update((name, _thermo_value(name)) for name in _THERMO)


def _array(ckpt: Checkpoint, name: str) -> Optional[np.ndarray]:
    head, _, kind = name.partition(".")
    if kind:
        found: Mapping[str, np.ndarray] = getattr(ckpt, head)
        return found[kind] if kind in found else None
    value = getattr(ckpt, name)
    return None if value is None else np.asarray(value)


def _one_line(path: str, exc: Exception) -> str:
    """The error of one file as one line naming it (a CheckpointError of a value computed
    from the file, such as the vibrations', may not)."""
    first = (str(exc).strip().split("\n", 1)[0] or type(exc).__name__)
    if not isinstance(exc, (ValueError, RuntimeError, OSError, CheckpointError)):
        first = f"{type(exc).__name__}: {first}"
    return first if first.startswith(path) else f"{path}: {first}"


def row(path: str, names: Sequence[str] = NAMES, arrays: Sequence[str] = ()) -> Tuple[Row, Arrays, List[str]]:
    """One file's row (column -> value, lists for list columns), its arrays and its
    warnings (one line each). Never raises: a failure is the row's ``error``."""
    try:
        values = _Values(load(path), any(n in _THERMO for n in names))
        out: Row = {"path": path, "error": None}
        out.update((n, _VALUE[n](values)) for n in names if n not in ("path", "error"))
        found = {a: _array(values.ckpt, a) for a in arrays}
        return out, {a: v for a, v in found.items() if v is not None}, values.notes
    except Exception as exc:  # every failure is the row's, never the batch's
        return {"path": path, "error": _one_line(path, exc)}, {}, []


@functools.lru_cache(maxsize=None)
def _core_options() -> Any:
    """``vexmora thermo``'s defaults for the core's rows."""
    o = _thermo_options()
    return _core.thermo_options(o.temperature, o.pressure, o.concentration or 0.0, o.qh or "", o.cutoff,
                                o.head_gordon, o.scale, 0.0)


@dataclass
class Chunk:
    """The rows of a few files, as the core computed them (columns), with what the
    library said of the files the core could not read: one task's result."""

    paths: List[str]
    #: Column -> its values as the core gives them (see :func:`_column`).
    columns: Dict[str, Any]
    #: Row index -> its error (one line).
    errors: Dict[int, str]
    #: Row index -> the library's whole row, where it read a file the core did not.
    rows: Dict[int, Row]
    #: Row index -> its warnings (one line each).
    notes: Dict[int, List[str]]
    #: Each row's arrays of ``arrays=``.
    arrays: List[Arrays]


def rows(paths: Sequence[str], names: Sequence[str] = NAMES, arrays: Sequence[str] = ()) -> Chunk:
    """The rows of ``paths``, in order: one task of an executor. The core reads and
    computes them without the interpreter lock; a file it cannot read goes through
    :func:`row`, which gives the library's message for it."""
    paths = [os.fsdecode(p) for p in paths]
    symmetry = any(n in ("point_group", "symmetry_number") for n in names)
    thermo = any(n in _THERMO for n in names)
    opened: List[Optional[Checkpoint]] = []
    if arrays:
        # One load per file: a row's values and its arrays come from the same reader.
        for p in paths:
            try:
                opened.append(load(p))
            except Exception:  # the library's message comes with its row below
                opened.append(None)
        columns = _core.dataset_rows_of([None if c is None else c._reader for c in opened], paths,
                                        symmetry, thermo, _core_options(), 0)
    else:
        columns = _core.dataset_rows(paths, symmetry, thermo, _core_options(), 0)
    notes: Dict[int, List[str]] = {int(i): [n] for i, n in columns.pop("notes").items()}
    ok = columns.pop("ok")
    chunk = Chunk(paths, columns, {}, {}, notes, [{} for _ in paths])
    for i in np.flatnonzero(~ok):
        r, found, more = row(paths[i], names, arrays)
        chunk.notes[int(i)] = more
        if r["error"] is not None:
            chunk.errors[int(i)] = r["error"]
        else:  # read by the library after all: its row stands
            chunk.rows[int(i)], chunk.arrays[int(i)] = r, found
    for i in np.flatnonzero(ok) if arrays else ():
        ckpt = opened[i]
        assert ckpt is not None
        try:
            some = {a: _array(ckpt, a) for a in arrays}
            chunk.arrays[int(i)] = {a: v for a, v in some.items() if v is not None}
        except Exception as exc:  # its large records changed since the load: an error row, all else null
            chunk.errors[int(i)] = _one_line(paths[i], exc)
            chunk.rows[int(i)] = {"path": paths[i], "error": chunk.errors[int(i)]}
            chunk.notes.pop(int(i), None)
    return chunk


# --- the driver: tasks in flight, rows in order -----------------------------------------
#: Files per task: enough that turning a task's columns into Arrow arrays (a
#: fixed cost per column, in the calling thread) is small beside reading them.
_CHUNK_SERIAL = 256
_CHUNK_THREADS = 64
_CHUNK_OTHER = 64
#: Tasks in flight at once per worker (threads) or in all (other executors).
_AHEAD_PER_THREAD = 2
_AHEAD_OTHER = 32


class SerialExecutor(Executor):
    """Runs each task at once in the calling thread (``-j 1``): no hand-over to wait for."""

    def submit(self, fn: Callable[..., Any], /, *args: Any, **kwargs: Any) -> "Future[Any]":
        future: "Future[Any]" = Future()
        try:
            future.set_result(fn(*args, **kwargs))
        except BaseException as exc:
            future.set_exception(exc)
        return future


def _plan(executor: Executor) -> Tuple[int, int]:
    """(files per task, tasks in flight) for ``executor``."""
    if isinstance(executor, SerialExecutor):
        return _CHUNK_SERIAL, 1
    if isinstance(executor, ThreadPoolExecutor):
        return _CHUNK_THREADS, _AHEAD_PER_THREAD * max(1, getattr(executor, "_max_workers", 1))
    return _CHUNK_OTHER, _AHEAD_OTHER


def iter_chunks(sources: Sequence[str], names: Sequence[str] = NAMES, arrays: Sequence[str] = (),
                executor: Optional[Executor] = None) -> Generator[Chunk, None, None]:
    """The rows of ``sources`` in order, a task's chunk at a time, read on ``executor`` (default: a thread per
    core), with a bounded number of tasks in flight: memory does not grow with the
    number of files."""
    own = executor is None
    pool: Executor = ThreadPoolExecutor(os.cpu_count() or 1) if executor is None else executor
    chunk, ahead = _plan(pool)
    tasks = iter([sources[i:i + chunk] for i in range(0, len(sources), chunk)])
    pending: Deque["Future[Chunk]"] = collections.deque()
    try:
        for task in tasks:
            pending.append(pool.submit(rows, task, tuple(names), tuple(arrays)))
            if len(pending) >= ahead:
                break
        while pending:
            done = pending.popleft().result()
            more = next(tasks, None)
            if more is not None:
                pending.append(pool.submit(rows, more, tuple(names), tuple(arrays)))
            yield done
    finally:
        for f in pending:
            f.cancel()
        if own:
            pool.shutdown(wait=True)


def _record_batch(batch: Sequence[Row], sch: Any) -> Any:
    pa = _require("pyarrow")
    return pa.RecordBatch.from_arrays([pa.array([r.get(f.name) for r in batch], type=f.type) for f in sch],
                                      schema=sch)


def _column(pa: Any, field: Any, value: Any) -> Any:
    """An Arrow array of the core's column: a list of texts, (values, valid) of a
    scalar column, or (offsets, values, valid) of a list column."""
    if pa.types.is_string(field.type):
        return pa.array(value, type=field.type)
    if pa.types.is_list(field.type):
        offsets, values, valid = value
        # A null offset makes its list null (the last one always stands).
        starts = pa.array(offsets.astype(np.int32), mask=np.append(~valid, False))
        return pa.ListArray.from_arrays(starts, pa.array(values, type=field.type.value_type))
    values, valid = value
    return pa.array(values, type=field.type, mask=~valid)


def _chunk_batch(chunk: Chunk, sch: Any, keys: Optional[List[Optional[str]]]) -> Any:
    """The record batch of a chunk's rows, with their arrays keys (``arrays_key``)."""
    pa = _require("pyarrow")
    n = len(chunk.paths)
    given = {"path": chunk.paths, "error": [chunk.errors.get(i) for i in range(n)], "arrays_key": keys}
    arrays = [pa.array(given[f.name], type=f.type) if f.name in given else _column(pa, f, chunk.columns[f.name])
              for f in sch]
    batch = pa.RecordBatch.from_arrays(arrays, schema=sch)
    if not chunk.rows:
        return batch
    # A file only the library could read (rare): the chunk row by row, with its row.
    out = batch.to_pylist()
    for i, r in chunk.rows.items():
        out[i] = {**r, **({"arrays_key": keys[i]} if keys is not None else {})}
    return _record_batch(out, sch)


def _tables(chunks: Iterator[Chunk], sch: Any, size: int,
            on_chunk: Callable[[Chunk], Optional[List[Optional[str]]]]) -> Iterator[Any]:
    """Tables of whole row groups of ``size`` rows (the last one what is left), in
    order; ``on_chunk`` sees each chunk and may give its rows' arrays keys."""
    pa = _require("pyarrow")
    held: List[Any] = []
    count = 0
    for chunk in chunks:
        held.append(_chunk_batch(chunk, sch, on_chunk(chunk)))
        count += held[-1].num_rows
        if count >= size:
            table = pa.Table.from_batches(held, schema=sch)
            whole = count - count % size
            yield table.slice(0, whole)
            rest = table.slice(whole)
            held, count = rest.to_batches(), rest.num_rows
    if count:
        yield pa.Table.from_batches(held, schema=sch)


def _reporter(progress: Optional[Callable[[int], Any]], errors: List[str],
              on_error: Optional[Callable[[str], Any]] = None) -> Callable[[Chunk], None]:
    def report(chunk: Chunk) -> None:
        for i in sorted(chunk.notes):
            for note in chunk.notes[i]:
                warnings.warn(note, stacklevel=5)  # in the caller's thread: the filters are process-wide
        for i in sorted(chunk.errors):
            errors.append(chunk.errors[i])
            if on_error is not None:
                on_error(chunk.errors[i])
        if progress is not None:
            progress(len(chunk.paths))
    return report


def dataset(paths: Iterable[PathArg], columns: Optional[Sequence[str]] = None,
            executor: Optional[Executor] = None, progress: Optional[Callable[[int], Any]] = None,
            recursive: bool = False) -> Any:
    """A ``pyarrow.Table`` of checkpoints: one row per file, in order, in the schema of
    :data:`COLUMNS` (or of ``path``, ``error`` and the ``columns`` named).

    A folder among ``paths`` stands for its ``*.chk`` files (sorted; its subfolders'
    too with ``recursive``). ``executor`` may be any ``concurrent.futures.Executor``
    (a process pool, a Dask cluster's ``client.get_executor()``); by default the files
    are read in a thread per core. ``progress`` is called with the number of rows done as they are
    (``tqdm(...).update`` fits). A file that cannot be read is a row with ``path`` and
    ``error``, never an exception; warnings go through :mod:`warnings`. Needs pyarrow.
    """
    pa = _require("pyarrow")
    names = select(columns)
    sch = schema(columns)
    sources = expand_inputs(paths, recursive)
    results = iter_chunks(sources, names, (), executor)
    report = _reporter(progress, [])

    def on_chunk(chunk: Chunk) -> None:
        report(chunk)

    try:
        tables = list(_tables(results, sch, ROW_GROUP_SIZE, on_chunk))
    finally:
        results.close()  # now, not when a traceback lets go of it: the tasks in flight are cancelled
    return pa.concat_tables(tables) if tables else sch.empty_table()


@dataclass(frozen=True)
class DatasetResult:
    """What :func:`write_dataset` wrote."""

    #: The Parquet file.
    path: str
    #: Number of rows (one per input file).
    rows: int
    #: The error of each row that has one, in order (one line each).
    errors: List[str] = field(default_factory=list)
    #: The HDF5 file of ``arrays=``, or None.
    arrays_path: Optional[str] = None

    @property
    def ok(self) -> bool:
        """Whether every file gave its row without error."""
        return not self.errors


def arrays_path_for(out: PathArg) -> str:
    """Where the arrays of a table ``out`` go by default: beside it, suffix ``.h5``."""
    return str(Path(out).with_suffix(".h5"))


def _temporary(target: str) -> str:
    """A new empty file beside ``target`` (the umask's mode, as the target will have),
    for writing it whole or not at all."""
    folder = os.path.dirname(os.path.abspath(target))
    while True:
        tmp = os.path.join(folder, f".{os.path.basename(target)}.{secrets.token_hex(4)}.tmp")
        try:
            os.close(os.open(tmp, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o666))
            return tmp
        except FileExistsError:
            continue
        except OSError as exc:
            raise WriteError(exc.errno, exc.strerror or str(exc), target) from None


def _write_error(exc: BaseException, target: str) -> WriteError:
    """A failed write (pyarrow's or h5py's) as the library's WriteError, with the system's errno."""
    number = getattr(exc, "errno", None)
    if not number:
        found = re.search(r"errno[ =]*(\d+)", str(exc), re.I)
        number = int(found.group(1)) if found else None
    reason = os.strerror(number) if number else str(exc).split("\n", 1)[0]
    return WriteError(number, reason, target)


class _ArraysFile:
    """The HDF5 file of ``arrays=``: a group per row that has any, named by the row's index."""

    def __init__(self, tmp: str, total: int) -> None:
        h5py = _require("h5py")
        self.file = h5py.File(tmp, "w")
        self.width = max(6, len(str(max(total - 1, 0))))
        self.index = 0

    def add(self, ok: bool, path: str, arrays: Arrays) -> Optional[str]:
        """The group of one row (None for an error row, which has none)."""
        key = None
        if ok:
            key = f"{self.index:0{self.width}d}"
            group = self.file.create_group(key)
            group.attrs["path"] = path
            for name, value in arrays.items():
                group.create_dataset(name.replace(".", "/"), data=value)
        self.index += 1
        return key

    def close(self, target: str) -> None:
        try:
            self.file.close()
        except OSError as exc:
            raise _write_error(exc, target) from None

    def discard(self) -> None:
        """Close the file if still open (after a failure: it is removed)."""
        if self.file.id.valid:
            self.file.close()


def write_dataset(paths: Iterable[PathArg], out: PathArg, columns: Optional[Sequence[str]] = None,
                  executor: Optional[Executor] = None, progress: Optional[Callable[[int], Any]] = None,
                  arrays: Sequence[str] = (), arrays_path: Optional[PathArg] = None,
                  recursive: bool = False, row_group_size: int = ROW_GROUP_SIZE,
                  on_error: Optional[Callable[[str], Any]] = None) -> DatasetResult:
    """Write the table of :func:`dataset` to the Parquet file ``out``, ``row_group_size``
    rows at a time (memory stays bounded for any number of files).

    ``arrays`` names large arrays to keep out of the table ("mo_coefficients_alpha",
    "hessian", "densities.SCF", ...): they go to the HDF5 file ``arrays_path`` (default
    ``out`` with ``.h5``; needs h5py), one group per row named in the table's
    ``arrays_key`` column (a density as ``densities/SCF`` in it); an array the
    checkpoint lacks is left out of its group. ``on_error`` is called with each
    row's error as it comes. Every file appears whole or not at all (written beside
    its target and renamed into place) and never replaces an input: an output that
    is one of the inputs raises :class:`~vexmora.WriteError` before anything is read.
    A write that fails raises WriteError with the system's errno.
    """
    pq = _require("pyarrow.parquet")
    if row_group_size < 1:
        raise ValueError(f"row_group_size must be at least 1, not {row_group_size}")
    names = select(columns)
    wanted = check_arrays(arrays)
    if wanted:
        _require("h5py")
    sch = schema(columns, bool(wanted))
    target = os.fspath(out)
    side = (os.fspath(arrays_path) if arrays_path is not None else arrays_path_for(target)) if wanted else None
    sources = expand_inputs(paths, recursive)
    targets = [target] + ([side] if side else [])
    _outputs.refuse_inputs(targets, _outputs.input_ids(sources))
    _outputs.check_name(target, (".parquet", ".pq"), "a Parquet table")
    if side is not None and os.path.realpath(side) == os.path.realpath(target):
        raise ValueError(f"{side}: named for both the table and its arrays")
    errors: List[str] = []
    report = _reporter(progress, errors, on_error)
    for t in targets:
        if os.path.isdir(t):
            raise WriteError(errno.EISDIR, os.strerror(errno.EISDIR), t)
    # Through a symbolic link to the file it names: the link itself survives the rename.
    finals = [os.path.realpath(t) if os.path.islink(t) and os.path.exists(t) else t for t in targets]
    temporaries = [_temporary(t) for t in finals]
    results = iter_chunks(sources, names, wanted, executor)
    try:
        side_file = _ArraysFile(temporaries[1], len(sources)) if side else None

        def on_chunk(chunk: Chunk) -> Optional[List[Optional[str]]]:
            report(chunk)
            if side_file is None:
                return None
            try:
                return [side_file.add(i not in chunk.errors, p, found)
                        for i, (p, found) in enumerate(zip(chunk.paths, chunk.arrays))]
            except OSError as exc:
                raise _write_error(exc, targets[1]) from None

        count = 0
        try:
            with pq.ParquetWriter(temporaries[0], sch) as writer:
                for table in _tables(results, sch, row_group_size, on_chunk):
                    writer.write_table(table, row_group_size=row_group_size)
                    count += table.num_rows
            if side_file is not None:
                side_file.close(targets[1])
        except WriteError:
            raise
        except OSError as exc:
            raise _write_error(exc, target) from None
        finally:
            results.close()  # the tasks in flight are cancelled now
            if side_file is not None:
                side_file.discard()
        # The arrays first: a table never names groups of a file that is not there.
        for tmp, t in reversed(list(zip(temporaries, finals))):
            os.replace(tmp, t)
    except BaseException:
        for tmp in temporaries:
            if os.path.exists(tmp):
                os.unlink(tmp)
        raise
    return DatasetResult(target, count, errors, side)

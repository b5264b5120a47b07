"""Access to the real Gaussian files in ``../shared/testdata`` and readers for
the formatted checkpoints (.fchk) and job outputs (.log) that go with them.

Tests that use them call :func:`testdata` and skip when the folder is absent.
"""
from __future__ import annotations

import functools
import re
import tempfile
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any, Dict, List, Optional, Tuple, Union

import pytest

TESTDATA = Path(__file__).resolve().parents[1].parent / "shared" / "testdata"

Value = Union[int, float, str]


def testdata() -> Path:
    """The folder of real files; skips the calling test when it is absent."""
    if not TESTDATA.is_dir():
        pytest.skip("no ../shared/testdata on this machine")
    return TESTDATA


def real_checkpoints() -> List[Path]:
    """Every real .chk, sorted (empty when the folder is absent)."""
    return sorted(TESTDATA.glob("*.chk")) if TESTDATA.is_dir() else []


def is_broken(chk: Path) -> bool:
    """Checkpoints of aborted jobs that hold no molecule."""
    return "-broken-" in chk.name


def companion(chk: Path, suffix: str) -> Optional[Path]:
    """The file of the same job with another suffix, if there is one."""
    p = chk.with_suffix(suffix)
    return p if p.exists() else None


@functools.lru_cache(maxsize=None)
def reader(chk: Path) -> Any:
    """The Vexmora_ reader of a real checkpoint, parsed once per run."""
    import Vexmora_
    return Vexmora_.ChkReader_(fchk=str(chk))


@functools.lru_cache(maxsize=None)
def our_fchk(chk: Path) -> Tuple[Any, Path]:
    """(reader, path of the .fchk that write_fchk made of it), written once per run."""
    out = Path(_scratch().name) / (chk.stem + ".fchk")
    reader(chk).write_fchk(fname=str(out))
    return reader(chk), out


@functools.lru_cache(maxsize=None)
def _scratch() -> tempfile.TemporaryDirectory:
    return tempfile.TemporaryDirectory(prefix="vexmora-fchk-")


@dataclass
class FchkSection:
    """One section of a formatted checkpoint."""

    label: str
    kind: str  # "I", "R", "C" or "L"
    is_array: bool
    count: int  # 1 for scalars; N= for arrays (words of 12 characters for "C")
    values: List[Value]  # the scalar as a one-element list; "C" arrays as one string
    lines: List[str] = field(default_factory=list)  # the text, header line first


@dataclass
class Fchk:
    """A parsed formatted checkpoint: two header lines, then sections in order."""

    title: str
    jobline: str
    sections: Dict[str, FchkSection]

    def __getitem__(self, label: str) -> FchkSection:
        return self.sections[label]

    def __contains__(self, label: str) -> bool:
        return label in self.sections

    def values(self, label: str) -> List[Value]:
        return self.sections[label].values


def _number(kind: str, token: str) -> Value:
    if kind == "I":
        return int(token)
    return float(token.replace("D", "E")) if kind == "R" else token


def read_fchk(path: Union[str, Path]) -> Fchk:
    """Parse a formatted checkpoint written by Gaussian or by Vexmora."""
    lines = Path(path).read_text().split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    sections: Dict[str, FchkSection] = {}
    i = 2
    while i < len(lines):
        head = lines[i]
        label, kind, rest = head[:43].rstrip(), head[43], head[44:]
        if rest.lstrip().startswith("N="):
            count = int(rest.split("=", 1)[1])
            nlines = (count + 5) // 6 if kind in ("I", "L") else (count + 4) // 5
            body = lines[i + 1 : i + 1 + nlines]
            vals = ["".join(body)] if kind == "C" else [_number(kind, t) for t in " ".join(body).split()]
            sections[label] = FchkSection(label, kind, True, count, vals, lines[i : i + 1 + nlines])
            i += 1 + nlines
        else:
            sections[label] = FchkSection(label, kind, False, 1, [_number(kind, rest.strip())], [head])
            i += 1
    return Fchk(lines[0], lines[1], sections)


@functools.lru_cache(maxsize=None)
def gaussian_fchk(chk: Path) -> Fchk:
    """Gaussian's .fchk of the job, parsed once."""
    return read_fchk(chk.with_suffix(".fchk"))


def _text(log: Union[str, Path]) -> str:
    return Path(log).read_text(errors="replace")


def log_scf_done_texts(log: Union[str, Path]) -> List[str]:
    """Every "SCF Done" energy as printed, so that callers know its precision."""
    return re.findall(r"SCF Done:\s+E\(\S+\)\s+=\s+(-?\d+\.\d+)", _text(log))


@dataclass
class LogJob:
    """Molecule and basis facts of a Gaussian output: nprimitive counts primitives
    times Cartesian components; basis_name, pure_d ("5D") and pure_f ("7F") come
    from the "Standard basis:" line and are "" / None without one."""

    natoms: int
    charge: int
    multiplicity: int
    nbasis: int
    nprimitive: int
    ncartesian: int
    basis_name: str
    pure_d: Optional[bool]
    pure_f: Optional[bool]


def read_log_job(log: Union[str, Path]) -> LogJob:
    """The last printed molecule and basis counts of a Gaussian output."""
    text = _text(log)
    cm = re.findall(r"Charge =\s*(-?\d+)\s+Multiplicity =\s*(\d+)", text)[0]
    sizes = re.findall(r"(\d+) basis functions,\s+(\d+) primitive gaussians,\s+(\d+) cartesian", text)[-1]
    std = re.findall(r"Standard basis:\s+(\S+)\s+\((\d+)D,\s*(\d+)F\)", text)
    name, nd, nf = std[-1] if std else ("", "", "")
    return LogJob(
        natoms=int(re.findall(r"NAtoms=\s*(\d+)", text)[-1]),
        charge=int(cm[0]),
        multiplicity=int(cm[1]),
        nbasis=int(re.findall(r"NBasis=\s*(\d+)", text)[-1]),
        nprimitive=int(sizes[1]),
        ncartesian=int(sizes[2]),
        basis_name=name,
        pure_d={"5": True, "6": False}.get(nd),
        pure_f={"7": True, "10": False}.get(nf),
    )


def log_orientations(log: Union[str, Path], kind: str = "Standard") -> List[List[List[float]]]:
    """Every "<kind> orientation:" geometry block (Angstrom), in order."""
    lines = _text(log).split("\n")
    blocks: List[List[List[float]]] = []
    for i, line in enumerate(lines):
        if line.strip() != f"{kind} orientation:":
            continue
        rows: List[List[float]] = []
        j = i + 5  # past the dashed rule, two column-title lines and the second rule
        while j < len(lines) and not lines[j].startswith(" ---"):
            rows.append([float(t) for t in lines[j].split()[3:6]])
            j += 1
        blocks.append(rows)
    return blocks


def log_orbital_energies(log: Union[str, Path], spin: str = "Alpha") -> List[float]:
    """The orbital energies of the last population analysis, as printed (5 decimals;
    adjacent values may touch when a field overflows, hence the regular expression)."""
    lines = _text(log).split("\n")
    tag = re.compile(rf"^\s*{spin}\s+(occ|virt)\. eigenvalues --")
    starts = [i for i, l in enumerate(lines) if tag.match(l) and not tag.match(lines[i - 1])]
    values: List[float] = []
    i = starts[-1] if starts else len(lines)
    while i < len(lines) and tag.match(lines[i]):
        values.extend(float(x) for x in re.findall(r"-?\d+\.\d{5}", lines[i].split("--", 1)[1]))
        i += 1
    return values

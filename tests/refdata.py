"""Access to the real Gaussian files in ``../shared/testdata`` and readers for
the formatted checkpoints (.fchk) and job outputs (.log) that go with them.

Tests that use them call :func:`testdata` and skip when the folder is absent.
"""
from __future__ import annotations

import re
from dataclasses import dataclass, field
from pathlib import Path
from typing import Dict, List, Optional, Union

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

    @property
    def job_type(self) -> str:
        return self.jobline[0:10].strip()

    @property
    def method(self) -> str:
        return self.jobline[10:40].strip()

    @property
    def basis(self) -> str:
        return self.jobline[40:].strip()


def _number(kind: str, token: str) -> Value:
    if kind == "I":
        return int(token)
    if kind == "R":
        return float(token.replace("D", "E"))
    return token


def read_fchk(path: Union[str, Path]) -> Fchk:
    """Parse a formatted checkpoint written by Gaussian or by Vexmora."""
    lines = Path(path).read_text().split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    title, jobline = lines[0], lines[1]
    sections: Dict[str, FchkSection] = {}
    i = 2
    while i < len(lines):
        head = lines[i]
        label, kind, rest = head[:43].rstrip(), head[43], head[44:]
        if rest.lstrip().startswith("N="):
            count = int(rest.split("=", 1)[1])
            if kind == "C":
                nlines = (count + 4) // 5
            elif kind == "I" or kind == "L":
                nlines = (count + 5) // 6
            else:
                nlines = (count + 4) // 5
            body = lines[i + 1 : i + 1 + nlines]
            if kind == "C":
                vals: List[Value] = ["".join(body)]
            else:
                vals = [_number(kind, t) for t in " ".join(body).split()]
            sections[label] = FchkSection(label, kind, True, count, vals, lines[i : i + 1 + nlines])
            i += 1 + nlines
        else:
            sections[label] = FchkSection(label, kind, False, 1, [_number(kind, rest.strip())], [head])
            i += 1
    return Fchk(title, jobline, sections)


def log_scf_energies(log: Union[str, Path]) -> List[float]:
    """Every "SCF Done" energy of a Gaussian output, in order."""
    pat = re.compile(r"SCF Done:\s+E\(\S+\)\s+=\s+(-?\d+\.\d+)")
    return [float(m.group(1)) for m in pat.finditer(Path(log).read_text(errors="replace"))]


def log_scf_done_texts(log: Union[str, Path]) -> List[str]:
    """Every "SCF Done" energy as printed, so that callers know its precision."""
    pat = re.compile(r"SCF Done:\s+E\(\S+\)\s+=\s+(-?\d+\.\d+)")
    return pat.findall(Path(log).read_text(errors="replace"))


@dataclass
class LogJob:
    """The molecule and basis facts that a Gaussian output prints once per job."""

    natoms: int
    charge: int
    multiplicity: int
    nbasis: int
    nprimitive: int  # "primitive gaussians": primitives times Cartesian components
    ncartesian: int
    basis_name: str  # from the "Standard basis:" line, "" when absent
    pure_d: Optional[bool]  # "(5D, ...)" or "(6D, ...)"; None when absent
    pure_f: Optional[bool]  # "(..., 7F)" or "(..., 10F)"


def _last_int(text: str, pattern: str) -> int:
    found = re.findall(pattern, text)
    if not found:
        raise ValueError(f"no match for {pattern!r}")
    return int(found[-1])


def read_log_job(log: Union[str, Path]) -> LogJob:
    """The last printed molecule and basis counts of a Gaussian output."""
    text = Path(log).read_text(errors="replace")
    cm = re.findall(r"Charge =\s*(-?\d+)\s+Multiplicity =\s*(\d+)", text)[0]
    sizes = re.findall(r"(\d+) basis functions,\s+(\d+) primitive gaussians,\s+(\d+) cartesian", text)[-1]
    std = re.findall(r"Standard basis:\s+(\S+)\s+\((\d+)D,\s*(\d+)F\)", text)
    name, nd, nf = std[-1] if std else ("", "", "")
    return LogJob(
        natoms=_last_int(text, r"NAtoms=\s*(\d+)"),
        charge=int(cm[0]),
        multiplicity=int(cm[1]),
        nbasis=_last_int(text, r"NBasis=\s*(\d+)"),
        nprimitive=int(sizes[1]),
        ncartesian=int(sizes[2]),
        basis_name=name,
        pure_d={"5": True, "6": False}.get(nd),
        pure_f={"7": True, "10": False}.get(nf),
    )


def log_orientations(log: Union[str, Path], kind: str = "Standard") -> List[List[List[float]]]:
    """Every "<kind> orientation:" geometry block (Angstrom), in order."""
    lines = Path(log).read_text(errors="replace").split("\n")
    head = f"{kind} orientation:"
    blocks: List[List[List[float]]] = []
    for i, line in enumerate(lines):
        if line.strip() != head:
            continue
        rows: List[List[float]] = []
        j = i + 5  # past the dashed rule, two column-title lines and the second rule
        while j < len(lines) and not lines[j].startswith(" ---"):
            rows.append([float(t) for t in lines[j].split()[3:6]])
            j += 1
        blocks.append(rows)
    return blocks


def log_symmetry_off(log: Union[str, Path]) -> bool:
    """True when the job ran without symmetry (no standard orientation is printed)."""
    return "Symmetry turned off" in Path(log).read_text(errors="replace")


def log_orbital_energies(log: Union[str, Path], spin: str = "Alpha") -> List[float]:
    """The orbital energies of the last population analysis, as printed (5 decimals).

    Adjacent values may touch when a field overflows, hence the regular expression.
    """
    lines = Path(log).read_text(errors="replace").split("\n")
    tag = re.compile(rf"^\s*{spin}\s+(occ|virt)\. eigenvalues --")
    starts = [i for i, l in enumerate(lines) if tag.match(l) and not tag.match(lines[i - 1])]
    if not starts:
        return []
    values: List[float] = []
    i = starts[-1]
    while i < len(lines) and tag.match(lines[i]):
        values.extend(float(x) for x in re.findall(r"-?\d+\.\d{5}", lines[i].split("--", 1)[1]))
        i += 1
    return values

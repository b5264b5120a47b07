"""The real Gaussian files in ``../shared/testdata`` and readers of the formatted
checkpoints (.fchk) and job outputs (.log) that go with them; tests using them
skip when the folder is absent."""
from __future__ import annotations

import os
import re
from dataclasses import dataclass
from pathlib import Path
from typing import Dict, List, Union

# VEXMORA_TESTDATA overrides the place, for a checkout elsewhere (a git worktree).
TESTDATA = Path(os.environ.get("VEXMORA_TESTDATA") or
                Path(__file__).resolve().parents[1].parent / "shared" / "testdata")
Value = Union[int, float, str]


def real_checkpoints() -> List[Path]:
    return sorted(TESTDATA.glob("*.chk")) if TESTDATA.is_dir() else []


def is_broken(chk: Path) -> bool:
    """Checkpoints of aborted jobs, which hold no molecule."""
    return "-broken-" in chk.name


def good_checkpoints() -> List[Path]:
    return [c for c in real_checkpoints() if not is_broken(c)]


@dataclass
class Section:
    """One section: kind "I", "R", "C" or "L", N= count (1 for scalars), values, text lines."""

    kind: str
    is_array: bool
    count: int
    values: List[Value]
    lines: List[str]


def read_fchk(path: Union[str, Path]) -> Dict[str, Section]:
    """The sections of a formatted checkpoint, in order; "" holds the two title lines."""
    lines = Path(path).read_text().split("\n")
    assert lines.pop() == "", "the last line has no line feed"
    out = {"": Section("T", False, 2, lines[:2], lines[:2])}
    i = 2
    while i < len(lines):
        label, kind, rest = lines[i][:43].rstrip(), lines[i][43], lines[i][44:].strip()
        conv = int if kind == "I" else (lambda t: float(t.replace("D", "E"))) if kind == "R" else str
        if rest.startswith("N="):
            count, per = int(rest[2:]), 6 if kind in "IL" else 5
            n = 1 + (count + per - 1) // per
            body = lines[i + 1:i + n]
            values = ["".join(body)] if kind == "C" else [conv(t) for t in " ".join(body).split()]
        else:
            count, n, values = 1, 1, [conv(rest)]
        out[label] = Section(kind, rest.startswith("N="), count, values, lines[i:i + n])
        i += n
    return out


def log_orientation(text: str) -> List[List[float]]:
    """The last "Standard orientation:" block (or "Input orientation:" without symmetry), Angstrom."""
    kind = "Standard" if "Standard orientation:" in text else "Input"
    block = text.rsplit(f"{kind} orientation:", 1)[1].split("\n")[5:]
    return [[float(t) for t in row.split()[3:6]] for row in block[:block.index(next(
        r for r in block if r.startswith(" ---")))]]


def log_orbital_energies(text: str, spin: str) -> List[float]:
    """The orbital energies of the last population analysis, as printed (5 decimals)."""
    blocks = re.findall(rf"(?:^ *{spin} +(?:occ|virt)\. eigenvalues --.*\n)+", text, re.M)
    return [float(x) for x in re.findall(r"-?\d+\.\d{5}", blocks[-1])] if blocks else []

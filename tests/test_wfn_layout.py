"""The .wfn in the layout of Gaussian's output=wfn, read as AIMPAC's Fortran reads it
(fixed columns, blanks as zeros) and by IOData."""
from __future__ import annotations

from pathlib import Path
from typing import List

import numpy as np
import pytest

from chkbuilder import H1S_EXPS
from test_scf_density import pair


def fortran_e(field: str) -> float:
    """One Ew.d input field with BLANK='ZERO': leading blanks do not count, every other
    blank is a zero digit; an empty field is zero."""
    s = field.lstrip(" ").replace(" ", "0")
    return float(s.replace("D", "E")) if s else 0.0


def fortran_exponents(lines: List[str], count: int) -> List[float]:
    """READ (10X,5E14.7) over the EXPONENTS records: a record shorter than the format
    reads as blanks beyond its end (PAD='YES')."""
    out: List[float] = []
    for line in (x for x in lines if x.startswith("EXPONENTS")):
        padded = line.ljust(80)
        out += [fortran_e(padded[10 + 14 * k:24 + 14 * k]) for k in range(5)]
    return out[:count]


@pytest.mark.parametrize("case", ["RHF", "UHF"])
def test_wfn_as_fortran_and_iodata_read_it(tmp_path: Path, case: str) -> None:
    ckpt = pair(tmp_path, case)[0]
    ckpt.write_wfn(tmp_path / "x.wfn")
    ckpt.write_wfn(tmp_path / "s.wfn", spin_block=True)
    text = (tmp_path / "x.wfn").read_text()
    lines = text.splitlines()
    assert lines[0] == " " + ckpt.title  # Gaussian's leading blank
    nprim = int(lines[1].split()[4])
    expected = np.tile(H1S_EXPS, 3)
    np.testing.assert_allclose(fortran_exponents(lines, nprim), expected, rtol=1e-7)
    assert "$MOSPIN" not in text
    spins = (tmp_path / "s.wfn").read_text()
    assert spins.startswith(text)
    assert spins[len(text):] == ("$MOSPIN $END\n 1 1 2\n" if case == "UHF" else "")
    iodata = pytest.importorskip("iodata")
    data = iodata.load_one(tmp_path / "x.wfn")
    np.testing.assert_allclose(np.concatenate([s.exponents for s in data.obasis.shells]), expected, rtol=1e-7)
    assert data.mo.kind == ("unrestricted" if case == "UHF" else "restricted")

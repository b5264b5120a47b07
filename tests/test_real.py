"""Every real checkpoint against Gaussian's own files for the job: the output
(.log) at the precision it prints, and the formatted checkpoint (.fchk)
section by section, text and all, but for the differences listed here."""
from __future__ import annotations

import re
import sys
from pathlib import Path
from typing import Any, Dict

import numpy as np
import pytest

from chkbuilder import nfunc
from refdata import (is_broken, log_orbital_energies, log_orientation, read_fchk,
                     real_checkpoints)

import Vexmora_
BOHR, EPS = 0.529177249, sys.float_info.epsilon
PADDED = "last character item padded with blanks"  # Gaussian pads its 12-character words
NOISE = "rounding noise in place of zero"  # the rotation into the shell frame leaves ~eps
KNOWN: Dict[str, Dict[str, str]] = {
    "g16-ho2-ub2plyp-ccpvtz-freq": {"Full Title": PADDED, "Route": PADDED,
                                    "Current cartesian coordinates": NOISE},
    "g16-ts26-hf-sto3g-freq": {"Full Title": PADDED, "Route": PADDED}}


def difference(ours: Any, ref: Any) -> str:
    """Why two sections of one label differ in their text ("" when they do not)."""
    if ours.lines == ref.lines:
        return ""
    if (ours.kind, ours.is_array, ours.count) != (ref.kind, ref.is_array, ref.count):
        return "header"
    if ours.kind == "C":
        return PADDED if ours.values[0].ljust(12 * ours.count) == ref.values[0] else "values"
    if ours.kind != "R" or len(ours.values) != len(ref.values):
        return "values" if ours.values != ref.values else "layout"
    tiny = 4 * EPS * max(abs(v) for v in ref.values)  # type: ignore[arg-type]
    found = {"" if a == b else NOISE if max(abs(a), abs(b)) <= tiny else "values"  # type: ignore
             for a, b in zip(ours.values, ref.values)} - {""}
    return " + ".join(sorted(found)) or "layout"


@pytest.mark.parametrize("chk", real_checkpoints(), ids=lambda p: p.stem)
def test_real_checkpoint(chk: Path, tmp_path: Path) -> None:
    if is_broken(chk):
        with pytest.raises(RuntimeError, match=r"^Error: No Mol sections in \.chk\n"):
            Vexmora_.ChkReader_(fchk=str(chk))
        return
    r = Vexmora_.ChkReader_(fchk=str(chk))
    p, m = r.params, r.params.mol
    assert len(r.rlsw) == r.ilsw[57] and sum(nfunc(c) for c in m.shelltypes) == m.nbasis
    assert sum(m.shellnprim) == len(m.primexp) == len(m.concoeff)
    if chk.with_suffix(".log").exists():
        text = chk.with_suffix(".log").read_text(errors="replace")
        scf = re.findall(r"SCF Done:\s+E\(\S+\)\s+=\s+(-?\d+\.(\d+))", text)[-1]
        assert abs(p.scfene - float(scf[0])) <= 0.5 * 10.0 ** -len(scf[1]) + 1e-15
        cm = re.findall(r"Charge =\s*(-?\d+)\s+Multiplicity =\s*(\d+)", text)[0]
        nb = re.findall(r"(\d+) basis functions,\s+(\d+) primitive gaussians,\s+(\d+) cart", text)
        assert [m.totchg, m.multiplicity, m.nbasis] == [int(cm[0]), int(cm[1]), int(nb[-1][0])]
        assert [sum(nfunc(c, True) for c in m.shelltypes),
                sum(n * nfunc(c, True) for c, n in zip(m.shelltypes, m.shellnprim))] == \
            [int(nb[-1][2]), int(nb[-1][1])]
        np.testing.assert_allclose(m.coords, log_orientation(text), rtol=0, atol=1e-5)
        for spin, got in (("Alpha", m.aoene), ("Beta", m.boene)):
            printed = log_orbital_energies(text, spin)
            np.testing.assert_allclose(got[:len(printed)], printed, rtol=0, atol=0.5e-5 + 1e-12)
    if not chk.with_suffix(".fchk").exists():
        return
    ref = read_fchk(chk.with_suffix(".fchk"))
    r.write_fchk(fname=str(tmp_path / "ours.fchk"))
    ours = read_fchk(tmp_path / "ours.fchk")
    # The same sections in the same order as Gaussian's, the same texts but for KNOWN.
    assert [k for k in ours if k not in ref] == []
    assert [k for k in ref if k in ours] == list(ours)
    found = {k: difference(s, ref[k]) for k, s in ours.items()}
    assert {k: v for k, v in found.items() if v} == KNOWN.get(chk.stem, {})

"""Wavefunction type, orbital energies and coefficients, orthonormal basis,
the method prefix and the density code of restricted open-shell jobs."""
from __future__ import annotations

import re
import sys
from pathlib import Path
from typing import Dict, List, Optional, Tuple

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent))
from chkbuilder import ChkBuilder, densities, h2, job, mol, reals, switches  # noqa: E402
from refdata import read_fchk  # noqa: E402

Vexmora_ = pytest.importorskip("Vexmora_")

# Unequal, so that a mix-up of the two counts changes every size.
NBASIS, NBSUSE = 3, 2
XYZ = ((0.0, 0.0, 0.0), (0.0, 0.0, 1.4))

#: IOpCl -> (NRI, spinfac, unrestricted, prefix with ILSW[21] = 0)
WFN: Dict[int, Tuple[int, int, bool, str]] = {
    0: (1, 1, False, "R"), 1: (1, 1, True, "U"), 2: (2, 1, False, "RC"),
    3: (2, 1, True, "UC"), 6: (2, 2, False, "G"), 10: (2, 1, False, "RC"),
    11: (2, 1, True, "UC"), 14: (2, 2, False, "G"), 18: (2, 1, False, "RC"),
    22: (2, 2, False, "G"),
}


def load(tmp_path: Path, b: ChkBuilder) -> "Vexmora_.ChkReader_":
    return Vexmora_.ChkReader_(fchk=b.write(tmp_path / "t.chk"))


def error(msg: str) -> str:
    return "^Error: " + re.escape(msg) + "(\n|$)"


def sizes(iopcl: int, nbasis: int = NBASIS, nbsuse: int = NBSUSE) -> Tuple[int, int]:
    """(NOrb, LenMO) of a legal code."""
    nri, spinfac, _, _ = WFN[max(iopcl, 0)]
    norb = nbsuse * spinfac
    return norb, nbasis * norb * spinfac * nri


def values(start: float, n: int) -> List[float]:
    return [start + k for k in range(n)]


def job_with(iopcl: int = 0, *, ilsw: Optional[dict] = None, nbasis: int = NBASIS,
             nbsuse: int = NBSUSE, len522: Optional[int] = None, len524: Optional[int] = None,
             len526: Optional[int] = None, len685: Optional[int] = None,
             info5: int = 0) -> ChkBuilder:
    """H2 with orbital records of the given lengths (default: what ``iopcl``
    needs, with two spin blocks of energies); None for 526/685 leaves them out."""
    norb, lenmo = sizes(iopcl, nbasis, nbsuse)
    b = h2()
    b.replace(998, switches({0: iopcl, **(ilsw or {})}))
    b.replace(993, job([0, 0, 0, 0, 0, info5, 0, 0, 0]))
    b.replace(997, mol([1, 1], XYZ, nbasis=nbasis, nbsuse=nbsuse))
    b.replace(522, reals(values(-10.0, 2 * norb + 1 if len522 is None else len522)))
    b.replace(524, reals(values(100.0, lenmo if len524 is None else len524)))
    if len526 is not None:
        b.add(526, reals(values(1000.0, len526)))
    if len685 is not None:
        b.add(685, reals(values(5000.0, len685)))
    return b


# --- decode_sc through the arrays read and the prefix -------------------------

@pytest.mark.parametrize("iopcl", sorted(WFN) + [-5, -1])
def test_wavefunction_codes(tmp_path: Path, iopcl: int) -> None:
    nri, spinfac, unrestricted, prefix = WFN[max(iopcl, 0)]
    norb, lenmo = sizes(iopcl)
    r = load(tmp_path, job_with(iopcl, len526=lenmo, len685=lenmo))
    p, m = r.params, r.params.mol
    assert p.method == prefix + "HF"
    assert m.aoene == values(-10.0, norb)
    assert m.boene == (values(-10.0 + norb, norb) if unrestricted else [])
    assert m.amocoeff == values(100.0, lenmo)
    assert m.bmocoeff == (values(1000.0, lenmo) if unrestricted else [])
    assert m.orthbasis == values(5000.0, lenmo)


@pytest.mark.parametrize("iopcl", [4, 5, 7, 8, 9, 12, 13, 15, 16, 17, 19, 20, 21, 23, 26,
                                   27, 30, 2**40])
def test_illegal_wavefunction_codes(tmp_path: Path, iopcl: int) -> None:
    b = h2().replace(998, switches({0: iopcl}))
    with pytest.raises(RuntimeError, match=error("Illegal IOpCl in decode_sc")):
        load(tmp_path, b)


def test_without_switch_record_the_job_is_closed_shell(tmp_path: Path) -> None:
    b = job_with(0, len526=sizes(0)[1]).remove(998)
    p = load(tmp_path, b).params
    assert p.method == "RHF"  # ILSW[21] is -1 here
    assert (len(p.mol.aoene), p.mol.boene, p.mol.bmocoeff) == (NBSUSE, [], [])


@pytest.mark.parametrize("switch_record, iopcl, switch21, written", [
    (False, 0, 0, (0, 0)),     # not the -1 that ILSW[21] holds without the record
    (True, -5, 1, (-5, 1)),    # kept as stored, decoded as 0
    (True, 2, 3, (2, 3)),      # the density code's adjustment stays out of it
])
def test_codes_written_to_the_formatted_checkpoint(tmp_path: Path, switch_record: bool,
                                                   iopcl: int, switch21: int,
                                                   written: Tuple[int, int]) -> None:
    b = job_with(iopcl, ilsw={21: switch21})
    if not switch_record:
        b.remove(998)
    out = tmp_path / "t.fchk"
    load(tmp_path, b).write_fchk(fname=str(out))
    f = read_fchk(out)
    assert (f.values("IOpCl")[0], f.values("IROHF")[0]) == written


def test_unrestricted_without_beta_coefficients(tmp_path: Path) -> None:
    m = load(tmp_path, job_with(1)).params.mol
    assert m.boene == values(-10.0 + NBSUSE, NBSUSE)
    assert m.bmocoeff == []


# --- record lengths ------------------------------------------------------------

NORB0, LENMO0 = sizes(0)


@pytest.mark.parametrize("kw", [
    dict(len524=LENMO0 - 1), dict(len522=NORB0 - 1), dict(nbsuse=0), dict(nbasis=0),
    dict(len524=0), dict(len522=0),
], ids=["524-short", "522-short", "nbsuse-0", "nbasis-0", "524-empty", "522-empty"])
def test_short_orbital_records_are_not_read(tmp_path: Path, kw: dict) -> None:
    b = job_with(0, len685=LENMO0, **kw)
    m = load(tmp_path, b).params.mol
    assert (m.aoene, m.boene, m.amocoeff, m.bmocoeff, m.orthbasis) == ([], [], [], [], [])


@pytest.mark.parametrize("missing", [522, 524])
def test_missing_orbital_record(tmp_path: Path, missing: int) -> None:
    m = load(tmp_path, job_with(0, len685=LENMO0).remove(missing)).params.mol
    assert (m.aoene, m.amocoeff, m.orthbasis) == ([], [], [])


def test_longer_records_give_only_what_is_needed(tmp_path: Path) -> None:
    m = load(tmp_path, job_with(0, len522=NORB0 + 5, len524=LENMO0 + 5)).params.mol
    assert (m.aoene, m.amocoeff) == (values(-10.0, NORB0), values(100.0, LENMO0))


@pytest.mark.parametrize("len685, read", [(LENMO0, True), (LENMO0 - 1, False),
                                          (LENMO0 + 1, False), (0, False)])
def test_orthonormal_basis_needs_the_exact_length(tmp_path: Path, len685: int,
                                                  read: bool) -> None:
    m = load(tmp_path, job_with(0, len685=len685)).params.mol
    assert m.orthbasis == (values(5000.0, LENMO0) if read else [])
    assert m.amocoeff == values(100.0, LENMO0)


# --- method prefix -------------------------------------------------------------

@pytest.mark.parametrize("iopcl, switch21, method", [
    (0, 1, "ROHF"), (2, 1, "ROCHF"), (10, 1, "ROCHF"), (1, 1, "UHF"), (3, 1, "UCHF"),
    (6, 1, "GHF"), (0, -1, "RHF"), (0, 2, "HF"), (1, 2, "HF"), (6, 3, "HF"),
])
def test_prefix_follows_switch_21(tmp_path: Path, iopcl: int, switch21: int, method: str) -> None:
    assert load(tmp_path, job_with(iopcl, ilsw={21: switch21})).params.method == method


@pytest.mark.parametrize("info5, prefixed", [
    (0, True), (199, True), (200, False), (999, False), (1199, True), (1200, False),
    # The remainder keeps the sign: -150 and -4701 leave -150 and -701.
    (-1, True), (-150, True), (-4701, True), (-1000, True),
])
def test_prefix_and_job_info_5(tmp_path: Path, info5: int, prefixed: bool) -> None:
    method = load(tmp_path, job_with(1, info5=info5)).params.method
    assert method == ("UHF" if prefixed else "HF")


def test_no_prefix_without_job_record(tmp_path: Path) -> None:
    assert load(tmp_path, job_with(0).remove(993)).params.method == "Unknown"


# --- the code that sizes the densities ---------------------------------------

def density_record(code: int, nbasis: int = NBASIS) -> Tuple[bytes, List[float], List[float]]:
    """Record 603 with SCF densities laid out for density code ``code``, and
    the total and spin densities the reader should make of it."""
    nri, spinfac, unrestricted, _ = WFN[code]
    n = spinfac * nbasis
    blk = nri * n * (n + 1) // 2
    words = values(1.0, blk * (2 if unrestricted else 1))
    if not unrestricted:
        return densities(1, words), words, []
    a, b = words[:blk], words[blk:]
    return (densities(1, words), [x + y for x, y in zip(a, b)],
            [x - y for x, y in zip(a, b)])


@pytest.mark.parametrize("iopcl, irohf, with534, code", [
    (0, 0, False, 0), (0, 1, False, 1), (0, 2, False, 1), (0, 3, False, 0), (0, 3, True, 1),
    (2, 1, False, 3), (2, 2, False, 3), (2, 3, False, 2), (2, 3, True, 3),
    (1, 1, False, 1), (1, 3, True, 1), (3, 2, False, 3), (6, 1, False, 6),
    (10, 1, False, 10), (0, -1, False, 0), (0, 4, True, 0),
])
def test_restricted_open_shell_raises_the_density_code(tmp_path: Path, iopcl: int, irohf: int,
                                                       with534: bool, code: int) -> None:
    rec, tot, spin = density_record(code)
    b = job_with(iopcl, ilsw={21: irohf}).add(603, rec)
    if with534:
        b.add(534, reals([0.0]))
    m = load(tmp_path, b).params.mol
    assert m.totdens[0] == tot
    assert m.spindens[0] == spin

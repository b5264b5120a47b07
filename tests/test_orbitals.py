"""Wavefunction type, orbital energies and coefficients, orthonormal basis,
the method prefix and the density code of restricted open-shell jobs."""
from __future__ import annotations

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
    0: (1, 1, False, "R"), 1: (1, 1, True, "U"), 2: (2, 1, False, "RC"), 3: (2, 1, True, "UC"),
    6: (2, 2, False, "G"), 10: (2, 1, False, "RC"), 11: (2, 1, True, "UC"),
    14: (2, 2, False, "G"), 18: (2, 1, False, "RC"), 22: (2, 2, False, "G")}


def load(tmp_path: Path, b: ChkBuilder) -> "Vexmora_.ChkReader_":
    return Vexmora_.ChkReader_(fchk=b.write(tmp_path / "t.chk"))


def written_codes(tmp_path: Path, r: "Vexmora_.ChkReader_") -> Tuple[int, int]:
    """IOpCl and IROHF as the formatted checkpoint gives them."""
    r.write_fchk(fname=str(tmp_path / "t.fchk"))
    f = read_fchk(tmp_path / "t.fchk")
    return f.values("IOpCl")[0], f.values("IROHF")[0]  # type: ignore[return-value]


def sizes(iopcl: int, nbasis: int = NBASIS, nbsuse: int = NBSUSE) -> Tuple[int, int]:
    """(NOrb, LenMO) of a legal code."""
    nri, spinfac, _, _ = WFN[max(iopcl, 0)]
    return nbsuse * spinfac, nbasis * nbsuse * spinfac * spinfac * nri


def values(start: float, n: int) -> List[float]:
    return [start + k for k in range(n)]


#: Orbital records and the first of the distinct values each holds.
STARTS = {522: -10.0, 524: 100.0, 526: 1000.0, 685: 5000.0}


def job_with(iopcl: int = 0, *, ilsw: Optional[dict] = None, info5: int = 0,
             nbasis: int = NBASIS, nbsuse: int = NBSUSE, **lengths: Optional[int]) -> ChkBuilder:
    """H2 with orbital records of lengths ``len522=`` ... (default: what ``iopcl`` needs, two
    spin blocks of energies; no 526 and 685); a length of None leaves the record out."""
    norb, lenmo = sizes(iopcl, nbasis, nbsuse)
    n = {522: 2 * norb + 1, 524: lenmo, **{int(k[3:]): v for k, v in lengths.items()}}
    b = h2().remove(522, 524).replace(998, switches({0: iopcl, **(ilsw or {})}))
    b.replace(993, job([0, 0, 0, 0, 0, info5, 0, 0, 0]))
    b.replace(997, mol([1, 1], XYZ, nbasis=nbasis, nbsuse=nbsuse))
    for label, count in n.items():
        if count is not None:
            b.add(label, reals(values(STARTS[label], count)))
    return b


# --- decode_sc through the arrays read and the prefix -------------------------

ILLEGAL = [4, 5, 7, 8, 9, 12, 13, 15, 16, 17, 19, 20, 21, 23, 26, 27, 30, 2**40]


# None: no switch record, so a closed-shell job (IROHF is 0 then, not the -1
# that ILSW[21] holds); negative codes are decoded as 0 but written as stored.
@pytest.mark.parametrize("iopcl", sorted(WFN) + [-5, -1, None] + ILLEGAL)
def test_wavefunction_codes(tmp_path: Path, iopcl: Optional[int]) -> None:
    if iopcl in ILLEGAL:
        with pytest.raises(RuntimeError, match="^Error: Illegal IOpCl in decode_sc(\n|$)"):
            load(tmp_path, h2().replace(998, switches({0: iopcl})))
        return
    code = 0 if iopcl is None else iopcl
    unrestricted, prefix = WFN[max(code, 0)][2:]
    norb, lenmo = sizes(code)
    b = job_with(code, len526=lenmo, len685=lenmo)
    r = load(tmp_path, b.remove(998) if iopcl is None else b)
    p, m = r.params, r.params.mol
    assert (p.method, m.aoene, m.amocoeff, m.orthbasis) == (
        prefix + "HF", values(-10.0, norb), values(100.0, lenmo), values(5000.0, lenmo))
    assert m.boene == (values(-10.0 + norb, norb) if unrestricted else [])
    assert m.bmocoeff == (values(1000.0, lenmo) if unrestricted else [])
    assert written_codes(tmp_path, r) == (code, 0)


# --- record lengths ------------------------------------------------------------

NORB0, LENMO0 = sizes(0)
#: What each array holds when its record is read.
FULL = {"aoene": values(-10.0, NORB0), "amocoeff": values(100.0, LENMO0),
        "orthbasis": values(5000.0, LENMO0)}


@pytest.mark.parametrize("kw, read", [
    *[pytest.param(kw, (), id=name) for name, kw in (
        ("524-short", dict(len524=LENMO0 - 1)), ("522-short", dict(len522=NORB0 - 1)),
        ("nbsuse-0", dict(nbsuse=0)), ("nbasis-0", dict(nbasis=0)), ("524-empty", dict(len524=0)),
        ("522-empty", dict(len522=0)), ("no-522", dict(len522=None)), ("no-524", dict(len524=None)))],
    # Longer records give only what is needed.
    pytest.param(dict(len522=NORB0 + 5, len524=LENMO0 + 5), tuple(FULL), id="longer"),
    # The orthonormal basis needs the exact length.
    *[pytest.param(dict(len685=n), ("aoene", "amocoeff"), id=f"685-{n}")
      for n in (LENMO0 - 1, LENMO0 + 1, 0)],
])
def test_record_lengths(tmp_path: Path, kw: dict, read: Tuple[str, ...]) -> None:
    m = load(tmp_path, job_with(0, **{"len685": LENMO0, **kw})).params.mol
    for name, full in FULL.items():
        assert getattr(m, name) == (full if name in read else []), name


# --- ILSW[21] and job info 5: the method prefix and the density code ----------

def density_record(code: int) -> Tuple[bytes, List[float], List[float]]:
    """Record 603 with SCF densities laid out for density code ``code``, and
    the total and spin densities the reader should make of it."""
    nri, spinfac, unrestricted, _ = WFN[code]
    blk = nri * (spinfac * NBASIS) * (spinfac * NBASIS + 1) // 2
    a, b = values(1.0, blk), values(1.0 + blk, blk if unrestricted else 0)
    if not unrestricted:
        return densities(1, a), a, []
    return densities(1, a + b), [x + y for x, y in zip(a, b)], [x - y for x, y in zip(a, b)]


# ILSW[21] = 1, or 2, or 3 with record 534, makes IOpCl 0 and 2 open shell:
# their densities come in two blocks, as for IOpCl + 1 (test_densities.py has
# every such case); other codes keep theirs. The written IOpCl and IROHF stay
# as stored.
@pytest.mark.parametrize("iopcl, irohf, with534, info5, method, code", [
    (0, 0, False, 0, "RHF", 0), (0, -1, False, 0, "RHF", 0), (0, 1, False, 0, "ROHF", 1),
    (0, 2, False, 0, "HF", 1), (2, 1, False, 0, "ROCHF", 3), (2, 2, False, 0, "HF", 3),
    (2, 3, False, 0, "HF", 2), (10, 1, False, 0, "ROCHF", 10), (1, 1, False, 0, "UHF", 1),
    (1, 2, False, 0, "HF", 1), (1, 3, True, 0, "HF", 1), (3, 1, False, 0, "UCHF", 3),
    (3, 2, False, 0, "HF", 3), (6, 1, False, 0, "GHF", 6), (6, 3, False, 0, "HF", 6),
    # Job info 5 mod 1000 below 200 keeps the prefix; the remainder keeps the
    # sign: -150 and -4701 leave -150 and -701.
    *[(1, 0, False, info5, "UHF" if prefixed else "HF", 1) for info5, prefixed in (
        (199, True), (200, False), (999, False), (1199, True), (1200, False),
        (-1, True), (-150, True), (-4701, True), (-1000, True))],
])
def test_prefix_and_density_code(tmp_path: Path, iopcl: int, irohf: int, with534: bool,
                                 info5: int, method: str, code: int) -> None:
    rec, tot, spin = density_record(code)
    b = job_with(iopcl, ilsw={21: irohf}, info5=info5).add(603, rec)
    r = load(tmp_path, b.add(534, reals([0.0])) if with534 else b)
    assert r.params.method == method
    assert (r.params.mol.totdens[0], r.params.mol.spindens[0]) == (tot, spin)
    assert written_codes(tmp_path, r) == (iopcl, irohf)

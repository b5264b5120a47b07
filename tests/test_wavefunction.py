"""Wavefunction type (IOpCl), orbitals (522, 524, 526, 685), the method prefix,
densities (603) of every size and kind, and the Hessian (585)."""
from __future__ import annotations

from pathlib import Path
from typing import Any, List

import numpy as np
import pytest
from hypothesis import given, settings, strategies as st

from chkbuilder import (H2_XYZ, ChkBuilder, densities, h2, job, lower_triangle, mol, orientation,
                        read, reals, switches)

NBASIS, NBSUSE = 3, 2  # unequal, so that a mix-up of the two changes every size
#: IOpCl -> (NRI, spinfac, unrestricted, prefix)
WFN = {0: (1, 1, False, "R"), 1: (1, 1, True, "U"), 2: (2, 1, False, "RC"), 3: (2, 1, True, "UC"),
       6: (2, 2, False, "G"), 10: (2, 1, False, "RC"), 11: (2, 1, True, "UC"),
       14: (2, 2, False, "G"), 18: (2, 1, False, "RC"), 22: (2, 2, False, "G")}
ROT = ((0.8, -0.6, 0.1), (0.6, 0.8, -0.2), (0.05, 0.3, 0.95))


def values(start: float, n: int) -> List[float]:
    return [start + k for k in range(n)]


def wfn(iopcl: int = 0, ilsw: Any = None, info5: int = 0, nbasis: int = NBASIS,
        nbsuse: int = NBSUSE, **lengths: Any) -> ChkBuilder:
    """H2 with orbital records of ``len522=`` ... words (default: what ``iopcl`` needs)."""
    nri, spinfac = WFN[max(iopcl, 0)][:2]
    norb, lenmo = nbsuse * spinfac, nbasis * nbsuse * spinfac ** 2 * nri
    n = {"len522": 2 * norb + 1, "len524": lenmo, **lengths}
    b = h2().remove(522, 524).replace(998, switches({0: iopcl, **(ilsw or {})}))
    b.replace(993, job([0, 0, 0, 0, 0, info5, 0, 0, 0]))
    b.replace(997, mol([1, 1], H2_XYZ, nbasis=nbasis, nbsuse=nbsuse))
    for key, start in (("len522", -10.0), ("len524", 100.0), ("len526", 1000.0), ("len685", 5e3)):
        if n.get(key) is not None:
            b.add(int(key[3:]), reals(values(start, n[key])))
    return b


@pytest.mark.parametrize("iopcl", sorted(WFN) + [-5])
def test_wavefunction_code(tmp_path: Path, iopcl: int) -> None:
    nri, spinfac, unrestricted, prefix = WFN[max(iopcl, 0)]
    norb, lenmo = NBSUSE * spinfac, NBASIS * NBSUSE * spinfac ** 2 * nri
    r = read(tmp_path, wfn(iopcl, len526=lenmo, len685=lenmo))
    m = r.params.mol
    assert (r.params.method, m.aoene, m.amocoeff, m.orthbasis) == (
        prefix + "HF", values(-10.0, norb), values(100.0, lenmo), values(5e3, lenmo))
    assert (m.boene, m.bmocoeff) == ((values(-10.0 + norb, norb), values(1000.0, lenmo))
                                     if unrestricted else ([], []))


FULL = {"aoene": values(-10.0, 2), "amocoeff": values(100.0, 6), "orthbasis": values(5e3, 6)}


@pytest.mark.parametrize("kw, read_", [
    *[(kw, ()) for kw in (dict(len524=5), dict(len522=1), dict(nbsuse=0), dict(nbasis=0),
                          dict(len524=None), dict(len522=None),
                          dict(nbasis=10**12, len522=5, len524=6))],
    (dict(len522=7, len524=11), tuple(FULL)),  # longer records give what is needed
    *[(dict(len685=n), ("aoene", "amocoeff")) for n in (5, 7, 0)],  # 685 needs the exact length
])
def test_orbital_record_lengths(tmp_path: Path, kw: dict, read_: Any) -> None:
    m = read(tmp_path, wfn(0, **{"len685": 6, **kw})).params.mol
    assert {k: getattr(m, k) for k in FULL} == {k: v if k in read_ else [] for k, v in FULL.items()}


def density_record(code: int, kinds: List[int], nbasis: int) -> Any:
    """Record 603 of ``kinds`` for density code ``code``, and the total and spin densities."""
    nri, spinfac, unrestricted = WFN[code][:3]
    blk = nri * (spinfac * nbasis) * (spinfac * nbasis + 1) // 2
    data, tot, spin = [], [[]] * 9, [[]] * 9
    for k in kinds:
        al, be = values(10.0 * k, blk), values(-3.5 * k, blk if unrestricted else 0)
        data.append(al + be)
        tot[k] = [x + y for x, y in zip(al, be)] if unrestricted else al
        spin[k] = [x - y for x, y in zip(al, be)]
    return densities(sum(1 << k for k in kinds), *data), tot, spin


@settings(max_examples=40, deadline=None)
@given(st.sampled_from(sorted(WFN)), st.sets(st.integers(0, 8)), st.integers(1, 6))
def test_densities_of_every_size(tmp_path_factory: Any, code: int, kinds: Any, nbasis: int) -> None:
    rec, tot, spin = density_record(code, sorted(kinds), nbasis)
    b = h2().replace(998, switches({0: code})).replace(997, mol([1, 1], H2_XYZ, nbasis=nbasis))
    m = read(tmp_path_factory.mktemp("d"), b.add(603, rec)).params.mol
    assert (m.totdens, m.spindens) == (tot, spin)


# ILSW[21] 1 or 2 (or 3 with record 534) makes IOpCl 0 and 2 open shell for the
# densities only, and "RO" the prefix with 1; job info 5 mod 1000 from 200 drops it.
@pytest.mark.parametrize("iopcl, irohf, with534, info5, method, code", [
    (0, 0, False, 0, "RHF", 0), (0, -1, False, 0, "RHF", 0), (0, 1, False, 0, "ROHF", 1),
    (0, 2, False, 0, "HF", 1), (2, 1, False, 0, "ROCHF", 3), (2, 3, False, 0, "HF", 2),
    (2, 3, True, 0, "HF", 3), (0, 3, True, 0, "HF", 1), (0, 4, True, 0, "HF", 0),
    (1, 3, True, 0, "HF", 1), (6, 1, False, 0, "GHF", 6), (10, 1, False, 0, "ROCHF", 10),
    *[(1, 0, False, i, "UHF" if kept else "HF", 1) for i, kept in (
        (199, True), (200, False), (1199, True), (1200, False), (-150, True), (-1000, True))],
])
def test_prefix_and_density_code(tmp_path: Path, iopcl: int, irohf: int, with534: bool,
                                 info5: int, method: str, code: int) -> None:
    rec, tot, spin = density_record(code, [0], NBASIS)
    b = wfn(iopcl, ilsw={21: irohf}, info5=info5).add(603, rec)
    r = read(tmp_path, b.add(534, reals([0.0])) if with534 else b)
    assert (r.params.method, r.params.mol.totdens, r.params.mol.spindens) == (method, tot, spin)
    r.write_fchk(fname=str(tmp_path / "t.fchk"))  # the codes are written as stored
    assert f"IOpCl{' ' * 38}I{iopcl:17d}\nIROHF{' ' * 38}I{irohf:17d}\n" in \
        (tmp_path / "t.fchk").read_text()


@pytest.mark.parametrize("word, selected", [
    (-1, True), (-(2**63), True), (0x7FFFFFFF << 32, True), (0, False), (2**32 - 1, False),
    (0x7FFFFE00 << 32, False)])
def test_selection_word(tmp_path: Path, word: int, selected: bool) -> None:
    data = [values(100.0 * k, 3) for k in range(9)]
    m = read(tmp_path, h2().add(603, densities(0, *data, word=word))).params.mol
    assert m.totdens == (data if selected else [[]] * 9)


@pytest.mark.parametrize("b, cut, tot", [
    # Unrestricted, the file ending inside beta, then inside alpha.
    *[(h2().replace(998, switches({0: 1})).add(603, densities(1, [1, 2, 3, 0.5, 0.25, 0.125])),
       kept, tot) for kept, tot in ((6, [1.5, 2.25, 3.0]), (3, [1.0, 2.0, 0.0]))],
    # Three kinds selected, one stored: the others run off the file and read as zeros.
    (h2().add(603, densities(7, [1.0, 2.0, 3.0]), length=4), None, [1.0, 2.0, 3.0, 0, 0, 0, 0, 0, 0]),
])
def test_densities_cut_by_the_end_of_the_file(tmp_path: Path, b: ChkBuilder, cut: Any,
                                              tot: List[float]) -> None:
    m = read(tmp_path, b, cut=cut).params.mol
    assert sum(m.totdens[:3], []) == tot


def with_hessian(tri: List[float], natoms: int = 2, rot: Any = None, ilsw: Any = None,
                 basis: bool = False) -> ChkBuilder:
    b = h2().replace(997, mol([1, 1], H2_XYZ, natoms=natoms)).replace(998, switches(ilsw))
    b = b if basis else b.remove(670)
    return (b.add(551, orientation(rot)) if rot else b).add(585, reals(tri))


SYM = np.random.default_rng(3).uniform(-1.0, 1.0, (6, 6))
SYM += SYM.T
TURNED = np.kron(np.eye(2), ROT) @ SYM @ np.kron(np.eye(2), ROT).T  # each atom block turned
SHORT = np.zeros((6, 6))  # a short triangle reads on to the end of the file
SHORT[np.tril_indices(6)] = values(1.0, 10) + [0.0] * 11


@pytest.mark.parametrize("b, expected", [
    (with_hessian(values(1.0, 6), natoms=1), [[1, 2, 4], [2, 3, 5], [4, 5, 6]]),
    (with_hessian([]), np.zeros((6, 6))), (h2(), np.zeros((0, 0))),
    # Turned also when the atoms are already on the shell centres; not with ILSW 25.
    *[(with_hessian(lower_triangle(SYM), rot=ROT, basis=on), TURNED) for on in (False, True)],
    (with_hessian(lower_triangle(SYM), rot=ROT, ilsw={25: 1}), SYM),
    (with_hessian(values(1.0, 10)), SHORT + np.tril(SHORT, -1).T),
])
def test_hessian(tmp_path: Path, b: ChkBuilder, expected: Any) -> None:
    np.testing.assert_allclose(read(tmp_path, b).params.mol.hessian, expected, rtol=0, atol=1e-14)

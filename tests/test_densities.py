"""Densities of record 603: block sizes by wavefunction type, the selection of
density kinds, alpha/beta combination into total and spin densities, and the
files the reader refuses. (The real checkpoints' densities are compared with
Gaussian's .fchk in test_real_files.py.)"""
from __future__ import annotations

import sys
from pathlib import Path
from typing import Any, Dict, List, Optional, Tuple

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent))

from chkbuilder import densities, h2, ints, mol, reals, switches  # noqa: E402

Vexmora_ = pytest.importorskip("Vexmora_")

XYZ = [(0.0, 0.0, 0.0), (0.0, 0.0, 1.4)]
EMPTY: List[List[float]] = [[]] * 9


def read(tmp_path: Path, record: Optional[bytes], *, nbasis: int = 2,
         ilsw: Optional[Dict[int, int]] = None, with534: bool = False,
         record_length: Optional[int] = None, truncate: int = 0) -> Any:
    """The molecule of an H2 job with ``nbasis`` basis functions, switches
    ``ilsw`` and record 603 (last in the file, so reads past it meet the end
    of the file); ``truncate`` cuts that many words off the end of the file."""
    b = h2()
    b.replace(998, switches(ilsw))
    b.replace(997, mol([1, 1], XYZ, nbasis=nbasis))
    if with534:
        b.add(534, reals([0.0]))
    if record is not None:
        b.add(603, record, length=record_length)
    total = len(b.build()) // 8
    path = b.write(tmp_path / "dens.chk", truncate_words=total - truncate if truncate else None)
    return Vexmora_.ChkReader_(fchk=path).params.mol


def error_line(tmp_path: Path, record: Optional[bytes], **kw: Any) -> str:
    with pytest.raises(RuntimeError) as err:
        read(tmp_path, record, **kw)
    return str(err.value).split("\n", 1)[0]


def block(n: int, start: float) -> List[float]:
    """n distinct exactly representable values."""
    return [start + 0.25 * i for i in range(n)]


def only(k: int, values: List[float]) -> List[List[float]]:
    """Nine slots, ``values`` in slot k."""
    return [values if j == k else [] for j in range(9)]


def total_and_spin(alpha: List[float], beta: List[float]) -> Tuple[List[float], List[float]]:
    return [a + b for a, b in zip(alpha, beta)], [a - b for a, b in zip(alpha, beta)]


# Words of one block for nbasis 3, by IOpCl: triangles of 6 (3 x 3) or 21
# (6 x 6 for two-component spin orbitals) elements, doubled for complex values.
WORDS: Dict[int, int] = {0: 6, 1: 6, 2: 12, 3: 12, 6: 42, 10: 12, 11: 12, 14: 42, 18: 12, 22: 42}


@pytest.mark.parametrize("iopcl, irohf, with534, blocks", [
    (0, 0, False, 1), (1, 0, False, 2), (2, 0, False, 1), (3, 0, False, 2), (6, 0, False, 1),
    (10, 0, False, 1), (11, 0, False, 2), (14, 0, False, 1), (18, 0, False, 1), (22, 0, False, 1),
    # Restricted open shell (ILSW[21] 1 or 2, or 3 with record 534): alpha and beta blocks.
    (0, 1, False, 2), (0, 2, False, 2), (0, 3, True, 2), (0, 3, False, 1), (0, 4, True, 1),
    (0, 0, True, 1), (0, -1, True, 1), (2, 1, False, 2), (2, 3, True, 2), (2, 3, False, 1),
    (1, 1, True, 2), (6, 1, True, 1),
])
def test_blocks_per_density_kind(tmp_path: Path, iopcl: int, irohf: int, with534: bool,
                                 blocks: int) -> None:
    alpha, beta = block(WORDS[iopcl], 1.0), block(WORDS[iopcl], -7.5)
    m = read(tmp_path, densities(1, alpha + (beta if blocks == 2 else [])), nbasis=3,
             ilsw={0: iopcl, 21: irohf}, with534=with534)
    tot, spin = (alpha, []) if blocks == 1 else total_and_spin(alpha, beta)
    assert (m.totdens, m.spindens) == (only(0, tot), only(0, spin))


@pytest.mark.parametrize("iopcl", [0, 1])
@pytest.mark.parametrize("kinds", [(0, 2), (1, 5, 8), (3,), tuple(range(9))])
def test_selected_kinds_stand_back_to_back(tmp_path: Path, kinds: Tuple[int, ...],
                                           iopcl: int) -> None:
    data = {k: block(3 * (iopcl + 1), 10.0 * (k + 1)) for k in kinds}
    m = read(tmp_path, densities(sum(1 << k for k in kinds), *data.values()), ilsw={0: iopcl})
    for k in range(9):
        d = data.get(k, [])
        want = (d, []) if iopcl == 0 or not d else total_and_spin(d[:3], d[3:])
        assert (m.totdens[k], m.spindens[k]) == want, k


@pytest.mark.parametrize("word, selects_all", [
    (-1, True), (-(2 ** 63), True), (-(2 ** 32), True),  # negative: every kind
    (((1 << 63) | (1 << 32) | 1) - 2 ** 64, True),
    (0x7FFFFFFF << 32, True),  # non-negative, kinds 0 to 8 in the upper half
    (0, False), (1, False), (2 ** 32 - 1, False),  # low bits only: nothing
    (0x7FFFFE00 << 32, False),  # upper bits, but none of a kind
])
def test_selection_word(tmp_path: Path, word: int, selects_all: bool) -> None:
    data = [block(3, 100.0 * (k + 1)) for k in range(9)]
    m = read(tmp_path, densities(0, *(data if selects_all else data[:1]), word=word))
    assert (m.totdens, m.spindens) == ((data, EMPTY) if selects_all else (EMPTY, EMPTY))


@pytest.mark.parametrize("iopcl,nbasis,length,lenden", [
    (1, 2, 8, 6), (0, 2, 3, 3), (0, 2, 0, 3), (0, 2, 6, 3), (3, 2, 7, 12), (6, 2, 12, 20),
    (14, 1, 4, 6),
])
def test_length_not_matching_the_blocks(tmp_path: Path, iopcl: int, nbasis: int, length: int,
                                        lenden: int) -> None:
    # The check comes before the selection word is looked at.
    record = ints([0]) + reals([0.5] * max(length - 1, 0))
    got = error_line(tmp_path, record, nbasis=nbasis, ilsw={0: iopcl}, record_length=length)
    assert got == (f"Error: Error retrieving densities from rwf= 603, LenDen= {lenden}, "
                   f"but length= {length}")


@pytest.mark.parametrize("with_record", [True, False])
@pytest.mark.parametrize("ilsw9,refused", [(2, True), (3, True), (-1, True), (6, True),
                                           (1, False), (4, False), (0, False)])
def test_natural_orbital_switch(tmp_path: Path, ilsw9: int, refused: bool,
                                with_record: bool) -> None:
    # A badly sized record shows that the switch is looked at first.
    record = densities(1, block(4, 1.0)) if with_record else None
    if refused:
        assert error_line(tmp_path, record, ilsw={0: 1, 9: ilsw9}) == \
            "Error: Cannot do natural orbitals yet"
    elif with_record:
        assert "Error retrieving densities" in error_line(tmp_path, record, ilsw={0: 1, 9: ilsw9})
    else:
        m = read(tmp_path, None, ilsw={0: 1, 9: ilsw9})
        assert (m.totdens, m.spindens) == (EMPTY, EMPTY)


@pytest.mark.parametrize("iopcl", [0, 1, 3, 6, 11, 22])
@pytest.mark.parametrize("nbasis", [2 ** 31, 2 ** 40, 2 ** 62, 2 ** 63 - 1])
def test_huge_nbasis_rejected(tmp_path: Path, nbasis: int, iopcl: int) -> None:
    # No file can hold such densities; the record must not be skipped either.
    line = error_line(tmp_path, densities(1, [1.0, 2.0, 3.0]), nbasis=nbasis, ilsw={0: iopcl})
    assert line.startswith("Error: ")


@pytest.mark.parametrize("record, outcome", [
    (None, None),  # nothing to read: no size matters
    (densities(0), None),  # only the selection word, no kind selected
    (densities(1, [1.0, 2.0, 3.0]),
     "Error: Error retrieving densities from rwf= 603, LenDen= 500500, but length= 4"),
    (densities(1), "Error: Size of densities out of range for this file: nbasis= 1000"),
])
def test_blocks_larger_than_the_file(tmp_path: Path, record: Optional[bytes],
                                     outcome: Optional[str]) -> None:
    # 1000 basis functions: a block of 500500 words, more than this file holds.
    b = h2().remove(522, 524)
    b.replace(997, mol([1, 1], XYZ, nbasis=1000, nbsuse=2))
    if record is not None:
        b.add(603, record)
    path = b.write(tmp_path / "dens.chk")
    if outcome is None:
        assert Vexmora_.ChkReader_(fchk=path).params.mol.totdens == EMPTY
    else:
        with pytest.raises(RuntimeError) as err:
            Vexmora_.ChkReader_(fchk=path)
        assert str(err.value).split("\n", 1)[0] == outcome


@pytest.mark.parametrize("cut", [1, 2, 4])
def test_record_cut_short_by_end_of_file(tmp_path: Path, cut: int) -> None:
    alpha, beta = [1.0, 2.0, 3.0], [0.5, 0.25, 0.125]
    m = read(tmp_path, densities(1, alpha + beta), ilsw={0: 1}, truncate=cut)
    beta_read = beta[: 3 - min(cut, 3)] + [0.0] * min(cut, 3)
    alpha_read = alpha[: 3 - max(cut - 3, 0)] + [0.0] * max(cut - 3, 0)
    assert (m.totdens[0], m.spindens[0]) == total_and_spin(alpha_read, beta_read)


def test_kinds_beyond_the_record_read_as_zeros(tmp_path: Path) -> None:
    # Kinds 0, 1 and 2 selected, one block stored: the others run off the file.
    m = read(tmp_path, densities(0b111, [1.0, 2.0, 3.0]), record_length=4)
    assert m.totdens[:3] == [[1.0, 2.0, 3.0], [0.0] * 3, [0.0] * 3]

"""Densities of record 603: block sizes by wavefunction type, the selection of
density kinds, alpha/beta combination into total and spin densities, and the
files the reader refuses."""
from __future__ import annotations

import sys
from pathlib import Path
from typing import Dict, List, Optional, Tuple

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent))

from chkbuilder import densities, h2, ints, mol, reals, switches  # noqa: E402
from refdata import read_fchk  # noqa: E402
from refdata import testdata as real_data  # noqa: E402

Vexmora_ = pytest.importorskip("Vexmora_")

XYZ = [(0.0, 0.0, 0.0), (0.0, 0.0, 1.4)]
NAMES = ["SCF Density", "Psi(1) Density", "MP2 Density", "MP3 Density", "MP4 Density",
         "CI Rho(1) Density", "CI Density", "CC Density", "2nd Order Density"]


def write_chk(tmp_path: Path, record: Optional[bytes], *, nbasis: int = 2,
              ilsw: Optional[Dict[int, int]] = None, with534: bool = False,
              record_length: Optional[int] = None, truncate: int = 0) -> str:
    """An H2 job with ``nbasis`` basis functions, switches ``ilsw`` and record
    603 (last in the file, so reads past it meet the end of the file);
    ``truncate`` cuts that many words off the end of the file."""
    b = h2()
    b.replace(998, switches(ilsw))
    b.replace(997, mol([1, 1], XYZ, nbasis=nbasis))
    if with534:
        b.add(534, reals([0.0]))
    if record is not None:
        b.add(603, record, length=record_length)
    total = len(b.build()) // 8
    return b.write(tmp_path / "dens.chk", truncate_words=total - truncate if truncate else None)


def read(tmp_path: Path, record: Optional[bytes], **kw: object) -> "Vexmora_.Mol":
    return Vexmora_.ChkReader_(fchk=write_chk(tmp_path, record, **kw)).params.mol  # type: ignore


def error_line(tmp_path: Path, record: Optional[bytes], **kw: object) -> str:
    with pytest.raises(RuntimeError) as err:
        read(tmp_path, record, **kw)
    return str(err.value).split("\n", 1)[0]


def block(n: int, start: float) -> List[float]:
    """n distinct exactly representable values."""
    return [start + 0.25 * i for i in range(n)]


def only(k: int, values: List[float]) -> List[List[float]]:
    """Nine slots, ``values`` in slot k."""
    return [values if j == k else [] for j in range(9)]


# With nbasis 3: triangles of 6 (3 x 3) or 21 (6 x 6 for two-component spin
# orbitals) elements, doubled for complex values.
# IOpCl -> (words of one block, blocks per density kind)
SIZES: Dict[int, Tuple[int, int]] = {
    0: (6, 1), 1: (6, 2), 2: (12, 1), 3: (12, 2), 6: (42, 1),
    10: (12, 1), 11: (12, 2), 14: (42, 1), 18: (12, 1), 22: (42, 1),
}


@pytest.mark.parametrize("iopcl", sorted(SIZES))
def test_block_sizes_by_wavefunction_type(tmp_path: Path, iopcl: int) -> None:
    nb, nblk = SIZES[iopcl]
    alpha, beta = block(nb, 1.0), block(nb, -7.5)
    m = read(tmp_path, densities(1, alpha + (beta if nblk == 2 else [])), nbasis=3,
             ilsw={0: iopcl})
    if nblk == 1:
        assert m.totdens == only(0, alpha)
        assert m.spindens == [[]] * 9
    else:
        assert m.totdens == only(0, [a + b for a, b in zip(alpha, beta)])
        assert m.spindens == only(0, [a - b for a, b in zip(alpha, beta)])


@pytest.mark.parametrize("iopcl", [0, 1])
@pytest.mark.parametrize("kinds", [(0, 2), (1, 5, 8), (3,), tuple(range(9))])
def test_selected_kinds_stand_back_to_back(tmp_path: Path, kinds: Tuple[int, ...],
                                           iopcl: int) -> None:
    nblk = iopcl + 1
    data = {k: block(3 * nblk, 10.0 * (k + 1)) for k in kinds}
    mask = sum(1 << k for k in kinds)
    m = read(tmp_path, densities(mask, *(data[k] for k in kinds)), ilsw={0: iopcl})
    for k in range(9):
        d = data.get(k, [])
        if nblk == 1 or not d:
            assert m.totdens[k] == d, k
            assert m.spindens[k] == [], k
        else:
            assert m.totdens[k] == [a + b for a, b in zip(d[:3], d[3:])], k
            assert m.spindens[k] == [a - b for a, b in zip(d[:3], d[3:])], k


@pytest.mark.parametrize("word", [-1, -(2 ** 63), -(2 ** 32), (1 << 63) | (1 << 32) | 1])
def test_negative_selection_word_selects_every_kind(tmp_path: Path, word: int) -> None:
    if word >= 2 ** 63:
        word -= 2 ** 64
    data = [block(3, 100.0 * (k + 1)) for k in range(9)]
    m = read(tmp_path, densities(0, *data, word=word))
    assert m.totdens == data


@pytest.mark.parametrize("word", [0, 1, 2 ** 32 - 1, 0x7FFFFE00 << 32])
def test_selection_word_without_kind_bits_selects_nothing(tmp_path: Path, word: int) -> None:
    m = read(tmp_path, densities(0, block(3, 1.0), word=word))
    assert m.totdens == [[]] * 9 and m.spindens == [[]] * 9


def test_upper_word_with_sign_bit_of_the_mask_clear(tmp_path: Path) -> None:
    # 0x7FFFFFFF in the upper half: a non-negative word selecting kinds 0 to 8.
    data = [block(3, 5.0 * k) for k in range(9)]
    m = read(tmp_path, densities(0, *data, word=0x7FFFFFFF << 32))
    assert m.totdens == data


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


@pytest.mark.parametrize("ilsw9,refused", [(2, True), (3, True), (-1, True), (6, True),
                                           (1, False), (4, False), (0, False)])
def test_natural_orbital_switch(tmp_path: Path, ilsw9: int, refused: bool) -> None:
    # A badly sized record shows that the switch is looked at first.
    record = densities(1, block(4, 1.0))
    if refused:
        assert error_line(tmp_path, record, ilsw={9: ilsw9}) == \
            "Error: Cannot do natural orbitals yet"
    else:
        assert "Error retrieving densities" in error_line(tmp_path, record, ilsw={9: ilsw9})


def test_natural_orbital_switch_without_densities(tmp_path: Path) -> None:
    assert error_line(tmp_path, None, ilsw={9: 2}) == "Error: Cannot do natural orbitals yet"


def test_no_record_no_densities(tmp_path: Path) -> None:
    m = read(tmp_path, None, ilsw={0: 1})
    assert m.totdens == [[]] * 9 and m.spindens == [[]] * 9


@pytest.mark.parametrize("iopcl", [0, 1, 3, 6, 11, 22])
@pytest.mark.parametrize("nbasis", [2 ** 31, 2 ** 40, 2 ** 62, 2 ** 63 - 1])
def test_huge_nbasis_rejected(tmp_path: Path, nbasis: int, iopcl: int) -> None:
    # No file can hold such densities; the record must not be skipped either.
    line = error_line(tmp_path, densities(1, [1.0, 2.0, 3.0]), nbasis=nbasis, ilsw={0: iopcl})
    assert line.startswith("Error: ")


@pytest.mark.parametrize("cut", [1, 2, 4])
def test_record_cut_short_by_end_of_file(tmp_path: Path, cut: int) -> None:
    alpha, beta = [1.0, 2.0, 3.0], [0.5, 0.25, 0.125]
    m = read(tmp_path, densities(1, alpha + beta), ilsw={0: 1}, truncate=cut)
    beta_read = beta[: 3 - min(cut, 3)] + [0.0] * min(cut, 3)
    alpha_read = alpha[: 3 - max(cut - 3, 0)] + [0.0] * max(cut - 3, 0)
    assert m.totdens[0] == [a + b for a, b in zip(alpha_read, beta_read)]
    assert m.spindens[0] == [a - b for a, b in zip(alpha_read, beta_read)]


def test_kinds_beyond_the_record_read_as_zeros(tmp_path: Path) -> None:
    # Kinds 0, 1 and 2 selected, one block stored: the others run off the file.
    m = read(tmp_path, densities(0b111, [1.0, 2.0, 3.0]), record_length=4)
    assert m.totdens[:3] == [[1.0, 2.0, 3.0], [0.0] * 3, [0.0] * 3]


@pytest.mark.parametrize("iopcl,irohf,with534,blocks", [
    (0, 1, False, 2), (0, 2, False, 2), (0, 3, True, 2), (0, 3, False, 1), (0, 4, True, 1),
    (0, 0, True, 1), (0, -1, True, 1), (2, 1, False, 2), (2, 3, True, 2), (2, 3, False, 1),
    (1, 1, True, 2), (6, 1, True, 1),
])
def test_restricted_open_shell_densities_come_in_two_blocks(
        tmp_path: Path, iopcl: int, irohf: int, with534: bool, blocks: int) -> None:
    words = {0: 3, 1: 3, 2: 6, 6: 20}[iopcl]  # one block for nbasis 2
    alpha, beta = block(words, 2.0), block(words, 0.5)
    m = read(tmp_path, densities(1, alpha + (beta if blocks == 2 else [])),
             ilsw={0: iopcl, 21: irohf}, with534=with534)
    if blocks == 1:
        assert m.totdens[0] == alpha and m.spindens[0] == []
    else:
        assert m.totdens[0] == [a + b for a, b in zip(alpha, beta)]
        assert m.spindens[0] == [a - b for a, b in zip(alpha, beta)]


# ---------------------------------------------------------------------------
# Real checkpoints against the formatted checkpoints Gaussian wrote for them


@pytest.mark.parametrize("stem", ["g16-ho2-ub2plyp-ccpvtz-freq", "g16-ts26-hf-sto3g-freq"])
def test_real_densities_match_gaussian_fchk(stem: str) -> None:
    d = real_data()
    ref = read_fchk(d / f"{stem}.fchk")
    m = Vexmora_.ChkReader_(fchk=str(d / f"{stem}.chk")).params.mol
    for k, name in enumerate(NAMES):
        for got, prefix in ((m.totdens[k], "Total "), (m.spindens[k], "Spin ")):
            label = prefix + name
            want = ref.values(label) if label in ref else []
            assert got == pytest.approx(want, rel=1e-7, abs=1e-12), label

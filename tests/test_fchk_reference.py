"""Our .fchk of each real checkpoint against the one Gaussian wrote for the
same job: every section we write that Gaussian's file also holds must carry
the same header and the same values at the printed precision, and every place
where the two texts differ must be one we know and can explain.
"""
from __future__ import annotations

import sys
from pathlib import Path
from typing import Callable, Dict, List, Optional, Set, Tuple

import pytest

from refdata import Fchk, FchkSection, companion, read_fchk, real_checkpoints
from refdata import testdata as require_testdata

Vexmora_ = pytest.importorskip("Vexmora_")

EPS = sys.float_info.epsilon

# Gaussian stores character sections in 12-character words and so pads the
# last item with blanks; our writer prints the last item as it is.
PADDED = "last character item padded with blanks"
# The reader moves the /Mol/ positions into the frame of the shell centres
# with the orientation record; components that are zero in that frame come
# out as rounding noise, different in the two programs.
ZERO_NOISE = "rounding noise in place of zero"
# Two prints of one value computed with different rounding.
LAST_DIGIT = "last printed digit"

# Every section whose text differs from Gaussian's, with the reason.
KNOWN_TEXT_DIFFERENCES: Dict[str, Dict[str, str]] = {
    "g16-ho2-ub2plyp-ccpvtz-freq": {
        "Full Title": PADDED,
        "Route": PADDED,
        "Current cartesian coordinates": ZERO_NOISE,
    },
    "g16-ts26-hf-sto3g-freq": {
        "Full Title": PADDED,
        "Route": PADDED,
    },
}

# Sections we write that Gaussian's file of the same job lacks.
ONLY_OURS: Dict[str, Set[str]] = {
    "g16-ho2-ub2plyp-ccpvtz-freq": set(),
    "g16-ts26-hf-sto3g-freq": set(),
}

# Sections the reader computes by rotating stored positions.
ROTATED = {"Current cartesian coordinates"}

# Mantissa decimals: "%16.8E" in arrays, "%22.15E" for real scalars.
ARRAY_DIGITS = 8
SCALAR_DIGITS = 15


def with_reference() -> List[Path]:
    return [c for c in real_checkpoints() if companion(c, ".fchk") is not None]


CHECKPOINTS = with_reference()
IDS = [c.stem for c in CHECKPOINTS]


@pytest.fixture(scope="module")
def pair(tmp_path_factory: pytest.TempPathFactory) -> Callable[[Path], Tuple[Fchk, Fchk]]:
    """Returns (ours, Gaussian's) for a checkpoint, writing ours once."""
    cache: Dict[Path, Tuple[Fchk, Fchk]] = {}

    def get(chk: Path) -> Tuple[Fchk, Fchk]:
        require_testdata()
        if chk not in cache:
            out = tmp_path_factory.mktemp("fchk") / (chk.stem + ".fchk")
            Vexmora_.ChkReader_(fchk=str(chk)).write_fchk(fname=str(out))
            ref = companion(chk, ".fchk")
            assert ref is not None
            cache[chk] = (read_fchk(out), read_fchk(ref))
        return cache[chk]

    return get


def last_unit(value: float, digits: int) -> float:
    """One unit in the last digit of ``value`` as printed with ``digits`` decimals."""
    if value == 0.0:
        return 0.0  # only an exact zero prints as zero in E format
    exponent = int(f"{value:.{digits}E}".split("E")[1])
    return 10.0 ** (exponent - digits)


def real_category(a: float, b: float, digits: int, scale: float) -> Optional[str]:
    """How two printed reals differ: None when equal, else a reason or "values".

    Each print is the nearest text to its double, so two prints of doubles that
    agree up to their own rounding differ by at most one unit in the last digit.
    Rounding noise is bounded by a few ulps of the largest magnitude ``scale``
    in the section: four per program.
    """
    if a == b:
        return None
    unit = max(last_unit(a, digits), last_unit(b, digits))
    # The slack covers only the binary representation of the printed decimals.
    if abs(a - b) <= unit * (1 + 1e-6):
        return LAST_DIGIT
    if abs(a) <= 4 * EPS * scale and abs(b) <= 4 * EPS * scale:
        return ZERO_NOISE
    return "values"


def section_categories(ours: FchkSection, ref: FchkSection) -> Set[str]:
    """The reasons why the texts of two sections of one label differ (empty if they don't)."""
    if ours.lines == ref.lines:
        return set()
    if (ours.kind, ours.is_array, ours.count) != (ref.kind, ref.is_array, ref.count):
        return {"header"}
    if ours.kind == "C":
        text = str(ours.values[0])
        return {PADDED} if text.ljust(12 * ours.count) == ref.values[0] else {"values"}
    if ours.kind in ("I", "L"):
        return {"values"} if ours.values != ref.values else {"layout"}
    digits = ARRAY_DIGITS if ours.is_array else SCALAR_DIGITS
    scale = max((abs(float(v)) for v in ref.values), default=0.0)
    cats = {
        real_category(float(a), float(b), digits, scale) for a, b in zip(ours.values, ref.values)
    }
    cats.discard(None)
    return {c for c in cats if c is not None} or {"layout"}


def common(ours: Fchk, ref: Fchk) -> List[str]:
    return [label for label in ours.sections if label in ref]


@pytest.mark.parametrize("chk", CHECKPOINTS, ids=IDS)
def test_title_and_job_lines_are_gaussians(pair: Callable, chk: Path) -> None:
    ours, ref = pair(chk)
    assert ours.title == ref.title
    assert ours.jobline == ref.jobline


@pytest.mark.parametrize("chk", CHECKPOINTS, ids=IDS)
def test_sections_only_we_write_are_the_expected_ones(pair: Callable, chk: Path) -> None:
    ours, ref = pair(chk)
    assert {label for label in ours.sections if label not in ref} == ONLY_OURS.get(chk.stem, set())


@pytest.mark.parametrize("chk", CHECKPOINTS, ids=IDS)
def test_shared_sections_come_in_gaussians_order(pair: Callable, chk: Path) -> None:
    ours, ref = pair(chk)
    assert common(ours, ref) == [label for label in ref.sections if label in ours]


@pytest.mark.parametrize("chk", CHECKPOINTS, ids=IDS)
def test_shared_sections_have_gaussians_type_and_count(pair: Callable, chk: Path) -> None:
    ours, ref = pair(chk)
    got = {k: (ours[k].kind, ours[k].is_array, ours[k].count) for k in common(ours, ref)}
    want = {k: (ref[k].kind, ref[k].is_array, ref[k].count) for k in common(ours, ref)}
    assert got == want


@pytest.mark.parametrize("chk", CHECKPOINTS, ids=IDS)
def test_shared_sections_hold_gaussians_values(pair: Callable, chk: Path) -> None:
    ours, ref = pair(chk)
    allowed = {PADDED, LAST_DIGIT, "layout"}
    wrong = {}
    for label in common(ours, ref):
        cats = section_categories(ours[label], ref[label])
        ok = allowed | ({ZERO_NOISE} if label in ROTATED else set())
        if not cats <= ok:
            wrong[label] = sorted(cats)
    assert wrong == {}


@pytest.mark.parametrize("chk", CHECKPOINTS, ids=IDS)
def test_textual_differences_are_the_known_ones(pair: Callable, chk: Path) -> None:
    ours, ref = pair(chk)
    found = {}
    for label in common(ours, ref):
        cats = section_categories(ours[label], ref[label])
        if cats:
            found[label] = " + ".join(sorted(cats))
    assert found == KNOWN_TEXT_DIFFERENCES.get(chk.stem, {})


def test_rounding_classes() -> None:
    # The classes the comparison above relies on, on hand-made numbers.
    assert real_category(1.23456789, 1.23456789, 8, 1.0) is None
    assert real_category(1.23456789, 1.23456790, 8, 1.0) == LAST_DIGIT
    assert real_category(9.99999999, 10.0000000, 8, 10.0) == LAST_DIGIT
    assert real_category(1.23456789, 1.23456791, 8, 1.0) == "values"
    assert real_category(-8.67361738e-19, -5.72201521e-19, 8, 2.8) == ZERO_NOISE
    assert real_category(1e-14, 0.0, 8, 2.8) == "values"

"""Our .fchk of each real checkpoint against the one Gaussian wrote for the
same job: every section we write Gaussian's file also holds, with the same
header, in the same order, with the same values at the printed precision; the
places where the two texts differ are listed below, each with its reason.
"""
from __future__ import annotations

import sys
from pathlib import Path
from typing import Dict, Optional, Set

import pytest

from refdata import FchkSection, companion, gaussian_fchk, our_fchk, read_fchk, real_checkpoints

Vexmora_ = pytest.importorskip("Vexmora_")

EPS = sys.float_info.epsilon

# Gaussian stores character sections in 12-character words, padding the last
# item with blanks; our writer prints it as it is.
PADDED = "last character item padded with blanks"
# The reader turns the /Mol/ positions into the shell-centre frame with the
# orientation record; components zero in that frame are rounding noise, different
# in the two programs.
ZERO_NOISE = "rounding noise in place of zero"
LAST_DIGIT = "last printed digit"  # one value printed after different rounding

# Every section whose text differs from Gaussian's, with the reason.
KNOWN_TEXT_DIFFERENCES: Dict[str, Dict[str, str]] = {
    "g16-ho2-ub2plyp-ccpvtz-freq": {
        "Full Title": PADDED,
        "Route": PADDED,
        "Current cartesian coordinates": ZERO_NOISE,
    },
    "g16-ts26-hf-sto3g-freq": {"Full Title": PADDED, "Route": PADDED},
}

# Mantissa decimals: "%16.8E" in arrays, "%22.15E" for real scalars.
ARRAY_DIGITS, SCALAR_DIGITS = 8, 15

CHECKPOINTS = [c for c in real_checkpoints() if companion(c, ".fchk") is not None]
IDS = [c.stem for c in CHECKPOINTS]


def last_unit(value: float, digits: int) -> float:
    """One unit in the last digit of ``value`` as printed with ``digits`` decimals."""
    if value == 0.0:
        return 0.0  # only an exact zero prints as zero in E format
    return 10.0 ** (int(f"{value:.{digits}E}".split("E")[1]) - digits)


def real_category(a: float, b: float, digits: int, scale: float) -> Optional[str]:
    """How two printed reals differ: None when equal, else a reason or "values".

    Prints of doubles that agree up to their own rounding differ by one unit in the
    last digit at most; rounding noise stays within four ulps per program of the
    largest magnitude ``scale`` in the section."""
    if a == b:
        return None
    # The slack covers only the binary representation of the printed decimals.
    if abs(a - b) <= max(last_unit(a, digits), last_unit(b, digits)) * (1 + 1e-6):
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
        return {PADDED} if str(ours.values[0]).ljust(12 * ours.count) == ref.values[0] else {"values"}
    if ours.kind in ("I", "L"):
        return {"values"} if ours.values != ref.values else {"layout"}
    digits = ARRAY_DIGITS if ours.is_array else SCALAR_DIGITS
    scale = max((abs(float(v)) for v in ref.values), default=0.0)
    cats = {real_category(float(a), float(b), digits, scale) for a, b in zip(ours.values, ref.values)}
    return {c for c in cats if c is not None} or {"layout"}


@pytest.mark.parametrize("chk", CHECKPOINTS, ids=IDS)
def test_sections_are_gaussians_but_for_the_known_differences(chk: Path) -> None:
    ours, ref = read_fchk(our_fchk(chk)[1]), gaussian_fchk(chk)
    assert (ours.title, ours.jobline) == (ref.title, ref.jobline)
    assert [k for k in ours.sections if k not in ref] == []  # nothing Gaussian lacks
    # Shared sections: same order, type and count.
    assert [(k, s.kind, s.is_array, s.count) for k, s in ours.sections.items()] == [
        (k, s.kind, s.is_array, s.count) for k, s in ref.sections.items() if k in ours]
    # Values: any difference in the text, even a last digit, must be a listed one.
    found = {k: " + ".join(sorted(section_categories(s, ref[k]))) for k, s in ours.sections.items()}
    assert {k: v for k, v in found.items() if v} == KNOWN_TEXT_DIFFERENCES.get(chk.stem, {})


def test_rounding_classes() -> None:
    # The classes the comparison above relies on, on hand-made numbers.
    assert real_category(1.23456789, 1.23456789, 8, 1.0) is None
    assert real_category(1.23456789, 1.23456790, 8, 1.0) == LAST_DIGIT
    assert real_category(9.99999999, 10.0000000, 8, 10.0) == LAST_DIGIT
    assert real_category(1.23456789, 1.23456791, 8, 1.0) == "values"
    assert real_category(-8.67361738e-19, -5.72201521e-19, 8, 2.8) == ZERO_NOISE
    assert real_category(1e-14, 0.0, 8, 2.8) == "values"

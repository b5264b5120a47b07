"""The formatted checkpoint written by ``write_fchk``: its section order, and the
number formats "%12d", "%16.8E" and "%22.15E" with their line breaks, as the C
library prints them (Python's % formatting rounds as it does)."""
from __future__ import annotations

from pathlib import Path
from typing import Any, List

from hypothesis import example, given, settings, strategies as st
import pytest

from chkbuilder import (H2_XYZ, Shell, basis, densities, general, h2, labels, mol, raw_coefs,
                        read, reals, switches)
from refdata import read_fchk

CELL = ((11.0, 0.0, 0.0), (0.5, 12.0, 0.0), (0.25, -0.75, 13.0))
I64 = st.integers(-(2**63), 2**63 - 1)
REAL = st.floats(allow_nan=False)


def fchk(tmp_path: Path, b: Any) -> List[str]:
    read(tmp_path, b).write_fchk(fname=str(tmp_path / "t.fchk"))
    return (tmp_path / "t.fchk").read_text().split("\n")


def section(lines: List[str], label: str, kind: str, items: List[str], per: int) -> List[str]:
    """The text of an array section: header, then ``per`` items to a line."""
    return [f"{label:<40}   {kind}   N={len(items):12d}"] + [
        "".join(items[k:k + per]) for k in range(0, len(items), per)]


@settings(max_examples=25, deadline=None)
@given(st.lists(st.tuples(I64, REAL, REAL, REAL, REAL), min_size=1, max_size=13), I64, I64,
       st.lists(REAL, min_size=4, max_size=4), st.text("abc XYZ-(),=*/0123456789", max_size=150),
       st.integers(0, 4))
@example(atoms=[(1, 1.0, 0.0, 0.0, 0.0)], charge=0, ne=1, gen=[0.0] * 4, title="T" * 72, ndim=0)
def test_number_formats_and_line_breaks(tmp_path_factory: Any, atoms: Any, charge: int, ne: int,
                                        gen: List[float], title: str, ndim: int) -> None:
    z, q, xyz = [a[0] for a in atoms], [a[1] for a in atoms], [a[2:] for a in atoms]
    b = h2().remove(670).replace(502, labels(title, title[::-1])).replace(
        501, general(dict(zip((0, 31, 42, 22), gen))))
    b.replace(997, mol(z, xyz, nucchg=q, charge=charge, ne=ne, ndim=ndim, cell=CELL))
    out = "\n".join(fchk(tmp_path_factory.mktemp("f"), b))
    first = title.rstrip(" ")[:71] if len(title.rstrip(" ")) > 72 else title.rstrip(" ")
    assert out.startswith(f"{first:<72}\n")
    for label, kind, items, per in [
            ("Full Title", "C", title.rstrip(" "), 5), ("Route", "C", title[::-1].rstrip(" "), 5),
            ("Atomic numbers", "I", ["%12d" % v for v in z], 6),
            ("Nuclear charges", "R", ["%16.8E" % v for v in q], 5),
            ("Current cartesian coordinates", "R", ["%16.8E" % v for p in xyz for v in p], 5),
            ("Translation vectors", "R", ["%16.8E" % v for p in CELL[:ndim] for v in p], 5)]:
        if kind == "C":
            items = [items[k:k + 12] for k in range(0, len(items), 12)]
        if items or label != "Translation vectors":
            assert "\n".join(section([], label, kind, items, per)) + "\n" in out + "\n", label
    for label, v in (("Charge", charge), ("Number of electrons", ne)):
        assert f"\n{label:<40}   I     {v:12d}\n" in out
    for label, v in zip(("Virial Ratio", "SCF Energy", "Total Energy", "RMS Density"), gen):
        assert f"\n{label:<40}   R     {v:22.15E}\n" in out


def test_sections_in_order(tmp_path: Path) -> None:
    exps = (1.5, 0.125)
    sp = Shell(2, 1, exps, {0: raw_coefs((0.375, 0.875), exps, 0),
                            1: raw_coefs((0.5, 0.625), exps, 1)}, centre=H2_XYZ[1])
    b = (h2().replace(998, switches({0: 1}, rlsw=[1.0]))
         .replace(997, mol([1, 1], H2_XYZ, ndim=3, cell=CELL))
         .replace(670, basis([Shell(1, 0, (2.0,), {0: [1.0]}), sp]))
         .replace(522, reals([-0.5, 0.6, -0.4, 0.7])).add(526, reals([0.5, 0.5, 1.0, -1.0]))
         .add(685, reals([1.0, 0.0, 0.0, 1.0])).add(585, reals([0.0] * 21))
         .add(603, densities(0, [float(k) for k in range(54)], word=-1)))
    lines = fchk(tmp_path, b)
    assert lines[1] == "SP        UHF" + " " * 57 + "STO-3G" + " " * 14 and lines[-1] == ""
    assert lines[lines.index("P(S=P) Contraction coefficients            R   N=           3") + 1] \
        == "  0.00000000E+00  5.00000000E-01  6.25000000E-01"
    dens = [f"{s} {n} Density" for n in ("SCF", "Psi(1)", "MP2", "MP3", "MP4", "CI Rho(1)", "CI",
                                         "CC", "2nd Order") for s in ("Total", "Spin")]
    assert list(read_fchk(tmp_path / "t.fchk"))[1:] == [
        "Number of atoms", "Info1-9", "Full Title", "Route", "Charge", "Multiplicity",
        "Number of electrons", "Number of alpha electrons", "Number of beta electrons",
        "Number of basis functions", "Number of independent functions",
        "Number of translation vectors", "Atomic numbers", "Nuclear charges",
        "Current cartesian coordinates", "Translation vectors", "Number of contracted shells",
        "Number of primitive shells", "Shell types", "Number of primitives per shell",
        "Shell to atom map", "Primitive exponents", "Contraction coefficients",
        "P(S=P) Contraction coefficients", "Coordinates of each shell", "Num ILSW", "ILSW",
        "Num RLSW", "RLSW", "Virial Ratio", "SCF Energy", "Total Energy", "RMS Density", "IOpCl",
        "IROHF", "Alpha Orbital Energies", "Beta Orbital Energies", "Alpha MO coefficients",
        "Beta MO coefficients", "Orthonormal basis", *dens]
    plain = fchk(tmp_path, h2().remove(522).replace(670, basis([])))
    assert "Contraction coefficients" not in "".join(plain) and plain[-2].startswith("IROHF")
    assert "Num RLSW" not in "".join(plain) and "Translation vectors" not in "".join(plain)

"""The formatted checkpoint (.fchk) written by ``ChkReader_.write_fchk``.

Every case is the H2 RHF/STO-3G job of ``chkbuilder.h2()`` with one or two
records changed; the expected text is written out line by line, because the
column layout is what Gaussian's own tools read.
"""
from __future__ import annotations

import math
import random
import struct
import sys
from pathlib import Path
from typing import List, Sequence

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent))

from chkbuilder import (ChkBuilder, Shell, basis, densities, general, h2, job,  # noqa: E402
                        labels, lower_triangle, mol, raw_coefs, reals, switches)
from refdata import read_fchk  # noqa: E402

Vexmora_ = pytest.importorskip("Vexmora_")

H2_XYZ = [(0.0, 0.0, 0.0), (0.0, 0.0, 1.4)]
CELL = ((11.0, 0.0, 0.0), (0.5, 12.0, 0.0), (0.25, -0.75, 13.0))
UHF = switches({0: 1})

Z6 = "           0           0           0           0           0           0"
Z5 = "  0.00000000E+00  0.00000000E+00  0.00000000E+00  0.00000000E+00  0.00000000E+00"


def head(name: str, kind: str, n: int) -> str:
    """The header line of an array section of n elements."""
    return f"{name:<43}{kind}   N={n:12d}"


def write_fchk(chk: ChkBuilder, tmp_path: Path) -> Path:
    """Parse the built checkpoint and write its .fchk; returns the output path."""
    out = tmp_path / "job.fchk"
    Vexmora_.ChkReader_(fchk=chk.write(tmp_path / "job.chk")).write_fchk(fname=str(out))
    return out


def lines_of(path: Path) -> List[str]:
    """The file's lines; the last one must be closed by a line feed."""
    data = path.read_bytes().decode("ascii")
    assert data.endswith("\n")
    return data[:-1].split("\n")


def fchk(chk: ChkBuilder, tmp_path: Path) -> List[str]:
    return lines_of(write_fchk(chk, tmp_path))


def assert_block(lines: List[str], block: Sequence[str]) -> None:
    """``block`` stands in ``lines`` as consecutive lines, from its first line on."""
    assert block[0] in lines, f"missing line {block[0]!r}"
    i = lines.index(block[0])
    assert lines[i : i + len(block)] == list(block)


def chain(n: int, **kw: object) -> bytes:
    """A /Mol/ record of n atoms with atomic numbers 1..n; the first two sit on
    the H2 shell centres so that the basis still matches."""
    xyz = H2_XYZ + [(float(i), -1.0, 0.5) for i in range(2, n)]
    return mol(list(range(1, n + 1)), xyz, **kw)  # type: ignore[arg-type]


def sp_basis() -> bytes:
    """An S shell on atom 1 and an SP shell on atom 2, round coefficients."""
    s = Shell(atom=1, T=0, exps=(2.0, 0.5), coefs={0: raw_coefs((0.25, 0.75), (2.0, 0.5), 0)},
              centre=H2_XYZ[0])
    exps = (1.5, 0.125)
    sp = Shell(atom=2, T=1, exps=exps,
               coefs={0: raw_coefs((0.375, 0.875), exps, 0), 1: raw_coefs((0.5, 0.625), exps, 1)},
               centre=H2_XYZ[1])
    return basis([s, sp])


# ---------------------------------------------------------------------------
# The whole file of the plain H2 job

H2_FCHK = [
    "H2 test" + " " * 65,
    "SP        RHF" + " " * 57 + "STO-3G" + " " * 14,
    "Number of atoms                            I                2",
    "Info1-9                                    I   N=           9",
    Z6,
    "           0           0           0",
    "Full Title                                 C   N=           1",
    "H2 test",
    "Route                                      C   N=           1",
    "#p HF/STO-3G",
    "Charge                                     I                0",
    "Multiplicity                               I                1",
    "Number of electrons                        I                2",
    "Number of alpha electrons                  I                1",
    "Number of beta electrons                   I                1",
    "Number of basis functions                  I                2",
    "Number of independent functions            I                2",
    "Number of translation vectors              I                0",
    "Atomic numbers                             I   N=           2",
    "           1           1",
    "Nuclear charges                            R   N=           2",
    "  1.00000000E+00  1.00000000E+00",
    "Current cartesian coordinates              R   N=           6",
    Z5,
    "  1.40000000E+00",
    "Number of contracted shells                I                2",
    "Number of primitive shells                 I                6",
    "Shell types                                I   N=           2",
    "           0           0",
    "Number of primitives per shell             I   N=           2",
    "           3           3",
    "Shell to atom map                          I   N=           2",
    "           1           2",
    "Primitive exponents                        R   N=           6",
    "  3.42525091E+00  6.23913730E-01  1.68855400E-01  3.42525091E+00  6.23913730E-01",
    "  1.68855400E-01",
    "Contraction coefficients                   R   N=           6",
    "  1.54328970E-01  5.35328140E-01  4.44634540E-01  1.54328970E-01  5.35328140E-01",
    "  4.44634540E-01",
    "Coordinates of each shell                  R   N=           6",
    Z5,
    "  1.40000000E+00",
    "Num ILSW                                   I              100",
    "ILSW                                       I   N=         100",
    *[Z6] * 16,
    "           0           0           0           0",
    "Virial Ratio                               R      2.000000000000000E+00",
    "SCF Energy                                 R     -1.116700000000000E+00",
    "Total Energy                               R     -1.116700000000000E+00",
    "RMS Density                                R      0.000000000000000E+00",
    "IOpCl                                      I                0",
    "IROHF                                      I                0",
    "Alpha Orbital Energies                     R   N=           2",
    " -5.78000000E-01  6.70000000E-01",
    "Alpha MO coefficients                      R   N=           4",
    "  5.48900000E-01  5.48900000E-01  1.21140000E+00 -1.21140000E+00",
]


@pytest.mark.parametrize("chk", [
    pytest.param(h2(), id="h2"),
    # The Hessian is read but not part of the written file.
    pytest.param(h2().add(585, reals(lower_triangle([[float(r + c) for c in range(6)]
                                                      for r in range(6)]))), id="with-hessian"),
])
def test_whole_file(chk: ChkBuilder, tmp_path: Path) -> None:
    """An existing file is replaced whole, and one reader writes as often as asked."""
    reader = Vexmora_.ChkReader_(fchk=chk.write(tmp_path / "job.chk"))
    first, second = tmp_path / "a.fchk", tmp_path / "b.fchk"
    first.write_text("stale content\n" * 500)
    for out in (first, second, first):
        reader.write_fchk(fname=str(out))
    assert lines_of(first) == lines_of(second) == H2_FCHK


# ---------------------------------------------------------------------------
# Title, route and job line

T72 = "Seventy-two characters of title: nothing is cut from the first line [72]"
T73 = "Seventy-three characters of title: the first line keeps 71 of them. [073]"
R25 = "#p B3LYP/6-31G* opt freq."
R60 = "#p B3LYP/6-31G* opt freq Int(Grid=UltraFine) SCF=Tight test1"


@pytest.mark.parametrize("title, route, first_line, block", [
    pytest.param(T72, R25, T72, [
        head("Full Title", "C", 6), "Seventy-two characters of title: nothing is cut from the fir",
        "st line [72]", head("Route", "C", 3), R25], id="title72-route25"),
    pytest.param(T73, R60, "Seventy-three characters of title: the first line keeps 71 of them. [07 ", [
        head("Full Title", "C", 7), "Seventy-three characters of title: the first line keeps 71 o",
        "f them. [073]", head("Route", "C", 5), R60], id="title73-route60"),
    pytest.param("", R60 + "2", " " * 72, [
        head("Full Title", "C", 0), head("Route", "C", 6), R60, "2"], id="empty-title-route61"),
    pytest.param("H2 test", "", "H2 test" + " " * 65, [
        head("Full Title", "C", 1), "H2 test", head("Route", "C", 0)], id="empty-route"),
])
def test_title_and_route(title: str, route: str, first_line: str, block: List[str],
                         tmp_path: Path) -> None:
    lines = fchk(h2().replace(502, labels(title, route, ["1", "H 1S", "2", "H 1S"])), tmp_path)
    assert lines[0] == first_line
    assert_block(lines, [*block, "Charge                                     I                0"])


@pytest.mark.parametrize("record, line", [
    # Job type longer than its 10 columns: printed whole, the rest shifts.
    pytest.param(job([0, 0, 0, 0, 0, 0, 9, 0, 0]),
                 "Rearchive/MS-RestartRHF" + " " * 57 + "STO-3G" + " " * 14, id="long-jobtype"),
    pytest.param(job([0, 0, 0, 0, 0, 0, 6, 0, 0], "B3LYP", "6-311+G(2d,p)"),
                 "Freq      RB3LYP" + " " * 54 + "6-311+G(2d,p)" + " " * 7, id="freq"),
    # The reader prefixes "R": 60 characters fill the method field exactly.
    pytest.param(job(method="M" * 59), "SP        R" + "M" * 59 + "STO-3G" + " " * 14, id="method-60"),
    pytest.param(job(method="M" * 61), "SP        R" + "M" * 61 + "STO-3G" + " " * 14, id="method-62"),
    pytest.param(job(basis="B" * 20), "SP        RHF" + " " * 57 + "B" * 20, id="basis-20"),
    pytest.param(job(basis="B" * 25), "SP        RHF" + " " * 57 + "B" * 25, id="basis-25"),
])
def test_job_line(record: bytes, line: str, tmp_path: Path) -> None:
    assert fchk(h2().replace(993, record), tmp_path)[1] == line


@pytest.mark.parametrize("chk, block", [
    pytest.param(h2().replace(993, job([-1, 2, 3, 4, 0, 6, 0, 8, 123456789012])), [
        head("Info1-9", "I", 9),
        "          -1           2           3           4           0           6",
        "           0           8123456789012"], id="values"),
    pytest.param(h2().remove(993), [head("Info1-9", "I", 0)], id="no-job-record"),
])
def test_info1_9(chk: ChkBuilder, block: List[str], tmp_path: Path) -> None:
    assert_block(fchk(chk, tmp_path), [*block, head("Full Title", "C", 1)])


# ---------------------------------------------------------------------------
# Array line breaks and number formats

@pytest.mark.parametrize("n, atomic, nuclear", [
    (6, ["           1           2           3           4           5           6"],
     ["  1.00000000E+00  2.00000000E+00  3.00000000E+00  4.00000000E+00  5.00000000E+00",
      "  6.00000000E+00"]),
    (7, ["           1           2           3           4           5           6",
         "           7"],
     ["  1.00000000E+00  2.00000000E+00  3.00000000E+00  4.00000000E+00  5.00000000E+00",
      "  6.00000000E+00  7.00000000E+00"]),
    (10, ["           1           2           3           4           5           6",
          "           7           8           9          10"],
     ["  1.00000000E+00  2.00000000E+00  3.00000000E+00  4.00000000E+00  5.00000000E+00",
      "  6.00000000E+00  7.00000000E+00  8.00000000E+00  9.00000000E+00  1.00000000E+01"]),
])
def test_atom_arrays(n: int, atomic: List[str], nuclear: List[str], tmp_path: Path) -> None:
    lines = fchk(h2().replace(997, chain(n)), tmp_path)
    assert lines[2] == f"{'Number of atoms':<43}I{n:17d}"
    assert_block(lines, [head("Atomic numbers", "I", n), *atomic, head("Nuclear charges", "R", n),
                         *nuclear, head("Current cartesian coordinates", "R", 3 * n)])


def test_number_formats(tmp_path: Path) -> None:
    """Negative values, 64-bit integers, negative zero and three-digit exponents."""
    chk = (h2()
           .replace(997, chain(5, charge=-9876543210, ne=12345678901,
                               nucchg=[1.5, -0.0, 1.5e-120, 2.5e+150, -1.5e-120]))
           .replace(501, general({0: 2.5e+150, 31: -1.5e-120, 42: 1.5e-120, 22: -0.0})))
    lines = fchk(chk, tmp_path)
    assert_block(lines, [
        "Charge                                     I      -9876543210",
        "Multiplicity                               I                1",
        "Number of electrons                        I      12345678901"])
    # A three-digit exponent takes the leading blank; a negative one then
    # runs into the element before it. Five reals fill one line exactly.
    assert_block(lines, [
        head("Nuclear charges", "R", 5),
        "  1.50000000E+00 -0.00000000E+00 1.50000000E-120 2.50000000E+150-1.50000000E-120",
        head("Current cartesian coordinates", "R", 15)])
    # A scalar field is a minimum width: 23 characters overflow it.
    assert_block(lines, [
        "Virial Ratio                               R     2.500000000000000E+150",
        "SCF Energy                                 R     -1.500000000000000E-120",
        "Total Energy                               R     1.500000000000000E-120",
        "RMS Density                                R     -0.000000000000000E+00",
        "IOpCl                                      I                0"])


def awkward_reals(n: int) -> List[float]:
    """Doubles that stress the rounding of "%16.8E": halfway cases near the
    ninth digit, powers of ten, extremes, subnormals and random bit patterns."""
    rng = random.Random(8)
    vals = [0.0, -0.0, 1.0, 9.999999995, 9.9999999949, 1.000000005, 0.5e-8, 2.5e-9, 5e-324,
            -2.2250738585072014e-308, 1.7976931348623157e308, math.inf, -math.inf,
            *[10.0 ** k for k in range(-30, 31)], *[-(k + 0.5) * 1e-8 for k in range(20)]]
    while len(vals) < n:
        bits = rng.getrandbits(64)
        v = struct.unpack("<d", struct.pack("<Q", bits))[0]
        if math.isfinite(v):
            vals.append(v)
    return vals[:n]


def test_reals_print_as_printf_does(tmp_path: Path) -> None:
    # Python's "%E" is correctly rounded, as the C library's is.
    n = 600
    values = awkward_reals(2 * n)
    xyz = [tuple(values[3 * i: 3 * i + 3]) for i in range(n // 3 * 2)]
    chk = h2().remove(670).replace(997, mol([1] * len(xyz), xyz, nucchg=values[:len(xyz)]))
    lines = fchk(chk, tmp_path)
    first = lines.index(head("Current cartesian coordinates", "R", 3 * len(xyz))) + 1
    expected = ["%16.8E" % v for v in values[: 3 * len(xyz)]]
    assert lines[first: first + len(expected) // 5] == [
        "".join(expected[k: k + 5]) for k in range(0, len(expected), 5)]
    nan = (h2().remove(670)
           .replace(997, mol([1], [(math.nan, -math.nan, math.inf)], nbasis=2)))
    assert_block(fchk(nan, tmp_path), [head("Current cartesian coordinates", "R", 3),
                                       "             NAN            -NAN             INF"])


# ---------------------------------------------------------------------------
# Switch arrays, translation vectors and the basis

VIRIAL = "Virial Ratio                               R      2.000000000000000E+00"


@pytest.mark.parametrize("chk, tail", [
    pytest.param(
        h2().replace(998, switches({99: -9876543210}, rlsw=[0.5, -2.0, 1e-3])),
        [*[Z6] * 9,
         "           0           0           0           3           0           0",
         *[Z6] * 6,
         "           0           0           0 -9876543210",
         "Num RLSW                                   I                3",
         head("RLSW", "R", 3),
         "  5.00000000E-01 -2.00000000E+00  1.00000000E-03"], id="rlsw-3"),
    # Without a switch record ILSW(21) is -1 and there are 47 real switches.
    pytest.param(
        h2().remove(998),
        [*[Z6] * 3,
         "           0           0           0          -1           0           0",
         *[Z6] * 5,
         "           0           0           0          47           0           0",
         *[Z6] * 6,
         "           0           0           0           0",
         "Num RLSW                                   I               47",
         head("RLSW", "R", 47),
         *[Z5] * 9,
         "  0.00000000E+00  0.00000000E+00"], id="no-switch-record"),
])
def test_switch_arrays(chk: ChkBuilder, tail: List[str], tmp_path: Path) -> None:
    assert_block(fchk(chk, tmp_path), ["Num ILSW                                   I              100",
                                       head("ILSW", "I", 100), *tail, VIRIAL])


CELL_LINES = ["  1.10000000E+01  0.00000000E+00  0.00000000E+00  5.00000000E-01  1.20000000E+01",
              "  0.00000000E+00  2.50000000E-01 -7.50000000E-01  1.30000000E+01"]


@pytest.mark.parametrize("ndim, vectors", [
    (0, []),
    (2, [head("Translation vectors", "R", 6), CELL_LINES[0], "  0.00000000E+00"]),
    (3, [head("Translation vectors", "R", 9), *CELL_LINES]),
    (4, [head("Translation vectors", "R", 9), *CELL_LINES]),
])
def test_translation_vectors(ndim: int, vectors: List[str], tmp_path: Path) -> None:
    lines = fchk(h2().replace(997, mol([1, 1], H2_XYZ, ndim=ndim, cell=CELL)), tmp_path)
    assert f"Number of translation vectors              I                {ndim}" in lines
    # Written in Bohr, right after the coordinates.
    assert_block(lines, [head("Current cartesian coordinates", "R", 6), Z5, "  1.40000000E+00",
                         *vectors, "Number of contracted shells                I                2"])


@pytest.mark.parametrize("chk, block", [
    pytest.param(h2().replace(670, sp_basis()), [
        "Number of contracted shells                I                2",
        "Number of primitive shells                 I                4",
        head("Shell types", "I", 2), "           0          -1",
        head("Number of primitives per shell", "I", 2), "           2           2",
        head("Shell to atom map", "I", 2), "           1           2",
        head("Primitive exponents", "R", 4),
        "  2.00000000E+00  5.00000000E-01  1.50000000E+00  1.25000000E-01",
        head("Contraction coefficients", "R", 4),
        "  2.50000000E-01  7.50000000E-01  3.75000000E-01  8.75000000E-01",
        head("P(S=P) Contraction coefficients", "R", 4),
        "  0.00000000E+00  0.00000000E+00  5.00000000E-01  6.25000000E-01",
        head("Coordinates of each shell", "R", 6), Z5, "  1.40000000E+00"], id="sp-shell"),
    # No basis: exponents and shell coordinates are still written, empty.
    pytest.param(h2().remove(670), [
        "Number of contracted shells                I                0",
        "Number of primitive shells                 I                0",
        head("Shell types", "I", 0), head("Number of primitives per shell", "I", 0),
        head("Shell to atom map", "I", 0), head("Primitive exponents", "R", 0),
        head("Coordinates of each shell", "R", 0)], id="no-basis"),
])
def test_basis_sections(chk: ChkBuilder, block: List[str], tmp_path: Path) -> None:
    assert_block(fchk(chk, tmp_path),
                 [*block, "Num ILSW                                   I              100"])


# ---------------------------------------------------------------------------
# The optional sections after IROHF

AOE, BOE, AMO, BMO, ORTH = ("Alpha Orbital Energies", "Beta Orbital Energies",
                            "Alpha MO coefficients", "Beta MO coefficients", "Orthonormal basis")
DENSITIES = [f"{kind} {name}" for name in (
    "SCF Density", "Psi(1) Density", "MP2 Density", "MP3 Density", "MP4 Density",
    "CI Rho(1) Density", "CI Density", "CC Density", "2nd Order Density")
    for kind in ("Total", "Spin")]


@pytest.mark.parametrize("chk, expected", [
    pytest.param(h2(), [AOE, AMO], id="restricted"),
    pytest.param(h2().remove(522), [], id="no-energies"),
    pytest.param(h2().add(685, reals([1.0, 0.0, 0.0, 1.0])), [AOE, AMO, ORTH], id="orthonormal"),
    pytest.param(h2().add(685, reals([1.0, 0.0, 0.0])), [AOE, AMO], id="orthonormal-short"),
    pytest.param(h2().replace(998, UHF).replace(522, reals([-0.5, 0.6, -0.4, 0.7])),
                 [AOE, BOE, AMO], id="unrestricted-no-beta-coefficients"),
])
def test_orbital_sections(chk: ChkBuilder, expected: List[str], tmp_path: Path) -> None:
    names = list(read_fchk(write_fchk(chk, tmp_path)).sections)
    assert names[names.index("IROHF") + 1:] == expected


@pytest.mark.parametrize("chk, tail", [
    pytest.param(h2().replace(998, UHF).replace(522, reals([-0.578, 0.67, -0.5, 0.75]))
                 .add(526, reals([0.25, 0.5, 0.75, -1.0])).add(685, reals([1.0, 0.0, 0.0, 1.0])), [
        "IOpCl                                      I                1",
        "IROHF                                      I                0",
        head(AOE, "R", 2), " -5.78000000E-01  6.70000000E-01",
        head(BOE, "R", 2), " -5.00000000E-01  7.50000000E-01",
        head(AMO, "R", 4), "  5.48900000E-01  5.48900000E-01  1.21140000E+00 -1.21140000E+00",
        head(BMO, "R", 4), "  2.50000000E-01  5.00000000E-01  7.50000000E-01 -1.00000000E+00",
        head(ORTH, "R", 4), "  1.00000000E+00  0.00000000E+00  0.00000000E+00  1.00000000E+00",
    ], id="unrestricted-orbitals"),
    # Closed shell, kinds 0 and 2.
    pytest.param(h2().remove(522, 524).add(603, densities(0b101, [1.0, 2.0, 3.0],
                                                          [4.0, 5.0, 6.0])), [
        "IROHF                                      I                0",
        head("Total SCF Density", "R", 3), "  1.00000000E+00  2.00000000E+00  3.00000000E+00",
        head("Total MP2 Density", "R", 3), "  4.00000000E+00  5.00000000E+00  6.00000000E+00",
    ], id="closed-shell-densities"),
    # Unrestricted, the last kind: total and spin stand together.
    pytest.param(h2().replace(998, UHF).remove(522, 524)
                 .add(603, densities(1 << 8, [1.0, 2.0, 3.0, 0.5, 0.25, 0.125])), [
        "IROHF                                      I                0",
        head("Total 2nd Order Density", "R", 3), "  1.50000000E+00  2.25000000E+00  3.12500000E+00",
        head("Spin 2nd Order Density", "R", 3), "  5.00000000E-01  1.75000000E+00  2.87500000E+00",
    ], id="unrestricted-densities"),
])
def test_file_tail(chk: ChkBuilder, tail: List[str], tmp_path: Path) -> None:
    assert fchk(chk, tmp_path)[-len(tail):] == tail


def test_section_order_with_everything(tmp_path: Path) -> None:
    chk = (h2()
           .replace(998, switches({0: 1}, rlsw=[1.0]))
           .replace(997, mol([1, 1], H2_XYZ, ndim=3, cell=CELL))
           .replace(670, sp_basis())
           .replace(522, reals([-0.5, 0.6, -0.4, 0.7]))
           .add(526, reals([0.5, 0.5, 1.0, -1.0]))
           .add(685, reals([1.0, 0.0, 0.0, 1.0]))
           .add(585, reals([0.0] * 21))
           .add(603, densities(0, [float(k) for k in range(54)], word=-1)))  # every kind
    assert list(read_fchk(write_fchk(chk, tmp_path)).sections) == [
        "Number of atoms", "Info1-9", "Full Title", "Route", "Charge", "Multiplicity",
        "Number of electrons", "Number of alpha electrons", "Number of beta electrons",
        "Number of basis functions", "Number of independent functions",
        "Number of translation vectors", "Atomic numbers", "Nuclear charges",
        "Current cartesian coordinates", "Translation vectors", "Number of contracted shells",
        "Number of primitive shells", "Shell types", "Number of primitives per shell",
        "Shell to atom map", "Primitive exponents", "Contraction coefficients",
        "P(S=P) Contraction coefficients", "Coordinates of each shell", "Num ILSW", "ILSW",
        "Num RLSW", "RLSW", "Virial Ratio", "SCF Energy", "Total Energy", "RMS Density",
        "IOpCl", "IROHF", AOE, BOE, AMO, BMO, ORTH, *DENSITIES,
    ]


@pytest.mark.parametrize("where", ["missing-dir", "is-a-dir"])
def test_unwritable_path(where: str, tmp_path: Path) -> None:
    reader = Vexmora_.ChkReader_(fchk=h2().write(tmp_path / "job.chk"))
    target = tmp_path / "missing" / "out.fchk" if where == "missing-dir" else tmp_path
    with pytest.raises(RuntimeError) as info:
        reader.write_fchk(fname=str(target))
    report = str(info.value)
    reason = "No such file or directory" if where == "missing-dir" else "Is a directory"
    assert report.split("\n")[0] == f"Error: Can not write file: {target}: {reason}"
    assert "\n\nSource File:\t" in report
    assert not (tmp_path / "missing").exists()

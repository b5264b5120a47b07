"""The formatted checkpoint (.fchk) written by ``ChkReader_.write_fchk``.

Every case is the H2 RHF/STO-3G job of ``chkbuilder.h2()`` with one or two
records changed; the expected text is written out line by line, because the
column layout is what Gaussian's own tools read.
"""
from __future__ import annotations

import sys
from pathlib import Path
from typing import List, Sequence

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent))

from chkbuilder import (  # noqa: E402
    ChkBuilder,
    Shell,
    basis,
    densities,
    general,
    h2,
    job,
    labels,
    lower_triangle,
    mol,
    raw_coefs,
    reals,
    switches,
)
from refdata import read_fchk  # noqa: E402

Vexmora_ = pytest.importorskip("Vexmora_")

H2_XYZ = [(0.0, 0.0, 0.0), (0.0, 0.0, 1.4)]
H2_FIELDS = ["1", "H 1S", "2", "H 1S"]
CELL = ((11.0, 0.0, 0.0), (0.5, 12.0, 0.0), (0.25, -0.75, 13.0))

Z6 = "           0           0           0           0           0           0"
Z5 = "  0.00000000E+00  0.00000000E+00  0.00000000E+00  0.00000000E+00  0.00000000E+00"


# ---------------------------------------------------------------------------
# Helpers


def write_fchk(chk: ChkBuilder, tmp_path: Path, name: str = "job.fchk") -> Path:
    """Parse the built checkpoint and write its .fchk; returns the output path."""
    src = chk.write(tmp_path / "job.chk")
    out = tmp_path / name
    Vexmora_.ChkReader_(fchk=src).write_fchk(fname=str(out))
    return out


def lines_of(path: Path) -> List[str]:
    """The file's lines; the last one must be closed by a line feed."""
    data = path.read_bytes().decode("ascii")
    assert data.endswith("\n")
    return data[:-1].split("\n")


def fchk_lines(chk: ChkBuilder, tmp_path: Path) -> List[str]:
    return lines_of(write_fchk(chk, tmp_path))


def assert_block(lines: List[str], block: Sequence[str]) -> None:
    """``block`` stands in ``lines`` as consecutive lines, from its first line on."""
    assert block[0] in lines, f"missing line {block[0]!r}"
    i = lines.index(block[0])
    assert lines[i : i + len(block)] == list(block)


def labels_after(path: Path, label: str) -> List[str]:
    """Section labels that follow section ``label``, in file order."""
    names = list(read_fchk(path).sections)
    return names[names.index(label) + 1 :]


def h2_with_labels(title: str = "H2 test", route: str = "#p HF/STO-3G") -> ChkBuilder:
    return h2().replace(502, labels(title, route, H2_FIELDS))


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


@pytest.mark.parametrize(
    "chk",
    [
        pytest.param(h2(), id="h2"),
        # The Hessian is read but not part of the written file.
        pytest.param(h2().add(585, reals(lower_triangle([[float(r + c) for c in range(6)]
                                                          for r in range(6)]))),
                     id="with-hessian"),
    ],
)
def test_whole_file(chk: ChkBuilder, tmp_path: Path) -> None:
    out = tmp_path / "job.fchk"
    out.write_text("stale content\n" * 500)
    assert write_fchk(chk, tmp_path) == out
    assert lines_of(out) == H2_FCHK


def test_repeated_calls_rewrite_the_file(tmp_path: Path) -> None:
    reader = Vexmora_.ChkReader_(fchk=h2().write(tmp_path / "job.chk"))
    first, second = tmp_path / "a.fchk", tmp_path / "b.fchk"
    reader.write_fchk(fname=str(first))
    reader.write_fchk(fname=str(second))
    reader.write_fchk(fname=str(first))
    assert lines_of(first) == lines_of(second) == H2_FCHK


# ---------------------------------------------------------------------------
# Title, route and job line

T72 = "Seventy-two characters of title: nothing is cut from the first line [72]"
T73 = "Seventy-three characters of title: the first line keeps 71 of them. [073]"
ROUTE_HEAD = "Route                                      C   N=           1"


@pytest.mark.parametrize(
    "title, first_line, full_title",
    [
        pytest.param(T72, T72, [
            "Full Title                                 C   N=           6",
            "Seventy-two characters of title: nothing is cut from the fir",
            "st line [72]",
            ROUTE_HEAD], id="72"),
        pytest.param(T73, "Seventy-three characters of title: the first line keeps 71 of them. [07 ", [
            "Full Title                                 C   N=           7",
            "Seventy-three characters of title: the first line keeps 71 o",
            "f them. [073]",
            ROUTE_HEAD], id="73"),
        pytest.param("", " " * 72, [
            "Full Title                                 C   N=           0",
            ROUTE_HEAD], id="empty"),
    ],
)
def test_title(title: str, first_line: str, full_title: List[str], tmp_path: Path) -> None:
    lines = fchk_lines(h2_with_labels(title=title), tmp_path)
    assert lines[0] == first_line
    assert_block(lines, full_title)


CHARGE = "Charge                                     I                0"


@pytest.mark.parametrize(
    "route, block",
    [
        pytest.param("#p B3LYP/6-31G* opt freq.", [
            "Route                                      C   N=           3",
            "#p B3LYP/6-31G* opt freq.",
            CHARGE], id="25"),
        pytest.param("#p B3LYP/6-31G* opt freq Int(Grid=UltraFine) SCF=Tight test1", [
            "Route                                      C   N=           5",
            "#p B3LYP/6-31G* opt freq Int(Grid=UltraFine) SCF=Tight test1",
            CHARGE], id="60"),
        pytest.param("#p B3LYP/6-31G* opt freq Int(Grid=UltraFine) SCF=Tight test12", [
            "Route                                      C   N=           6",
            "#p B3LYP/6-31G* opt freq Int(Grid=UltraFine) SCF=Tight test1",
            "2",
            CHARGE], id="61"),
        pytest.param("", [
            "Route                                      C   N=           0",
            CHARGE], id="empty"),
    ],
)
def test_route(route: str, block: List[str], tmp_path: Path) -> None:
    assert_block(fchk_lines(h2_with_labels(route=route), tmp_path), block)


@pytest.mark.parametrize(
    "record, line",
    [
        # Job type longer than its 10 columns: printed whole, the rest shifts.
        pytest.param(job([0, 0, 0, 0, 0, 0, 9, 0, 0]),
                     "Rearchive/MS-RestartRHF" + " " * 57 + "STO-3G" + " " * 14, id="long-jobtype"),
        pytest.param(job([0, 0, 0, 0, 0, 0, 6, 0, 0], "B3LYP", "6-311+G(2d,p)"),
                     "Freq      RB3LYP" + " " * 54 + "6-311+G(2d,p)" + " " * 7, id="freq"),
        # The reader prefixes "R": 60 characters fill the method field exactly.
        pytest.param(job(method="M" * 59),
                     "SP        R" + "M" * 59 + "STO-3G" + " " * 14, id="method-60"),
        pytest.param(job(method="M" * 61),
                     "SP        R" + "M" * 61 + "STO-3G" + " " * 14, id="method-62"),
        pytest.param(job(basis="B" * 20), "SP        RHF" + " " * 57 + "B" * 20, id="basis-20"),
        pytest.param(job(basis="B" * 25), "SP        RHF" + " " * 57 + "B" * 25, id="basis-25"),
    ],
)
def test_job_line(record: bytes, line: str, tmp_path: Path) -> None:
    assert fchk_lines(h2().replace(993, record), tmp_path)[1] == line


FULL_TITLE_HEAD = "Full Title                                 C   N=           1"


@pytest.mark.parametrize(
    "chk, block",
    [
        pytest.param(h2().replace(993, job([-1, 2, 3, 4, 0, 6, 0, 8, 123456789012])), [
            "Info1-9                                    I   N=           9",
            "          -1           2           3           4           0           6",
            "           0           8123456789012",
            FULL_TITLE_HEAD], id="values"),
        pytest.param(h2().remove(993), [
            "Info1-9                                    I   N=           0",
            FULL_TITLE_HEAD], id="no-job-record"),
    ],
)
def test_info1_9(chk: ChkBuilder, block: List[str], tmp_path: Path) -> None:
    assert_block(fchk_lines(chk, tmp_path), block)


# ---------------------------------------------------------------------------
# Array line breaks and number formats

def heads(n: int) -> List[str]:
    """The atom count line and the headers of the three atom arrays (n = 5, 6, 7, 10)."""
    return {
        5: ["Number of atoms                            I                5",
            "Atomic numbers                             I   N=           5",
            "Nuclear charges                            R   N=           5",
            "Current cartesian coordinates              R   N=          15"],
        6: ["Number of atoms                            I                6",
            "Atomic numbers                             I   N=           6",
            "Nuclear charges                            R   N=           6",
            "Current cartesian coordinates              R   N=          18"],
        7: ["Number of atoms                            I                7",
            "Atomic numbers                             I   N=           7",
            "Nuclear charges                            R   N=           7",
            "Current cartesian coordinates              R   N=          21"],
        10: ["Number of atoms                            I               10",
             "Atomic numbers                             I   N=          10",
             "Nuclear charges                            R   N=          10",
             "Current cartesian coordinates              R   N=          30"],
    }[n]


@pytest.mark.parametrize(
    "n, atomic, nuclear",
    [
        (5,
         ["           1           2           3           4           5"],
         ["  1.00000000E+00  2.00000000E+00  3.00000000E+00  4.00000000E+00  5.00000000E+00"]),
        (6,
         ["           1           2           3           4           5           6"],
         ["  1.00000000E+00  2.00000000E+00  3.00000000E+00  4.00000000E+00  5.00000000E+00",
          "  6.00000000E+00"]),
        (7,
         ["           1           2           3           4           5           6",
          "           7"],
         ["  1.00000000E+00  2.00000000E+00  3.00000000E+00  4.00000000E+00  5.00000000E+00",
          "  6.00000000E+00  7.00000000E+00"]),
        (10,
         ["           1           2           3           4           5           6",
          "           7           8           9          10"],
         ["  1.00000000E+00  2.00000000E+00  3.00000000E+00  4.00000000E+00  5.00000000E+00",
          "  6.00000000E+00  7.00000000E+00  8.00000000E+00  9.00000000E+00  1.00000000E+01"]),
    ],
)
def test_atom_arrays(n: int, atomic: List[str], nuclear: List[str], tmp_path: Path) -> None:
    lines = fchk_lines(h2().replace(997, chain(n)), tmp_path)
    count, atoms, charges, coords = heads(n)
    assert lines[2] == count
    assert_block(lines, [atoms, *atomic, charges])
    assert_block(lines, [charges, *nuclear, coords])


def test_number_formats(tmp_path: Path) -> None:
    """Negative values, 64-bit integers, negative zero and three-digit exponents."""
    chk = (h2()
           .replace(997, chain(5, charge=-9876543210, ne=12345678901,
                               nucchg=[1.5, -0.0, 1.5e-120, 2.5e+150, -1.5e-120]))
           .replace(501, general({0: 2.5e+150, 31: -1.5e-120, 42: 1.5e-120, 22: -0.0})))
    lines = fchk_lines(chk, tmp_path)
    assert_block(lines, [
        "Charge                                     I      -9876543210",
        "Multiplicity                               I                1",
        "Number of electrons                        I      12345678901"])
    # A three-digit exponent takes the leading blank; a negative one then
    # runs into the element before it.
    assert_block(lines, [
        heads(5)[2],
        "  1.50000000E+00 -0.00000000E+00 1.50000000E-120 2.50000000E+150-1.50000000E-120",
        heads(5)[3]])
    # A scalar field is a minimum width: 23 characters overflow it.
    assert_block(lines, [
        "Virial Ratio                               R     2.500000000000000E+150",
        "SCF Energy                                 R     -1.500000000000000E-120",
        "Total Energy                               R     1.500000000000000E-120",
        "RMS Density                                R     -0.000000000000000E+00",
        "IOpCl                                      I                0"])


# ---------------------------------------------------------------------------
# Switch arrays

ILSW_HEAD = ["Num ILSW                                   I              100",
             "ILSW                                       I   N=         100"]
VIRIAL = "Virial Ratio                               R      2.000000000000000E+00"


@pytest.mark.parametrize(
    "chk, tail",
    [
        pytest.param(
            h2().replace(998, switches({99: -9876543210}, rlsw=[0.5, -2.0, 1e-3])),
            [*[Z6] * 9,
             "           0           0           0           3           0           0",
             *[Z6] * 6,
             "           0           0           0 -9876543210",
             "Num RLSW                                   I                3",
             "RLSW                                       R   N=           3",
             "  5.00000000E-01 -2.00000000E+00  1.00000000E-03",
             VIRIAL], id="rlsw-3"),
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
             "RLSW                                       R   N=          47",
             *[Z5] * 9,
             "  0.00000000E+00  0.00000000E+00",
             VIRIAL], id="no-switch-record"),
    ],
)
def test_switch_arrays(chk: ChkBuilder, tail: List[str], tmp_path: Path) -> None:
    lines = fchk_lines(chk, tmp_path)
    assert_block(lines, [*ILSW_HEAD, *tail])


def test_irohf_without_switch_record(tmp_path: Path) -> None:
    """Without a switch record IROHF is 0 although ILSW(21) is -1."""
    lines = fchk_lines(h2().remove(998), tmp_path)
    assert_block(lines, ["IOpCl                                      I                0",
                         "IROHF                                      I                0"])


# ---------------------------------------------------------------------------
# Translation vectors

SHELLS_HEAD = "Number of contracted shells                I                2"


@pytest.mark.parametrize(
    "ndim, vectors",
    [
        (0, []),
        (1, ["Translation vectors                        R   N=           3",
             "  1.10000000E+01  0.00000000E+00  0.00000000E+00"]),
        (2, ["Translation vectors                        R   N=           6",
             "  1.10000000E+01  0.00000000E+00  0.00000000E+00  5.00000000E-01  1.20000000E+01",
             "  0.00000000E+00"]),
        (3, ["Translation vectors                        R   N=           9",
             "  1.10000000E+01  0.00000000E+00  0.00000000E+00  5.00000000E-01  1.20000000E+01",
             "  0.00000000E+00  2.50000000E-01 -7.50000000E-01  1.30000000E+01"]),
        (4, ["Translation vectors                        R   N=           9",
             "  1.10000000E+01  0.00000000E+00  0.00000000E+00  5.00000000E-01  1.20000000E+01",
             "  0.00000000E+00  2.50000000E-01 -7.50000000E-01  1.30000000E+01"]),
    ],
)
def test_translation_vectors(ndim: int, vectors: List[str], tmp_path: Path) -> None:
    lines = fchk_lines(h2().replace(997, mol([1, 1], H2_XYZ, ndim=ndim, cell=CELL)), tmp_path)
    assert f"Number of translation vectors              I                {ndim}" in lines
    # Written in Bohr, right after the coordinates.
    assert_block(lines, ["Current cartesian coordinates              R   N=           6",
                         Z5, "  1.40000000E+00", *vectors, SHELLS_HEAD])


# ---------------------------------------------------------------------------
# Basis set sections

ILSW_COUNT = "Num ILSW                                   I              100"


@pytest.mark.parametrize(
    "chk, block",
    [
        pytest.param(h2().replace(670, sp_basis()), [
            "Number of contracted shells                I                2",
            "Number of primitive shells                 I                4",
            "Shell types                                I   N=           2",
            "           0          -1",
            "Number of primitives per shell             I   N=           2",
            "           2           2",
            "Shell to atom map                          I   N=           2",
            "           1           2",
            "Primitive exponents                        R   N=           4",
            "  2.00000000E+00  5.00000000E-01  1.50000000E+00  1.25000000E-01",
            "Contraction coefficients                   R   N=           4",
            "  2.50000000E-01  7.50000000E-01  3.75000000E-01  8.75000000E-01",
            "P(S=P) Contraction coefficients            R   N=           4",
            "  0.00000000E+00  0.00000000E+00  5.00000000E-01  6.25000000E-01",
            "Coordinates of each shell                  R   N=           6",
            Z5,
            "  1.40000000E+00",
            ILSW_COUNT], id="sp-shell"),
        # No basis: exponents and shell coordinates are still written, empty.
        pytest.param(h2().remove(670), [
            "Number of contracted shells                I                0",
            "Number of primitive shells                 I                0",
            "Shell types                                I   N=           0",
            "Number of primitives per shell             I   N=           0",
            "Shell to atom map                          I   N=           0",
            "Primitive exponents                        R   N=           0",
            "Coordinates of each shell                  R   N=           0",
            ILSW_COUNT], id="no-basis"),
    ],
)
def test_basis_sections(chk: ChkBuilder, block: List[str], tmp_path: Path) -> None:
    assert_block(fchk_lines(chk, tmp_path), block)


# ---------------------------------------------------------------------------
# Orbitals and densities: the optional sections after IROHF

UHF = switches({0: 1})
AOE, BOE, AMO, BMO, ORTH = ("Alpha Orbital Energies", "Beta Orbital Energies",
                            "Alpha MO coefficients", "Beta MO coefficients", "Orthonormal basis")


@pytest.mark.parametrize(
    "chk, expected",
    [
        pytest.param(h2(), [AOE, AMO], id="restricted"),
        pytest.param(h2().remove(522), [], id="no-energies"),
        pytest.param(h2().add(685, reals([1.0, 0.0, 0.0, 1.0])), [AOE, AMO, ORTH], id="orthonormal"),
        pytest.param(h2().add(685, reals([1.0, 0.0, 0.0])), [AOE, AMO], id="orthonormal-short"),
        pytest.param(h2().replace(998, UHF).replace(522, reals([-0.5, 0.6, -0.4, 0.7]))
                     .add(526, reals([0.5, 0.5, 1.0, -1.0])),
                     [AOE, BOE, AMO, BMO], id="unrestricted"),
        pytest.param(h2().replace(998, UHF).replace(522, reals([-0.5, 0.6, -0.4, 0.7])),
                     [AOE, BOE, AMO], id="unrestricted-no-beta-coefficients"),
    ],
)
def test_orbital_sections(chk: ChkBuilder, expected: List[str], tmp_path: Path) -> None:
    assert labels_after(write_fchk(chk, tmp_path), "IROHF") == expected


def test_unrestricted_tail(tmp_path: Path) -> None:
    chk = (h2().replace(998, UHF).replace(522, reals([-0.578, 0.67, -0.5, 0.75]))
           .add(526, reals([0.25, 0.5, 0.75, -1.0])).add(685, reals([1.0, 0.0, 0.0, 1.0])))
    lines = fchk_lines(chk, tmp_path)
    assert lines[1].startswith("SP        UHF ")
    assert lines[-12:] == [
        "IOpCl                                      I                1",
        "IROHF                                      I                0",
        "Alpha Orbital Energies                     R   N=           2",
        " -5.78000000E-01  6.70000000E-01",
        "Beta Orbital Energies                      R   N=           2",
        " -5.00000000E-01  7.50000000E-01",
        "Alpha MO coefficients                      R   N=           4",
        "  5.48900000E-01  5.48900000E-01  1.21140000E+00 -1.21140000E+00",
        "Beta MO coefficients                       R   N=           4",
        "  2.50000000E-01  5.00000000E-01  7.50000000E-01 -1.00000000E+00",
        "Orthonormal basis                          R   N=           4",
        "  1.00000000E+00  0.00000000E+00  0.00000000E+00  1.00000000E+00",
    ]


@pytest.mark.parametrize(
    "chk, tail",
    [
        # Closed shell, kinds 0 and 2.
        pytest.param(h2().remove(522, 524).add(603, densities(0b101, [1.0, 2.0, 3.0],
                                                              [4.0, 5.0, 6.0])), [
            "IROHF                                      I                0",
            "Total SCF Density                          R   N=           3",
            "  1.00000000E+00  2.00000000E+00  3.00000000E+00",
            "Total MP2 Density                          R   N=           3",
            "  4.00000000E+00  5.00000000E+00  6.00000000E+00"], id="closed-shell"),
        # Unrestricted, the last kind: total and spin stand together.
        pytest.param(h2().replace(998, UHF).remove(522, 524)
                     .add(603, densities(1 << 8, [1.0, 2.0, 3.0, 0.5, 0.25, 0.125])), [
            "IROHF                                      I                0",
            "Total 2nd Order Density                    R   N=           3",
            "  1.50000000E+00  2.25000000E+00  3.12500000E+00",
            "Spin 2nd Order Density                     R   N=           3",
            "  5.00000000E-01  1.75000000E+00  2.87500000E+00"], id="unrestricted"),
    ],
)
def test_density_sections(chk: ChkBuilder, tail: List[str], tmp_path: Path) -> None:
    assert fchk_lines(chk, tmp_path)[-len(tail):] == tail


def test_all_density_kinds_in_order(tmp_path: Path) -> None:
    chk = (h2().replace(998, UHF).remove(522, 524)
           .add(603, densities(0, [float(k) for k in range(54)], word=-1)))
    names = ["SCF Density", "Psi(1) Density", "MP2 Density", "MP3 Density", "MP4 Density",
             "CI Rho(1) Density", "CI Density", "CC Density", "2nd Order Density"]
    expected = [f"{kind} {name}" for name in names for kind in ("Total", "Spin")]
    assert labels_after(write_fchk(chk, tmp_path), "IROHF") == expected


# ---------------------------------------------------------------------------
# Section order with every optional section present


def test_section_order_with_everything(tmp_path: Path) -> None:
    chk = (h2()
           .replace(998, switches({0: 1}, rlsw=[1.0]))
           .replace(997, mol([1, 1], H2_XYZ, ndim=3, cell=CELL))
           .replace(670, sp_basis())
           .replace(522, reals([-0.5, 0.6, -0.4, 0.7]))
           .add(526, reals([0.5, 0.5, 1.0, -1.0]))
           .add(685, reals([1.0, 0.0, 0.0, 1.0]))
           .add(585, reals([0.0] * 21))
           .add(603, densities(0b100000001, [0.0] * 6, [1.0] * 6)))
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
        "IOpCl", "IROHF", AOE, BOE, AMO, BMO, ORTH,
        "Total SCF Density", "Spin SCF Density", "Total 2nd Order Density",
        "Spin 2nd Order Density",
    ]


# ---------------------------------------------------------------------------
# Failure


@pytest.mark.parametrize("where", ["missing-dir", "is-a-dir"])
def test_unwritable_path(where: str, tmp_path: Path) -> None:
    reader = Vexmora_.ChkReader_(fchk=h2().write(tmp_path / "job.chk"))
    target = tmp_path / "missing" / "out.fchk" if where == "missing-dir" else tmp_path
    with pytest.raises(RuntimeError) as info:
        reader.write_fchk(fname=str(target))
    report = str(info.value)
    assert report.split("\n")[0] == f"Error: Can not write file: {target}"
    assert "\n\nSource File:\t" in report
    assert not (tmp_path / "missing").exists()

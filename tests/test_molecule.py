"""The molecule section: the /Mol/ layouts and counts, the raw basis header,
the orientation record and the reconciliation of atoms with shell centres,
and the cell."""
from __future__ import annotations

import re
import struct
import sys
from pathlib import Path
from typing import List, Optional, Sequence, Tuple

import numpy as np
import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent))
from chkbuilder import (  # noqa: E402
    H1S_COEFS,
    H1S_EXPS,
    ChkBuilder,
    Shell,
    basis,
    h2,
    mol,
    orientation,
    raw_coefs,
    switches,
)

Vexmora_ = pytest.importorskip("Vexmora_")

BOHR = 0.529177249
Vec = Sequence[float]

USE_BASIS = "Warning! Use Basis coords\n"
TRANSFER = ("Warning! Coordinates do not match /B/. "
            "Transferring coordinates from /Mol/ to /B/\n")

#: 90 degrees about z: M(0, 1) = -1, M(1, 0) = 1; not symmetric, so a
#: transposed reading of the stored matrix turns the other way.
ROT90Z = ((0.0, -1.0, 0.0), (1.0, 0.0, 0.0), (0.0, 0.0, 1.0))
SHIFT = (0.5, -0.25, 1.0)
#: Shell centres off the z axis, so ROT90Z moves them.
CENTRES = ((0.3, -0.2, 0.1), (1.1, 0.4, -0.7))


def load(tmp_path: Path, b: ChkBuilder) -> "Vexmora_.ChkReader_":
    return Vexmora_.ChkReader_(fchk=b.write(tmp_path / "t.chk"))


def error(msg: str) -> str:
    """Pattern of a whole error report carrying exactly ``msg``."""
    return "^Error: " + re.escape(msg) + "(\n|$)"


def s_shells(centres: Sequence[Vec], atoms: Optional[Sequence[int]] = None) -> List[Shell]:
    """Hydrogen 1s shells at ``centres`` on atoms 1, 2, ... (or ``atoms``)."""
    stored = raw_coefs(H1S_COEFS, H1S_EXPS, 0)
    nums = atoms if atoms is not None else range(1, len(centres) + 1)
    return [Shell(atom=a, T=0, exps=H1S_EXPS, coefs={0: stored}, centre=c)
            for a, c in zip(nums, centres)]


def two_atoms(atoms: Sequence[Vec], centres: Optional[Sequence[Vec]] = CENTRES, *,
              shell_atoms: Optional[Sequence[int]] = None,
              orient: Optional[Tuple[Sequence[Vec], Vec]] = None,
              ilsw: Optional[dict] = None, **mol_kw: object) -> ChkBuilder:
    """H2 with /Mol/ atoms at ``atoms`` and shells at ``centres`` (no /B/
    when None), optionally with an orientation record (rotation, shift)."""
    b = h2()
    b.replace(997, mol([1] * len(atoms), atoms, **mol_kw))  # type: ignore[arg-type]
    if centres is None:
        b.remove(670)
    else:
        b.replace(670, basis(s_shells(centres, shell_atoms)))
    if orient is not None:
        b.add(551, orientation(*orient))
    if ilsw is not None:
        b.replace(998, switches(ilsw))
    return b


def angstrom(xyz: Sequence[Vec]) -> np.ndarray:
    return np.asarray(xyz, dtype=float) * BOHR


def short_header(record: bytes, hdrlen: int) -> bytes:
    """A /Mol/ record of the 17-word header layout cut down to ``hdrlen`` words
    (13 to 16): words 13 and on of the header are dropped."""
    words = [record[i:i + 8] for i in range(0, len(record), 8)]
    words[1] = struct.pack("<q", hdrlen)
    return b"".join(words[:hdrlen] + words[17:])


# --- /Mol/ layouts and counts ----------------------------------------------

ATOMS3 = ((0.0, 0.0, 0.25), (1.5, -0.5, 0.75), (-1.25, 2.0, -3.5))


@pytest.mark.parametrize("moltyp, hdrlen", [
    (-12345, 12), (-12346, 20), (-12347, 20), (-12348, 20), (-12349, 20),
    (-12348, 30), (-12346, 17), (-12349, 13),
])
def test_mol_layouts_place_counts_and_atom_arrays(tmp_path: Path, moltyp: int,
                                                   hdrlen: int) -> None:
    # Junk in the unused header words must not leak into the atom arrays.
    extra = [777] * (hdrlen - 13) if moltyp != -12345 and hdrlen >= 17 else ()
    rec = mol([8, 1, 1], ATOMS3, moltyp=moltyp, hdrlen=max(hdrlen, 17), charge=-1,
              multiplicity=2, nae=5, nbe=4, ne=9, nbasis=7, nbsuse=6,
              nucchg=[6.0, 1.0, 0.5], header_extra=extra)
    if moltyp != -12345 and hdrlen < 17:
        rec = short_header(rec, hdrlen)
    b = h2().replace(997, rec).remove(670)
    m = load(tmp_path, b).params.mol
    assert (m.natoms, m.totchg, m.multiplicity) == (3, -1, 2)
    assert (m.nae, m.nbe, m.ne, m.nbasis, m.nbsuse, m.ndim) == (5, 4, 9, 7, 6, 0)
    assert m.atomicnums == [8, 1, 1]
    assert m.nucchg == [6.0, 1.0, 0.5]
    assert m.names == ["O", "H", "H"]
    np.testing.assert_array_equal(m.coords, angstrom(ATOMS3))


@pytest.mark.parametrize("moltyp", [-12350, -12344, 0, 12345])
def test_bad_moltyp_is_named_in_the_error(tmp_path: Path, moltyp: int) -> None:
    # The tag is word 0, in front of an otherwise sound record.
    b = h2().replace(997, struct.pack("<q", moltyp), mol([1, 1], CENTRES)[8:])
    with pytest.raises(RuntimeError, match=error(f"Bad MolTyp in rwmol: {moltyp}")):
        load(tmp_path, b)


def test_without_mol_record(tmp_path: Path) -> None:
    with pytest.raises(RuntimeError, match=error("No Mol sections in .chk")):
        load(tmp_path, h2().remove(997))


@pytest.mark.parametrize("natoms", [0, -1])
def test_no_atoms_is_rejected(tmp_path: Path, natoms: int) -> None:
    b = h2().replace(997, mol([1, 1], CENTRES, natoms=natoms)).remove(670)
    with pytest.raises(RuntimeError, match=error("Missing atom data in.chk")):
        load(tmp_path, b)


def test_one_atom_with_its_three_translation_vectors(tmp_path: Path) -> None:
    cell = ((4.0, 0.0, 0.0), (0.0, 5.0, 0.0), (0.5, 0.0, 6.0))
    b = h2().replace(997, mol([3], [(0.1, 0.2, 0.3)], ndim=3, cell=cell)).remove(670)
    m = load(tmp_path, b).params.mol
    assert (m.natoms, m.atomicnums, m.names) == (1, [3], ["Li"])
    np.testing.assert_array_equal(m.coords, angstrom([(0.1, 0.2, 0.3)]))
    np.testing.assert_array_equal(m.cell, angstrom(cell))


def test_largest_atom_count_is_accepted(tmp_path: Path) -> None:
    n = 249997
    xyz = np.zeros((n, 3))
    xyz[:, 0] = np.arange(n) * 0.5
    cell = ((1.0, 2.0, 3.0), (4.0, 5.0, 6.0), (7.0, 8.0, 9.0))
    b = h2().replace(997, mol([2] * n, xyz.tolist(), ndim=3, cell=cell)).remove(670)
    m = load(tmp_path, b).params.mol
    assert m.natoms == n and m.names[-1] == "He"
    np.testing.assert_array_equal(m.coords, xyz * BOHR)
    np.testing.assert_array_equal(m.cell, angstrom(cell))


@pytest.mark.parametrize("natoms", [249998, 10**12, 2**63 - 1])
def test_atom_count_beyond_the_arrays_is_rejected(tmp_path: Path, natoms: int) -> None:
    b = h2().replace(997, mol([1, 1], CENTRES, natoms=natoms)).remove(670)
    with pytest.raises(RuntimeError, match="^Error: "):
        load(tmp_path, b)


# --- /B/ header --------------------------------------------------------------

@pytest.mark.parametrize("header", [
    [-1, 1, 6, 0, 0, 0],   # NShell < 0
    [2, -1, 6, 0, 0, 0],   # bhdr1 < 0
    [2, 2, 6, 0, 0, 0],    # bhdr1 >= 2 needs high-L coefficients
    [2, 1, -1, 0, 0, 0],   # NPrim < 0
    [2, 1, 6, -1, 0, 0],   # bhdr3 < 0
    [2, 1, 6, 7, 0, 0],    # bhdr3 > NPrim
    [2, 1, 6, 0, 2, 0], [2, 1, 6, 0, -1, 0],
    [2, 1, 6, 0, 0, 2], [2, 1, 6, 0, 0, -1],
])
def test_basis_header_constraints(tmp_path: Path, header: List[int]) -> None:
    b = h2().replace(670, basis(s_shells(CENTRES), header=header))
    with pytest.raises(RuntimeError, match=error("RdWrB1 read garbage pointers")):
        load(tmp_path, b)


@pytest.mark.parametrize("header", [[2, 0, 6, 0, 0, 0], [2, 2, 6, 6, 1, 1]])
def test_basis_header_limits_are_accepted(tmp_path: Path, header: List[int]) -> None:
    hi = [0.0] * header[3]
    b = two_atoms(CENTRES)
    b.replace(670, basis(s_shells(CENTRES), header=header, hiconc1=hi, hiconc2=hi))
    assert load(tmp_path, b).params.mol.shelltypes == [0, 0]


@pytest.mark.parametrize("header", [
    [10**12, 1, 6, 0, 0, 0],
    [2, 1, 10**12, 0, 0, 0],
    [2, 2, 10**12, 10**12, 0, 0],
    [2**62, 1, 2**62, 2**62, 0, 0],    # 13 * NShell wraps in 64 bits
    [2**63 - 1, 1, 2**63 - 1, 2**63 - 1, 0, 0],
])
def test_huge_basis_counts_are_rejected(tmp_path: Path, header: List[int]) -> None:
    b = h2().replace(670, basis(s_shells(CENTRES), header=header))
    with pytest.raises(RuntimeError, match="^Error: "):
        load(tmp_path, b)


# --- orientation and reconciliation -----------------------------------------

def rotate(xyz: Sequence[Vec], rot: Sequence[Vec] = ROT90Z) -> np.ndarray:
    """M x for each row x."""
    return np.asarray(xyz, dtype=float) @ np.asarray(rot, dtype=float).T


UNROTATE = np.asarray(CENTRES) @ np.asarray(ROT90Z)  # M^T c: M applied gives c back


@pytest.mark.parametrize("atoms, stdout, expect_atoms", [
    # Already on the shells: the orientation record is not applied.
    pytest.param(CENTRES, "", CENTRES, id="match"),
    # The shift alone brings them there: no rotation.
    pytest.param(np.asarray(CENTRES) - SHIFT, "", CENTRES, id="shift-only"),
    pytest.param(UNROTATE - SHIFT, "", CENTRES, id="shift-and-rotation"),
    # Nothing helps: the atoms take the shell centres.
    pytest.param(((5.0, 5.0, 5.0), (-4.0, 3.0, 2.0)), USE_BASIS, CENTRES, id="use-basis"),
])
def test_orientation_with_basis(tmp_path: Path, capfd: pytest.CaptureFixture, atoms: Sequence[Vec],
                                stdout: str, expect_atoms: Sequence[Vec]) -> None:
    m = load(tmp_path, two_atoms(atoms, orient=(ROT90Z, SHIFT))).params.mol
    assert capfd.readouterr().out == stdout
    np.testing.assert_allclose(m.coords, angstrom(expect_atoms), rtol=0, atol=1e-12)
    np.testing.assert_allclose(m.cshell, angstrom(CENTRES), rtol=0, atol=1e-12)


def test_use_basis_coords_takes_the_last_shell_of_an_atom(tmp_path: Path,
                                                          capfd: pytest.CaptureFixture) -> None:
    centres = ((0.3, -0.2, 0.1), (0.9, 0.9, 0.9), (1.1, 0.4, -0.7))
    b = two_atoms(((5.0, 5.0, 5.0), (-4.0, 3.0, 2.0)), centres, shell_atoms=[1, 1, 2],
                  orient=(ROT90Z, SHIFT))
    m = load(tmp_path, b).params.mol
    # Atom 1 sits on its second shell, so its first shell still differs and
    # is moved onto the atom.
    assert capfd.readouterr().out == USE_BASIS + TRANSFER
    np.testing.assert_allclose(m.coords, angstrom([centres[1], centres[2]]), rtol=0, atol=1e-12)
    np.testing.assert_allclose(m.cshell, angstrom([centres[1], centres[1], centres[2]]),
                               rtol=0, atol=1e-12)


def test_mismatch_without_orientation_moves_the_shells(tmp_path: Path,
                                                       capfd: pytest.CaptureFixture) -> None:
    atoms = ((0.3, -0.2, 0.1), (2.0, 2.0, 2.0))
    m = load(tmp_path, two_atoms(atoms)).params.mol
    assert capfd.readouterr().out == TRANSFER
    np.testing.assert_array_equal(m.coords, angstrom(atoms))
    np.testing.assert_array_equal(m.cshell, angstrom(atoms))


@pytest.mark.parametrize("dx, moved", [
    (1e-4, False),                          # d^2 is exactly 1e-8 Bohr^2: a match
    (float(np.nextafter(1e-4, 1.0)), True),
])
def test_match_threshold(tmp_path: Path, capfd: pytest.CaptureFixture, dx: float,
                         moved: bool) -> None:
    assert (1e-4 * 1e-4 == 1e-8) and ((dx * dx > 1e-8) == moved)
    centres = ((0.0, 0.0, 0.0), (0.0, 0.0, 1.4))
    atoms = ((dx, 0.0, 0.0), (0.0, 0.0, 1.4))
    m = load(tmp_path, two_atoms(atoms, centres)).params.mol
    assert capfd.readouterr().out == (TRANSFER if moved else "")
    np.testing.assert_array_equal(m.cshell, angstrom(atoms if moved else centres))


GENERAL = ((0.8, -0.6, 0.1), (0.6, 0.8, -0.2), (0.05, 0.3, 0.95))


@pytest.mark.parametrize("rot", [ROT90Z, GENERAL])
def test_orientation_without_basis_shifts_then_rotates(tmp_path: Path, capfd: pytest.CaptureFixture,
                                                       rot: Sequence[Vec]) -> None:
    atoms = ((0.3, -0.2, 0.1), (1.1, 0.4, -0.7), (0.0, 0.0, 0.0))
    m = load(tmp_path, two_atoms(atoms, None, orient=(rot, SHIFT))).params.mol
    assert capfd.readouterr().out == ""
    expected = rotate(np.asarray(atoms) + SHIFT, rot)
    np.testing.assert_allclose(m.coords, expected * BOHR, rtol=0, atol=1e-12)


@pytest.mark.parametrize("centres, stdout", [(None, ""), (CENTRES, TRANSFER)])
def test_switch_25_ignores_the_orientation_record(tmp_path: Path, capfd: pytest.CaptureFixture,
                                                  centres: Optional[Sequence[Vec]],
                                                  stdout: str) -> None:
    atoms = np.asarray(CENTRES) - SHIFT  # the shift would have matched
    b = two_atoms(atoms, centres, orient=(ROT90Z, SHIFT), ilsw={25: 1})
    m = load(tmp_path, b).params.mol
    assert capfd.readouterr().out == stdout
    np.testing.assert_allclose(m.coords, angstrom(atoms), rtol=0, atol=1e-15)


@pytest.mark.parametrize("first_centre, stdout", [
    (CENTRES[0], ""),          # the later shells match
    ((9.0, 9.0, 9.0), TRANSFER),
])
@pytest.mark.parametrize("atom", [0, -1])
def test_shell_without_atom_is_skipped_by_the_check(tmp_path: Path, capfd: pytest.CaptureFixture,
                                                    atom: int, first_centre: Vec,
                                                    stdout: str) -> None:
    # The check and the copy pass over it; the basis step then rejects it.
    centres = ((7.0, 7.0, 7.0), first_centre, CENTRES[1])
    b = two_atoms(CENTRES, centres, shell_atoms=[atom, 1, 2])
    with pytest.raises(RuntimeError, match=error("FixB is confused about JAn")):
        load(tmp_path, b)
    assert capfd.readouterr().out == stdout


def test_shell_on_a_missing_atom(tmp_path: Path) -> None:
    b = two_atoms(CENTRES, shell_atoms=[1, 3])
    with pytest.raises(RuntimeError, match=error("atom id out of range")):
        load(tmp_path, b)


def test_check_stops_at_the_first_mismatch(tmp_path: Path, capfd: pytest.CaptureFixture) -> None:
    # The shell on the missing atom 3 is never visited by the check.
    b = two_atoms(((9.0, 9.0, 9.0), CENTRES[1]), shell_atoms=[1, 3])
    with pytest.raises(RuntimeError, match=error("FixB is confused about JAn")):
        load(tmp_path, b)
    assert capfd.readouterr().out == TRANSFER


# --- cell --------------------------------------------------------------------

CELL = ((10.0, 0.0, 0.0), (1.0, 12.0, 0.0), (-2.0, 0.5, 14.0))


@pytest.mark.parametrize("ndim, expected", [(0, np.zeros((3, 3))), (1, angstrom(CELL)),
                                            (3, angstrom(CELL))])
def test_cell_rows(tmp_path: Path, ndim: int, expected: np.ndarray) -> None:
    m = load(tmp_path, two_atoms(CENTRES, None, ndim=ndim, cell=CELL)).params.mol
    assert m.ndim == ndim
    np.testing.assert_array_equal(m.cell, expected)


def test_orientation_leaves_the_cell_alone(tmp_path: Path) -> None:
    b = two_atoms(CENTRES, None, orient=(ROT90Z, SHIFT), ndim=3, cell=CELL)
    m = load(tmp_path, b).params.mol
    np.testing.assert_array_equal(m.cell, angstrom(CELL))
    np.testing.assert_allclose(m.coords, rotate(np.asarray(CENTRES) + SHIFT) * BOHR,
                               rtol=0, atol=1e-12)


# --- arrays seen from Python -------------------------------------------------

@pytest.mark.parametrize("name", ["coords", "cell"])
def test_length_arrays_are_fresh_copies(tmp_path: Path, name: str) -> None:
    m = load(tmp_path, two_atoms(CENTRES, ndim=3, cell=CELL)).params.mol
    a, b = getattr(m, name), getattr(m, name)
    assert a.dtype == np.float64 and a.flags.writeable
    assert not np.shares_memory(a, b)
    kept = b.copy()
    a[...] = -1.0
    np.testing.assert_array_equal(getattr(m, name), kept)

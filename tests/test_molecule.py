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
from chkbuilder import (H1S_COEFS, H1S_EXPS, ChkBuilder, Shell, basis, h2, mol,  # noqa: E402
                        orientation, raw_coefs, switches)

Vexmora_ = pytest.importorskip("Vexmora_")

BOHR = 0.529177249
Vec = Sequence[float]

USE_BASIS = "Warning! Use Basis coords\n"
TRANSFER = ("Warning! Coordinates do not match /B/. "
            "Transferring coordinates from /Mol/ to /B/\n")

#: 90 degrees about z: M(0, 1) = -1, M(1, 0) = 1; not symmetric, so a
#: transposed reading of the stored matrix turns the other way.
ROT90Z = ((0.0, -1.0, 0.0), (1.0, 0.0, 0.0), (0.0, 0.0, 1.0))
GENERAL = ((0.8, -0.6, 0.1), (0.6, 0.8, -0.2), (0.05, 0.3, 0.95))
SHIFT = (0.5, -0.25, 1.0)
#: Shell centres off the z axis, so ROT90Z moves them.
CENTRES = ((0.3, -0.2, 0.1), (1.1, 0.4, -0.7))
CELL = ((10.0, 0.0, 0.0), (1.0, 12.0, 0.0), (-2.0, 0.5, 14.0))


def load(tmp_path: Path, b: ChkBuilder) -> "Vexmora_.ChkReader_":
    return Vexmora_.ChkReader_(fchk=b.write(tmp_path / "t.chk"))


def error(msg: str) -> str:
    """Pattern of a whole error report carrying exactly ``msg``."""
    return "^Error: " + re.escape(msg) + "(\n|$)"


def h1s_shells(centres: Sequence[Vec], atoms: Optional[Sequence[int]] = None) -> List[Shell]:
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
    b = h2().replace(997, mol([1] * len(atoms), atoms, **mol_kw))  # type: ignore[arg-type]
    if centres is None:
        b.remove(670)
    else:
        b.replace(670, basis(h1s_shells(centres, shell_atoms)))
    if orient is not None:
        b.add(551, orientation(*orient))
    if ilsw is not None:
        b.replace(998, switches(ilsw))
    return b


def angstrom(xyz: Sequence[Vec]) -> np.ndarray:
    return np.asarray(xyz, dtype=float).reshape(-1, 3) * BOHR


def rotate(xyz: Sequence[Vec], rot: Sequence[Vec] = ROT90Z) -> np.ndarray:
    """M x for each row x."""
    return np.asarray(xyz, dtype=float) @ np.asarray(rot, dtype=float).T


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
        # Cut the 17-word header down to hdrlen words.
        words = [rec[i:i + 8] for i in range(0, len(rec), 8)]
        rec = b"".join([words[0], struct.pack("<q", hdrlen)] + words[2:hdrlen] + words[17:])
    m = load(tmp_path, h2().replace(997, rec).remove(670)).params.mol
    assert (m.natoms, m.totchg, m.multiplicity) == (3, -1, 2)
    assert (m.nae, m.nbe, m.ne, m.nbasis, m.nbsuse, m.ndim) == (5, 4, 9, 7, 6, 0)
    assert (m.atomicnums, m.nucchg, m.names) == ([8, 1, 1], [6.0, 1.0, 0.5], ["O", "H", "H"])
    np.testing.assert_array_equal(m.coords, angstrom(ATOMS3))


def with_natoms(natoms: int) -> ChkBuilder:
    return h2().replace(997, mol([1, 1], CENTRES, natoms=natoms)).remove(670)


@pytest.mark.parametrize("b, message", [
    # The tag is word 0, in front of an otherwise sound record.
    *[pytest.param(h2().replace(997, struct.pack("<q", t), mol([1, 1], CENTRES)[8:]),
                   f"Bad MolTyp in rwmol: {t}", id=f"moltyp{t}")
      for t in (-12350, -12344, 0, 12345)],
    pytest.param(h2().remove(997), "No Mol sections in .chk", id="no-record"),
    pytest.param(with_natoms(0), "Missing atom data in.chk", id="natoms0"),
    pytest.param(with_natoms(-1), "Missing atom data in.chk", id="natoms-1"),
    # More atoms than the arrays of the file can hold.
    *[pytest.param(with_natoms(n), None, id=f"natoms{n}") for n in (249998, 10**12, 2**63 - 1)],
    # 1000 atoms need 6018 words of arrays, more than the whole file (5680).
    pytest.param(with_natoms(1000), "Size of atom arrays out of range for this file: 6018",
                 id="natoms-beyond-file"),
])
def test_rejected_molecule(tmp_path: Path, b: ChkBuilder, message: Optional[str]) -> None:
    with pytest.raises(RuntimeError, match="^Error: " if message is None else error(message)):
        load(tmp_path, b)


@pytest.mark.parametrize("n, z, name", [(1, 3, "Li"), (249997, 2, "He")])
def test_smallest_and_largest_atom_counts(tmp_path: Path, n: int, z: int, name: str) -> None:
    xyz = np.zeros((n, 3))
    xyz[:, 0] = np.arange(n) * 0.5 + 0.1
    cell = ((4.0, 0.0, 0.0), (0.0, 5.0, 0.0), (0.5, 0.0, 6.0))
    m = load(tmp_path, h2().replace(997, mol([z] * n, xyz.tolist(), ndim=3, cell=cell))
             .remove(670)).params.mol
    assert (m.natoms, m.names[0], m.names[-1]) == (n, name, name)
    np.testing.assert_array_equal(m.coords, xyz * BOHR)
    np.testing.assert_array_equal(m.cell, angstrom(cell))


@pytest.mark.parametrize("ndim, expected", [(0, np.zeros((3, 3))), (1, angstrom(CELL)),
                                            (3, angstrom(CELL))])
def test_cell_rows(tmp_path: Path, ndim: int, expected: np.ndarray) -> None:
    m = load(tmp_path, two_atoms(CENTRES, None, ndim=ndim, cell=CELL)).params.mol
    assert m.ndim == ndim
    np.testing.assert_array_equal(m.cell, expected)


# --- /B/ header --------------------------------------------------------------

@pytest.mark.parametrize("header, message", [
    ([2, 0, 6, 0, 0, 0], None), ([2, 2, 6, 6, 1, 1], None),  # the limits, accepted
    *[(h, "RdWrB1 read garbage pointers") for h in (
        [-1, 1, 6, 0, 0, 0],   # NShell < 0
        [2, -1, 6, 0, 0, 0],   # bhdr1 < 0
        [2, 2, 6, 0, 0, 0],    # bhdr1 >= 2 needs high-L coefficients
        [2, 1, -1, 0, 0, 0],   # NPrim < 0
        [2, 1, 6, -1, 0, 0],   # bhdr3 < 0
        [2, 1, 6, 7, 0, 0],    # bhdr3 > NPrim
        [2, 1, 6, 0, 2, 0], [2, 1, 6, 0, -1, 0], [2, 1, 6, 0, 0, 2], [2, 1, 6, 0, 0, -1])],
    # Counts beyond what the file holds.
    *[(h, "") for h in ([10**12, 1, 6, 0, 0, 0], [2, 1, 10**12, 0, 0, 0],
                        [2, 2, 10**12, 10**12, 0, 0],
                        [2**62, 1, 2**62, 2**62, 0, 0],  # 13 * NShell wraps in 64 bits
                        [2**63 - 1, 1, 2**63 - 1, 2**63 - 1, 0, 0])],
])
def test_basis_header(tmp_path: Path, header: List[int], message: Optional[str]) -> None:
    hi = [0.0] * header[3] if message is None else []
    b = two_atoms(CENTRES).replace(670, basis(h1s_shells(CENTRES), header=header,
                                              hiconc1=hi, hiconc2=hi))
    if message is None:
        assert load(tmp_path, b).params.mol.shelltypes == [0, 0]
    else:
        with pytest.raises(RuntimeError, match=error(message) if message else "^Error: "):
            load(tmp_path, b)


# --- orientation and reconciliation -----------------------------------------

ORIENT = (ROT90Z, SHIFT)
FAR = ((5.0, 5.0, 5.0), (-4.0, 3.0, 2.0))
SHIFTED = np.asarray(CENTRES) - SHIFT  # the shift alone takes these onto the shells
UNROTATED = np.asarray(CENTRES) @ np.asarray(ROT90Z) - SHIFT  # shift, then M, gives CENTRES
MOVED = ((0.3, -0.2, 0.1), (2.0, 2.0, 2.0))
THREE = ((0.3, -0.2, 0.1), (0.9, 0.9, 0.9), (1.1, 0.4, -0.7))
H2C = ((0.0, 0.0, 0.0), (0.0, 0.0, 1.4))
AT_LIMIT = ((1e-4, 0.0, 0.0), H2C[1])  # d^2 is exactly 1e-8 Bohr^2: still a match
PAST_LIMIT = ((float(np.nextafter(1e-4, 1.0)), 0.0, 0.0), H2C[1])
NO_BASIS = np.asarray(((0.3, -0.2, 0.1), (1.1, 0.4, -0.7), (0.0, 0.0, 0.0)))


@pytest.mark.parametrize("build, stdout, coords, cshell", [
    # Already on the shells: the orientation record is not applied.
    pytest.param(dict(atoms=CENTRES, orient=ORIENT), "", CENTRES, CENTRES, id="match"),
    pytest.param(dict(atoms=SHIFTED, orient=ORIENT), "", CENTRES, CENTRES, id="shift-only"),
    pytest.param(dict(atoms=UNROTATED, orient=ORIENT), "", CENTRES, CENTRES, id="shift-rotation"),
    # Nothing helps: the atoms take the shell centres...
    pytest.param(dict(atoms=FAR, orient=ORIENT), USE_BASIS, CENTRES, CENTRES, id="use-basis"),
    # ...each the last of its shells; atom 1's first shell then still differs
    # and is moved onto the atom.
    pytest.param(dict(atoms=FAR, centres=THREE, shell_atoms=[1, 1, 2], orient=ORIENT),
                 USE_BASIS + TRANSFER, THREE[1:], (THREE[1], THREE[1], THREE[2]),
                 id="use-basis-last-shell"),
    # Without an orientation record the shells move onto the atoms.
    pytest.param(dict(atoms=MOVED), TRANSFER, MOVED, MOVED, id="no-orientation"),
    pytest.param(dict(atoms=AT_LIMIT, centres=H2C), "", AT_LIMIT, H2C, id="at-threshold"),
    pytest.param(dict(atoms=PAST_LIMIT, centres=H2C), TRANSFER, PAST_LIMIT, PAST_LIMIT,
                 id="past-threshold"),
    # ILSW[25] = 1: the orientation record is ignored, though its shift would match.
    pytest.param(dict(atoms=SHIFTED, orient=ORIENT, ilsw={25: 1}), TRANSFER, SHIFTED, SHIFTED,
                 id="switch25"),
    pytest.param(dict(atoms=SHIFTED, centres=None, orient=ORIENT, ilsw={25: 1}), "", SHIFTED, (),
                 id="switch25-no-basis"),
    # Without a basis the atoms are shifted, then rotated.
    *[pytest.param(dict(atoms=NO_BASIS, centres=None, orient=(rot, SHIFT)), "",
                   rotate(NO_BASIS + SHIFT, rot), (), id=f"no-basis-{name}")
      for name, rot in (("rot90z", ROT90Z), ("general", GENERAL))],
])
def test_reconciliation(tmp_path: Path, capfd: pytest.CaptureFixture, build: dict, stdout: str,
                        coords: Sequence[Vec], cshell: Sequence[Vec]) -> None:
    m = load(tmp_path, two_atoms(**build, ndim=3, cell=CELL)).params.mol
    assert capfd.readouterr().out == stdout
    np.testing.assert_allclose(m.coords, angstrom(coords), rtol=0, atol=1e-12)
    np.testing.assert_allclose(m.cshell, angstrom(cshell), rtol=0, atol=1e-12)
    np.testing.assert_array_equal(m.cell, angstrom(CELL))  # the cell never turns


FIXB = "FixB is confused about JAn"


@pytest.mark.parametrize("atoms, centres, shell_atoms, stdout, message", [
    # A shell on no atom is passed over by the check and the copy; the basis
    # step then rejects it.
    *[pytest.param(CENTRES, ((7.0, 7.0, 7.0), first, CENTRES[1]), [atom, 1, 2], out, FIXB,
                   id=f"atom{atom}-{kind}")
      for atom in (0, -1, -(2**40))
      for kind, first, out in (("match", CENTRES[0], ""), ("mismatch", (9.0, 9.0, 9.0), TRANSFER))],
    pytest.param(CENTRES, CENTRES, [1, 3], "", "atom id out of range", id="missing-atom"),
    # The check stops at the first mismatch, so never meets the missing atom 3.
    pytest.param(((9.0, 9.0, 9.0), CENTRES[1]), CENTRES, [1, 3], TRANSFER, FIXB,
                 id="missing-atom-after-mismatch"),
])
def test_shells_on_bad_atoms(tmp_path: Path, capfd: pytest.CaptureFixture, atoms: Sequence[Vec],
                             centres: Sequence[Vec], shell_atoms: List[int], stdout: str,
                             message: str) -> None:
    with pytest.raises(RuntimeError, match=error(message)):
        load(tmp_path, two_atoms(atoms, centres, shell_atoms=shell_atoms))
    assert capfd.readouterr().out == stdout

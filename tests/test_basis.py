"""The basis set as the reader exports it: shells regrouped by atom, shell type
codes, contraction coefficients of normalised primitives, shell centres, and
the rejection of bases the reader cannot export or whose index arrays are
inconsistent."""
from __future__ import annotations

import math
import subprocess
import sys
from pathlib import Path
from typing import Dict, List, Optional, Sequence, Tuple

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent))

from chkbuilder import Shell, basis, h2, mol  # noqa: E402
from refdata import companion, is_broken, read_fchk, real_checkpoints  # noqa: E402

Vexmora_ = pytest.importorskip("Vexmora_")

BOHR = 0.529177249
#: Three atoms, coordinates in Bohr; shell centres are put on them.
XYZ: List[Tuple[float, float, float]] = [(0.0, 0.0, 0.0), (0.0, 0.3, 1.4), (1.1, -0.7, 2.5)]


def overlap(L: int, a: float, b: float) -> float:
    """One-centre overlap of the raw primitives x^L exp(-a r^2) and x^L exp(-b r^2)."""
    p = a + b
    return (math.pi / p) ** 1.5 * math.prod(range(2 * L - 1, 0, -2)) / (2 * p) ** L


def normalised(coefs: Sequence[float], exps: Sequence[float], L: int) -> List[float]:
    """Coefficients of normalised primitives for stored (raw-primitive) ones."""
    return [c * math.sqrt(overlap(L, e, e)) for c, e in zip(coefs, exps)]


def shell(atom: int, T: int, exps: Sequence[float], coefs: Dict[int, Sequence[float]],
          C: Optional[int] = None) -> Shell:
    """A stored shell centred on its atom of :data:`XYZ`."""
    centre = XYZ[atom - 1] if 1 <= atom <= len(XYZ) else (0.0, 0.0, 0.0)
    return Shell(atom=atom, T=T, exps=list(exps), coefs=dict(coefs), C=C, centre=centre)


def write_chk(tmp_path: Path, shells: Sequence[Shell], *, natoms: int = 3,
              atomtypes: Optional[Sequence[int]] = None, **basis_kw: object) -> str:
    """A complete job whose molecule has ``natoms`` atoms of :data:`XYZ` and
    whose basis record holds ``shells`` in stored order."""
    b = h2()
    b.replace(997, mol([1] * natoms, XYZ[:natoms], nbasis=2, atomtypes=atomtypes))
    b.replace(670, basis(shells, **basis_kw))  # type: ignore[arg-type]
    return b.write(tmp_path / "basis.chk")


def read(tmp_path: Path, shells: Sequence[Shell], **kw: object) -> "Vexmora_.Mol":
    return Vexmora_.ChkReader_(fchk=write_chk(tmp_path, shells, **kw)).params.mol  # type: ignore


def fails_with(tmp_path: Path, shells: Sequence[Shell], message: str, **kw: object) -> None:
    """Construction fails with exactly ``message``."""
    with pytest.raises(RuntimeError) as err:
        read(tmp_path, shells, **kw)
    assert str(err.value).split("\n", 1)[0] == "Error: " + message


# ---------------------------------------------------------------------------
# Regrouping and export

def test_shells_regrouped_by_atom_keeping_stored_order_within_an_atom(tmp_path: Path) -> None:
    # (atom, T, exponents, coefficients) in stored order; D shells exercise
    # the high-L pointers, which must move with their shells.
    stored = [(3, 0, [5.0], [0.7]), (1, 1, [4.0, 0.4], [0.2, 0.9]), (2, 0, [3.0, 0.3], [0.3, 0.8]),
              (1, 0, [2.0], [1.1]), (3, 2, [1.5, 0.5], [0.4, 0.6]), (1, 2, [1.0], [0.9])]
    m = read(tmp_path, [shell(a, T, e, {T: c}) for a, T, e, c in stored])
    new = [stored[i] for i in (1, 3, 5, 2, 0, 4)]  # atom 1 in stored order, then 2 and 3
    assert m.shell2map == [1, 1, 1, 2, 3, 3]
    assert m.shelltypes == [1, 0, -2, 0, 0, -2]
    assert m.spconcoeff == []
    assert m.shellnprim == [len(s[2]) for s in new]
    assert m.primexp == [e for s in new for e in s[2]]
    assert m.concoeff == pytest.approx([c for s in new for c in normalised(s[3], s[2], s[1])],
                                       rel=1e-12)
    assert m.cshell.shape == (6, 3)
    assert m.cshell.ravel().tolist() == pytest.approx(
        [x * BOHR for s in new for x in XYZ[s[0] - 1]], rel=1e-15, abs=0)


@pytest.mark.parametrize("cons", [0, 2])
def test_sp_shells(tmp_path: Path, cons: int) -> None:
    es, cs, cp = [3.0, 0.7, 0.2], [-0.1, 0.4, 0.7], [0.15, 0.5, 0.45]
    m = read(tmp_path, [shell(1, 0, [9.0], {0: [1.0]}), shell(1, 1, es, {0: cs, 1: cp}, C=cons),
                        shell(2, 1, [0.8, 0.2], {1: [0.5, 0.6]}),
                        shell(2, 1, es, {0: cs, 1: cp}, C=cons)], natoms=2)
    assert m.shelltypes == [0, -1, 1, -1]
    s_part, p_part = normalised(cs, es, 0), normalised(cp, es, 1)
    pure_p = normalised([0.5, 0.6], [0.8, 0.2], 1)
    assert m.concoeff == pytest.approx(normalised([1.0], [9.0], 0) + s_part + pure_p + s_part,
                                       rel=1e-12)
    assert m.spconcoeff == pytest.approx([0.0] + p_part + [0.0, 0.0] + p_part, rel=1e-12)
    assert m.spconcoeff[0] == 0.0 and m.spconcoeff[4:6] == [0.0, 0.0]  # exactly


@pytest.mark.parametrize("bhdr5", [0, 1])
@pytest.mark.parametrize("bhdr4", [0, 1])
def test_high_angular_momentum(tmp_path: Path, bhdr4: int, bhdr5: int) -> None:
    exps = [4.0, 1.2, 0.35]
    coefs = {T: [0.3 * (T + 1), -0.5, 0.4] for T in range(6)}
    m = read(tmp_path, [shell(1, T, exps, {T: coefs[T]}) for T in range(6)],
             bhdr4=bhdr4, bhdr5=bhdr5)
    f = 1 if bhdr5 else -1
    assert m.shelltypes == [0, 1, 2 if bhdr4 else -2, 3 * f, 4 * f, 5 * f]
    pairs = [(j, k) for j in range(3) for k in range(3)]
    for T, raw in coefs.items():
        got = m.concoeff[3 * T:3 * T + 3]
        assert got == pytest.approx(normalised(raw, exps, T), rel=1e-12)
        # Independently of normalised(): the contracted function keeps its
        # self-overlap, whether built from raw or from normalised primitives.
        ov = [[overlap(T, a, b) for b in exps] for a in exps]
        assert sum(got[j] * got[k] * ov[j][k] / math.sqrt(ov[j][j] * ov[k][k]) for j, k in pairs) \
            == pytest.approx(sum(raw[j] * raw[k] * ov[j][k] for j, k in pairs), rel=1e-12)


def test_basis_without_record_is_empty(tmp_path: Path) -> None:
    m = Vexmora_.ChkReader_(fchk=h2().remove(670).write(tmp_path / "nobasis.chk")).params.mol
    assert (m.shelltypes, m.shellnprim, m.shell2map, m.primexp, m.concoeff, m.spconcoeff,
            m.cshell.shape) == ([], [], [], [], [], [], (0, 3))


# ---------------------------------------------------------------------------
# Bases the reader refuses

S1 = shell(1, 0, [1.0], {0: [1.0]})  # a plain s shell on atom 1
S1_S2 = [S1, shell(2, 0, [2.0], {0: [1.0]})]


@pytest.mark.parametrize("shells, atomtypes, kept", [
    *[(S1_S2, [0, t, t], True) for t in (0, 1000, 10000000, 2 ** 62)],
    *[(S1_S2, [0, t, t], False) for t in (1, 5, 999, 1001, 9999999, -1, -1000)],
    (S1_S2, [0, 0, 5], True),  # an atom without shells may have any type
    # Combined SPD and SPDF shells cannot be exported.
    *[([S1, shell(1, T, [2.0, 0.5], {L: [0.5, 0.5] for L in range(T + 1)}, C=0)], None, False)
      for T in (2, 3)],
])
def test_shells_the_export_leaves_out(tmp_path: Path, shells: List[Shell],
                                      atomtypes: Optional[List[int]], kept: bool) -> None:
    if kept:
        assert read(tmp_path, shells, atomtypes=atomtypes).shell2map == [1, 2]
    else:
        fails_with(tmp_path, shells, "NShell != mol.NShell in fix_basis", atomtypes=atomtypes)


P3 = [0.3, 0.2, 0.6]


def many(n: int) -> Shell:
    """A p shell of n primitives on atom 1."""
    return shell(1, 1, [0.01 * 1.1 ** k for k in range(n)], {1: [1.0 / n] * n})


@pytest.mark.parametrize("shells, message", [
    pytest.param([many(99), S1_S2[1]], None, id="99-primitives"),
    pytest.param([many(100), S1_S2[1]], "MaxCon too small in Renor1", id="100-primitives"),
    pytest.param([shell(1, 13, [1.0, 0.4], {13: [0.5, 0.5]})], None, id="L13"),
    pytest.param([shell(1, 14, [1.0, 0.4], {14: [0.5, 0.5]})], " out of range in PrmNrm", id="L14"),
    *[pytest.param(sh, "Unable to normalize a contracted basis function", id=name) for name, sh in (
        ("zero-s", [shell(1, 0, [0.8], {0: [0.0]})]),
        ("zero-d", [shell(1, 2, [0.8, 0.3], {2: [0.0, 0.0]})]),
        ("zero-p-of-sp", [shell(1, 1, [0.8, 0.3], {0: [0.5, 0.5], 1: [0.0, 0.0]})]),
        ("norm-below-1e-30", [shell(1, 0, [math.pi / 2], {0: [1e-16]})]))],
    # Exponents from 1e-6 on, in any kind of shell.
    *[pytest.param([S1, shell(1, max(c), [2.0, small, 0.3], c)],
                   None if small >= 1e-6 else "Missing exponents in basis set", id=f"{kind}-{small}")
      for kind, c in (("s", {0: P3}), ("p", {1: P3}), ("d", {2: P3}), ("sp", {0: P3, 1: P3[::-1]}))
      for small in (1e-6, 9.9e-7, 0.0, -1.0)],
])
def test_limits(tmp_path: Path, shells: List[Shell], message: Optional[str]) -> None:
    if message is not None:
        fails_with(tmp_path, shells, message)
        return
    m = read(tmp_path, shells)
    assert [abs(t) for t in m.shelltypes] == [sh.T for sh in shells]
    assert m.shellnprim == [len(sh.exps) for sh in shells]
    assert m.primexp == [e for sh in shells for e in sh.exps]
    low = [min(sh.coefs) for sh in shells]  # the S part of an SP shell
    assert m.concoeff == pytest.approx(
        [c for sh, L in zip(shells, low) for c in normalised(sh.coefs[L], sh.exps, L)], rel=1e-12)


EMPTY_S = shell(1, 0, [], {0: []})


@pytest.mark.parametrize("shells, pointers", [
    pytest.param([EMPTY_S], None, id="no-primitives-at-all"),
    pytest.param([S1, EMPTY_S], None, id="empty-shell-last"),
    pytest.param([S1, EMPTY_S], {"shellprimptr": [1, 0]}, id="empty-shell-pointing-nowhere"),
    pytest.param([S1, shell(1, 2, [], {2: []})], {"shellprimptr": [1, 99], "shellhiptr": [0, -5]},
                 id="empty-d-shell-pointing-nowhere"),
])
def test_shell_without_primitives(tmp_path: Path, shells: List[Shell],
                                  pointers: Optional[Dict[str, List[int]]]) -> None:
    # Its pointers are never followed: the contraction simply cannot be normalised.
    fails_with(tmp_path, shells, "Unable to normalize a contracted basis function",
               **(pointers or {}))


# Exponent pi/2 makes the primitive's self-overlap 1, so the norm is c^2:
# c = 1e-14 stays just above the limit of 1e-30 (1e-16 falls under it, see above).
@pytest.mark.parametrize("c", [1e-14, 0.3, 7.5, 1e6, -1e-12, -0.3, -1e6])
@pytest.mark.parametrize("L, e", [(0, 0.8), (1, 0.8), (3, 0.8), (0, math.pi / 2)])
def test_single_primitive_contraction(tmp_path: Path, L: int, e: float, c: float) -> None:
    m = read(tmp_path, [shell(1, L, [e], {L: [c]})])
    assert m.concoeff == pytest.approx([c * math.sqrt(overlap(L, e, e))], rel=1e-12)


# ---------------------------------------------------------------------------
# Inconsistent index arrays: each file is read in a child process so that a
# crash is reported as such instead of ending the test run.

CHILD = """
import sys, Vexmora_
try:
    Vexmora_.ChkReader_(fchk=sys.argv[1])
except RuntimeError as e:
    print(str(e).split(chr(10))[0])
else:
    print("accepted")
"""

TWO_S = [shell(1, 0, [3.0, 0.5], {0: [0.4, 0.7]}), shell(2, 0, [1.0], {0: [1.0]})]
WITH_D = [shell(1, 0, [3.0], {0: [1.0]}), shell(1, 2, [1.0, 0.4], {2: [0.5, 0.6]}),
          shell(2, 2, [0.7], {2: [1.0]})]


@pytest.mark.parametrize("shells, damage, named", [
    *[(TWO_S, dict(shellprimptr=p), "shellprimptr")
      for p in ([1, 0], [-4, 3], [1, 4], [2 ** 62, 3], [-(2 ** 63), 3])],
    (TWO_S, dict(shellnprim=[-1, 1]), "shellnprim"),
    (TWO_S, dict(shellnprim=[4, 1]), "shellprimptr|shellnprim"),
    (TWO_S, dict(shellnprim=[2 ** 62, 1]), "shellprimptr|shellnprim"),
    (TWO_S, dict(shellnprim=[2, 2], shellprimptr=[1, 1]), "shellnprim"),
    (TWO_S, dict(shellnprim=[1, 1]), "concoeff size != mol.NPrim in ExpBas"),
    (TWO_S, dict(shelltypes=[0, -3]), "shell type"),
    *[(WITH_D, dict(shellhiptr=p), "shellhiptr")
      for p in ([0, 0, 3], [0, 1, 4], [0, -2, 3], [0, 2 ** 62, 3])],
    (WITH_D, dict(shellhiptr=[0, 1, 1]), "accepted"),  # shared coefficients: harmless
])
def test_inconsistent_index_arrays_rejected(tmp_path: Path, shells: List[Shell],
                                            damage: Dict[str, List[int]], named: str) -> None:
    path = write_chk(tmp_path, shells, natoms=2, **damage)
    run = subprocess.run([sys.executable, "-c", CHILD, path], capture_output=True, text=True)
    assert run.returncode == 0, f"reader crashed (status {run.returncode}): {run.stderr[-500:]}"
    line = run.stdout.strip().splitlines()[-1]
    if named == "accepted":
        assert line == "accepted"
    else:
        assert line.startswith("Error: ")
        assert any(word in line for word in named.split("|")), line


# ---------------------------------------------------------------------------
# Real checkpoints

#: .fchk section -> exported array.
FCHK_ARRAYS = {"Shell types": "shelltypes", "Number of primitives per shell": "shellnprim",
               "Shell to atom map": "shell2map", "Primitive exponents": "primexp",
               "Contraction coefficients": "concoeff",
               "P(S=P) Contraction coefficients": "spconcoeff",
               "Coordinates of each shell": "cshell"}


def nfunc(code: int) -> int:
    """Basis functions of a shell type code."""
    return 4 if code == -1 else 2 * abs(code) + 1 if code < 0 else (code + 1) * (code + 2) // 2


@pytest.mark.parametrize("chk", [p for p in real_checkpoints() if not is_broken(p)],
                         ids=lambda p: p.stem)
def test_real_basis(chk: Path) -> None:
    """The codes count the basis functions; where Gaussian wrote a .fchk of the
    job, every exported array is the one it holds."""
    m = Vexmora_.ChkReader_(fchk=str(chk)).params.mol
    assert sum(nfunc(c) for c in m.shelltypes) == m.nbasis
    assert sum(m.shellnprim) == len(m.primexp) == len(m.concoeff)
    assert m.shell2map == sorted(m.shell2map)
    assert len(m.spconcoeff) == (len(m.primexp) if -1 in m.shelltypes else 0)
    fchk = companion(chk, ".fchk")
    ref = read_fchk(fchk) if fchk is not None else None
    for label, name in FCHK_ARRAYS.items() if ref is not None else ():
        got = (m.cshell / BOHR).ravel().tolist() if name == "cshell" else getattr(m, name)
        want = ref.values(label) if label in ref else []
        assert got == pytest.approx(want, rel=1e-7, abs=1e-9), label

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
from refdata import is_broken, read_fchk, real_checkpoints  # noqa: E402
from refdata import testdata as real_data  # noqa: E402

Vexmora_ = pytest.importorskip("Vexmora_")

BOHR = 0.529177249
#: Three atoms, coordinates in Bohr; shell centres are put on them.
XYZ: List[Tuple[float, float, float]] = [(0.0, 0.0, 0.0), (0.0, 0.3, 1.4), (1.1, -0.7, 2.5)]


def dfact(n: int) -> int:
    """n!! for odd n, with (-1)!! = 1."""
    return math.prod(range(n, 0, -2)) if n > 0 else 1


def overlap(L: int, a: float, b: float) -> float:
    """One-centre overlap of the raw primitives x^L exp(-a r^2) and x^L exp(-b r^2)."""
    p = a + b
    return (math.pi / p) ** 1.5 * dfact(2 * L - 1) / (2 * p) ** L


def normalised(coefs: Sequence[float], exps: Sequence[float], L: int) -> List[float]:
    """Coefficients of normalised primitives for stored (raw-primitive) ones."""
    return [c * math.sqrt(overlap(L, e, e)) for c, e in zip(coefs, exps)]


def shell(atom: int, T: int, exps: Sequence[float], coefs: Dict[int, Sequence[float]],
          C: Optional[int] = None) -> Shell:
    """A stored shell centred on its atom of :data:`XYZ`."""
    centre = XYZ[atom - 1] if 1 <= atom <= len(XYZ) else (0.0, 0.0, 0.0)
    return Shell(atom=atom, T=T, exps=list(exps), coefs=dict(coefs), C=C, centre=centre)


def write_chk(tmp_path: Path, shells: Sequence[Shell], *, natoms: int = 3,
              atomtypes: Optional[Sequence[int]] = None, name: str = "basis.chk",
              **basis_kw: object) -> str:
    """A complete job whose molecule has ``natoms`` atoms of :data:`XYZ` and
    whose basis record holds ``shells`` in stored order."""
    b = h2()
    b.replace(997, mol([1] * natoms, XYZ[:natoms], nbasis=2, atomtypes=atomtypes))
    b.replace(670, basis(shells, **basis_kw))  # type: ignore[arg-type]
    return b.write(tmp_path / name)


def read(tmp_path: Path, shells: Sequence[Shell], **kw: object) -> "Vexmora_.Mol":
    return Vexmora_.ChkReader_(fchk=write_chk(tmp_path, shells, **kw)).params.mol  # type: ignore


def first_line(exc: BaseException) -> str:
    return str(exc).split("\n", 1)[0]


def fails_with(tmp_path: Path, shells: Sequence[Shell], message: str, **kw: object) -> None:
    """Construction fails with exactly ``message``."""
    with pytest.raises(RuntimeError) as err:
        read(tmp_path, shells, **kw)
    assert first_line(err.value) == "Error: " + message


# ---------------------------------------------------------------------------
# Regrouping and export


def test_grouped_basis_keeps_order_and_scales_to_normalised_primitives(tmp_path: Path) -> None:
    s1 = ([5.0, 1.2, 0.3], [0.1, 0.4, 0.7])
    p1 = ([0.9, 0.25], [0.6, 0.5])
    s2 = ([0.8], [1.3])
    m = read(tmp_path, [shell(1, 0, s1[0], {0: s1[1]}), shell(1, 1, p1[0], {1: p1[1]}),
                        shell(2, 0, s2[0], {0: s2[1]})], natoms=2)
    assert m.shelltypes == [0, 1, 0]
    assert m.shellnprim == [3, 2, 1]
    assert m.shell2map == [1, 1, 2]
    assert m.primexp == s1[0] + p1[0] + s2[0]
    assert m.spconcoeff == []
    expect = normalised(s1[1], s1[0], 0) + normalised(p1[1], p1[0], 1) + normalised(s2[1], s2[0], 0)
    assert m.concoeff == pytest.approx(expect, rel=1e-12)


def test_shells_regrouped_by_atom_keeping_stored_order_within_an_atom(tmp_path: Path) -> None:
    # (atom, T, exponents, coefficients) in stored order; D shells exercise
    # the high-L pointers, which must move with their shells.
    stored = [
        (3, 0, [5.0], [0.7]),
        (1, 1, [4.0, 0.4], [0.2, 0.9]),
        (2, 0, [3.0, 0.3], [0.3, 0.8]),
        (1, 0, [2.0], [1.1]),
        (3, 2, [1.5, 0.5], [0.4, 0.6]),
        (1, 2, [1.0], [0.9]),
    ]
    m = read(tmp_path, [shell(a, T, e, {T: c}) for a, T, e, c in stored])
    order = [1, 3, 5, 2, 0, 4]  # atom 1 in stored order, then atoms 2 and 3
    new = [stored[i] for i in order]
    assert m.shell2map == [1, 1, 1, 2, 3, 3]
    assert m.shelltypes == [1, 0, -2, 0, 0, -2]
    assert m.shellnprim == [len(s[2]) for s in new]
    assert m.primexp == [e for s in new for e in s[2]]
    assert m.concoeff == pytest.approx([c for s in new for c in normalised(s[3], s[2], s[1])],
                                       rel=1e-12)
    cshell = m.cshell
    assert cshell.shape == (6, 3)
    assert cshell.ravel().tolist() == pytest.approx(
        [x * BOHR for s in new for x in XYZ[s[0] - 1]], rel=1e-15, abs=0)


@pytest.mark.parametrize("cons", [0, 2])
def test_sp_shells(tmp_path: Path, cons: int) -> None:
    es, cs, cp = [3.0, 0.7, 0.2], [-0.1, 0.4, 0.7], [0.15, 0.5, 0.45]
    sp = shell(1, 1, es, {0: cs, 1: cp}, C=cons)
    m = read(tmp_path, [shell(1, 0, [9.0], {0: [1.0]}), sp,
                        shell(2, 1, [0.8, 0.2], {1: [0.5, 0.6]}), shell(2, 1, es, {0: cs, 1: cp}, C=cons)],
             natoms=2)
    assert m.shelltypes == [0, -1, 1, -1]
    s_part, p_part = normalised(cs, es, 0), normalised(cp, es, 1)
    pure_p = normalised([0.5, 0.6], [0.8, 0.2], 1)
    assert m.concoeff == pytest.approx(normalised([1.0], [9.0], 0) + s_part + pure_p + s_part,
                                       rel=1e-12)
    assert m.spconcoeff == pytest.approx([0.0] + p_part + [0.0, 0.0] + p_part, rel=1e-12)
    assert m.spconcoeff[0] == 0.0 and m.spconcoeff[4:6] == [0.0, 0.0]


@pytest.mark.parametrize("bhdr5", [0, 1])
@pytest.mark.parametrize("bhdr4", [0, 1])
def test_high_angular_momentum_codes(tmp_path: Path, bhdr4: int, bhdr5: int) -> None:
    exps = [2.0, 0.6]
    shells = [shell(1, T, exps, {T: [0.3 + 0.1 * T, 0.8]}) for T in range(6)]
    m = read(tmp_path, shells, bhdr4=bhdr4, bhdr5=bhdr5)
    d = 2 if bhdr4 else -2
    sign = 1 if bhdr5 else -1
    assert m.shelltypes == [0, 1, d, 3 * sign, 4 * sign, 5 * sign]
    expect = [c for T in range(6) for c in normalised([0.3 + 0.1 * T, 0.8], exps, T)]
    assert m.concoeff == pytest.approx(expect, rel=1e-12)


@pytest.mark.parametrize("L", [0, 1, 2, 3, 4, 5])
def test_concoeff_describes_the_stored_contraction(tmp_path: Path, L: int) -> None:
    exps = [4.0, 1.2, 0.35]
    raw = [0.3, -0.5, 0.4]
    m = read(tmp_path, [shell(1, L, exps, {L: raw})])
    got = m.concoeff
    # The coefficient of each normalised primitive is the raw one times the
    # primitive's norm.
    assert [g / c for g, c in zip(got, raw)] == pytest.approx(
        [math.sqrt(overlap(L, e, e)) for e in exps], rel=1e-12)
    # So both describe the same contracted function: the same self-overlap.
    norm_raw = sum(raw[j] * raw[k] * overlap(L, exps[j], exps[k])
                   for j in range(3) for k in range(3))
    norm_exported = sum(got[j] * got[k] * overlap(L, exps[j], exps[k])
                        / math.sqrt(overlap(L, exps[j], exps[j]) * overlap(L, exps[k], exps[k]))
                        for j in range(3) for k in range(3))
    assert norm_exported == pytest.approx(norm_raw, rel=1e-12)


def test_basis_without_record_is_empty(tmp_path: Path) -> None:
    b = h2().remove(670)
    m = Vexmora_.ChkReader_(fchk=b.write(tmp_path / "nobasis.chk")).params.mol
    assert (m.shelltypes, m.shellnprim, m.shell2map, m.primexp, m.concoeff, m.spconcoeff) == \
        ([], [], [], [], [], [])
    assert m.cshell.shape == (0, 3)


def test_fchk_carries_the_exported_arrays(tmp_path: Path) -> None:
    es = [3.0, 0.7, 0.2]
    shells = [shell(1, 1, es, {0: [0.2, 0.5, 0.4], 1: [0.1, 0.6, 0.5]}),
              shell(1, 2, [0.9], {2: [1.0]}), shell(2, 0, [1.5, 0.4], {0: [0.5, 0.6]})]
    path = write_chk(tmp_path, shells, natoms=2, bhdr4=1)
    r = Vexmora_.ChkReader_(fchk=path)
    out = tmp_path / "out.fchk"
    r.write_fchk(fname=str(out))
    f = read_fchk(out)
    m = r.params.mol
    assert f.values("Shell types") == m.shelltypes == [-1, 2, 0]
    assert f.values("Number of primitives per shell") == m.shellnprim
    assert f.values("Shell to atom map") == m.shell2map
    assert f.values("Primitive exponents") == pytest.approx(m.primexp, rel=1e-8)
    assert f.values("Contraction coefficients") == pytest.approx(m.concoeff, rel=1e-8)
    assert f.values("P(S=P) Contraction coefficients") == pytest.approx(m.spconcoeff, rel=1e-8)


# ---------------------------------------------------------------------------
# Bases the reader refuses


@pytest.mark.parametrize("T", [2, 3])
def test_combined_shells_are_rejected(tmp_path: Path, T: int) -> None:
    coefs = {L: [0.5, 0.5] for L in range(T + 1)}
    fails_with(tmp_path, [shell(1, 0, [1.0], {0: [1.0]}), shell(1, T, [2.0, 0.5], coefs, C=0)],
               "NShell != mol.NShell in fix_basis")


@pytest.mark.parametrize("atomtype,kept", [
    (0, True), (1000, True), (10000000, True), (2 ** 62, True),
    (1, False), (5, False), (999, False), (1001, False), (9999999, False), (-1, False),
    (-1000, False),
])
def test_atom_type_filter(tmp_path: Path, atomtype: int, kept: bool) -> None:
    shells = [shell(1, 0, [1.0], {0: [1.0]}), shell(2, 0, [2.0], {0: [1.0]})]
    kw = dict(natoms=3, atomtypes=[0, atomtype, atomtype])
    if kept:
        assert read(tmp_path, shells, **kw).shell2map == [1, 2]
    else:
        fails_with(tmp_path, shells, "NShell != mol.NShell in fix_basis", **kw)


def test_atom_without_shells_may_have_any_type(tmp_path: Path) -> None:
    m = read(tmp_path, [shell(1, 0, [1.0], {0: [1.0]})], natoms=2, atomtypes=[0, 5])
    assert m.shell2map == [1]


@pytest.mark.parametrize("atom", [0, -1, -(2 ** 40)])
def test_shell_on_no_atom(tmp_path: Path, atom: int) -> None:
    fails_with(tmp_path, [shell(1, 0, [1.0], {0: [1.0]}), shell(atom, 0, [2.0], {0: [1.0]})],
               "FixB is confused about JAn", natoms=2)


def test_shell_past_the_last_atom(tmp_path: Path, capfd: pytest.CaptureFixture) -> None:
    # The position check meets the bad atom number first...
    fails_with(tmp_path, [shell(1, 0, [1.0], {0: [1.0]}), shell(3, 0, [2.0], {0: [1.0]})],
               "atom id out of range", natoms=2)
    # ...unless an earlier shell's centre disagrees: that check stops there and
    # the basis step sees the bad number.
    off = Shell(atom=1, T=0, exps=[1.0], coefs={0: [1.0]}, centre=(5.0, 5.0, 5.0))
    fails_with(tmp_path, [off, shell(3, 0, [2.0], {0: [1.0]})], "FixB is confused about JAn",
               natoms=2, name="second.chk")
    assert "Coordinates do not match /B/" in capfd.readouterr().out


@pytest.mark.parametrize("nprim,ok", [(99, True), (100, False)])
def test_primitive_count_limit(tmp_path: Path, nprim: int, ok: bool) -> None:
    exps = [0.01 * 1.1 ** k for k in range(nprim)]
    shells = [shell(1, 1, exps, {1: [1.0 / nprim] * nprim}), shell(2, 0, [1.0], {0: [1.0]})]
    if ok:
        m = read(tmp_path, shells, natoms=2)
        assert m.shellnprim == [nprim, 1]
        assert m.concoeff[:nprim] == pytest.approx(normalised([1.0 / nprim] * nprim, exps, 1),
                                                   rel=1e-12)
    else:
        fails_with(tmp_path, shells, "MaxCon too small in Renor1", natoms=2)


@pytest.mark.parametrize("small,ok", [(1e-6, True), (9.9e-7, False), (0.0, False), (-1.0, False)])
@pytest.mark.parametrize("T", [0, 1, 2])
def test_exponent_limit(tmp_path: Path, T: int, small: float, ok: bool) -> None:
    exps = [2.0, small, 0.3]
    shells = [shell(1, 0, [1.0], {0: [1.0]}), shell(1, T, exps, {T: [0.3, 0.2, 0.6]})]
    if ok:
        assert read(tmp_path, shells).primexp == [1.0] + exps
    else:
        fails_with(tmp_path, shells, "Missing exponents in basis set")


def test_small_exponent_in_the_p_part_of_an_sp_shell(tmp_path: Path) -> None:
    fails_with(tmp_path, [shell(1, 1, [1.0, 5e-7], {0: [0.5, 0.5], 1: [0.5, 0.5]})],
               "Missing exponents in basis set")


@pytest.mark.parametrize("c", [1e-12, 0.3, 7.5, 1e6, -1e-12, -0.3, -1e6])
@pytest.mark.parametrize("L", [0, 1, 3])
def test_single_primitive_contraction(tmp_path: Path, L: int, c: float) -> None:
    e = 0.8
    m = read(tmp_path, [shell(1, L, [e], {L: [c]})])
    assert m.concoeff == pytest.approx([c * math.sqrt(overlap(L, e, e))], rel=1e-12)


@pytest.mark.parametrize("shells", [
    pytest.param([shell(1, 0, [0.8], {0: [0.0]})], id="zero-s"),
    pytest.param([shell(1, 2, [0.8, 0.3], {2: [0.0, 0.0]})], id="zero-d"),
    pytest.param([shell(1, 1, [0.8, 0.3], {0: [0.5, 0.5], 1: [0.0, 0.0]})], id="zero-p-of-sp"),
    # exponent pi/2 makes the primitive's self-overlap 1, so the norm is c^2
    pytest.param([shell(1, 0, [math.pi / 2], {0: [1e-16]})], id="norm-below-1e-30"),
])
def test_contraction_without_norm(tmp_path: Path, shells: List[Shell]) -> None:
    fails_with(tmp_path, shells, "Unable to normalize a contracted basis function")


def test_norm_just_above_the_limit(tmp_path: Path) -> None:
    m = read(tmp_path, [shell(1, 0, [math.pi / 2], {0: [1e-14]})])
    assert m.concoeff == pytest.approx([1e-14], rel=1e-12)


@pytest.mark.parametrize("T,ok", [(13, True), (14, False)])
def test_highest_angular_momentum(tmp_path: Path, T: int, ok: bool) -> None:
    shells = [shell(1, T, [1.0, 0.4], {T: [0.5, 0.5]})]
    if ok:
        assert read(tmp_path, shells).shelltypes == [-13]
    else:
        fails_with(tmp_path, shells, " out of range in PrmNrm")


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


@pytest.mark.parametrize("shells,damage,named", [
    (TWO_S, dict(shellprimptr=[1, 0]), "shellprimptr"),
    (TWO_S, dict(shellprimptr=[-4, 3]), "shellprimptr"),
    (TWO_S, dict(shellprimptr=[1, 4]), "shellprimptr"),
    (TWO_S, dict(shellprimptr=[2 ** 62, 3]), "shellprimptr"),
    (TWO_S, dict(shellprimptr=[-(2 ** 63), 3]), "shellprimptr"),
    (TWO_S, dict(shellnprim=[-1, 1]), "shellnprim"),
    (TWO_S, dict(shellnprim=[4, 1]), "shellprimptr|shellnprim"),
    (TWO_S, dict(shellnprim=[2 ** 62, 1]), "shellprimptr|shellnprim"),
    (TWO_S, dict(shellnprim=[2, 2], shellprimptr=[1, 1]), "shellnprim"),
    (TWO_S, dict(shellnprim=[1, 1]), "concoeff size != mol.NPrim in ExpBas"),
    (TWO_S, dict(shelltypes=[0, -3]), "shell type"),
    (WITH_D, dict(shellhiptr=[0, 0, 3]), "shellhiptr"),
    (WITH_D, dict(shellhiptr=[0, 1, 4]), "shellhiptr"),
    (WITH_D, dict(shellhiptr=[0, -2, 3]), "shellhiptr"),
    (WITH_D, dict(shellhiptr=[0, 2 ** 62, 3]), "shellhiptr"),
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


def nfunc(code: int) -> int:
    L = abs(code)
    if code == -1:
        return 4
    return 2 * L + 1 if code < 0 else (L + 1) * (L + 2) // 2


@pytest.mark.parametrize("chk", [p for p in real_checkpoints() if not is_broken(p)],
                         ids=lambda p: p.stem)
def test_real_codes_count_the_basis_functions(chk: Path) -> None:
    m = Vexmora_.ChkReader_(fchk=str(chk)).params.mol
    assert sum(nfunc(c) for c in m.shelltypes) == m.nbasis
    assert sum(m.shellnprim) == len(m.primexp) == len(m.concoeff)
    assert m.shell2map == sorted(m.shell2map)
    assert len(m.spconcoeff) == (len(m.primexp) if -1 in m.shelltypes else 0)


@pytest.mark.parametrize("stem", ["g16-ho2-ub2plyp-ccpvtz-freq", "g16-ts26-hf-sto3g-freq"])
def test_real_basis_matches_gaussian_fchk(stem: str) -> None:
    d = real_data()
    ref = read_fchk(d / f"{stem}.fchk")
    m = Vexmora_.ChkReader_(fchk=str(d / f"{stem}.chk")).params.mol
    assert m.shelltypes == ref.values("Shell types")
    assert m.shellnprim == ref.values("Number of primitives per shell")
    assert m.shell2map == ref.values("Shell to atom map")
    assert m.primexp == pytest.approx(ref.values("Primitive exponents"), rel=1e-8)
    assert m.concoeff == pytest.approx(ref.values("Contraction coefficients"), rel=1e-7, abs=1e-12)
    sp = ref.values("P(S=P) Contraction coefficients") if "P(S=P) Contraction coefficients" in ref \
        else []
    assert m.spconcoeff == pytest.approx(sp, rel=1e-7, abs=1e-12)
    shells = [x * BOHR for x in ref.values("Coordinates of each shell")]
    assert m.cshell.ravel().tolist() == pytest.approx(shells, rel=1e-7, abs=1e-9)

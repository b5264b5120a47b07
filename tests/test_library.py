"""The vexmora library: Checkpoint arrays, pickling, IOData."""
from __future__ import annotations

import pickle
from pathlib import Path
from typing import Any

import numpy as np
import pytest
from hypothesis import given, settings, strategies as st

import Vexmora_
import vexmora
from chkbuilder import H2_XYZ, densities, h2, mol, switches
from refdata import good_checkpoints

GOOD = good_checkpoints()


def unpack(tri: list) -> np.ndarray:
    n = int(np.sqrt(2 * len(tri)))  # n (n + 1) / 2 values
    m = np.zeros((n, n))
    m[np.tril_indices(n)] = tri
    return m + np.tril(m, -1).T


# Checkpoint attribute -> the matching property of the specified binding's molecule or reader.
SAME = {"atomic_numbers": "m.atomicnums", "nuclear_charges": "m.nucchg", "coordinates": "m.coords",
        "mo_energies_alpha": "m.aoene", "mo_coefficients_alpha": "m.amocoeff",
        "mo_energies_beta": "m.boene", "mo_coefficients_beta": "m.bmocoeff",
        "orthonormal_basis": "m.orthbasis", "sp_contraction_coefficients": "m.spconcoeff",
        "shell_types": "m.shelltypes", "shell_n_primitives": "m.shellnprim",
        "exponents": "m.primexp", "contraction_coefficients": "m.concoeff", "shell_centres": "m.cshell",
        "hessian": "m.hessian", "ilsw": "r.ilsw", "rlsw": "r.rlsw", "general": "p.genarr",
        "symbols": "m.names", "basis_labels": "m.orblabels", "title": "p.title", "route": "p.route",
        "method": "p.method", "basis_set": "p.baset", "job_type": "p.jobtype",
        "program_version": "p.gauver", "scf_energy": "p.scfene", "total_energy": "p.totene"}


@pytest.mark.parametrize("chk", GOOD, ids=lambda p: p.stem)
def test_every_array_equals_the_specified_binding(chk: Path) -> None:
    c, r = vexmora.load(chk), Vexmora_.ChkReader_(str(chk))
    env = {"r": r, "p": r.params, "m": r.params.mol}
    for name, expr in SAME.items():
        ours, theirs = getattr(c, name), eval(expr, {}, env)
        if isinstance(theirs, (str, float)) or isinstance(theirs, list) and theirs and isinstance(theirs[0], str):
            assert ours == theirs, name
        else:
            assert np.array_equal(np.ravel(ours if ours is not None else []), np.ravel(theirs)), name
    assert c.mo_coefficients_alpha.shape == (len(env["m"].aoene), c.n_basis)
    assert np.array_equal(c.shell_atoms + 1, env["m"].shell2map)
    for kind, tot, spin in zip(vexmora.DENSITY_KINDS, env["m"].totdens, env["m"].spindens):
        for mapping, tri in ((c.densities, tot), (c.spin_densities, spin)):
            assert (kind in mapping) == bool(tri) and (not tri or np.array_equal(mapping[kind], unpack(tri)))
    occ = c.mo_occupations_alpha + (0 if c.mo_occupations_beta is None else c.mo_occupations_beta)
    assert occ.sum() == c.n_electrons


def test_views_outlive_the_checkpoint_and_pickles_carry_everything(tmp_path: Path, h2_chk: Path) -> None:
    c = vexmora.load(h2_chk)
    mo, hess = c.mo_coefficients_alpha, c.hessian
    assert not mo.flags.writeable and not hess.flags.writeable and not mo.flags.owndata
    back = pickle.loads(pickle.dumps(c))
    assert repr(back) == repr(c) == "<Checkpoint H2 RHF/STO-3G E=-1.11670000 Eh (h2.chk)>"
    c.write_fchk(tmp_path / "a.fchk")
    back.write_fchk(tmp_path / "b.fchk")
    assert (tmp_path / "a.fchk").read_bytes() == (tmp_path / "b.fchk").read_bytes()
    assert np.array_equal(back.densities["SCF"], [[0.6, 0.3], [0.3, 0.6]])
    expected = mo.copy()
    del c, back
    assert np.array_equal(mo, expected) and hess[5, 5] == pytest.approx(0.21)


@settings(max_examples=150, deadline=None, derandomize=True)
@given(data=st.data())
def test_damaged_state_is_refused_or_harmless(tmp_path_factory: Any, h2_chk: Path,
                                               data: st.DataObject) -> None:
    """A state with counts raised, bytes overwritten, cut short: refused, or its writers work."""
    state = bytearray(vexmora.load(h2_chk).__reduce__()[1][0])
    counts = [i for i in range(len(state) - 7) if 0 < int.from_bytes(state[i:i + 8], "little") <= 10**6]
    for i in data.draw(st.lists(st.sampled_from(counts), max_size=2)):
        raised = data.draw(st.sampled_from([int.from_bytes(state[i:i + 8], "little") + 1, 2**31]))
        state[i:i + 8] = raised.to_bytes(8, "little")
    for pos, byte in data.draw(st.lists(st.tuples(st.integers(0, len(state) - 1),
                                                  st.integers(0, 255)), max_size=3)):
        state[pos] = byte
    out = tmp_path_factory.mktemp("s")
    for damaged in (bytes(state[:data.draw(st.integers(0, len(state) - 1))]), bytes(state)):
        try:
            c = vexmora.checkpoint._from_state(damaged, "x")
        except RuntimeError as exc:
            assert "Damaged checkpoint state" in str(exc)
            continue
        c.write_fchk(out / "t.fchk")
        c.write_gjf(out / "t.gjf")


@pytest.mark.parametrize("chk", GOOD, ids=lambda p: p.stem)
def test_to_iodata_counts_the_electrons(chk: Path) -> None:
    integrals = pytest.importorskip("iodata.overlap")
    c = vexmora.load(chk)
    data = c.to_iodata()  # tr(D S) = N with IOData's overlap S of the basis as exported
    s = integrals.compute_overlap(data.obasis, data.atcoords)
    assert np.trace(data.one_rdms["scf"] @ s) == pytest.approx(c.n_electrons, abs=1e-6)



def test_every_density_kind_by_its_name(tmp_path: Path) -> None:
    """All nine kinds selected (the word -1): each under Gaussian's name, "2nd Order" last."""
    blocks = [[10.0 * k + 1, 10.0 * k + 2, 10.0 * k + 3] for k in range(9)]
    c = vexmora.load(h2().add(603, densities(0, *blocks, word=-1)).write(tmp_path / "d.chk"))
    assert list(c.densities) == ["SCF", "Psi(1)", "MP2", "MP3", "MP4", "CI Rho(1)", "CI", "CC",
                                 "2nd Order"] and not c.spin_densities
    for kind, tri in zip(c.densities, blocks):
        assert np.array_equal(c.densities[kind], unpack(tri)), kind


@pytest.mark.parametrize("nbasis", [3, 2])  # 2: the 6 values would make a triangle of order 3
def test_complex_density_gives_no_real_matrix(tmp_path: Path, nbasis: int) -> None:
    """IOpCl 2 stores real and imaginary parts, n (n + 1) values for n functions."""
    b = h2().replace(998, switches({0: 2})).replace(997, mol([1, 1], H2_XYZ, nbasis=nbasis))
    c = vexmora.load(b.add(603, densities(1, [0.5] * nbasis * (nbasis + 1))).write(tmp_path / "c.chk"))
    assert c.densities.get("SCF") is None


def test_private_binding_refuses_what_lies_outside_its_tables(h2_chk: Path, tmp_path: Path) -> None:
    """A density kind past the nine, an unknown format, atoms without coordinates,
    an orbital past the last, planes past a box and an angular momentum past the
    basis step's limit raise; each Cartesian shell's order holds every monomial of
    its L once."""
    reader = vexmora._core.Reader(bytes(h2_chk))
    for kind in (-1, 9):
        with pytest.raises(IndexError):
            reader.density(kind, False)
    with pytest.raises(vexmora.CheckpointError, match="unknown output format pdf"):
        reader.write("pdf", bytes(tmp_path / "out.pdf"))
    with pytest.raises(vexmora.CheckpointError, match="differ in the number of atoms"):
        vexmora._core.point_group([1, 1], [0.0, 0.0, 0.0], [], 0.01)
    for index in (-1, 2):  # of 2 orbitals
        with pytest.raises(vexmora.CheckpointError, match=f"orbital index {index} out of range"):
            reader.orbital_values([0, index], False)
    values, unit = reader.density_values(0, False), (1.0, 0, 0, 0, 1.0, 0, 0, 0, 1.0)
    for first, count in ((-1, 1), (1, 2), (2, 1)):  # of 2 planes
        with pytest.raises(ValueError, match="planes outside the box"):
            values.box((0.0, 0.0, 0.0), unit, (2, 2, 2), first, count, np.zeros(4 * count))
    for L in (-1, 14):
        with pytest.raises(ValueError):
            vexmora._core.cartesian_powers(L)
    for L in range(14):
        powers = [tuple(p) for p in vexmora._core.cartesian_powers(L)]
        assert sorted(powers) == sorted((i, j, L - i - j) for i in range(L + 1) for j in range(L - i + 1))

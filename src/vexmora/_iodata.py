"""Conversion of a :class:`~vexmora.Checkpoint` into IOData's conventions (atomic units)."""
from __future__ import annotations

from typing import TYPE_CHECKING, Any, Dict, List

import numpy as np

from . import _core

if TYPE_CHECKING:  # pragma: no cover
    from .checkpoint import Checkpoint

def _pure(L: int) -> List[str]:
    return ["c0"] + [f"{cs}{m}" for m in range(1, L + 1) for cs in "cs"]


def _conventions() -> Dict[Any, List[str]]:
    """Gaussian's order of the functions in a shell, in IOData's names: the
    Cartesian order as the core states it, pure shells m = 0, +1, -1, +2, -2, ..."""
    out: Dict[Any, List[str]] = {(0, "c"): ["1"]}
    for L in range(1, 10):
        out[(L, "c")] = ["x" * i + "y" * j + "z" * k for i, j, k in _core.cartesian_powers(L)]
        if L > 1:
            out[(L, "p")] = _pure(L)
    return out


#: Post-SCF densities in the order IOData's "post_scf" density is chosen from.
_POST_SCF = ("CC", "CI", "MP4", "MP3", "MP2", "CI Rho(1)", "Psi(1)", "2nd Order")


def _shells(ckpt: "Checkpoint") -> List[Any]:
    from iodata.basis import Shell

    shells = []
    first = 0
    exps = ckpt.exponents
    coefs = ckpt.contraction_coefficients
    sp = ckpt.sp_contraction_coefficients
    for t, n, atom in zip(ckpt.shell_types, ckpt.shell_n_primitives, ckpt.shell_atoms):
        t, n = int(t), int(n)
        e = np.array(exps[first:first + n])
        c = np.array(coefs[first:first + n])
        if t == -1:
            assert sp is not None  # an SP shell has P coefficients
            shells.append(Shell(int(atom), [0, 1], ["c", "c"], e,
                                np.stack([c, np.array(sp[first:first + n])], axis=1)))
        else:
            kind = "p" if t < -1 else "c"
            shells.append(Shell(int(atom), [abs(t)], [kind], e, c[:, None]))
        first += n
    return shells


def _orbitals(ckpt: "Checkpoint") -> Any:
    from iodata.orbitals import MolecularOrbitals

    ca = ckpt.mo_coefficients_alpha
    if ca is None:
        return None
    na = ca.shape[0]
    if ckpt.mo_coefficients_beta is None:
        return MolecularOrbitals("restricted", na, na, ckpt.mo_occupations_alpha,
                                 np.array(ca.T), np.array(ckpt.mo_energies_alpha))
    cb = ckpt.mo_coefficients_beta
    return MolecularOrbitals(
        "unrestricted", na, cb.shape[0],
        np.concatenate([ckpt.mo_occupations_alpha, ckpt.mo_occupations_beta]),
        np.concatenate([ca.T, cb.T], axis=1),
        np.concatenate([ckpt.mo_energies_alpha, ckpt.mo_energies_beta]))


def _densities(ckpt: "Checkpoint") -> Dict[str, np.ndarray]:
    out: Dict[str, np.ndarray] = {}
    total, spin = ckpt.densities, ckpt.spin_densities
    if "SCF" in total:
        out["scf"] = total["SCF"]
    if "SCF" in spin:
        out["scf_spin"] = spin["SCF"]
    post = next((k for k in _POST_SCF if k in total), None)
    if post is not None:
        out["post_scf_ao"] = total[post]
        if post in spin:
            out["post_scf_spin_ao"] = spin[post]
    return out


def to_iodata(ckpt: "Checkpoint") -> Any:
    """An ``iodata.IOData`` in atomic units with Gaussian's function order declared."""
    from iodata import IOData
    from iodata.basis import MolecularBasis

    fields: Dict[str, Any] = dict(
        atnums=np.array(ckpt.atomic_numbers),
        atcorenums=np.array(ckpt.nuclear_charges),
        atcoords=ckpt.coordinates / _core.BOHR_TO_ANGSTROM,
        title=ckpt.title,
        energy=ckpt.total_energy,
        lot=ckpt.method,
        obasis_name=ckpt.basis_set,
        obasis=MolecularBasis(_shells(ckpt), _conventions(), "L2"),
        one_rdms=_densities(ckpt),
    )
    mo = _orbitals(ckpt)
    if mo is not None:
        fields["mo"] = mo
    else:  # with orbitals, IOData derives charge and spin from the occupations
        fields["charge"] = float(ckpt.charge)
        fields["spinpol"] = float(ckpt.multiplicity - 1)
    if ckpt.cell is not None:
        fields["cellvecs"] = ckpt.cell / _core.BOHR_TO_ANGSTROM
    fields.update(_properties(ckpt))
    return IOData(**fields)


def _properties(ckpt: "Checkpoint") -> Dict[str, Any]:
    """The Hessian, gradient, masses, charges and moments that the checkpoint holds."""
    from iodata.utils import amu

    out: Dict[str, Any] = {}
    if ckpt.hessian is not None:
        out["athessian"] = np.array(ckpt.hessian)
    if ckpt.gradient is not None:
        out["atgradient"] = ckpt.gradient
    if ckpt.atomic_masses is not None:
        out["atmasses"] = ckpt.atomic_masses * amu  # IOData's masses are in electron masses
    if ckpt.mulliken_charges is not None:
        out["atcharges"] = {"mulliken": ckpt.mulliken_charges}
    moments: Dict[Any, np.ndarray] = {}
    if ckpt.dipole is not None:
        moments[(1, "c")] = ckpt.dipole
    q = ckpt.quadrupole
    if q is not None:  # IOData orders the Cartesian components xx, xy, xz, yy, yz, zz
        moments[(2, "c")] = q[np.triu_indices(3)]
    if moments:
        out["moments"] = moments
    out.update(_records(ckpt))
    return out


#: IOData's bond types of Gaussian's bond orders (iodata.periodic: 4 aromatic, 8 unknown).
_BOND_TYPES = {1.0: 1, 2.0: 2, 3.0: 3, 1.5: 4}


def _records(ckpt: "Checkpoint") -> Dict[str, Any]:
    """The bond table, and in ``extra`` the polarizability (under IOData's own
    name for it) and the optimisation path (Bohr, Hartree)."""
    out: Dict[str, Any] = {}
    extra: Dict[str, Any] = {}
    if ckpt.polarizability is not None:
        extra["polarizability_tensor"] = ckpt.polarizability
    bonds = ckpt.bonds
    if bonds is not None and len(bonds.orders):
        types = [_BOND_TYPES.get(float(o), 8) for o in bonds.orders]
        out["bonds"] = np.column_stack([bonds.pairs, types])
    for name in ("optimization", "trajectory"):
        path = getattr(ckpt, name)
        if path is not None:
            extra[name] = {"energies": path.energies, "results": path.results,
                           "geometries": path.geometries / _core.BOHR_TO_ANGSTROM,
                           "gradients": path.gradients}
    if extra:
        out["extra"] = extra
    return out

"""The checkpoint as a QCSchema AtomicResult (``qcschema_output``, version 1): the
molecule, the model, the energies, and the wavefunction with its basis, in the AO
order and normalisation of the CCA standard (see ``_aomap``)."""
from __future__ import annotations

import json
from typing import TYPE_CHECKING, Any, Dict, List, Optional, Sequence, Tuple

import numpy as np

from . import _aomap, _core
from ._pyscf import atom_kinds
from .errors import CheckpointError

if TYPE_CHECKING:  # pragma: no cover
    from .checkpoint import Checkpoint, PathLike


def _basis(ckpt: "Checkpoint", shell_list: Sequence[_aomap.Shell],
           atoms: Sequence[Tuple[str, bool]]) -> Dict[str, Any]:
    """The qcschema_basis: atoms with the same element and shells share a centre."""
    per_atom: List[List[Dict[str, Any]]] = [[] for _ in atoms]
    for s in shell_list:
        per_atom[s.atom].append({
            "harmonic_type": "spherical" if s.pure else "cartesian",
            "angular_momentum": [s.L],
            "exponents": s.exponents.tolist(),
            "coefficients": [s.coefficients.tolist()],
        })
    center_data: Dict[str, Any] = {}
    atom_map: List[str] = []
    seen: Dict[str, str] = {}
    for i, ((sym, _), shells) in enumerate(zip(atoms, per_atom)):
        if not shells:
            raise CheckpointError(f"{ckpt.path or 'checkpoint'}: atom {i + 1} ({sym}) has no basis "
                                  "functions, which QCSchema's basis cannot hold")
        key = json.dumps([sym, shells])
        label = seen.get(key)
        if label is None:
            label = seen[key] = f"{sym.lower()}_{sum(k.startswith(sym.lower() + '_') for k in center_data) + 1}"
            center_data[label] = {"electron_shells": shells}
        atom_map.append(label)
    return {"schema_name": "qcschema_basis", "schema_version": 1, "name": ckpt.basis_set,
            "center_data": center_data, "atom_map": atom_map, "nbf": ckpt.n_basis}


def _spin_densities(ckpt: "Checkpoint", amap: _aomap.AOMap,
                    restricted: bool) -> Tuple[Optional[np.ndarray], Optional[np.ndarray]]:
    """The SCF density of each spin, (alpha, beta), None where not stored."""
    total = ckpt.densities.get("SCF")
    if total is None:
        return None, None
    if restricted:
        return amap.density(total / 2), None
    spin = ckpt.spin_densities.get("SCF")
    if spin is None:
        return None, None
    return amap.density((total + spin) / 2), amap.density((total - spin) / 2)


def _wavefunction(ckpt: "Checkpoint", amap: _aomap.AOMap, basis: Dict[str, Any]) -> Dict[str, Any]:
    name = ckpt.path or "checkpoint"
    ca = ckpt.mo_coefficients_alpha
    if ca is None or ckpt.mo_energies_alpha is None:
        raise CheckpointError(f"{name}: no orbitals in this checkpoint, so no QCSchema wavefunction")
    cb = ckpt.mo_coefficients_beta
    if ca.shape[1:] != (ckpt.n_basis,) or (cb is not None and cb.shape != ca.shape):
        raise CheckpointError(f"{name}: complex or generalised orbitals, which QCSchema's real "
                              "orbitals cannot hold")
    nmo = ca.shape[0]
    k = np.arange(nmo)
    occ_a = (k < ckpt.n_alpha).astype(float)
    occ_b = (k < ckpt.n_beta).astype(float)
    restricted = cb is None and ckpt.n_alpha == ckpt.n_beta
    wf: Dict[str, Any] = {"basis": basis, "restricted": restricted,
                          "scf_orbitals_a": amap.orbitals(ca).tolist(),
                          "scf_eigenvalues_a": np.asarray(ckpt.mo_energies_alpha).tolist(),
                          "scf_occupations_a": occ_a.tolist()}
    if not restricted:  # restricted open-shell: the same orbitals for both spins
        eb = ckpt.mo_energies_beta if cb is not None else ckpt.mo_energies_alpha
        wf["scf_orbitals_b"] = amap.orbitals(ca if cb is None else cb).tolist()
        wf["scf_eigenvalues_b"] = np.asarray(eb).tolist()
        wf["scf_occupations_b"] = occ_b.tolist()
    da, db = _spin_densities(ckpt, amap, restricted)
    if da is not None:
        wf["scf_density_a"] = da.tolist()
    if db is not None:
        wf["scf_density_b"] = db.tolist()
    spins = "a" if restricted else "ab"
    for what in ("orbitals", "eigenvalues", "occupations", "density"):
        for s in spins:
            if f"scf_{what}_{s}" in wf:
                wf[f"{what}_{s}"] = f"scf_{what}_{s}"
    return wf


def to_qcschema(ckpt: "Checkpoint") -> Dict[str, Any]:
    """See :meth:`Checkpoint.to_qcschema`."""
    from . import __version__

    atoms = atom_kinds(ckpt, "QCSchema")
    shell_list = _aomap.shells(ckpt)
    amap = _aomap.ao_map(shell_list, ckpt.n_basis, _aomap.cca_norm, cartesian=False,
                         name=ckpt.path or "checkpoint")
    bohr = np.asarray(ckpt.coordinates) / _core.BOHR_TO_ANGSTROM
    provenance = {"creator": "Vexmora", "version": __version__, "routine": "vexmora.Checkpoint.to_qcschema"}
    molecule = {
        "schema_name": "qcschema_molecule", "schema_version": 2,
        "symbols": [sym for sym, _ in atoms], "geometry": bohr.ravel().tolist(),
        "atomic_numbers": ckpt.atomic_numbers.tolist(),
        "real": [not ghost for _, ghost in atoms],
        "molecular_charge": float(ckpt.charge), "molecular_multiplicity": int(ckpt.multiplicity),
        "name": ckpt.title.strip()[:80] or "molecule", "fix_com": True, "fix_orientation": True,
        "provenance": provenance,
    }
    properties: Dict[str, Any] = {
        "calcinfo_nbasis": ckpt.n_basis, "calcinfo_nmo": ckpt.n_independent,
        "calcinfo_nalpha": ckpt.n_alpha, "calcinfo_nbeta": ckpt.n_beta,
        "calcinfo_natom": len(atoms), "scf_total_energy": ckpt.scf_energy,
        "return_energy": ckpt.total_energy,
    }
    if ckpt.dipole is not None:
        properties["scf_dipole_moment"] = np.asarray(ckpt.dipole).tolist()
    basis = _basis(ckpt, shell_list, atoms)
    out = {
        "schema_name": "qcschema_output", "schema_version": 1,
        "molecule": molecule, "driver": "energy",
        "model": {"method": ckpt.method, "basis": ckpt.basis_set},
        "keywords": {}, "protocols": {"wavefunction": "all", "stdout": False},
        "properties": properties, "return_result": ckpt.total_energy, "success": True,
        "wavefunction": _wavefunction(ckpt, amap, basis),
        "provenance": provenance,
        "extras": {"gaussian": {"title": ckpt.title, "route": ckpt.route, "job_type": ckpt.job_type,
                                "program_version": ckpt.program_version}},
    }
    _validate(out)
    return out


def _validate(data: Dict[str, Any]) -> None:
    """qcelemental's AtomicResult of ``data``, where qcelemental is installed."""
    try:
        from qcelemental.models import AtomicResult
    except ImportError:
        return
    AtomicResult(**data)


def write_qcschema(ckpt: "Checkpoint", path: "PathLike") -> None:
    """See :meth:`Checkpoint.write_qcschema`."""
    from ._pyformats import whole_file

    data = to_qcschema(ckpt)
    with whole_file(path, [ckpt.path]) as tmp:
        with open(tmp, "w", encoding="utf-8") as f:
            json.dump(data, f)
            f.write("\n")

"""The checkpoint's wavefunction as PySCF's objects: :meth:`Checkpoint.to_pyscf` and
:meth:`Checkpoint.write_pyscf_chk` (PySCF's own HDF5 checkpoint).

The molecule is built in Bohr, as stored, with the charge, the spin Nα - Nβ and
symmetry off; the basis from the checkpoint's shells (SP split into S and P), the
orbitals in PySCF's order and normalisation (see ``_aomap``). PySCF orders each
atom's shells by angular momentum; the map follows the order it built.
"""
from __future__ import annotations

import re
import warnings
from typing import TYPE_CHECKING, Any, Dict, List, Optional, Sequence, Tuple

import numpy as np

from . import _aomap, _core
from .errors import CheckpointError

if TYPE_CHECKING:  # pragma: no cover
    from .checkpoint import Checkpoint, PathLike

INSTALL = "pip install 'vexmora[pyscf]'"


class CartesianLiftWarning(UserWarning):
    """Pure shells were expressed in Cartesian functions for PySCF."""


class MissingTermWarning(UserWarning):
    """PySCF's functional lacks a term of Gaussian's (a dispersion correction, a solvent)."""


def import_pyscf() -> Any:
    """The ``pyscf`` package, or an ImportError saying how to install it."""
    try:
        import pyscf
        from pyscf import dft, gto, lib, scf  # noqa: F401  (the submodules used here)
        from pyscf.scf import chkfile  # noqa: F401
    except ImportError as exc:
        raise ImportError(f"PySCF is not installed; to hand checkpoints to PySCF: {INSTALL}") from exc
    return pyscf


# --- the functional --------------------------------------------------------------
#: Gaussian's functional -> PySCF's exact equivalent.
XC: Dict[str, str] = {
    "B3LYP": "b3lypg",                    # Gaussian's VWN is VWN's RPA fit (III)
    "PBE1PBE": "pbe0", "PBE0": "pbe0", "PBEPBE": "pbe,pbe",
    "BLYP": "b88,lyp", "BHANDHLYP": "bhandhlyp", "B3PW91": "b3pw91",
    "CAM-B3LYP": "camb3lyp", "M062X": "m062x", "M06": "m06", "M06L": "m06l",
    "M06HF": "m06hf", "MN15": "mn15", "TPSSTPSS": "tpss,tpss",
    "WB97X": "wb97x",
    "B2PLYP": ".53*HF + .47*B88, .73*LYP",  # the SCF part; the MP2 term comes after it
    "SVWN": "slater,vwn_rpa", "SVWN5": "slater,vwn5",
}
#: Gaussian's functionals with a term PySCF's mean field lacks -> (PySCF's functional, the term).
XC_WITHOUT: Dict[str, Tuple[str, str]] = {
    "WB97XD": ("wb97x-d", "the D2 dispersion of wB97X-D"),
    "B2PLYPD": (XC["B2PLYP"], "the D2 dispersion of B2PLYP-D"),
    "B2PLYPD3": (XC["B2PLYP"], "the D3 dispersion of B2PLYP-D3"),
    "B97D": ("b97-d", "the D2 dispersion of B97-D"),
    "B97D3": ("b97-d", "the D3 dispersion of B97-D3"),
}
#: Wavefunction methods on a Hartree-Fock reference (after the prefix R, U or RO).
HF_METHODS = frozenset("HF SCF MP2 MP3 MP4 MP4D MP4DQ MP4SDQ MP4SDTQ MP5 CCD CCSD CCSD(T) "
                       "CCSD-T QCISD QCISD(T) QCISD-T QCISD(TQ) CID CISD BD BD(T) CIS".split())


def _known(name: str) -> bool:
    return name in HF_METHODS or name in XC or name in XC_WITHOUT


def gaussian_functional(method: str) -> str:
    """The method without Gaussian's R, U or RO prefix and frozen-core suffix."""
    m = re.sub(r"-(FC\d*|FULL|RW|FREEZE\w*)$", "", method.strip().upper())
    for cut in (2 if m.startswith("RO") else 0, 1 if m[:1] in ("R", "U") else 0, 0):
        if cut and _known(m[cut:]):
            return m[cut:]
    return m


def functional(ckpt: "Checkpoint", xc: Optional[str]) -> Optional[str]:
    """PySCF's functional for the job, None for Hartree-Fock; warns of missing terms."""
    if xc is not None:
        return None if xc.strip().upper() == "HF" else xc
    name = gaussian_functional(ckpt.method)
    route = ckpt.route
    extra = re.search(r"empiricaldispersion\s*=\s*\(?\s*([\w]+)", route, re.I)
    if extra and name not in HF_METHODS:
        _warn_missing(ckpt, f"the {extra.group(1).upper()} dispersion of the route")
    if re.search(r"\bscrf\b", route, re.I):
        _warn_missing(ckpt, "the solvent model (SCRF) of the route")
    if name in HF_METHODS:
        return None
    if name in XC:
        return XC[name]
    if name in XC_WITHOUT:
        pyscf_xc, term = XC_WITHOUT[name]
        _warn_missing(ckpt, term)
        return pyscf_xc
    raise ValueError(f"{ckpt.path or 'checkpoint'}: no PySCF equivalent known for the method "
                     f"{ckpt.method}; give one: to_pyscf(xc='...') (a PySCF functional, or 'HF')")


def _warn_missing(ckpt: "Checkpoint", term: str) -> None:
    warnings.warn(f"{ckpt.path or 'checkpoint'}: PySCF's mean field has no {term}: its energy "
                  "differs from Gaussian's by that term", MissingTermWarning, stacklevel=5)


# --- the molecule -----------------------------------------------------------------
def atom_kinds(ckpt: "Checkpoint", program: str) -> List[Tuple[str, bool]]:
    """(element symbol, ghost) of each atom, for ``program``'s molecule; ECP jobs and
    other nuclear charges are refused (CheckpointError)."""
    name = ckpt.path or "checkpoint"
    out = []
    for i, (z, q, sym) in enumerate(zip(ckpt.atomic_numbers.tolist(), ckpt.nuclear_charges.tolist(),
                                        ckpt.symbols)):
        if q == z:
            out.append((sym, False))
        elif q == 0:  # a ghost centre (Bq): functions, no nucleus
            out.append((sym, True))
        elif 0 < q < z and q == int(q):
            raise CheckpointError(
                f"{name}: atom {i + 1} ({sym}) has nuclear charge {q:g} below its atomic number {z}: "
                "an effective core potential, whose record this reader does not locate; a molecule "
                f"without it would be wrong, so no {program} molecule is made")
        else:
            raise CheckpointError(f"{name}: atom {i + 1} ({sym}) has nuclear charge {q:g}, which "
                                  f"{program}'s molecule cannot hold with atomic number {z}")
    return out


def _basis(ckpt: "Checkpoint", shell_list: Sequence[_aomap.Shell],
           atoms: Sequence[Tuple[str, bool]]) -> Tuple[List[str], Dict[str, Any]]:
    """PySCF's atom labels and basis: atoms with the same element and shells share one."""
    per_atom: List[List[Any]] = [[] for _ in atoms]
    for s in shell_list:
        per_atom[s.atom].append([s.L, *np.column_stack([s.exponents, s.coefficients]).tolist()])
    labels: List[str] = []
    basis: Dict[str, Any] = {}
    seen: Dict[Any, str] = {}
    count: Dict[str, int] = {}
    for (sym, ghost), shells in zip(atoms, per_atom):
        key = (sym, ghost, repr(shells))
        label = seen.get(key)
        if label is None:
            element = "X" if sym == "X" else sym
            count[element] = count.get(element, 0) + 1
            label = f"{'ghost-' if ghost and element != 'X' else ''}{element}{count[element]}"
            seen[key] = label
            basis[label] = shells
        labels.append(label)
    return labels, basis


def _pyscf_order(shell_list: Sequence[_aomap.Shell]) -> List[int]:
    """The shells in PySCF's order: by atom, then by angular momentum (stable)."""
    return sorted(range(len(shell_list)), key=lambda k: (shell_list[k].atom, shell_list[k].L))


def molecule(ckpt: "Checkpoint") -> Tuple[Any, _aomap.AOMap]:
    """PySCF's ``Mole`` of the checkpoint and the map of Gaussian's functions to its own."""
    import_pyscf()
    from pyscf import gto

    atoms = atom_kinds(ckpt, "PySCF")
    shell_list = _aomap.shells(ckpt)
    types = ckpt.shell_types
    cart = bool(np.any(types >= 2))
    order = _pyscf_order(shell_list)
    amap = _aomap.ao_map(shell_list, ckpt.n_basis, _aomap.pyscf_norm, cart,
                         lambda L: gto.cart2sph(L, normalized="sp"), order, ckpt.path or "checkpoint")
    labels, basis = _basis(ckpt, shell_list, atoms)
    bohr = np.asarray(ckpt.coordinates) / _core.BOHR_TO_ANGSTROM
    mol = gto.Mole()
    mol.atom = [(lab, tuple(x)) for lab, x in zip(labels, bohr.tolist())]
    mol.basis = basis
    mol.unit = "Bohr"
    mol.charge = int(ckpt.charge)
    mol.spin = int(ckpt.n_alpha - ckpt.n_beta)
    mol.cart = cart
    mol.symmetry = False
    mol.verbose = 0
    mol.build(dump_input=False, parse_arg=False)
    built = np.array([(shell_list[k].atom, shell_list[k].L) for k in order], dtype=np.int64).reshape(-1, 2)
    if not np.array_equal(mol._bas[:, :2], built) or mol.nao != amap.n_target:
        raise RuntimeError("PySCF ordered the shells otherwise than expected; the orbitals cannot "
                           "be mapped (please report this with PySCF's version)")
    if amap.lifted:
        warnings.warn(f"{ckpt.path or 'checkpoint'}: the basis mixes pure and Cartesian shells, which "
                      "PySCF cannot; its pure shells are expressed in Cartesian functions (cart=True), "
                      "which keeps the orbitals and the energy but is a larger space: an SCF continued "
                      "there solves a different variational problem", CartesianLiftWarning, stacklevel=4)
    return mol, amap


def _orbitals(ckpt: "Checkpoint", amap: _aomap.AOMap) -> Tuple[np.ndarray, np.ndarray, np.ndarray, bool]:
    """(mo_energy, mo_coeff, mo_occ, unrestricted) in PySCF's shapes."""
    name = ckpt.path or "checkpoint"
    ca = ckpt.mo_coefficients_alpha
    if ca is None or ckpt.mo_energies_alpha is None or ckpt.mo_occupations_alpha is None:
        raise CheckpointError(f"{name}: no orbitals in this checkpoint, so no PySCF mean field")
    cb = ckpt.mo_coefficients_beta
    for c in (ca, cb):
        if c is not None and c.shape[1:] != (ckpt.n_basis,):
            raise CheckpointError(f"{name}: complex or generalised orbitals, which PySCF's real "
                                  "mean field cannot hold")
    if cb is None:
        return (np.array(ckpt.mo_energies_alpha), amap.orbitals(ca),
                np.array(ckpt.mo_occupations_alpha), False)
    assert ckpt.mo_energies_beta is not None and ckpt.mo_occupations_beta is not None
    if cb.shape != ca.shape:
        raise CheckpointError(f"{name}: alpha and beta orbitals differ in number")
    return (np.stack([ckpt.mo_energies_alpha, ckpt.mo_energies_beta]),
            np.stack([amap.orbitals(ca), amap.orbitals(cb)]),
            np.stack([ckpt.mo_occupations_alpha, ckpt.mo_occupations_beta]), True)


def to_pyscf(ckpt: "Checkpoint", xc: Optional[str] = None) -> Any:
    """See :meth:`Checkpoint.to_pyscf`."""
    import_pyscf()
    from pyscf import dft, scf

    functional_ = functional(ckpt, xc)
    mol, amap = molecule(ckpt)
    mo_energy, mo_coeff, mo_occ, unrestricted = _orbitals(ckpt, amap)
    open_shell = mol.spin != 0
    if functional_ is None:
        mf = (scf.UHF if unrestricted else scf.ROHF if open_shell else scf.RHF)(mol)
    else:
        mf = (dft.UKS if unrestricted else dft.ROKS if open_shell else dft.RKS)(mol, xc=functional_)
    mf.mo_energy, mf.mo_coeff, mf.mo_occ = mo_energy, mo_coeff, mo_occ
    mf.e_tot = float(ckpt.scf_energy)
    mf.converged = not amap.lifted  # Gaussian's optimum, unless in the larger space
    return mf


def write_pyscf_chk(ckpt: "Checkpoint", path: "PathLike") -> None:
    """See :meth:`Checkpoint.write_pyscf_chk`."""
    import_pyscf()
    from pyscf.scf import chkfile

    from ._pyformats import whole_file

    mol, amap = molecule(ckpt)
    mo_energy, mo_coeff, mo_occ, _ = _orbitals(ckpt, amap)
    with whole_file(path, [ckpt.path]) as tmp:
        import h5py

        with h5py.File(tmp, "w"):
            pass  # a valid empty HDF5 file, which dump_scf appends to
        chkfile.dump_scf(mol, tmp, float(ckpt.scf_energy), mo_energy, mo_coeff, mo_occ)

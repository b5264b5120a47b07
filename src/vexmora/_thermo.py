"""Thermochemistry of a frequency job: Gaussian's ideal gas, rigid rotor and
harmonic oscillator, with the corrections Gaussian does not make (quasi-harmonic
entropy and enthalpy, a standard state in mol/L, scaled frequencies).

The numbers are computed in the C++ core, which the dataset table shares, with the
CODATA set of the vibrations (``_core.CODATA``).
"""
from __future__ import annotations

import math
import warnings
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any, Dict, Mapping, Optional, Tuple, Union

import numpy as np

from . import _core
from .symmetry import PointGroup, point_group

if TYPE_CHECKING:
    from .checkpoint import Checkpoint

_C = _core.CODATA
K_B = _C["boltzmann_joule_per_kelvin"]
N_A = _C["avogadro"]
HARTREE = _C["hartree_joule"]
CALORIE = 4.184  # J, thermochemical
HARTREE_KCAL = HARTREE * N_A / CALORIE / 1000.0  # kcal/mol per Hartree

ROWS = ("Total", "Electronic", "Translational", "Rotational", "Vibrational")
QUASI_HARMONIC = (None, "grimme", "truhlar")
SYMMETRY_MODES = ("gaussian", "geometry")


def route_turns_symmetry_off(route: str) -> bool:
    """Whether a route section tells Gaussian to ignore symmetry (σ = 1 in its thermochemistry):
    NoSymm, NoSymmetry, Symm(None), Symmetry=None, Symm=(Loose,None), in any case."""
    return bool(_core.route_turns_symmetry_off(route))


@dataclass(frozen=True)
class Thermochemistry:
    """Thermochemistry at one temperature and pressure. Energies are Hartree per particle;
    ``table`` maps "Total", "Electronic", "Translational", "Rotational", "Vibrational" to
    (E kcal/mol, Cv cal/(mol K), S cal/(mol K)), as Gaussian's table."""

    #: Kelvin.
    temperature: float
    #: atm.
    pressure: float
    #: Standard-state concentration, mol/L; None for the ideal gas at ``pressure``.
    concentration: Optional[float]
    #: The point group of the geometry.
    point_group: str
    #: The rotational symmetry number used.
    symmetry_number: int
    #: Where it came from: "geometry", "route" (symmetry turned off: 1), "checkpoint"
    #: (Gaussian ran the job in C1, as its symmetry record says: 1) or "given".
    symmetry_source: str
    linear: bool
    #: The job's final energy, Hartree.
    electronic_energy: float
    zero_point_energy: float
    thermal_energy: float
    #: H = E + kT correction; E and H with Head-Gordon's damped vibrational energy when asked for.
    enthalpy: float
    #: G = H - T S correction with the quasi-harmonic entropy when asked for.
    gibbs_free_energy: float
    #: Total entropy, Hartree/K per particle (quasi-harmonic when asked for).
    entropy: float
    #: The rigid-rotor harmonic-oscillator entropy, Hartree/K, and H and G without damping.
    harmonic_entropy: float
    harmonic_enthalpy: float
    harmonic_gibbs_free_energy: float
    #: Imaginary frequencies left out, cm^-1 (negative numbers).
    imaginary_frequencies: Tuple[float, ...]
    quasi_harmonic: Optional[str]
    head_gordon: bool
    table: Mapping[str, Tuple[float, float, float]]

    @property
    def free_energy(self) -> float:
        """Electronic energy plus the Gibbs free-energy correction, Hartree."""
        return self.electronic_energy + self.gibbs_free_energy


def _symmetry(ckpt: "Checkpoint", group: PointGroup, symmetry: Union[str, int]) -> Tuple[int, str, Optional[str]]:
    """The symmetry number, where it came from, and a note where the route's differs from the geometry's."""
    if isinstance(symmetry, (int, np.integer)) and not isinstance(symmetry, bool):
        if symmetry < 1:
            raise ValueError(f"symmetry number must be at least 1, not {symmetry}")
        return int(symmetry), "given", None
    if symmetry not in SYMMETRY_MODES:
        raise ValueError(f"symmetry must be one of {', '.join(SYMMETRY_MODES)} or an integer, not {symmetry!r}")
    if symmetry == "gaussian":
        # Gaussian's sigma is 1 where it ran the job without symmetry: the route
        # said so, or the checkpoint's record of the subgroup it used is C1.
        sigma, source, note = _core.gaussian_symmetry(ckpt.route, ckpt._reader.symmetry_subgroup_order,
                                                      group.name, group.symmetry_number, ckpt.path or "")
        return int(sigma), str(source), note
    return group.symmetry_number, "geometry", None


def _check_options(temperature: float, pressure: float, quasi_harmonic: Optional[str], cutoff: float,
                   concentration: Optional[float], frequency_scale: float, zpe_scale: Optional[float]) -> None:
    positive = {"temperature": temperature, "pressure": pressure, "cutoff": cutoff,
                "frequency_scale": frequency_scale}
    if concentration is not None:
        positive["concentration"] = concentration
    if zpe_scale is not None:
        positive["zpe_scale"] = zpe_scale
    for name, value in positive.items():
        if not (isinstance(value, (int, float)) and math.isfinite(value) and value > 0):
            raise ValueError(f"{name} must be a positive number, not {value!r}")
    if quasi_harmonic not in QUASI_HARMONIC:
        raise ValueError(f"quasi_harmonic must be None, 'grimme' or 'truhlar', not {quasi_harmonic!r}")


def thermochemistry(ckpt: "Checkpoint", temperature: float = 298.15, pressure: float = 1.0,
                    **options: Any) -> Thermochemistry:
    """See :meth:`Checkpoint.thermochemistry`; warns where the route's symmetry number
    differs from the geometry's."""
    result, note = thermochemistry_and_note(ckpt, temperature, pressure, **options)
    if note is not None:
        warnings.warn(note, stacklevel=3)
    return result


def thermochemistry_and_note(ckpt: "Checkpoint", temperature: float = 298.15, pressure: float = 1.0, *,
                             quasi_harmonic: Optional[str] = None, cutoff: float = 100.0,
                             head_gordon: bool = False, concentration: Optional[float] = None,
                             frequency_scale: float = 1.0, zpe_scale: Optional[float] = None,
                             symmetry: Union[str, int] = "gaussian") -> Tuple[Thermochemistry, Optional[str]]:
    """The thermochemistry and the warning it gives, if any, as a line: the
    filters of :mod:`warnings` are process-wide, which threads cannot share."""
    _check_options(temperature, pressure, quasi_harmonic, cutoff, concentration, frequency_scale, zpe_scale)
    vib = ckpt.vibrations()  # raises ValueError without a Hessian or masses
    masses = np.asarray(ckpt.atomic_masses, dtype=float)
    xyz = ckpt.coordinates
    group = point_group(ckpt.atomic_numbers, xyz, masses=masses)
    sigma, source, note = _symmetry(ckpt, group, symmetry)
    t = float(temperature)
    freqs = np.asarray(vib.frequencies, dtype=float)
    options = _core.thermo_options(t, float(pressure), 0.0 if concentration is None else float(concentration),
                                   quasi_harmonic or "", float(cutoff), bool(head_gordon), float(frequency_scale),
                                   0.0 if zpe_scale is None else float(zpe_scale))
    r = _core.thermochemistry(freqs, masses, np.ascontiguousarray(xyz, dtype=float).ravel(),
                              ckpt.multiplicity, sigma, options)
    table: Dict[str, Tuple[float, float, float]] = dict(zip(ROWS, r["table"]))
    return Thermochemistry(
        temperature=t, pressure=float(pressure), concentration=concentration, point_group=group.name,
        symmetry_number=sigma, symmetry_source=source, linear=r["linear"],
        electronic_energy=ckpt.total_energy, zero_point_energy=r["zero_point_energy"],
        thermal_energy=r["thermal_energy"], enthalpy=r["enthalpy"], gibbs_free_energy=r["gibbs_free_energy"],
        entropy=r["entropy"], harmonic_entropy=r["harmonic_entropy"], harmonic_enthalpy=r["harmonic_enthalpy"],
        harmonic_gibbs_free_energy=r["harmonic_gibbs_free_energy"],
        imaginary_frequencies=tuple(float(f) for f in freqs[freqs < 0.0]),
        quasi_harmonic=quasi_harmonic, head_gordon=head_gordon, table=table), note

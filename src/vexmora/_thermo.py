"""Thermochemistry of a frequency job: Gaussian's ideal gas, rigid rotor and
harmonic oscillator, with the corrections Gaussian does not make (quasi-harmonic
entropy and enthalpy, a standard state in mol/L, scaled frequencies).

The constants are the CODATA set of the vibrations (``_core.CODATA``).
"""
from __future__ import annotations

import math
import re
import warnings
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any, Dict, Mapping, Optional, Tuple, Union

import numpy as np

from . import _core
from .symmetry import PointGroup, point_group

if TYPE_CHECKING:
    from .checkpoint import Checkpoint

_C = _core.CODATA
H_PLANCK = _C["planck_joule_second"]
K_B = _C["boltzmann_joule_per_kelvin"]
N_A = _C["avogadro"]
C_LIGHT = _C["light_metre_per_second"]
HARTREE = _C["hartree_joule"]
AMU = _C["amu_kg"]
R_GAS = K_B * N_A  # J/(mol K)
CALORIE = 4.184  # J, thermochemical
ATMOSPHERE = 101325.0  # Pa
HARTREE_KCAL = HARTREE * N_A / CALORIE / 1000.0  # kcal/mol per Hartree
#: Grimme's average moment of inertia of the free rotor, kg m^2.
B_AV = 1e-44

ROWS = ("Total", "Electronic", "Translational", "Rotational", "Vibrational")
QUASI_HARMONIC = (None, "grimme", "truhlar")
SYMMETRY_MODES = ("gaussian", "geometry")

# Route options that turn symmetry off: NoSymm, NoSymmetry, Symm(None), Symmetry=None, Symm=(Loose,None).
_NOSYMM = re.compile(r"(?<![\w=(,])nosymm(?:etry)?\b", re.I)
_SYMM_OPTIONS = re.compile(r"(?<![\w])symm(?:etry)?\s*(?:=\s*\(([^)]*)\)|\(([^)]*)\)|=\s*(\w+))", re.I)


def route_turns_symmetry_off(route: str) -> bool:
    """Whether a route section tells Gaussian to ignore symmetry (σ = 1 in its thermochemistry)."""
    if _NOSYMM.search(route):
        return True
    for groups in _SYMM_OPTIONS.findall(route):
        options = ",".join(g for g in groups if g)
        if "none" in (o.strip().lower() for o in re.split(r"[,\s]+", options)):
            return True
    return False


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


def _vibration_terms(nu: np.ndarray, t: float) -> Tuple[np.ndarray, np.ndarray, np.ndarray]:
    """Per mode of wavenumbers ``nu`` (cm^-1, positive): thermal energy above the
    zero point, heat capacity and entropy, in units of R T, R and R."""
    x = H_PLANCK * C_LIGHT * 100.0 * nu / (K_B * t)
    em1 = np.expm1(x)
    energy = x / em1
    cv = x * x * np.exp(x) / (em1 * em1)
    entropy = x / em1 - np.log(-np.expm1(-x))
    return energy, cv, entropy


def _free_rotor_entropy(nu: np.ndarray, t: float) -> np.ndarray:
    """Grimme's free-rotor entropy (units of R) for modes of wavenumbers ``nu``, cm^-1."""
    mu = H_PLANCK / (8.0 * math.pi ** 2 * nu * 100.0 * C_LIGHT)
    mu_eff = mu * B_AV / (mu + B_AV)
    return 0.5 + np.log(np.sqrt(8.0 * math.pi ** 3 * mu_eff * K_B * t / H_PLANCK ** 2))


def _rotational_temperatures(masses: np.ndarray, xyz: np.ndarray) -> np.ndarray:
    """Rotational temperatures, K, of the principal moments (ascending moments)."""
    r = (xyz - masses @ xyz / masses.sum()) * 1e-10
    inertia = np.einsum("i,ij,ik->jk", masses * AMU, r, r)
    moments = np.linalg.eigvalsh(np.trace(inertia) * np.eye(3) - inertia)
    with np.errstate(divide="ignore"):
        return H_PLANCK ** 2 / (8.0 * math.pi ** 2 * K_B * moments)


Part = Tuple[float, float, float]  # E J/mol, Cv J/(mol K), S J/(mol K)


def _translation(mass: float, t: float, pressure: float, concentration: Optional[float]) -> Part:
    """An ideal gas of particles of ``mass`` (kg) at ``pressure`` (atm), or in the volume
    per particle of ``concentration`` (mol/L)."""
    volume = K_B * t / (pressure * ATMOSPHERE) if concentration is None else 1e-3 / (concentration * N_A)
    q_trans = (2.0 * math.pi * mass * K_B * t / H_PLANCK ** 2) ** 1.5 * volume
    return (1.5 * R_GAS * t, 1.5 * R_GAS, R_GAS * (math.log(q_trans) + 2.5))


def _rotation(masses: np.ndarray, xyz: np.ndarray, t: float, sigma: int, linear: bool) -> Part:
    """The rigid rotor with symmetry number ``sigma``; nothing for one atom."""
    if len(masses) == 1:
        return (0.0, 0.0, 0.0)
    theta = _rotational_temperatures(masses, xyz)
    if linear:
        return (R_GAS * t, R_GAS, R_GAS * (math.log(t / (sigma * theta[-1])) + 1.0))
    q_rot = math.sqrt(math.pi) * t ** 1.5 / (sigma * math.sqrt(float(np.prod(theta))))
    return (1.5 * R_GAS * t, 1.5 * R_GAS, R_GAS * (math.log(q_rot) + 1.5))


def _vibration(real: np.ndarray, t: float, quasi_harmonic: Optional[str], cutoff: float,
               head_gordon: bool, scale: float = 1.0) -> Tuple[float, float, float, float, float]:
    """Harmonic oscillators of wavenumbers ``real`` (cm^-1, scaled by ``scale``): the energy
    with its zero point, that energy damped (Head-Gordon) or not, Cv, the entropy asked for
    and the harmonic entropy, J/mol and J/(mol K)."""
    rt = R_GAS * t
    e_th, cv, s_v = _vibration_terms(real, t)
    # As in GoodVibes, the cutoff applies to the wavenumbers as computed, before scaling.
    computed = real / scale
    weights = 1.0 / (1.0 + (cutoff / computed) ** 4)
    # The ZPE scale only changes the reported zero-point energy, as in GoodVibes:
    # the thermal energies hold the zero point of the frequencies as scaled.
    e_mode = 0.5 * H_PLANCK * C_LIGHT * 100.0 * N_A * real + rt * e_th
    e_vib = float(e_mode.sum())
    s_harm = R_GAS * float(s_v.sum())
    if quasi_harmonic == "grimme":
        s_vib = R_GAS * float(np.sum(weights * s_v + (1.0 - weights) * _free_rotor_entropy(real, t)))
    elif quasi_harmonic == "truhlar":
        s_vib = R_GAS * float(_vibration_terms(np.maximum(computed, cutoff) * scale, t)[2].sum())
    else:
        s_vib = s_harm
    # Head-Gordon: each mode's energy, its zero point included, damped towards a free rotor's RT/2.
    e_damped = e_vib + float(np.sum((1.0 - weights) * (0.5 * rt - e_mode))) if head_gordon else e_vib
    return e_vib, e_damped, R_GAS * float(cv.sum()), s_vib, s_harm


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
        source = ("route" if route_turns_symmetry_off(ckpt.route) else
                  "checkpoint" if ckpt._reader.symmetry_subgroup_order == 1 else None)
        if source is not None:
            note = None
            if group.symmetry_number > 1:
                why = ("the route turned symmetry off" if source == "route" else
                       "Gaussian ran the job in C1 (the checkpoint's symmetry record)")
                note = (f"{ckpt.path or 'checkpoint'}: warning: {why}, so the symmetry "
                        f"number is 1 as in Gaussian's output; the geometry is {group.name} "
                        f"(symmetry number {group.symmetry_number}: symmetry='geometry')")
            return 1, source, note
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
    n_atoms, t = len(masses), float(temperature)
    linear = n_atoms == 2 or (n_atoms > 2 and len(vib.frequencies) == 3 * n_atoms - 5)
    trans = _translation(float(masses.sum()) * AMU, t, pressure, concentration)
    rot = _rotation(masses, xyz, t, sigma, linear)
    elec = (0.0, 0.0, R_GAS * math.log(max(ckpt.multiplicity, 1)))
    freqs = np.asarray(vib.frequencies, dtype=float)
    real = freqs[freqs > 0.0] * frequency_scale
    zpe_nu = freqs[freqs > 0.0] * (frequency_scale if zpe_scale is None else zpe_scale)
    zpe = 0.5 * H_PLANCK * C_LIGHT * 100.0 * float(zpe_nu.sum()) / HARTREE
    e_vib, e_damped, cv_vib, s_vib, s_harm = _vibration(real, t, quasi_harmonic, cutoff, head_gordon,
                                                        frequency_scale)
    vib_row = (e_damped, cv_vib, s_vib)

    parts = {"Electronic": elec, "Translational": trans, "Rotational": rot, "Vibrational": vib_row}
    total = tuple(sum(p[k] for p in parts.values()) for k in range(3))
    table: Dict[str, Tuple[float, float, float]] = {
        name: (row[0] / CALORIE / 1000.0, row[1] / CALORIE, row[2] / CALORIE)
        for name, row in [("Total", total)] + list(parts.items())}
    per_particle = 1.0 / (HARTREE * N_A)  # Hartree per J/mol
    thermal = total[0] * per_particle
    h = thermal + K_B * t / HARTREE
    h_harm = h + (e_vib - e_damped) * per_particle
    s_total = total[2] * per_particle
    s_harm_total = (total[2] - s_vib + s_harm) * per_particle
    return Thermochemistry(
        temperature=t, pressure=float(pressure), concentration=concentration, point_group=group.name,
        symmetry_number=sigma, symmetry_source=source, linear=linear,
        electronic_energy=ckpt.total_energy, zero_point_energy=zpe, thermal_energy=thermal,
        enthalpy=h, gibbs_free_energy=h - t * s_total, entropy=s_total, harmonic_entropy=s_harm_total,
        harmonic_enthalpy=h_harm, harmonic_gibbs_free_energy=h_harm - t * s_harm_total,
        imaginary_frequencies=tuple(float(f) for f in freqs[freqs < 0.0]),
        quasi_harmonic=quasi_harmonic, head_gordon=head_gordon, table=table), note

"""A parsed Gaussian checkpoint as NumPy arrays in chemistry's shapes.

Units: lengths in Angstrom, energies in Hartree, the Hessian in Hartree/Bohr^2,
exponents in Bohr^-2, the gradient and the moments in atomic units, masses in
amu; indices are 0-based. Large arrays (MO coefficients, the
orthonormal basis, the Hessian, the basis arrays) are read-only views on the
reader's storage: they keep it alive and cost no copy.

Loading checks every record of the file (inside it, lengths consistent) but
reads the large ones (orbitals, orthonormal basis, densities, Hessian) only
when first used, once, from the file as it was at load: a file changed, cut
short or removed since then raises RuntimeError naming the file on that first
use, and loading it again reads the new content. The metadata never needs them.

A :class:`Checkpoint` never changes after loading, so one object may be read
from any number of threads at once, and its writers may run in parallel
(each writes its own temporary file and renames it into place). Parsing and
writing release the interpreter lock.
"""
from __future__ import annotations

import os
import warnings
from dataclasses import dataclass
from typing import (TYPE_CHECKING, Any, Callable, Iterator, List, Mapping, Optional, Sequence,
                    Tuple, Union)

import numpy as np

from . import _core, _grid, _iodata, _spectra, _thermo
from . import symmetry as _symmetry
from ._constants import DENSITY_KINDS, FORMATS, ORTHONORMALITY_TOLERANCE, PathLike
from ._esp import EspMixin
from ._pyformats import PYTHON_FORMATS, ExchangeMixin
from ._records import RecordsMixin
from ._view import ViewMixin
from .errors import CheckpointError

if TYPE_CHECKING:  # numpy.typing is newer than the oldest NumPy supported
    from numpy.typing import NDArray

    #: The library's arrays: float64 values, int64 counts and indices.
    FloatArray = NDArray[np.float64]
    IntArray = NDArray[np.int64]

__all__ = ["DENSITY_KINDS", "FORMATS", "ORTHONORMALITY_TOLERANCE", "PathLike", "Checkpoint",
           "NonOrthonormalOrbitalsWarning", "Vibrations", "formula", "load"]


class NonOrthonormalOrbitalsWarning(UserWarning):
    """The stored orbitals are not orthonormal: they do not describe the state."""


_FCHK_MARKERS = (b"Number of atoms", b"Info1-9", b"Charge   ")


def _looks_like_fchk(path: bytes) -> bool:
    """Whether the file starts like a formatted checkpoint (text)."""
    try:
        with open(path, "rb") as f:
            head = f.read(4096)
    except OSError:
        return False
    return any(m in head for m in _FCHK_MARKERS)


def _open(path: PathLike) -> "_core.Reader":
    raw = os.fsencode(path)
    shown = os.fsdecode(raw)
    if os.path.isdir(raw):
        raise CheckpointError(f"{shown}: is a directory, not a checkpoint file")
    try:  # the reader says only that it cannot open a file; the system says why
        with open(raw, "rb"):
            pass
    except OSError as exc:
        raise CheckpointError(f"{shown}: {exc.strerror}") from None
    try:
        return _core.Reader(raw)
    except CheckpointError as exc:
        reason = str(exc)
        if os.path.isfile(raw) and os.path.getsize(raw) == 0:
            reason = "the file is empty, not a checkpoint"
        elif _looks_like_fchk(raw):
            reason += " (this is already a formatted checkpoint, .fchk: no conversion is needed)"
        raise CheckpointError(f"{shown}: {reason}", exc.report) from None


def load(path: PathLike) -> "Checkpoint":
    """Read a Gaussian binary checkpoint (``.chk``).

    ``path`` may be ``str``, ``bytes`` or ``os.PathLike``. A file that is not a
    readable checkpoint raises :class:`CheckpointError`. The large records are
    read on first use (see the module's description).
    """
    return Checkpoint(_open(path), os.fsdecode(os.fsencode(path)))


def _from_state(state: bytes, path: str) -> "Checkpoint":
    return Checkpoint(_core.Reader.from_state(state), path)


class _Densities(Mapping[str, "FloatArray"]):
    """Density kind -> full symmetric (n_basis, n_basis) matrix.

    Each access unpacks the stored lower triangle into a new array (in C++,
    without the interpreter lock); nothing is kept, so holding the mapping
    costs no memory beyond the triangles the reader already holds.
    """

    def __init__(self, reader: "_core.Reader", spin: bool) -> None:
        self._reader = reader
        self._spin = spin
        self._kinds = {DENSITY_KINDS[k]: k for k in reader.density_kinds(spin)}

    def __getitem__(self, kind: str) -> FloatArray:
        out = self._reader.density(self._kinds[kind], self._spin)
        if out is None:
            raise KeyError(kind)
        return out

    def __iter__(self) -> Iterator[str]:
        return iter(self._kinds)

    def __len__(self) -> int:
        return len(self._kinds)

    def __repr__(self) -> str:
        return f"<densities {list(self._kinds)}>"


@dataclass(frozen=True)
class Vibrations:
    """Harmonic vibrations of a checkpoint's Hessian, translations and rotations
    projected out; mode k is row k of each array."""

    #: Wavenumbers, (n_modes,), cm^-1, ascending; imaginary ones as negative numbers.
    frequencies: FloatArray
    #: Reduced masses, (n_modes,), amu.
    reduced_masses: FloatArray
    #: Force constants, (n_modes,), mDyne/Angstrom.
    force_constants: FloatArray
    #: Cartesian displacements, (n_modes, natoms, 3), each mode of unit norm.
    modes: FloatArray
    #: Half the sum of the real frequencies, Hartree.
    zero_point_energy: float
    #: IR intensities, (n_modes,), km/mol; None without dipole derivatives. An atom has
    #: no modes: this and every other per-mode array is then empty, never None.
    ir_intensities: Optional[np.ndarray] = None
    #: Raman activities, (n_modes,), Angstrom^4/amu; None without polarizability derivatives.
    raman_activities: Optional[np.ndarray] = None
    #: Raman depolarisation ratios, (n_modes, 2): plane-polarised and unpolarised
    #: incident light; None without polarizability derivatives.
    depolarization_ratios: Optional[np.ndarray] = None

    def spectrum(self, kind: str = "ir", fwhm: float = 10.0, lineshape: str = "lorentzian",
                 grid: Optional[Any] = None) -> "_spectra.Spectrum":
        """A broadened IR ("ir", km/mol per cm^-1) or Raman ("raman", Angstrom^4/amu per
        cm^-1) spectrum: (wavenumbers, intensities), each (n_points,), as a
        :class:`~vexmora._spectra.Spectrum` pair whose ``plot()`` draws it. Every real mode's
        line ("lorentzian" or "gaussian", full width at half maximum ``fwhm``, cm^-1)
        has the area of its intensity; ``grid`` (cm^-1) defaults to 0 to 200 beyond
        the highest mode, every 1 cm^-1. Raises ValueError where the checkpoint has
        no such intensities, or for an unknown option."""
        if kind not in _spectra.KINDS:
            raise ValueError(f"kind must be one of {', '.join(_spectra.KINDS)}, not {kind!r}")
        strengths = self.ir_intensities if kind == "ir" else self.raman_activities
        if strengths is None:
            raise ValueError(f"no {'dipole' if kind == 'ir' else 'polarizability'} derivatives in this "
                             f"checkpoint, so no {kind.upper() if kind == 'ir' else 'Raman'} spectrum")
        return _spectra.Spectrum(*_spectra.spectrum(self.frequencies, strengths, fwhm, lineshape, grid),
                                 kind, fwhm, lineshape)


def formula(symbols: Sequence[str]) -> str:
    """Hill formula: C first, then H, then the other elements alphabetically."""
    return _core.hill_formula(list(symbols))


class Checkpoint(RecordsMixin, ExchangeMixin, ViewMixin, EspMixin):
    """The content of one Gaussian checkpoint; see :func:`load`.

    Pickles (the parsed state travels, not the file) and shows itself in one
    line: formula, method/basis and SCF energy (in a notebook, as a summary card).
    """

    def __init__(self, reader: "_core.Reader", path: str = "") -> None:
        self._reader = reader
        self.path = path

    # --- job --------------------------------------------------------------
    @property
    def title(self) -> str:
        """The job's title."""
        return self._reader.title

    @property
    def route(self) -> str:
        """The route section ("None" when the checkpoint holds none)."""
        return self._reader.route

    @property
    def method(self) -> str:
        """The method with its wavefunction prefix, such as "RB3LYP"."""
        return self._reader.method

    @property
    def basis_set(self) -> str:
        """The basis set name, such as "6-31G(d)"."""
        return self._reader.basis_set

    @property
    def job_type(self) -> str:
        """The job type, such as "SP", "FOpt" or "Freq"."""
        return self._reader.job_type

    @property
    def program_version(self) -> str:
        """The Gaussian version that wrote the checkpoint."""
        return self._reader.program_version

    @property
    def scf_energy(self) -> float:
        """The SCF energy, Hartree."""
        return self._reader.scf_energy

    @property
    def total_energy(self) -> float:
        """The total energy (the highest level of the job), Hartree."""
        return self._reader.total_energy

    @property
    def virial_ratio(self) -> float:
        """The virial ratio -V/T (dimensionless)."""
        return self._reader.virial_ratio

    # --- molecule -----------------------------------------------------------
    @property
    def atomic_numbers(self) -> IntArray:
        """Atomic numbers, (natoms,) int64; 0 for a dummy or ghost centre."""
        return self._reader.atomic_numbers

    @property
    def symbols(self) -> List[str]:
        """Element symbols, one per atom ("X" for a dummy centre)."""
        return self._reader.symbols

    @property
    def nuclear_charges(self) -> FloatArray:
        """Nuclear charges, (natoms,) float64, elementary charges."""
        return self._reader.nuclear_charges

    @property
    def coordinates(self) -> FloatArray:
        """Cartesian coordinates in the standard orientation, (natoms, 3), Angstrom."""
        return self._reader.coordinates

    @property
    def cell(self) -> Optional[FloatArray]:
        """Translation vectors of a periodic system, (ndim, 3), Angstrom; None when ndim is 0."""
        return self._reader.cell

    @property
    def charge(self) -> int:
        """Total charge, elementary charges."""
        return self._reader.charge

    @property
    def multiplicity(self) -> int:
        """Spin multiplicity 2S + 1."""
        return self._reader.multiplicity

    @property
    def n_electrons(self) -> int:
        """Number of electrons."""
        return self._reader.n_electrons

    @property
    def n_alpha(self) -> int:
        """Number of alpha electrons."""
        return self._reader.n_alpha

    @property
    def n_beta(self) -> int:
        """Number of beta electrons."""
        return self._reader.n_beta

    # --- orbitals -------------------------------------------------------------
    @property
    def n_basis(self) -> int:
        """Number of basis functions."""
        return self._reader.n_basis

    @property
    def n_independent(self) -> int:
        """Number of linearly independent functions (= number of MOs)."""
        return self._reader.n_independent

    @property
    def mo_energies_alpha(self) -> Optional[FloatArray]:
        """Alpha orbital energies, (nmo,), Hartree; None without orbitals."""
        return self._reader.mo_energies_alpha

    @property
    def mo_coefficients_alpha(self) -> Optional[FloatArray]:
        """Alpha MO coefficients, (nmo, n_basis): one orbital per row, basis
        functions in Gaussian's order (read-only view); None without orbitals."""
        return self._reader.mo_coefficients_alpha

    @property
    def mo_occupations_alpha(self) -> Optional[FloatArray]:
        """Occupations of the alpha (or restricted) orbitals, (nmo,).

        Restricted, including ROHF: orbital i holds [i < n_alpha] + [i < n_beta]
        electrons (2 doubly, 1 singly occupied, 0 virtual). Unrestricted: alpha
        orbital i holds [i < n_alpha]. None without orbitals.
        """
        return self._reader.mo_occupations_alpha

    @property
    def mo_energies_beta(self) -> Optional[FloatArray]:
        """Beta orbital energies, (nmo,), Hartree; None for a restricted wavefunction."""
        return self._reader.mo_energies_beta

    @property
    def mo_coefficients_beta(self) -> Optional[FloatArray]:
        """Beta MO coefficients, (nmo, n_basis), as the alpha ones; None when restricted."""
        return self._reader.mo_coefficients_beta

    @property
    def mo_occupations_beta(self) -> Optional[FloatArray]:
        """Beta occupations, (nmo,): orbital i holds [i < n_beta]; None when restricted."""
        return self._reader.mo_occupations_beta

    @property
    def orthonormal_basis(self) -> Optional[FloatArray]:
        """The orthonormal basis, (n_independent, n_basis), one vector per row
        (read-only view); None when the checkpoint holds none."""
        return self._reader.orthonormal_basis

    @property
    def basis_labels(self) -> List[str]:
        """The atomic-orbital labels stored with the title."""
        return self._reader.basis_labels

    # --- basis --------------------------------------------------------------
    @property
    def shell_types(self) -> IntArray:
        """Shell types, (nshell,): 0 s, 1 p, -1 sp, 2/-2 Cartesian/pure d, T/-T higher."""
        return self._reader.shell_types

    @property
    def shell_n_primitives(self) -> IntArray:
        """Number of primitives of each shell, (nshell,)."""
        return self._reader.shell_n_primitives

    @property
    def shell_atoms(self) -> IntArray:
        """Atom of each shell, (nshell,), 0-based."""
        return self._reader.shell_atoms

    @property
    def exponents(self) -> FloatArray:
        """Primitive exponents, (nprim,), Bohr^-2, shell after shell."""
        return self._reader.exponents

    @property
    def contraction_coefficients(self) -> FloatArray:
        """Contraction coefficients, (nprim,), as the .fchk holds them."""
        return self._reader.contraction_coefficients

    @property
    def sp_contraction_coefficients(self) -> Optional[FloatArray]:
        """P coefficients of SP shells, (nprim,) (0 elsewhere); None without SP shells."""
        return self._reader.sp_contraction_coefficients

    @property
    def shell_centres(self) -> FloatArray:
        """Centre of each shell, (nshell, 3), Angstrom."""
        return self._reader.shell_centres

    # --- densities and Hessian ----------------------------------------------
    @property
    def densities(self) -> Mapping[str, FloatArray]:
        """Total densities by kind ("SCF", "MP2", "CI", ...): full symmetric
        (n_basis, n_basis) arrays, unpacked anew on each access. Where the job stored
        orbitals but no SCF density (``pop=None``), "SCF" is built from the occupied
        orbitals: sum over them of C C^T, alpha plus beta (restricted ones with their
        occupations 2, 1 or 0). Post-SCF kinds are only those stored."""
        return _Densities(self._reader, False)

    @property
    def spin_densities(self) -> Mapping[str, FloatArray]:
        """Spin densities (alpha minus beta) by kind, as :attr:`densities` (the SCF one
        of a ``pop=None`` open-shell job from its orbitals; none for a closed shell)."""
        return _Densities(self._reader, True)

    @property
    def hessian(self) -> Optional[FloatArray]:
        """The Cartesian Hessian in the standard orientation, full symmetric
        (3 natoms, 3 natoms), Hartree/Bohr^2 (read-only view); None when absent."""
        return self._reader.hessian

    @property
    def gradient(self) -> Optional[FloatArray]:
        """The Cartesian energy gradient in the standard orientation, (natoms, 3),
        Hartree/Bohr; None when the job computed no forces (the record then holds
        zeros, which the fuller .fchk writes as formchk does)."""
        return self._reader.gradient

    def vibrations(self) -> Vibrations:
        """The harmonic frequencies and normal modes from the Hessian and the
        checkpoint's atomic masses (3 natoms - 6 modes, 5 fewer for a linear
        molecule), with IR intensities and Raman activities where the checkpoint
        holds dipole and polarizability derivatives. Raises ValueError when the checkpoint holds no Hessian or no masses."""
        name = self.path or "checkpoint"
        if self.hessian is None:
            raise ValueError(f"{name}: no Hessian in this checkpoint (a frequency job stores "
                             "one), so no vibrations")
        if self.atomic_masses is None:
            raise ValueError(f"{name}: no atomic masses in this checkpoint, so no vibrations")
        v = self._reader.vibrations()
        return Vibrations(v.frequencies, v.reduced_masses, v.force_constants, v.modes, v.zero_point_energy,
                          v.ir_intensities, v.raman_activities, v.depolarization_ratios)

    def point_group(self, tolerance: Optional[float] = None) -> _symmetry.PointGroup:
        """The point group of the geometry (atoms equivalent when their atomic numbers
        and masses agree); ``tolerance`` in Angstrom, see :func:`vexmora.point_group`."""
        return _symmetry.point_group(self.atomic_numbers, self.coordinates,
                                     _symmetry.TOLERANCE if tolerance is None else tolerance,
                                     masses=self.atomic_masses)

    def thermochemistry(self, temperature: float = 298.15, pressure: float = 1.0, *,
                        quasi_harmonic: Optional[str] = None, cutoff: float = 100.0,
                        head_gordon: bool = False, concentration: Optional[float] = None,
                        frequency_scale: float = 1.0, zpe_scale: Optional[float] = None,
                        symmetry: Union[str, int] = "gaussian") -> _thermo.Thermochemistry:
        """Thermochemistry from the Hessian, the masses and the geometry, by default as
        Gaussian prints it: ideal gas, rigid rotor, harmonic oscillator (real modes only),
        electronic R ln(multiplicity).

        ``temperature`` in K, ``pressure`` in atm. ``quasi_harmonic``: None, "grimme"
        (entropy of modes below ``cutoff``, cm^-1, interpolated towards a free rotor) or
        "truhlar" (those modes raised to the cutoff for the entropy); ``head_gordon``:
        their energy damped the same way towards RT/2; ``concentration`` (mol/L): the
        standard state of a solute instead of the gas at ``pressure``;
        ``frequency_scale`` scales every frequency (the ``cutoff`` applies to them unscaled,
        as in GoodVibes); ``zpe_scale`` (default: the same)
        those of the reported zero-point energy only (as GoodVibes: E, H and G hold
        the zero point of ``frequency_scale``). ``symmetry``: "gaussian" (1 where the route
        turned symmetry off or where the checkpoint's symmetry record, record 551, says
        Gaussian ran the job in C1, as Gaussian; a warning when the geometry has more;
        else the geometry's),
        "geometry" (the detected point group) or a symmetry number. Raises ValueError
        without a Hessian or masses, for a temperature, pressure, cutoff or scale that
        is not positive, and for an unknown option value.
        """
        return _thermo.thermochemistry(self, temperature, pressure, quasi_harmonic=quasi_harmonic,
                                       cutoff=cutoff, head_gordon=head_gordon, concentration=concentration,
                                       frequency_scale=frequency_scale, zpe_scale=zpe_scale, symmetry=symmetry)

    # --- properties ---------------------------------------------------------
    @property
    def dipole(self) -> Optional[FloatArray]:
        """The dipole moment in the standard orientation, (3,), e Bohr; None when absent."""
        return self._reader.dipole

    @property
    def quadrupole(self) -> Optional[FloatArray]:
        """The traceless quadrupole moment in the standard orientation, symmetric
        (3, 3), e Bohr^2; None when absent."""
        return self._reader.quadrupole

    @property
    def mulliken_charges(self) -> Optional[FloatArray]:
        """Mulliken atomic charges, (natoms,), elementary charges; None when absent."""
        return self._reader.mulliken_charges

    @property
    def atomic_masses(self) -> Optional[FloatArray]:
        """The masses the job used, (natoms,), amu; None when the checkpoint holds none."""
        return self._reader.atomic_masses

    # --- switches ---------------------------------------------------------------
    @property
    def ilsw(self) -> IntArray:
        """The integer switch array ILSW, (100,) int64."""
        return self._reader.ilsw

    @property
    def rlsw(self) -> FloatArray:
        """The real switch array RLSW, (ILSW[57],) float64."""
        return self._reader.rlsw

    @property
    def general(self) -> FloatArray:
        """The general scalar array (record 501), (1000,) float64."""
        return self._reader.general

    # --- writers --------------------------------------------------------------
    # Each writes a temporary file beside the target and renames it into place:
    # the output appears whole or not at all. An output that cannot be written,
    # or that is the checkpoint read (by any name or link), raises WriteError
    # (an OSError); what the format cannot hold raises CheckpointError.
    def write(self, fmt: str, path: PathLike) -> None:
        """Write the checkpoint as ``fmt``, one of :data:`FORMATS`; the file
        appears whole or not at all. An unknown format raises ValueError."""
        self._write_format(fmt, path)

    def _write_format(self, fmt: str, path: PathLike, natural: bool = False, spin_block: bool = False,
                      stacklevel: int = 4) -> None:
        if fmt not in FORMATS:
            raise ValueError(f"unknown output format {fmt}; choose from {', '.join(FORMATS)}")
        if fmt in PYTHON_FORMATS:
            return PYTHON_FORMATS[fmt][2](self, path)
        if fmt in ("molden", "wfn", "wfx") and not natural:
            self._warn_if_not_orthonormal(fmt, stacklevel)
        if natural and fmt == "molden":
            self._write(self._reader.write_molden_natural, path)
        elif natural or spin_block:
            self._write(lambda p: self._reader.write_aim(fmt, p, natural, spin_block), path)
        else:
            self._write(lambda p: self._reader.write(fmt, p), path)

    def _write(self, write: Callable[[bytes], None], path: PathLike) -> None:
        try:
            write(os.fsencode(path))
        except CheckpointError as exc:  # a message about the content: name the checkpoint
            raise CheckpointError(f"{self.path or 'checkpoint'}: {exc}", exc.report) from None

    def _warn_if_not_orthonormal(self, fmt: str, stacklevel: int) -> None:
        error = self._reader.orthonormality_error()
        if error is not None and error > ORTHONORMALITY_TOLERANCE:
            warnings.warn(f"{self.path or 'checkpoint'}: the stored orbitals are not orthonormal in "
                          f"the basis overlap (lengths off by up to {error:.2g}), as after ADMP, "
                          "which propagates the density: they describe nothing; "
                          f"write_{fmt}(..., orbitals='natural') writes the natural orbitals of "
                          "the density", NonOrthonormalOrbitalsWarning, stacklevel=stacklevel)

    def _orbitals(self, fmt: str, path: PathLike, orbitals: str, spin_block: bool = False) -> None:
        if orbitals not in ("stored", "natural"):
            raise ValueError(f"orbitals={orbitals!r}: choose 'stored' or 'natural'")
        self._write_format(fmt, path, orbitals == "natural", spin_block, stacklevel=5)

    def write_fchk(self, path: PathLike) -> None:
        """Write a formatted checkpoint (atomic units, as Gaussian's own), with the
        force constants, gradient, moments, Mulliken charges and masses where the
        checkpoint holds them."""
        self.write("fchk", path)

    def write_gjf(self, path: PathLike) -> None:
        """Write a Gaussian input file from the geometry (Angstrom)."""
        self.write("gjf", path)

    def write_molden(self, path: PathLike, orbitals: str = "stored") -> None:
        """Write a Molden file (atoms in Bohr, basis, orbitals) for orbital viewers.

        Functions are written in Molden's order and normalisation, with the
        pure-shell flags the basis needs; SP shells become an S and a P shell.
        ``orbitals="stored"`` writes the checkpoint's orbitals with the
        occupations of :attr:`mo_occupations_alpha` and :attr:`mo_occupations_beta`;
        when they are not orthonormal in the basis overlap (after ADMP, which
        propagates the density) a :class:`NonOrthonormalOrbitalsWarning` says so.
        ``orbitals="natural"`` writes the natural orbitals of the SCF density
        instead (one set, occupations 0 to 2, energies 0), which needs the
        orthonormal basis of all functions (:attr:`orthonormal_basis`). A basis
        Molden cannot describe (Cartesian h, anything above h), complex or
        generalised orbitals, or a checkpoint without orbitals raise
        CheckpointError and write nothing.
        """
        self._orbitals("molden", path, orbitals)

    def write_xyz(self, path: PathLike) -> None:
        """Write an XYZ file: the geometry in Angstrom, the title as comment line."""
        self.write("xyz", path)

    def write_wfn(self, path: PathLike, orbitals: str = "stored", spin_block: bool = False) -> None:
        """Write an AIMPAC .wfn file (Bohr, Hartree) for QTAIM programs, in the layout of
        Gaussian's ``output=wfn``: the occupied orbitals over Cartesian primitives (pure
        functions expanded, contraction and normalisation folded into the coefficients),
        the total energy and virial ratio; unrestricted orbitals alpha then beta.
        ``spin_block=True`` adds Multiwfn's ``$MOSPIN`` block of their spins, which
        Gaussian does not write. ``orbitals`` as in :meth:`write_molden`: "stored" (a
        :class:`NonOrthonormalOrbitalsWarning` where they are not orthonormal) or
        "natural" (the natural orbitals of the SCF density that hold electrons,
        energies 0). Complex or generalised orbitals, shells above h, more than 999
        atoms or coordinates beyond 100 Bohr raise CheckpointError and write nothing."""
        self._orbitals("wfn", path, orbitals, spin_block)

    def write_wfx(self, path: PathLike, orbitals: str = "stored") -> None:
        """Write an AIMAll .wfx file: what :meth:`write_wfn` writes, with the charge,
        multiplicity, electron counts and each orbital's spin type, every real to 16
        digits; ``orbitals`` as there. Refuses what :meth:`write_wfn` refuses, bar the
        atom and coordinate limits."""
        self._orbitals("wfx", path, orbitals)

    # --- values on points -------------------------------------------------------
    def orbitals_at(self, points: "np.typing.ArrayLike", orbitals: Sequence[Union[int, str]],
                    spin: str = "alpha", threads: Optional[int] = None) -> np.ndarray:
        """Molecular orbitals at points: (n_points, len(orbitals)), Bohr^-3/2 (atomic units).

        ``points`` is (n_points, 3) in Angstrom; ``orbitals`` are 0-based indices or
        "homo"/"lumo" of the ``spin`` ("alpha" or "beta") set. ``threads=None`` uses every
        core. Wrong shapes, points that are not finite and indices out of range raise
        ValueError.
        """
        return _grid.orbitals_at(self, points, orbitals, spin, threads)

    def density_at(self, points: "np.typing.ArrayLike", kind: str = "SCF", spin: bool = False,
                   threads: Optional[int] = None) -> np.ndarray:
        """The electron density of a stored kind at points: (n_points,), e/Bohr^3 (atomic units).

        ``points`` is (n_points, 3) in Angstrom; ``kind`` one of :attr:`densities`
        ("SCF", "MP2", ...; "SCF" built from the occupied orbitals where the job stored
        none, as there); ``spin=True`` gives the spin density (alpha minus beta) of
        that kind. A kind the checkpoint lacks raises ValueError.
        """
        return _grid.density_at(self, points, kind, spin, threads)

    def write_cube(self, path: PathLike, what: Union[int, str] = "density", *,
                   spacing: Optional[float] = None, shape: Union[None, int, Sequence[int]] = None,
                   margin: Optional[float] = None, threads: Optional[int] = None,
                   beta: bool = False, spin: bool = False, allow_large: bool = False,
                   kind: str = "SCF") -> None:
        """Write a Gaussian cube file of one orbital, one density or a potential on a box of points.

        ``what``: "density" (the SCF density), "spin" (the SCF spin density), a density
        kind ("MP2", ...; its spin density with ``spin=True``), "potential" (the
        electrostatic potential of density ``kind``, Hartree/e; of its spin density alone
        with ``spin=True``), "homo", "lumo" or a 0-based
        orbital index (the alpha set, the beta one with ``beta=True``). The box is aligned
        with the axes and reaches ``margin`` Angstrom beyond the atoms (default 4 Bohr,
        2.117 A); its points lie ``spacing`` Angstrom apart (default 1/6 Bohr, 0.0882 A,
        Gaussian's medium grid), or ``shape`` points per axis (an int or three) spread
        over it. The file holds Bohr and atomic units, as Gaussian's. A box of more than
        400^3 points needs ``allow_large=True``. Bad arguments raise ValueError and
        write nothing; the file appears whole or not at all.
        """
        plan = _grid.plan_cube(self, what, spacing=spacing, shape=shape, margin=margin, beta=beta,
                               spin=spin, allow_large=allow_large, kind=kind)
        _grid.write_cube(self, path, plan, threads)

    # --- Python protocol ----------------------------------------------------
    def __reduce__(self) -> Tuple[Any, Tuple[bytes, str]]:
        return (_from_state, (self._reader.state(), self.path))

    def __repr__(self) -> str:
        name = os.path.basename(self.path) if self.path else "?"
        return (f"<Checkpoint {formula(self.symbols)} {self.method}/{self.basis_set} "
                f"E={self.scf_energy:.8f} Eh ({name})>")

    def to_iodata(self) -> Any:
        """This checkpoint as an ``iodata.IOData`` (needs qc-iodata)."""
        return _iodata.to_iodata(self)

"""Vexmora: a fast reader for the binary checkpoint files (.chk) of Gaussian 09/16.

``vexmora.load(path)`` returns a :class:`Checkpoint`: the molecule, job,
orbitals, basis, densities and Hessian as NumPy arrays (Angstrom, Hartree,
0-based indices)::

    import vexmora
    ckpt = vexmora.load("water.chk")
    ckpt.mo_coefficients_alpha        # (nmo, n_basis), a read-only view

``vexmora.convert_many`` converts many files, on any executor;
``vexmora.dataset`` makes one table of them (pyarrow). The low-level,
specified interface is the extension module :mod:`Vexmora_`, whose classes are
re-exported here.
"""
from Vexmora_ import ChkParams, ChkReader_, Mol

from .checkpoint import DENSITY_KINDS, FORMATS, Checkpoint, Vibrations, load
from .convert import ConversionResult, convert_many
from ._dataset import DatasetResult, dataset, write_dataset
from ._esp import EspCharges
from ._spectra import Spectrum
from ._thermo import Thermochemistry
from .symmetry import PointGroup, point_group
from .errors import CheckpointError, WriteError

__version__ = "0.1.0"

__all__ = ["ChkParams", "ChkReader_", "Mol", "Checkpoint", "CheckpointError", "WriteError",
           "Vibrations", "load",
           "DENSITY_KINDS", "FORMATS", "ConversionResult", "convert_many", "PointGroup", "point_group",
           "EspCharges", "Spectrum", "Thermochemistry", "DatasetResult", "dataset", "write_dataset", "__version__"]

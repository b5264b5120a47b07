"""The constants and type names the Checkpoint class and its helper modules share,
so that the helpers need not import checkpoint.py (which imports them)."""
from __future__ import annotations

import os
from typing import Dict, Tuple, Union

from . import _core
from ._pyformats import PYTHON_FORMATS

PathLike = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]

#: The density kinds in record order, as the .fchk section labels name them
#: ("SCF" of "Total SCF Density").
DENSITY_KINDS: Tuple[str, ...] = tuple(n[: -len(" Density")] for n in _core.density_names)

#: Output format -> file suffix, from the writers' table in the core and the
#: Python writers' (PySCF's checkpoint, QCSchema); each is written by
#: :meth:`Checkpoint.write`.
FORMATS: Dict[str, str] = {**{f.name: f.suffix for f in _core.output_formats},
                           **{name: f[0] for name, f in PYTHON_FORMATS.items()}}

#: How far (relative squared length) stored orbitals may be from orthonormal
#: before the orbital writers warn: Gaussian's own are within 1e-5, ADMP's off by ~1.
ORTHONORMALITY_TOLERANCE = 1e-4

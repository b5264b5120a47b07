"""Vexmora: a fast reader for the binary checkpoint files (.chk) of Gaussian 09/16.

The reader itself is the extension module :mod:`Vexmora_`; this package
re-exports its classes::

    import vexmora
    reader = vexmora.ChkReader_("water.chk")
    print(reader.params.mol.coords)
"""
from Vexmora_ import ChkParams, ChkReader_, Mol

__version__ = "0.1.0"

__all__ = ["ChkParams", "ChkReader_", "Mol", "__version__"]

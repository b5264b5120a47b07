"""A Gaussian .chk parser to extract basic information.

All energy values are in Hartree, length values are in Angstrom.
"""
from typing import List, Union

import numpy
import numpy.typing

_Path = Union[str, bytes, bytearray]
_F64 = numpy.typing.NDArray[numpy.float64]

class ChkParams:
    @property
    def mol(self) -> Mol:
        """The mol structure"""
    @property
    def route(self) -> str:
        """The route string"""
    @property
    def gauver(self) -> str:
        """The gaussian version description"""
    @property
    def title(self) -> str:
        """The title section description"""
    @property
    def method(self) -> str:
        """The method section, such as RB3LYP"""
    @property
    def baset(self) -> str:
        """The basis set section, such as def2SVP"""
    @property
    def jobtype(self) -> str:
        """The job type section, such as SP, Freq"""
    @property
    def info1_9(self) -> List[int]:
        """The info 1-9 array"""
    @property
    def genarr(self) -> List[float]:
        """The scalar data of the calculation (Gen array), size=1000"""
    @property
    def viratio(self) -> float:
        """Virial Ratio"""
    @property
    def scfene(self) -> float:
        """SCF Energy"""
    @property
    def totene(self) -> float:
        """Total Energy"""

class Mol:
    @property
    def hessian(self) -> _F64:
        """The hessian Matrix (3N*3N)"""
    @property
    def names(self) -> List[str]:
        """The atom element names"""
    @property
    def atomicnums(self) -> List[int]:
        """The atomic numbers"""
    @property
    def orblabels(self) -> List[str]:
        """The atomic orbital labels"""
    @property
    def nucchg(self) -> List[float]:
        """The nuclear charges"""
    @property
    def coords(self) -> _F64:
        """The atomic coords (N*3), unit is Angstrom"""
    @property
    def cell(self) -> _F64:
        """The cell size (3*3) of molecule, unit is Angstrom"""
    @property
    def ne(self) -> int:
        """The number of electrons"""
    @property
    def nae(self) -> int:
        """The number of alpha electrons"""
    @property
    def nbe(self) -> int:
        """The number of beta electrons"""
    @property
    def nbasis(self) -> int:
        """The number of basis functions"""
    @property
    def nbsuse(self) -> int:
        """The number of independent functions"""
    @property
    def ndim(self) -> int:
        """The number of translation vectors (0-3 dim)"""
    @property
    def aoene(self) -> List[float]:
        """The Alpha Orbital Energies"""
    @property
    def boene(self) -> List[float]:
        """The Beta Orbital Energies"""
    @property
    def amocoeff(self) -> List[float]:
        """The Alpha MO coefficients"""
    @property
    def bmocoeff(self) -> List[float]:
        """The Beta MO coefficients"""
    @property
    def orthbasis(self) -> List[float]:
        """The Orthonormal basis"""
    @property
    def shelltypes(self) -> List[int]:
        """The Shell types"""
    @property
    def shellnprim(self) -> List[int]:
        """The number of primitives per shell"""
    @property
    def shell2map(self) -> List[int]:
        """Shell to atom map"""
    @property
    def primexp(self) -> List[float]:
        """Primitive exponents"""
    @property
    def concoeff(self) -> List[float]:
        """Contraction coefficients"""
    @property
    def spconcoeff(self) -> List[float]:
        """P(S=P) Contraction coefficients"""
    @property
    def cshell(self) -> _F64:
        """Coordinates of each shell, unit is Angstrom"""
    @property
    def totdens(self) -> List[List[float]]:
        """Total density"""
    @property
    def spindens(self) -> List[List[float]]:
        """Spin density"""
    @property
    def natoms(self) -> int:
        """The number of atoms"""
    @property
    def totchg(self) -> int:
        """The total charge of molecule"""
    @property
    def multiplicity(self) -> int:
        """The multiplicity of molecule"""

class ChkReader_:
    def __init__(self, fchk: _Path) -> None: ...
    def write_gjf(self, fgjf: _Path) -> None:
        """Write a gjf file based on the information of .chk"""
    def write_fchk(self, fname: _Path) -> None:
        """Write a formatted fchk file based on the partial information of .chk"""
    @property
    def params(self) -> ChkParams:
        """The ChkParams class"""
    @property
    def ilsw(self) -> List[int]:
        """The ILSW array"""
    @property
    def rlsw(self) -> List[float]:
        """The RLSW array"""

"""The output formats written in Python (PySCF's checkpoint, QCSchema JSON), their
file handling, and the :class:`~vexmora.Checkpoint` methods that hand the
wavefunction to PySCF and QCSchema.

A Python writer writes, as the core's do, into a temporary file beside the
target and renames it into place: the output appears whole or not at all, an
existing file keeps its permissions, a symbolic link keeps pointing where it
did, and an output that is the checkpoint read is refused before anything is
written.
"""
from __future__ import annotations

import errno as errno_
import itertools
import os
import stat
from contextlib import contextmanager
from typing import TYPE_CHECKING, Any, Callable, Dict, Iterator, Optional, Sequence, Tuple

from ._outputs import input_ids, refuse_inputs
from .errors import WriteError

if TYPE_CHECKING:  # pragma: no cover
    from .checkpoint import Checkpoint, PathLike


def _write_pyscf(ckpt: "Checkpoint", path: "PathLike") -> None:
    ckpt.write_pyscf_chk(path)


def _write_qcschema(ckpt: "Checkpoint", path: "PathLike") -> None:
    ckpt.write_qcschema(path)


def _need_pyscf() -> None:
    from ._pyscf import import_pyscf

    import_pyscf()


#: name -> (suffix, description, writer, check that its dependencies are installed).
PYTHON_FORMATS: Dict[str, Tuple[str, str, Callable[["Checkpoint", "PathLike"], None],
                                Optional[Callable[[], None]]]] = {
    "pyscf": (".pyscf.h5", "PySCF's HDF5 checkpoint of the mean field (needs PySCF)",
              _write_pyscf, _need_pyscf),
    "qcschema": (".qcschema.json", "QCSchema AtomicResult with the basis, orbitals and densities",
                 _write_qcschema, None),
}


def check_available(fmt: str) -> None:
    """Raise ImportError when ``fmt`` needs a package that is not installed."""
    need = PYTHON_FORMATS[fmt][3] if fmt in PYTHON_FORMATS else None
    if need is not None:
        need()


_counter = itertools.count()


def _fail(exc: OSError, target: str) -> WriteError:
    err = exc.errno or errno_.EIO
    return WriteError(err, exc.strerror or os.strerror(err), target)


@contextmanager
def whole_file(path: "PathLike", inputs: Sequence[str]) -> Iterator[str]:
    """A temporary path beside ``path`` to write; renamed onto ``path`` when the block
    ends without an exception, removed otherwise. ``path`` being one of ``inputs``
    (by any name or link) raises :class:`WriteError` first; so does a failure to
    write, with the system's errno. An existing device or pipe is written in place."""
    target = os.fsdecode(path)
    refuse_inputs([target], input_ids([p for p in inputs if p]))
    final = os.path.realpath(target) if os.path.islink(target) else target
    try:
        st: Optional[os.stat_result] = os.stat(final)
    except OSError:
        st = None
    if st is not None and stat.S_ISDIR(st.st_mode):
        raise WriteError(errno_.EISDIR, os.strerror(errno_.EISDIR), target)
    if st is not None and not stat.S_ISREG(st.st_mode):  # a device or pipe: written in place
        try:
            yield final
        except OSError as exc:
            raise (exc if isinstance(exc, WriteError) else _fail(exc, target)) from None
        return
    folder, base = os.path.split(final)
    while True:
        tmp = os.path.join(folder, f".{base[:200]}.{os.getpid()}-{next(_counter)}.tmp")
        try:  # mode 0666 less the umask, as any new file; a replaced file keeps its mode
            fd = os.open(tmp, os.O_WRONLY | os.O_CREAT | os.O_EXCL | getattr(os, "O_CLOEXEC", 0), 0o666)
            break
        except FileExistsError:
            continue
        except OSError as exc:
            raise _fail(exc, target) from None
    try:
        try:
            if st is not None:
                os.fchmod(fd, stat.S_IMODE(st.st_mode))
        finally:
            os.close(fd)
        yield tmp
        os.replace(tmp, final)
    except OSError as exc:
        _remove(tmp)
        raise (exc if isinstance(exc, WriteError) else _fail(exc, target)) from None
    except BaseException:
        _remove(tmp)
        raise


def _remove(path: str) -> None:
    try:
        os.unlink(path)
    except OSError:
        pass


class ExchangeMixin:
    """The :class:`~vexmora.Checkpoint` methods that hand the wavefunction to PySCF and QCSchema."""

    def to_pyscf(self, xc: Optional[str] = None) -> Any:
        """PySCF's mean-field object of the job (needs PySCF: ``pip install 'vexmora[pyscf]'``).

        An ``RHF``, ``UHF`` or ``ROHF`` (``RKS``, ``UKS``, ``ROKS`` for DFT) with
        ``mo_coeff`` (n_ao, n_mo) (2, n_ao, n_mo) unrestricted, ``mo_energy`` (Hartree),
        ``mo_occ`` and ``e_tot`` (the SCF energy) set, and ``mf.mol`` built: Bohr
        coordinates as stored, the charge, spin Nα - Nβ, symmetry off, ghost centres
        as ``ghost-`` atoms. The basis is the checkpoint's, SP shells split into S
        and P, the orbitals in PySCF's order and normalisation (pure m = -l .. +l,
        Cartesian functions scaled to PySCF's norms), so that they are orthonormal
        in ``mol.intor("int1e_ovlp")``.

        A basis that mixes pure and Cartesian shells (6-31G(d)'s 6D with pure f,
        7F) becomes Cartesian (``cart=True``): each pure shell's functions are
        expressed in its Cartesian ones. The orbitals, the density and the energy
        stay exactly, in a larger space, so ``mo_coeff`` has more rows than
        orbitals, ``converged`` is False and a :class:`CartesianLiftWarning` says
        that an SCF continued there is a different variational problem.

        ``xc``: PySCF's functional; by default the exact equivalent of Gaussian's
        (B3LYP is ``b3lypg``, with Gaussian's VWN; PBE1PBE ``pbe0``; B2PLYP its SCF
        part; the table is ``vexmora._pyscf.XC``); a functional with a term PySCF
        lacks (wB97X-D's and GD3 dispersion, a solvent) is used without it, with a
        :class:`MissingTermWarning`. ``xc="HF"`` gives Hartree-Fock; an unknown
        method raises ValueError. An ECP job (nuclear charges below the atomic
        numbers) raises :class:`CheckpointError`: the checkpoint's core potentials
        are not read, and a molecule without them would be wrong; so do a
        checkpoint without orbitals and complex orbitals.
        """
        from ._pyscf import to_pyscf

        return to_pyscf(self._checkpoint(), xc)

    def write_pyscf_chk(self, path: "PathLike") -> None:
        """Write PySCF's own HDF5 checkpoint (``pyscf.scf.chkfile.dump_scf``): the
        molecule and the orbitals of :meth:`to_pyscf`, with the SCF energy, which
        ``mf.init_guess_by_chkfile``, ``mf.chkfile`` restarts and
        ``pyscf.lib.chkfile.load_mol`` read. Needs PySCF (and its h5py). The file
        appears whole or not at all and never replaces the checkpoint read."""
        from ._pyscf import write_pyscf_chk

        write_pyscf_chk(self._checkpoint(), path)

    def to_qcschema(self) -> Dict[str, Any]:
        """A QCSchema AtomicResult (schema ``qcschema_output`` v1) as a JSON-ready dict.

        The molecule (Bohr), the model, the energies, and the wavefunction: the
        basis with each shell's ``harmonic_type``, the SCF orbitals (n_ao, n_mo),
        eigenvalues (Hartree), occupations per spin and densities (alpha, beta) in
        QCSchema's AO order, the CCA standard of libint: pure functions m = -l .. +l,
        Cartesian ones xx, xy, xz, yy, yz, zz, normalised as libint does (x^l to
        one); p shells Cartesian (x, y, z). Restricted open-shell orbitals are
        given for both spins. Validated by ``qcelemental`` where it is installed
        (a ValueError when it refuses). Raises CheckpointError without orbitals.
        """
        from ._qcschema import to_qcschema

        return to_qcschema(self._checkpoint())

    def write_qcschema(self, path: "PathLike") -> None:
        """Write :meth:`to_qcschema` as a JSON file, whole or not at all."""
        from ._qcschema import write_qcschema

        write_qcschema(self._checkpoint(), path)

    def _checkpoint(self) -> "Checkpoint":
        from .checkpoint import Checkpoint

        assert isinstance(self, Checkpoint)
        return self

"""Builds synthetic Gaussian checkpoint files, record by record, for the tests.

A checkpoint is a sequence of little-endian 8-byte words: N and L (the number
of directory entries and the length of the file in words), two more header
words, N directory entries of four words (label, begin, end, aux), then the
records. :class:`ChkBuilder` lays this out from a list of records and can damage
the result on purpose.
"""
from __future__ import annotations

import math
import struct
from dataclasses import dataclass, field
from pathlib import Path
from typing import Iterable, List, Optional, Sequence, Union

Part = Union[bytes, bytearray, Sequence[int], Sequence[float]]


def ints(values: Iterable[int]) -> bytes:
    """Signed 64-bit words."""
    vals = list(values)
    return struct.pack(f"<{len(vals)}q", *vals)


def reals(values: Iterable[float]) -> bytes:
    """IEEE 754 doubles."""
    vals = [float(v) for v in values]
    return struct.pack(f"<{len(vals)}d", *vals)


def text(s: Union[str, bytes], width: Optional[int] = None, pad: bytes = b" ") -> bytes:
    """Bytes of a text, padded with ``pad`` (blanks by default) to ``width``."""
    b = s.encode() if isinstance(s, str) else bytes(s)
    if width is not None:
        if len(b) > width:
            raise ValueError("text longer than its field")
        b += pad * (width - len(b))
    return b


def words(part: Part) -> bytes:
    """A record part as bytes: bytes pass through, ints and floats become words."""
    if isinstance(part, (bytes, bytearray)):
        return bytes(part)
    vals = list(part)
    if all(isinstance(v, int) and not isinstance(v, bool) for v in vals):
        return ints(vals)
    return reals(vals)


@dataclass
class Record:
    label: int
    data: bytes
    #: Overrides the directory's length of the record, in words (to damage it).
    length: Optional[int] = None
    aux: int = 0


@dataclass
class ChkBuilder:
    """A checkpoint under construction: a list of records in file order."""

    records: List[Record] = field(default_factory=list)
    header_words: Sequence[int] = (0, 0)

    def add(self, label: int, *parts: Part, length: Optional[int] = None) -> "ChkBuilder":
        """Append a record made of ``parts`` (concatenated, padded to whole words)."""
        data = b"".join(words(p) for p in parts)
        data += b"\0" * (-len(data) % 8)
        self.records.append(Record(label, data, length))
        return self

    def replace(self, label: int, *parts: Part, length: Optional[int] = None) -> "ChkBuilder":
        """Replace the content of the first record ``label`` (keeping its place)."""
        i = next(k for k, r in enumerate(self.records) if r.label == label)
        data = b"".join(words(p) for p in parts)
        data += b"\0" * (-len(data) % 8)
        self.records[i] = Record(label, data, length)
        return self

    def remove(self, *labels: int) -> "ChkBuilder":
        """Drop every record with one of ``labels``."""
        self.records = [r for r in self.records if r.label not in labels]
        return self

    def build(
        self,
        *,
        length_words: Optional[int] = None,
        extra_bytes: bytes = b"",
        entries: Optional[int] = None,
        truncate_words: Optional[int] = None,
    ) -> bytes:
        """The file's bytes.

        ``length_words`` overrides L in the header, ``extra_bytes`` are appended
        after L is computed, ``entries`` overrides N (e.g. a directory longer
        than the file) and ``truncate_words`` cuts the file (and L) to that many
        words, so the last records are cut short while the header stays valid.
        """
        n = len(self.records)
        pos = 4 + 4 * n
        directory = []
        body = b""
        for rec in self.records:
            nwords = len(rec.data) // 8
            end = pos + (rec.length if rec.length is not None else nwords)
            directory.append((rec.label, pos, end, rec.aux))
            body += rec.data
            pos += nwords
        total = pos
        if truncate_words is not None:
            total = truncate_words
        head_len = length_words if length_words is not None else total
        head = ints([entries if entries is not None else n, head_len, *self.header_words])
        out = head + b"".join(ints(e) for e in directory) + body
        out = out[: total * 8]
        return out + extra_bytes

    def write(self, path: Union[str, Path], **kwargs: object) -> str:
        """Write the file (see :meth:`build` for the damage options); returns the path."""
        Path(path).write_bytes(self.build(**kwargs))  # type: ignore[arg-type]
        return str(path)


# ---------------------------------------------------------------------------
# Record contents, one helper per record kind. Each returns the record's bytes
# for :meth:`ChkBuilder.add`; defaults describe a plausible small job.

LABEL_FLAG = -12345
#: Atom-type codes whose shells the reader keeps.
KEPT_ATOM_TYPE = 0


def switches(ilsw: Optional[dict] = None, rlsw: Sequence[float] = ()) -> bytes:
    """Record 998: 100 integer switches, then 100 real switch words.

    ``ilsw`` maps switch numbers to values; entry 57 (the number of real
    switches) defaults to ``len(rlsw)``.
    """
    iv = [0] * 100
    iv[57] = len(rlsw)
    for k, v in (ilsw or {}).items():
        iv[k] = v
    rv = list(rlsw) + [0.0] * (100 - len(rlsw))
    return ints(iv) + reals(rv)


def general(values: Optional[dict] = None) -> bytes:
    """Record 501: the 1000 general reals (0 virial ratio, 31 SCF energy, 42 total energy)."""
    gen = [0.0] * 1000
    for k, v in (values or {}).items():
        gen[k] = v
    return reals(gen)


def labels(title: Union[str, bytes] = "A test job", route: Union[str, bytes] = "#p HF/STO-3G",
           fields: Sequence[Union[str, bytes]] = (), flag: int = LABEL_FLAG,
           end: bytes = b"\a") -> bytes:
    """Record 502: flag, three unused words, 800-byte title, 32000-byte route,
    then the label fields, each closed by a backslash, and the end byte."""
    tail = b"".join(text(f) + b"\\" for f in fields) + end
    return ints([flag, 0, 0, 0]) + text(title, 800) + text(route, 32000) + tail


def job(info: Sequence[int] = (0,) * 9, method: str = "HF", basis: str = "STO-3G",
        raw: Optional[bytes] = None) -> bytes:
    """Record 993: the nine integers of info1_9, then 'method\\basis\\' in 1528 bytes.

    info[6] is the job kind (itype) and info[4] the optimisation kind (ipf).
    """
    body = raw if raw is not None else text(f"{method}\\{basis}\\")
    return ints(list(info)) + text(body, 1528, pad=b"\0")


def version(s: str = "ES64L-G16RevA.03") -> bytes:
    """Record 801: the program version text."""
    return text(s, -(-len(s) // 8) * 8)


def mol(atomicnums: Sequence[int], coords: Sequence[Sequence[float]], *, moltyp: int = -12348,
        hdrlen: int = 20, charge: int = 0, multiplicity: int = 1, nae: int = 1, nbe: int = 1,
        ne: Optional[int] = None, nbasis: int = 2, nbsuse: Optional[int] = None, ndim: int = 0,
        cell: Sequence[Sequence[float]] = ((0.0,) * 3,) * 3,
        nucchg: Optional[Sequence[float]] = None, atomtypes: Optional[Sequence[int]] = None,
        header_extra: Sequence[int] = (), natoms: Optional[int] = None) -> bytes:
    """Record 997 (/Mol/) in any of the five layouts; coordinates in Bohr.

    ``hdrlen`` is the header length H for the layouts other than -12345 (which
    has 12); ``header_extra`` fills header words after the counts, ``natoms``
    overrides the stored count.
    """
    n = len(atomicnums) if natoms is None else natoms
    counts = [n, charge, multiplicity, nae, nbe, nae + nbe if ne is None else ne, nbasis,
              nbasis if nbsuse is None else nbsuse, 0, ndim, 0]
    if moltyp == -12345:
        head = [moltyp] + counts
    else:
        head = [moltyp, hdrlen] + counts + list(header_extra)
        if len(head) > hdrlen:
            raise ValueError("header longer than its stated length")
        head += [0] * (hdrlen - len(head))
    nat = len(atomicnums)
    z = list(atomicnums) + [0] * 3
    q = list(nucchg) if nucchg is not None else [float(a) for a in atomicnums]
    xyz = [float(c) for p in coords for c in p] + [float(c) for row in cell for c in row]
    types = list(atomtypes) if atomtypes is not None else [KEPT_ATOM_TYPE] * nat
    return ints(head) + ints(z) + reals(q + [0.0] * 3) + reals(xyz) + ints(types + [0] * 3)


@dataclass
class Shell:
    """One stored shell: its atom (1-based), type T, constraint C, exponents and
    the stored coefficients of each angular momentum (raw primitives)."""

    atom: int
    T: int
    exps: Sequence[float]
    coefs: dict  # L -> coefficients, one per exponent
    C: Optional[int] = None  # default: T (single L), 0 for an SP shell given L 0 and 1
    centre: Sequence[float] = (0.0, 0.0, 0.0)

    def cons(self) -> int:
        if self.C is not None:
            return self.C
        return 0 if (self.T == 1 and 0 in self.coefs) else self.T


def raw_coefs(coefs: Sequence[float], exps: Sequence[float], L: int) -> List[float]:
    """Stored coefficients (of raw primitives x^L exp(-a r^2)) for coefficients
    of normalised primitives."""
    dfact = 1.0
    for k in range(2 * L - 1, 1, -2):
        dfact *= k
    out = []
    for c, a in zip(coefs, exps):
        s = (math.pi / (2 * a)) ** 1.5 * dfact / (4 * a) ** L
        out.append(c / math.sqrt(s))
    return out


def basis(shells: Sequence[Shell], *, bhdr1: int = 1, bhdr4: int = 0, bhdr5: int = 0,
          header: Optional[Sequence[int]] = None, **arrays: Sequence[float]) -> bytes:
    """Record 670 (/B/) from shells in stored order; ``arrays`` replaces any of
    the eighteen arrays by name (e.g. ``shellprimptr=[...]``) to damage it, and
    ``header`` replaces the six counts."""
    a: dict = {k: [] for k in ("primexp", "primconc", "primspconc", "hiconc1", "hiconc2",
                               "shellhiptr", "shellx", "shelly", "shellz", "shell2map",
                               "shellprimptr", "shellnprim", "shelltypes", "shellcons",
                               "shellaux2", "shellaux3", "shellaux4", "shellaux5")}
    for sh in shells:
        n = len(sh.exps)
        a["shellprimptr"].append(len(a["primexp"]) + 1)
        a["primexp"] += list(sh.exps)
        a["primconc"] += list(sh.coefs.get(0, [0.0] * n))
        a["primspconc"] += list(sh.coefs.get(1, [0.0] * n))
        if sh.T >= 2:
            a["shellhiptr"].append(len(a["hiconc1"]) + 1)
            a["hiconc1"] += list(sh.coefs.get(2, [0.0] * n))
            high = [sh.coefs[L] for L in range(3, sh.T + 1) if L in sh.coefs]
            a["hiconc2"] += list(high[-1]) if high else [0.0] * n
        else:
            a["shellhiptr"].append(0)
        for k, key in enumerate(("shellx", "shelly", "shellz")):
            a[key].append(float(sh.centre[k]))
        a["shell2map"].append(sh.atom)
        a["shellnprim"].append(n)
        a["shelltypes"].append(sh.T)
        a["shellcons"].append(sh.cons())
        a["shellaux2"].append(0)
        a["shellaux3"].append(0)
        a["shellaux4"].append(0.0)
        a["shellaux5"].append(0.0)
    a.update({k: list(v) for k, v in arrays.items()})
    counts = list(header) if header is not None else [
        len(shells), bhdr1, len(a["primexp"]), len(a["hiconc1"]), bhdr4, bhdr5]
    out = ints(counts + [0] * (32 - len(counts)))
    for key, vals in a.items():
        out += reals(vals) if key in _REAL_BASIS_ARRAYS else ints(vals)
    return out


_REAL_BASIS_ARRAYS = {"primexp", "primconc", "primspconc", "hiconc1", "hiconc2", "shellx",
                      "shelly", "shellz", "shellaux4", "shellaux5"}


def orientation(rot: Sequence[Sequence[float]] = ((1, 0, 0), (0, 1, 0), (0, 0, 1)),
                shift: Sequence[float] = (0.0, 0.0, 0.0)) -> bytes:
    """Record 551: two words, 24 integers, the rotation M stored column after
    column (``rot[i][j]`` is M(i, j)), then the shift in Bohr."""
    cols = [float(rot[i][j]) for j in range(3) for i in range(3)]
    return ints([0, 0] + [0] * 24) + reals(cols) + reals(shift)


def lower_triangle(m: Sequence[Sequence[float]]) -> List[float]:
    """Row-wise packed lower triangle of a square matrix (records 585, 603)."""
    return [float(m[r][c]) for r in range(len(m)) for c in range(r + 1)]


def densities(mask: int, *blocks: Sequence[float], word: Optional[int] = None) -> bytes:
    """Record 603: the selection word (mask in its upper 32 bits unless ``word``
    is given), then the selected blocks back to back."""
    sel = (mask << 32) if word is None else word
    return ints([sel]) + b"".join(reals(b) for b in blocks)


#: Exponents and normalised-primitive coefficients of the STO-3G hydrogen 1s.
H1S_EXPS = (3.42525091, 0.62391373, 0.16885540)
H1S_COEFS = (0.15432897, 0.53532814, 0.44463454)


def h2(bond: float = 1.4) -> ChkBuilder:
    """A complete closed-shell H2 RHF/STO-3G single point (two s shells, two
    basis functions), coordinates in Bohr; tests replace or add records."""
    xyz = [(0.0, 0.0, 0.0), (0.0, 0.0, bond)]
    stored = raw_coefs(H1S_COEFS, H1S_EXPS, 0)
    shells = [Shell(atom=i + 1, T=0, exps=H1S_EXPS, coefs={0: stored}, centre=xyz[i])
              for i in range(2)]
    b = ChkBuilder()
    b.add(998, switches())
    b.add(501, general({0: 2.0, 31: -1.1167, 42: -1.1167}))
    b.add(502, labels("H2 test", "#p HF/STO-3G", ["1", "H 1S", "2", "H 1S"]))
    b.add(993, job([0] * 9, "HF", "STO-3G"))
    b.add(801, version())
    b.add(997, mol([1, 1], xyz, nbasis=2))
    b.add(670, basis(shells))
    b.add(522, reals([-0.578, 0.670]))
    b.add(524, reals([0.5489, 0.5489, 1.2114, -1.2114]))
    return b

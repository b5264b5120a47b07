"""Synthetic Gaussian checkpoints, record by record: little-endian 8-byte words, N and L
(directory entries, file length in words), two more header words, N entries (label, begin,
end, aux), the records. Each helper below makes one record, by default of a small job."""
from __future__ import annotations

import math
import struct
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any, Dict, List, Optional, Sequence, Tuple, Union

Part = Union[bytes, Sequence[int], Sequence[float]]


def ints(values: Sequence[int]) -> bytes:
    return struct.pack(f"<{len(values)}q", *values)


def reals(values: Sequence[float]) -> bytes:
    return struct.pack(f"<{len(values)}d", *map(float, values))


def text(s: Union[str, bytes], width: Optional[int] = None, pad: bytes = b" ") -> bytes:
    """Bytes of a text padded with ``pad`` to ``width``."""
    b = s.encode() if isinstance(s, str) else bytes(s)
    return b if width is None else b.ljust(width, pad)


def words(parts: Sequence[Part]) -> bytes:
    """Parts joined and padded to whole words; lists of ints become integer words."""
    out = b"".join(p if isinstance(p, (bytes, bytearray)) else
                   ints(p) if all(type(v) is int for v in p) else reals(p) for p in parts)
    return out + b"\0" * (-len(out) % 8)


@dataclass
class ChkBuilder:
    """A checkpoint under construction: (label, data, length override) in file order."""

    records: List[Tuple[int, bytes, Optional[int]]] = field(default_factory=list)
    header_words: Sequence[int] = (0, 0)

    def add(self, label: int, *parts: Part, length: Optional[int] = None) -> "ChkBuilder":
        self.records.append((label, words(parts), length))
        return self

    def replace(self, label: int, *parts: Part, length: Optional[int] = None) -> "ChkBuilder":
        i = [r[0] for r in self.records].index(label)
        self.records[i] = (label, words(parts), length)
        return self

    def remove(self, *labels: int) -> "ChkBuilder":
        self.records = [r for r in self.records if r[0] not in labels]
        return self

    def start(self, label: Optional[int] = None) -> int:
        """Word at which record ``label`` (by default the last one) begins."""
        i = len(self.records) - 1 if label is None else [r[0] for r in self.records].index(label)
        return 4 + 4 * len(self.records) + sum(len(r[1]) // 8 for r in self.records[:i])

    def build(self, *, length_words: Optional[int] = None, extra: bytes = b"",
              entries: Optional[int] = None, cut: Optional[int] = None,
              entry: Optional[Tuple[int, Dict[str, int]]] = None) -> bytes:
        """The file; overrides: L, N, bytes appended, the file ending ``cut`` words
        into its last record, and (label, {"begin"/"end": value}) of one entry."""
        pos, directory, body = 4 + 4 * len(self.records), [], b""
        for label, data, length in self.records:
            fields = {"begin": pos, "end": pos + (len(data) // 8 if length is None else length)}
            if entry is not None and entry[0] == label:
                fields.update(entry[1])
            directory += [label, fields["begin"], fields["end"], 0]
            body += data
            pos += len(data) // 8
        total = pos if cut is None else self.start() + cut
        head = [len(self.records) if entries is None else entries,
                total if length_words is None else length_words, *self.header_words]
        return (ints(head) + ints(directory) + body)[: total * 8] + extra

    def write(self, path: Union[str, Path], **kw: Any) -> str:
        Path(path).write_bytes(self.build(**kw))
        return str(path)


def switches(ilsw: Optional[Dict[int, int]] = None, rlsw: Sequence[float] = ()) -> bytes:
    """Record 998: 100 integer switches (57 counts the reals), then 100 real words."""
    iv = [0] * 100
    iv[57] = len(rlsw)
    for k, v in (ilsw or {}).items():
        iv[k] = v
    return ints(iv) + reals(list(rlsw) + [0.0] * (100 - len(rlsw)))


def general(values: Dict[int, float]) -> bytes:
    """Record 501: 1000 reals (0 virial ratio, 22 RMS density, 31 SCF, 42 total energy)."""
    return reals([values.get(k, 0.0) for k in range(1000)])


def labels(title: Union[str, bytes] = "A test job", route: Union[str, bytes] = "#p HF/STO-3G",
           fields: Sequence[Union[str, bytes]] = (), flag: int = -12345,
           end: bytes = b"\a") -> bytes:
    """Record 502: flag, three words, 800-byte title, 32000-byte route, fields closed by '\\'."""
    tail = b"".join(text(f) + b"\\" for f in fields) + end
    return ints([flag, 0, 0, 0]) + text(title, 800) + text(route, 32000) + tail


def job(info: Sequence[int] = (0,) * 9, method: str = "HF", basis: str = "STO-3G",
        raw: Optional[bytes] = None) -> bytes:
    """Record 993: info1_9 (6 itype, 4 ipf, 5 prefix control), 'method\\basis\\' in 1528 bytes."""
    return ints(list(info)) + text(raw if raw is not None else f"{method}\\{basis}\\", 1528, b"\0")


def mol(atomicnums: Sequence[int], coords: Sequence[Sequence[float]], *, moltyp: int = -12348,
        hdrlen: int = 20, charge: int = 0, multiplicity: int = 1, nae: int = 1, nbe: int = 1,
        ne: Optional[int] = None, nbasis: int = 2, nbsuse: Optional[int] = None, ndim: int = 0,
        cell: Sequence[Sequence[float]] = ((0.0,) * 3,) * 3,
        nucchg: Optional[Sequence[float]] = None, atomtypes: Optional[Sequence[int]] = None,
        natoms: Optional[int] = None) -> bytes:
    """Record 997 (/Mol/) in any layout (-12345 has a 12-word header); Bohr."""
    counts = [len(atomicnums) if natoms is None else natoms, charge, multiplicity, nae, nbe,
              nae + nbe if ne is None else ne, nbasis, nbasis if nbsuse is None else nbsuse,
              0, ndim, 777]
    head = [moltyp] + counts if moltyp == -12345 else [moltyp, hdrlen] + counts
    head += [777] * (hdrlen - len(head)) if moltyp != -12345 else []
    n = len(atomicnums)
    q = list(nucchg) if nucchg is not None else [float(z) for z in atomicnums]
    xyz = [c for p in list(coords) + list(cell) for c in p]
    return (ints(head[:hdrlen]) + ints(list(atomicnums) + [0] * 3) + reals(q + [0.0] * 3) +
            reals(xyz) + ints(list(atomtypes or [0] * n) + [0] * 3))


@dataclass
class Shell:
    """A stored shell: atom (from 1), type T, exponents, coefficients by L, constraint C
    (default T, or 0 for an SP shell given L 0 and 1)."""

    atom: int
    T: int
    exps: Sequence[float]
    coefs: Dict[int, Sequence[float]]
    C: Optional[int] = None
    centre: Sequence[float] = (0.0, 0.0, 0.0)

    def cons(self) -> int:
        return self.C if self.C is not None else 0 if self.T == 1 and 0 in self.coefs else self.T


def overlap(L: int, a: float, b: float) -> float:
    """One-centre overlap of the raw primitives x^L exp(-a r^2) and x^L exp(-b r^2)."""
    return (math.pi / (a + b)) ** 1.5 * math.prod(range(2 * L - 1, 0, -2)) / (2 * (a + b)) ** L


def nfunc(code: int, cartesian: bool = False) -> int:
    """Functions of a shell of type ``code`` (-1 SP, below -1 pure) or of its Cartesian form."""
    t = abs(code)
    return 4 if code == -1 else (t + 1) * (t + 2) // 2 if code >= 0 or cartesian else 2 * t + 1


def raw_coefs(coefs: Sequence[float], exps: Sequence[float], L: int) -> List[float]:
    """Stored (raw-primitive) coefficients for coefficients of normalised primitives."""
    return [c / math.sqrt(overlap(L, a, a)) for c, a in zip(coefs, exps)]


BASIS_ARRAYS = ("primexp", "primconc", "primspconc", "hiconc1", "hiconc2", "shellhiptr", "shellx",
                "shelly", "shellz", "shell2map", "shellprimptr", "shellnprim", "shelltypes",
                "shellcons", "shellaux2", "shellaux3", "shellaux4", "shellaux5")


def basis(shells: Sequence[Shell], *, bhdr4: int = 0, bhdr5: int = 0,
          header: Optional[Sequence[int]] = None, **arrays: Sequence[float]) -> bytes:
    """Record 670 (/B/) of ``shells``; ``arrays`` and ``header`` replace parts to damage it."""
    a: Dict[str, List[Any]] = {k: [] for k in BASIS_ARRAYS}
    for sh in shells:
        n, zero = len(sh.exps), [0.0] * len(sh.exps)
        a["shellprimptr"].append(len(a["primexp"]) + 1)
        a["primexp"] += sh.exps
        a["primconc"] += sh.coefs.get(0, zero)
        a["primspconc"] += sh.coefs.get(1, zero)
        a["shellhiptr"].append(len(a["hiconc1"]) + 1 if sh.T >= 2 else 0)
        if sh.T >= 2:
            a["hiconc1"] += sh.coefs.get(2, zero)
            a["hiconc2"] += sh.coefs.get(sh.T, zero) if sh.T >= 3 else zero
        for k, v in zip(BASIS_ARRAYS[6:], [*sh.centre, sh.atom, 0, n, sh.T,
                                          sh.cons(), 0, 0, 0.0, 0.0]):
            if k != "shellprimptr":
                a[k].append(v)
    a.update({k: list(v) for k, v in arrays.items()})
    counts = header or [len(shells), 1, len(a["primexp"]), len(a["hiconc1"]), bhdr4, bhdr5]
    return ints(list(counts) + [0] * (32 - len(counts))) + b"".join(
        reals(v) if k in BASIS_ARRAYS[:5] + BASIS_ARRAYS[6:9] + BASIS_ARRAYS[16:] else ints(v)
        for k, v in a.items())


def orientation(rot: Sequence[Sequence[float]] = ((1, 0, 0), (0, 1, 0), (0, 0, 1)), shift: Sequence[float] = (0.0,) * 3,
                subgroup: int = 0) -> bytes:
    """Record 551: 26 words (the second the order of the Abelian subgroup Gaussian used),
    the rotation stored column after column, the shift."""
    return ints([0, subgroup] + [0] * 24) + reals([rot[i][j] for j in range(3) for i in range(3)]) + reals(shift)


def lower_triangle(m: Any) -> List[float]:
    """Row-wise packed lower triangle (records 585, 603)."""
    return [float(m[r][c]) for r in range(len(m)) for c in range(r + 1)]


def densities(mask: int, *blocks: Sequence[float], word: Optional[int] = None) -> bytes:
    """Record 603: selection word (mask in its upper half), then the blocks."""
    return ints([mask << 32 if word is None else word]) + b"".join(reals(b) for b in blocks)


H1S_EXPS = (3.42525091, 0.62391373, 0.16885540)
H1S_COEFS = (0.15432897, 0.53532814, 0.44463454)
H2_XYZ = ((0.0, 0.0, 0.0), (0.0, 0.0, 1.4))


def h1s(centres: Sequence[Sequence[float]] = H2_XYZ,
        atoms: Optional[Sequence[int]] = None) -> List[Shell]:
    """STO-3G hydrogen 1s shells at ``centres`` on atoms 1, 2, ... (or ``atoms``)."""
    stored = {0: raw_coefs(H1S_COEFS, H1S_EXPS, 0)}
    return [Shell(a, 0, H1S_EXPS, stored, centre=c)
            for a, c in zip(atoms or range(1, len(centres) + 1), centres)]


def h2() -> ChkBuilder:
    """A complete closed-shell H2 RHF/STO-3G single point, Bohr; tests change records."""
    return (ChkBuilder().add(998, switches()).add(501, general({0: 2.0, 31: -1.1167, 42: -1.1167}))
            .add(502, labels("H2 test", "#p HF/STO-3G", ["1", "H 1S", "2", "H 1S"]))
            .add(993, job()).add(801, text("ES64L-G16RevA.03")).add(997, mol([1, 1], H2_XYZ))
            .add(670, basis(h1s())).add(522, reals([-0.578, 0.670]))
            .add(524, reals([0.5489, 0.5489, 1.2114, -1.2114])))


def h2_job(tmp: Path, name: str = "h2.chk") -> Path:
    """The builder's H2 with an SCF density and a Hessian, written to ``tmp/name``."""
    b = h2().add(603, densities(1, lower_triangle([[0.6, 0.3], [0.3, 0.6]])))
    b.add(585, reals([0.01 * (k + 1) for k in range(21)]))
    return Path(b.write(tmp / name))


def last(label: int, data: bytes, length: Optional[int] = None) -> ChkBuilder:
    """H2 with record ``label`` moved to the end, behind room for any length up to the file's."""
    return h2().remove(label).add(4242, reals([0.0] * 5000)).add(label, data, length=length)


def read(tmp_path: Path, b: Union[ChkBuilder, bytes], **kw: Any) -> Any:
    """The reader of the built file."""
    import Vexmora_
    path = tmp_path / "t.chk"
    path.write_bytes(b if isinstance(b, bytes) else b.build(**kw))
    return Vexmora_.ChkReader_(fchk=str(path))


XYZ3 = H2_XYZ + ((1.1, -0.7, 2.5),)


def with_basis(shells: Sequence[Shell], natoms: int = 2, atomtypes: Optional[Sequence[int]] = None,
               **kw: Any) -> ChkBuilder:
    """H2 with ``natoms`` atoms of XYZ3 and a basis record of ``shells``, each on its atom."""
    on = [Shell(s.atom, s.T, s.exps, s.coefs, s.C, XYZ3[s.atom - 1] if 0 < s.atom <= 3 else
                (0.0,) * 3) for s in shells]
    return h2().replace(997, mol([1] * natoms, XYZ3[:natoms], atomtypes=atomtypes)).replace(
        670, basis(on, **kw))

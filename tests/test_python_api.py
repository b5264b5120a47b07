"""What Python sees of the extension: argument names and types, read-only
properties, object lifetimes, documentation, the ``vexmora`` package and its
command line."""
from __future__ import annotations

import contextlib
import gc
import os
import pathlib
import re
import subprocess
import sys
import weakref
from importlib import metadata
from pathlib import Path
from typing import Any, Callable, List, Tuple

import numpy as np
import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent))
from chkbuilder import ChkBuilder, h2, job, labels, mol, reals, switches, text  # noqa: E402

Vexmora_ = pytest.importorskip("Vexmora_")

ROOT = Path(__file__).resolve().parents[1]
XYZ = ((0.0, 0.0, 0.0), (0.0, 0.0, 1.4))  # the atoms of h2(), in Bohr
CELL = ((10.0, 0.0, 0.0), (0.5, 12.0, 0.0), (0.25, -0.75, 14.0))  # Bohr, one row per vector

DOC_PREFIX = (
    "A Gaussian .chk parser to extract basic information. All energy values are in Hartree, "
    "length values are in Angstrom. <br><br> <b>No warranty</b> is provided for the correctness "
    "of this program. If you observe inconsistencies or anomalies during use, "
)

# Every property: (class, name, docstring, kind of value).
PROPERTIES: List[Tuple[str, str, str, str]] = [
    ("ChkParams", "mol", "The mol structure", "Mol"),
    ("ChkParams", "route", "The route string", "str"),
    ("ChkParams", "gauver", "The gaussian version description", "str"),
    ("ChkParams", "title", "The title section description", "str"),
    ("ChkParams", "method", "The method section, such as RB3LYP", "str"),
    ("ChkParams", "baset", "The basis set section, such as def2SVP", "str"),
    ("ChkParams", "jobtype", "The job type section, such as SP, Freq", "str"),
    ("ChkParams", "info1_9", "The info 1-9 array", "list[int]"),
    ("ChkParams", "genarr", "The scalar data of the calculation (Gen array), size=1000",
     "list[float]"),
    ("ChkParams", "viratio", "Virial Ratio", "float"),
    ("ChkParams", "scfene", "SCF Energy", "float"),
    ("ChkParams", "totene", "Total Energy", "float"),
    ("Mol", "hessian", "The hessian Matrix (3N*3N)", "array"),
    ("Mol", "names", "The atom element names", "list[str]"),
    ("Mol", "atomicnums", "The atomic numbers", "list[int]"),
    ("Mol", "orblabels", "The atomic orbital labels", "list[str]"),
    ("Mol", "nucchg", "The nuclear charges", "list[float]"),
    ("Mol", "coords", "The atomic coords (N*3), unit is Angstrom", "array"),
    ("Mol", "cell", "The cell size (3*3) of molecule, unit is Angstrom", "array"),
    ("Mol", "ne", "The number of electrons", "int"),
    ("Mol", "nae", "The number of alpha electrons", "int"),
    ("Mol", "nbe", "The number of beta electrons", "int"),
    ("Mol", "nbasis", "The number of basis functions", "int"),
    ("Mol", "nbsuse", "The number of independent functions", "int"),
    ("Mol", "ndim", "The number of translation vectors (0-3 dim)", "int"),
    ("Mol", "aoene", "The Alpha Orbital Energies", "list[float]"),
    ("Mol", "boene", "The Beta Orbital Energies", "list[float]"),
    ("Mol", "amocoeff", "The Alpha MO coefficients", "list[float]"),
    ("Mol", "bmocoeff", "The Beta MO coefficients", "list[float]"),
    ("Mol", "orthbasis", "The Orthonormal basis", "list[float]"),
    ("Mol", "shelltypes", "The Shell types", "list[int]"),
    ("Mol", "shellnprim", "The number of primitives per shell", "list[int]"),
    ("Mol", "shell2map", "Shell to atom map", "list[int]"),
    ("Mol", "primexp", "Primitive exponents", "list[float]"),
    ("Mol", "concoeff", "Contraction coefficients", "list[float]"),
    ("Mol", "spconcoeff", "P(S=P) Contraction coefficients", "list[float]"),
    ("Mol", "cshell", "Coordinates of each shell, unit is Angstrom", "array"),
    ("Mol", "totdens", "Total density", "list9"),
    ("Mol", "spindens", "Spin density", "list9"),
    ("Mol", "natoms", "The number of atoms", "int"),
    ("Mol", "totchg", "The total charge of molecule", "int"),
    ("Mol", "multiplicity", "The multiplicity of molecule", "int"),
    ("ChkReader_", "params", "The ChkParams class", "ChkParams"),
    ("ChkReader_", "ilsw", "The ILSW array", "list[int]"),
    ("ChkReader_", "rlsw", "The RLSW array", "list[float]"),
]
#: Lists that the closed-shell H2 job leaves empty (no beta orbitals, no
#: orthonormal basis record, no SP shells).
EMPTY_FOR_H2 = {"boene", "bmocoeff", "orthbasis", "spconcoeff"}


def owner_of(reader: Any, cls: str) -> Any:
    """The object of class ``cls`` reached from a reader."""
    return {"ChkReader_": reader, "ChkParams": reader.params, "Mol": reader.params.mol}[cls]


def fds_on(path: str) -> int:
    """How many of this process's descriptors are open on ``path``."""
    if not os.path.isdir("/proc/self/fd"):
        pytest.skip("no /proc/self/fd on this machine")
    links = []
    for fd in os.listdir("/proc/self/fd"):
        with contextlib.suppress(OSError):  # the descriptor of the listing itself is gone
            links.append(os.readlink(f"/proc/self/fd/{fd}"))
    return links.count(os.path.realpath(path))


@pytest.fixture
def chk(tmp_path: Path) -> str:
    """A complete H2 job with a Hessian (21 distinct values), a cell and two real switches."""
    b = h2().replace(997, mol([1, 1], XYZ, nbasis=2, ndim=3, cell=CELL))
    b.replace(998, switches(rlsw=[1.5, -2.5]))
    return b.add(585, reals([0.5 + i for i in range(21)])).write(tmp_path / "job.chk")


@pytest.fixture
def reader(chk: str) -> Any:
    return Vexmora_.ChkReader_(fchk=chk)


# --- arguments: keyword names and types -------------------------------------

# Keyword names: (the right one, a wrong one).
KEYWORDS = {"constructor": ("fchk", "fname"), "write_fchk": ("fname", "fgjf"),
            "write_gjf": ("fgjf", "fname")}


@pytest.mark.parametrize("where", KEYWORDS)
def test_arguments(chk: str, reader: Any, where: str, tmp_path: Path,
                   monkeypatch: pytest.MonkeyPatch) -> None:
    """One path, passed by its keyword; anything else is a TypeError and writes
    nothing. A str holding lone surrogates (os.fsdecode of a name that is not
    UTF-8) cannot be encoded, so it is refused too: such names go as bytes."""
    monkeypatch.chdir(tmp_path)
    good, bad = KEYWORDS[where]
    ctor = where == "constructor"
    call = Vexmora_.ChkReader_ if ctor else getattr(reader, where)
    assert f"{good}: str" in (call.__init__ if ctor else call).__doc__
    path = chk if ctor else "out"
    result = call(**{good: path})
    assert result.params.title == "H2 test" if ctor else result is None
    wrong = [((), {bad: "x"}), ((), {}), (("a", "b"), {}), ((3,), {}),
             ((pathlib.Path("a.chk"),), {}), (("\udcff.chk",), {})]
    for args, kwargs in wrong:
        with pytest.raises(TypeError, match="incompatible (constructor|function) arguments"):
            call(*args, **kwargs)
    assert sorted(p.name for p in tmp_path.iterdir()) == ["job.chk"] + ([] if ctor else ["out"])


@pytest.mark.parametrize("convert, name", [
    (os.fsdecode, b"t.chk"),
    (bytes, b"\xff\xfe.chk"),  # bytes need not be UTF-8
    (bytearray, b"t.chk"),
], ids=["str", "bytes", "bytearray"])
def test_path_as_str_bytes_or_bytearray(tmp_path: Path, convert: Callable[[bytes], Any],
                                        name: bytes) -> None:
    folder = os.fsencode(str(tmp_path)) + b"/"
    h2().write(os.fsdecode(folder + name))
    r = Vexmora_.ChkReader_(convert(folder + name))
    assert r.params.mol.natoms == 2
    r.write_fchk(convert(folder + b"o.fchk"))
    r.write_gjf(convert(folder + b"o.gjf"))
    assert (tmp_path / "o.fchk").read_text().startswith("H2 test")
    assert (tmp_path / "o.gjf").read_bytes().startswith(b"%chk=")


# --- paths and texts that are not UTF-8 -------------------------------------

@pytest.mark.parametrize("where, message", [("constructor", "Can not open/write file: "),
                                            ("write_fchk", "Can not write file: "),
                                            ("write_gjf", "Can not write file: ")])
def test_failure_report_with_undecodable_path(tmp_path: Path, where: str, message: str) -> None:
    """Every failure is a RuntimeError carrying the report, whatever bytes the
    path holds: bytes that are not UTF-8 are shown as backslash escapes."""
    r = Vexmora_.ChkReader_(h2().write(tmp_path / "job.chk"))
    call = Vexmora_.ChkReader_ if where == "constructor" else getattr(r, where)
    with pytest.raises(RuntimeError) as info:
        call(os.fsencode(str(tmp_path)) + b"/no\xff/x")
    report = str(info.value)
    end = "" if where == "constructor" else ": No such file or directory"
    assert report.startswith(f"Error: {message}{tmp_path}/no\\xff/x{end}\n\nSource File:\t")
    assert "\nFunction:\t" in report


@pytest.mark.parametrize("where, message", [("constructor", "Can not open/write file: "),
                                            ("write_fchk", "Can not write file: "),
                                            ("write_gjf", "Can not write file: ")])
@pytest.mark.parametrize("as_bytes", [False, True])
def test_path_with_nul_byte_names_no_file(tmp_path: Path, where: str, message: str,
                                          as_bytes: bool) -> None:
    """The C library would stop at the NUL and use another file without a word."""
    chk = h2().write(tmp_path / "job.chk")
    r = Vexmora_.ChkReader_(chk)
    target = (chk if where == "constructor" else str(tmp_path / "out")) + "\0tail"
    call = Vexmora_.ChkReader_ if where == "constructor" else getattr(r, where)
    with pytest.raises(RuntimeError) as info:
        call(os.fsencode(target) if as_bytes else target)
    shown = target.replace("\0", "\\0")
    end = "" if where == "constructor" else ": Invalid argument"
    assert str(info.value).startswith(f"Error: {message}{shown}{end}\n\nSource File:\t")
    assert sorted(p.name for p in tmp_path.iterdir()) == ["job.chk"]


@pytest.mark.parametrize("name, damage", [
    ("title", lambda b: b.replace(502, labels(title=b"bad \xff\xfe text"))),
    ("route", lambda b: b.replace(502, labels(route=b"#p \xc3 HF"))),
    ("method", lambda b: b.replace(993, job(raw=b"H\xffF\\STO-3G\\"))),
    ("baset", lambda b: b.replace(993, job(raw=b"HF\\\xfeSTO\\"))),
    ("gauver", lambda b: b.replace(801, text(b"ES64\xff   "))),
    ("orblabels", lambda b: b.replace(502, labels(fields=[b"1", b"H \xff1S", b"2", b"H 1S"]))),
])
def test_text_that_is_not_utf8(tmp_path: Path, name: str,
                               damage: Callable[[ChkBuilder], ChkBuilder]) -> None:
    r = Vexmora_.ChkReader_(damage(h2()).write(tmp_path / "job.chk"))
    with pytest.raises(UnicodeDecodeError):
        getattr(r.params.mol if name == "orblabels" else r.params, name)
    # only that getter fails: the parse and the other texts are fine
    assert r.params.mol.natoms == 2 and r.params.jobtype == "SP"
    others = {"title", "route", "method", "baset", "gauver"} - {name}
    assert all(isinstance(getattr(r.params, other), str) for other in others)
    r.write_fchk(str(tmp_path / "o.fchk"))  # the writers work on bytes
    assert (tmp_path / "o.fchk").stat().st_size > 0


# --- the properties ---------------------------------------------------------

@pytest.mark.parametrize("cls, name, kind", [(c, n, k) for c, n, _, k in PROPERTIES],
                         ids=[f"{c}.{n}" for c, n, _, _ in PROPERTIES])
def test_property_value_and_access(reader: Any, cls: str, name: str, kind: str) -> None:
    """The type of each value; lists and length arrays are fresh copies on
    every access, the Hessian a read-only view; nothing can be set or deleted."""
    obj = owner_of(reader, cls)
    value = getattr(obj, name)
    if kind in ("Mol", "ChkParams"):
        assert type(value) is getattr(Vexmora_, kind)
    elif kind == "array":
        assert isinstance(value, np.ndarray) and value.dtype == np.float64 and value.ndim == 2
        if name == "hessian":  # a read-only view of the reader's own matrix
            assert not value.flags.writeable and np.shares_memory(value, getattr(obj, name))
            with pytest.raises(ValueError, match="read-only"):
                value[0, 0] = 1.0
        else:  # length arrays: fresh, writable copies
            expected = value.copy()
            assert value.flags.writeable and not np.shares_memory(value, getattr(obj, name))
            value[...] = 7.0
            np.testing.assert_array_equal(getattr(obj, name), expected)
    elif kind.startswith("list"):
        element = {"list[int]": int, "list[float]": float, "list[str]": str, "list9": list}[kind]
        assert type(value) is list and all(type(v) is element for v in value)
        assert len(value) == 9 if kind == "list9" else bool(value) != (name in EMPTY_FOR_H2)
        snapshot = [list(v) if type(v) is list else v for v in value]
        for inner in value:  # the inner lists of a density are fresh too
            if type(inner) is list:
                inner.append(1.0)
        value.append(None)
        assert getattr(obj, name) == snapshot
    else:
        assert type(value) is {"str": str, "int": int, "float": float}[kind]
    with pytest.raises(AttributeError):
        setattr(obj, name, value)
    with pytest.raises(AttributeError):
        delattr(obj, name)


def test_objects_take_no_new_attributes_and_records_no_constructor(reader: Any) -> None:
    for obj in (reader, reader.params, reader.params.mol):
        with pytest.raises(AttributeError):
            obj.extra = 1  # type: ignore[attr-defined]
    for cls in ("ChkParams", "Mol"):
        with pytest.raises(TypeError, match="No constructor defined"):
            getattr(Vexmora_, cls)()


# --- lifetimes --------------------------------------------------------------

@pytest.mark.parametrize("keep", ["reader", "params", "mol", "hessian"])
def test_what_is_held_keeps_the_reader_and_its_file(chk: str, keep: str) -> None:
    """The file stays open for the reader's whole life, which lasts while any
    object reached from it is held, and closes when the last one goes."""
    before = fds_on(chk)
    r = Vexmora_.ChkReader_(chk)
    alive = weakref.ref(r)
    held = {"reader": lambda: r, "params": lambda: r.params, "mol": lambda: r.params.mol,
            "hessian": lambda: r.params.mol.hessian}[keep]()
    del r
    gc.collect()
    assert alive() is not None and fds_on(chk) == before + 1
    if keep == "hessian":
        assert (held[0, 0], held[5, 5]) == (0.5, 20.5)
        with pytest.raises(ValueError):
            held.setflags(write=True)  # a view of memory it does not own
    else:
        p = held.params if keep == "reader" else held if keep == "params" else None
        m = held if p is None else p.mol
        assert m.names == ["H", "H"] and m.aoene == [-0.578, 0.670] and m.hessian[5, 5] == 20.5
        assert p is None or (p.title, p.route) == ("H2 test", "#p HF/STO-3G")
        del p, m
    del held
    gc.collect()
    assert alive() is None and fds_on(chk) == before


def test_failed_parse_leaves_no_file_open(tmp_path: Path) -> None:
    bad = h2().write(tmp_path / "bad.chk", extra_bytes=b"\0")
    before = fds_on(bad)
    for _ in range(3):
        with pytest.raises(RuntimeError, match="^Error: Not a valid .chk file"):
            Vexmora_.ChkReader_(bad)
    gc.collect()
    assert fds_on(bad) == before


# --- documentation ----------------------------------------------------------

def test_documentation() -> None:
    doc = Vexmora_.__doc__
    assert doc.startswith(DOC_PREFIX)
    notice = doc[len(DOC_PREFIX):]
    assert "issue" in notice and notice.rstrip().endswith(".")
    for cls in ("ChkParams", "Mol", "ChkReader_"):
        members = vars(getattr(Vexmora_, cls))
        props = {n: v for n, v in members.items() if isinstance(v, property)}
        assert {n: p.__doc__ for n, p in props.items()} == \
            {n: d for c, n, d, _ in PROPERTIES if c == cls}, cls
        assert all(p.fset is None for p in props.values())
        assert getattr(Vexmora_, cls).__doc__ is None
    assert Vexmora_.ChkReader_.write_gjf.__doc__.rstrip().endswith(
        "Write a gjf file based on the information of .chk")
    assert Vexmora_.ChkReader_.write_fchk.__doc__.rstrip().endswith(
        "Write a formatted fchk file based on the partial information of .chk")


# --- the vexmora package and its command line -------------------------------

def test_package_exports_and_version() -> None:
    import vexmora

    for name in ("ChkReader_", "ChkParams", "Mol"):
        assert getattr(vexmora, name) is getattr(Vexmora_, name)
    assert not hasattr(Vexmora_.ChkParams, "Mol")  # a module attribute, not nested
    declared = re.search(r'^version\s*=\s*"([^"]+)"', (ROOT / "pyproject.toml").read_text(),
                         re.MULTILINE)
    assert declared is not None
    assert vexmora.__version__ == declared.group(1) == metadata.version("vexmora")


def run_cli(cwd: Path, *args: str) -> "subprocess.CompletedProcess[str]":
    return subprocess.run([sys.executable, "-m", "vexmora", *args], cwd=cwd,
                          capture_output=True, text=True, timeout=120)


def test_cli(tmp_path: Path) -> None:
    h2().write(tmp_path / "h2.chk")
    done = run_cli(tmp_path, "h2.chk", "-o", "out.fchk", "--gjf", "sub.gjf")
    assert done.returncode == 0, done.stderr
    lines = done.stdout.splitlines()
    assert "Wrote out.fchk" in lines and "Wrote sub.gjf" in lines
    assert any("H2 test" in line for line in lines)
    assert (tmp_path / "out.fchk").read_text().startswith("H2 test")
    assert (tmp_path / "sub.gjf").read_text().startswith("%chk=h2.chk\n#p HF/STO-3G\n")
    # a failure: its first line only, exit status 1, nothing written
    done = run_cli(tmp_path, "missing.chk", "-o", "missing.fchk")
    assert done.returncode == 1
    assert done.stderr.strip() == "vexmora: missing.chk: No such file or directory"
    assert not (tmp_path / "missing.fchk").exists()

"""What Python sees of the extension: argument names and types, read-only
properties, object lifetimes, documentation, the ``vexmora`` package and its
command line."""
from __future__ import annotations

import gc
import os
import pathlib
import re
import subprocess
import sys
import weakref
from importlib import metadata
from pathlib import Path
from typing import Any, Callable, Dict, List, Tuple

import numpy as np
import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent))
from chkbuilder import ChkBuilder, h2, job, labels, mol, reals, switches, text  # noqa: E402

Vexmora_ = pytest.importorskip("Vexmora_")

ROOT = Path(__file__).resolve().parents[1]
BOHR = 0.529177249
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
PROPERTY_IDS = [f"{c}.{n}" for c, n, _, _ in PROPERTIES]
LIST_PROPERTIES = [(c, n) for c, n, _, k in PROPERTIES if k.startswith("list")]


# --- helpers ----------------------------------------------------------------

def h2_with_hessian() -> ChkBuilder:
    """H2 with a Hessian (21 distinct values), a cell and two real switches."""
    b = h2().replace(997, mol([1, 1], XYZ, nbasis=2, ndim=3, cell=CELL))
    b.replace(998, switches(rlsw=[1.5, -2.5]))
    return b.add(585, reals([0.5 + i for i in range(21)]))


def write_chk(tmp_path: Path, b: ChkBuilder, name: str = "job.chk") -> str:
    return b.write(tmp_path / name)


def owner_of(reader: Any, cls: str) -> Any:
    """The object of class ``cls`` reached from a reader."""
    return {"ChkReader_": reader, "ChkParams": reader.params,
            "Mol": reader.params.mol}[cls]


def fds_on(path: str) -> int:
    """How many of this process's descriptors are open on ``path``."""
    fd_dir = Path("/proc/self/fd")
    if not fd_dir.is_dir():
        pytest.skip("no /proc/self/fd on this machine")
    target = os.path.realpath(path)
    count = 0
    for fd in os.listdir(fd_dir):
        try:
            if os.readlink(fd_dir / fd) == target:
                count += 1
        except OSError:  # the descriptor of the listing itself is gone by now
            pass
    return count


@pytest.fixture
def chk(tmp_path: Path) -> str:
    """A complete H2 job with Hessian and cell."""
    return write_chk(tmp_path, h2_with_hessian())


@pytest.fixture
def reader(chk: str) -> Any:
    return Vexmora_.ChkReader_(fchk=chk)


# --- arguments: keyword names and types -------------------------------------

def test_constructor_keyword_is_fchk(chk: str) -> None:
    assert Vexmora_.ChkReader_(fchk=chk).params.title == "H2 test"
    with pytest.raises(TypeError, match="incompatible constructor arguments"):
        Vexmora_.ChkReader_(fname=chk)
    with pytest.raises(TypeError):
        Vexmora_.ChkReader_()


@pytest.mark.parametrize("method, good, bad", [("write_fchk", "fname", "fgjf"),
                                                ("write_gjf", "fgjf", "fname")])
def test_writer_keyword_names(reader: Any, tmp_path: Path, method: str, good: str,
                              bad: str) -> None:
    out = tmp_path / "out.txt"
    assert getattr(reader, method)(**{good: str(out)}) is None
    assert out.read_text().startswith(("H2 test", "%chk="))
    with pytest.raises(TypeError, match="incompatible function arguments"):
        getattr(reader, method)(**{bad: str(tmp_path / "other.txt")})
    assert not (tmp_path / "other.txt").exists()


def test_signatures_name_the_keywords() -> None:
    assert "fname: str" in Vexmora_.ChkReader_.write_fchk.__doc__
    assert "fgjf: str" in Vexmora_.ChkReader_.write_gjf.__doc__
    assert "fchk: str" in Vexmora_.ChkReader_.__init__.__doc__


@pytest.mark.parametrize("convert", [str, os.fsencode, lambda p: bytearray(os.fsencode(p))],
                         ids=["str", "bytes", "bytearray"])
def test_path_as_str_bytes_or_bytearray(tmp_path: Path, convert: Callable[[str], Any]) -> None:
    r = Vexmora_.ChkReader_(convert(write_chk(tmp_path, h2())))
    assert r.params.mol.natoms == 2
    r.write_fchk(convert(str(tmp_path / "o.fchk")))
    r.write_gjf(convert(str(tmp_path / "o.gjf")))
    assert (tmp_path / "o.fchk").read_text().startswith("H2 test")
    assert (tmp_path / "o.gjf").read_text().startswith("%chk=")


# A str holding lone surrogates (os.fsdecode of a name that is not UTF-8)
# cannot be encoded, so it is refused like any other wrong argument: such
# names are passed as bytes.
WRONG_PATHS = [None, 3, 2.5, ["a.chk"], pathlib.Path("a.chk"), "\udcff.chk", memoryview(b"a")]
WRONG_IDS = ["None", "int", "float", "list", "pathlib", "surrogates", "memoryview"]


@pytest.mark.parametrize("arg", WRONG_PATHS, ids=WRONG_IDS)
def test_constructor_rejects_other_argument_types(arg: object) -> None:
    with pytest.raises(TypeError, match="incompatible constructor arguments"):
        Vexmora_.ChkReader_(arg)


@pytest.mark.parametrize("method", ["write_fchk", "write_gjf"])
@pytest.mark.parametrize("arg", WRONG_PATHS, ids=WRONG_IDS)
def test_writers_reject_other_argument_types(reader: Any, method: str, arg: object,
                                             tmp_path: Path, monkeypatch: pytest.MonkeyPatch) -> None:
    monkeypatch.chdir(tmp_path)
    with pytest.raises(TypeError, match="incompatible function arguments"):
        getattr(reader, method)(arg)
    assert sorted(p.name for p in tmp_path.iterdir()) == ["job.chk"]  # nothing written


def test_too_many_arguments(chk: str, reader: Any, tmp_path: Path) -> None:
    with pytest.raises(TypeError):
        Vexmora_.ChkReader_(chk, chk)
    with pytest.raises(TypeError):
        reader.write_fchk(str(tmp_path / "a"), str(tmp_path / "b"))


# --- paths and texts that are not UTF-8 -------------------------------------

def test_bytes_path_that_is_not_utf8(tmp_path: Path) -> None:
    raw = os.fsencode(str(tmp_path)) + b"/\xff\xfe.chk"
    h2().write(os.fsdecode(raw))
    r = Vexmora_.ChkReader_(raw)
    assert r.params.mol.natoms == 2
    out = os.fsencode(str(tmp_path)) + b"/\xff.fchk"
    r.write_fchk(out)
    assert os.path.exists(out)


@pytest.mark.parametrize("where", ["constructor", "write_fchk", "write_gjf"])
def test_failure_report_with_undecodable_path(tmp_path: Path, where: str) -> None:
    """Every failure is a RuntimeError carrying the report, whatever bytes the
    path holds: bytes that are not UTF-8 are shown as backslash escapes."""
    missing = os.fsencode(str(tmp_path)) + b"/no\xff/x"
    if where == "constructor":
        call: Callable[[], object] = lambda: Vexmora_.ChkReader_(missing)  # noqa: E731
        message = "Error: Can not open/write file: "
    else:
        r = Vexmora_.ChkReader_(write_chk(tmp_path, h2()))
        call = lambda: getattr(r, where)(missing)  # noqa: E731
        message = "Error: Can not write file: "
    with pytest.raises(RuntimeError) as info:
        call()
    report = str(info.value)
    assert report.startswith(message + str(tmp_path) + "/no\\xff/x\n\n")
    assert "\n\nSource File:\t" in report and "\nFunction:\t" in report


BAD = b"bad \xff\xfe text"


@pytest.mark.parametrize("name, damage", [
    ("title", lambda b: b.replace(502, labels(title=BAD))),
    ("route", lambda b: b.replace(502, labels(route=b"#p \xc3 HF"))),
    ("method", lambda b: b.replace(993, job(raw=b"H\xffF\\STO-3G\\"))),
    ("baset", lambda b: b.replace(993, job(raw=b"HF\\\xfeSTO\\"))),
    ("gauver", lambda b: b.replace(801, text(b"ES64\xff   "))),
    ("orblabels", lambda b: b.replace(502, labels(fields=[b"1", b"H \xff1S", b"2", b"H 1S"]))),
])
def test_text_that_is_not_utf8(tmp_path: Path, name: str,
                               damage: Callable[[ChkBuilder], ChkBuilder]) -> None:
    r = Vexmora_.ChkReader_(write_chk(tmp_path, damage(h2())))
    owner = r.params.mol if name == "orblabels" else r.params
    with pytest.raises(UnicodeDecodeError):
        getattr(owner, name)
    # only that getter fails: the parse and the other texts are fine
    assert r.params.mol.natoms == 2 and r.params.jobtype == "SP"
    others = {"title", "route", "method", "baset", "gauver"} - {name}
    for other in others:
        assert isinstance(getattr(r.params, other), str)
    r.write_fchk(str(tmp_path / "o.fchk"))  # the writers work on bytes
    assert (tmp_path / "o.fchk").stat().st_size > 0


# --- read-only objects ------------------------------------------------------

@pytest.mark.parametrize("cls, name", [(c, n) for c, n, _, _ in PROPERTIES], ids=PROPERTY_IDS)
def test_property_cannot_be_set_or_deleted(reader: Any, cls: str, name: str) -> None:
    obj = owner_of(reader, cls)
    value = getattr(obj, name)
    with pytest.raises(AttributeError):
        setattr(obj, name, value)
    with pytest.raises(AttributeError):
        delattr(obj, name)


def test_objects_take_no_new_attributes(reader: Any) -> None:
    for obj in (reader, reader.params, reader.params.mol):
        with pytest.raises(AttributeError):
            obj.extra = 1  # type: ignore[attr-defined]


@pytest.mark.parametrize("cls", ["ChkParams", "Mol"])
def test_records_cannot_be_constructed(cls: str) -> None:
    with pytest.raises(TypeError, match="No constructor defined"):
        getattr(Vexmora_, cls)()


def test_hessian_view_is_read_only(reader: Any) -> None:
    hess = reader.params.mol.hessian
    assert hess.shape == (6, 6) and hess.dtype == np.float64
    assert not hess.flags.writeable
    with pytest.raises(ValueError, match="read-only"):
        hess[0, 0] = 1.0
    with pytest.raises(ValueError):
        hess.setflags(write=True)  # a view of memory it does not own
    assert reader.params.mol.hessian[0, 0] == 0.5


# --- what the properties return ---------------------------------------------

# Lists that the closed-shell H2 job leaves empty (no beta orbitals, no
# orthonormal basis record, no SP shells).
EMPTY_FOR_H2 = {"boene", "bmocoeff", "orthbasis", "spconcoeff"}

@pytest.mark.parametrize("cls, name, kind", [(c, n, k) for c, n, _, k in PROPERTIES],
                         ids=PROPERTY_IDS)
def test_property_value_types(reader: Any, cls: str, name: str, kind: str) -> None:
    value = getattr(owner_of(reader, cls), name)
    if kind in ("Mol", "ChkParams"):
        assert type(value) is getattr(Vexmora_, kind)
    elif kind == "array":
        assert isinstance(value, np.ndarray) and value.dtype == np.float64 and value.ndim == 2
    elif kind == "list9":
        assert type(value) is list and len(value) == 9
        assert all(type(inner) is list for inner in value)
    elif kind.startswith("list["):
        element = {"list[int]": int, "list[float]": float, "list[str]": str}[kind]
        assert type(value) is list
        assert bool(value) != (name in EMPTY_FOR_H2)
        assert all(type(v) is element for v in value)
    else:
        assert type(value) is {"str": str, "int": int, "float": float}[kind]


@pytest.mark.parametrize("cls, name", LIST_PROPERTIES,
                         ids=[f"{c}.{n}" for c, n in LIST_PROPERTIES])
def test_lists_are_fresh_per_access(reader: Any, cls: str, name: str) -> None:
    obj = owner_of(reader, cls)
    first = getattr(obj, name)
    snapshot = [list(v) if isinstance(v, list) else v for v in first]
    assert first is not getattr(obj, name)
    if first:
        if isinstance(first[0], list):
            first[0].append(123.0)
        else:
            first[0] = "changed" if isinstance(first[0], str) else 123
    first.append(None)
    assert getattr(obj, name) == snapshot


def test_list_properties_empty_for_h2_are_lists(reader: Any) -> None:
    mol_ = reader.params.mol
    for name in sorted(EMPTY_FOR_H2):
        assert getattr(mol_, name) == []


@pytest.mark.parametrize("name, expected", [
    ("coords", np.asarray(XYZ) * BOHR),
    ("cshell", np.asarray(XYZ) * BOHR),
    ("cell", np.asarray(CELL) * BOHR),
], ids=["coords", "cshell", "cell"])
def test_length_arrays_in_angstrom(reader: Any, name: str, expected: np.ndarray) -> None:
    mol_ = reader.params.mol
    a = getattr(mol_, name)
    assert a.shape == expected.shape
    np.testing.assert_allclose(a, expected, rtol=1e-15, atol=0)
    assert a.flags.writeable and not np.shares_memory(a, getattr(mol_, name))
    if name != "cell":  # arrays built by the getter; the cell is a converted matrix
        assert a.flags.c_contiguous
    a[...] = 7.0
    np.testing.assert_allclose(getattr(mol_, name), expected, rtol=1e-15, atol=0)


def test_energies_come_from_genarr(reader: Any) -> None:
    p = reader.params
    assert len(p.genarr) == 1000
    assert (p.viratio, p.scfene, p.totene) == (p.genarr[0], p.genarr[31], p.genarr[42])
    assert (p.viratio, p.scfene, p.totene) == (2.0, -1.1167, -1.1167)


# --- lifetimes --------------------------------------------------------------

def test_mol_of_a_temporary_reader_stays_usable(chk: str) -> None:
    m = Vexmora_.ChkReader_(chk).params.mol
    gc.collect()
    assert m.natoms == 2 and m.names == ["H", "H"]
    np.testing.assert_allclose(m.coords, np.asarray(XYZ) * BOHR)
    assert m.aoene == [-0.578, 0.670]
    assert m.hessian[5, 5] == 20.5


def test_params_of_a_temporary_reader_stays_usable(chk: str) -> None:
    p = Vexmora_.ChkReader_(chk).params
    gc.collect()
    assert p.title == "H2 test" and p.route == "#p HF/STO-3G"
    assert p.mol.multiplicity == 1


def test_hessian_view_keeps_the_reader_alive(chk: str) -> None:
    r = Vexmora_.ChkReader_(chk)
    alive = weakref.ref(r)
    hess = r.params.mol.hessian
    expected = hess.copy()
    del r
    gc.collect()
    assert alive() is not None and fds_on(chk) == 1
    np.testing.assert_array_equal(hess, expected)
    del hess
    gc.collect()
    assert alive() is None and fds_on(chk) == 0


@pytest.mark.parametrize("keep", ["reader", "params", "mol", "hessian"])
def test_file_closed_when_the_last_reference_goes(chk: str, keep: str) -> None:
    before = fds_on(chk)
    r = Vexmora_.ChkReader_(chk)
    kept: Dict[str, Any] = {"reader": r, "params": r.params, "mol": r.params.mol,
                            "hessian": r.params.mol.hessian}
    held = kept[keep]
    del r, kept
    gc.collect()
    assert fds_on(chk) == before + 1  # open for the reader's whole life
    del held
    gc.collect()
    assert fds_on(chk) == before


def test_failed_parse_leaves_no_file_open(tmp_path: Path) -> None:
    bad = h2().write(tmp_path / "bad.chk", extra_bytes=b"\0")
    before = fds_on(bad)
    for _ in range(3):
        with pytest.raises(RuntimeError, match="^Error: Not a valid .chk file"):
            Vexmora_.ChkReader_(bad)
    gc.collect()
    assert fds_on(bad) == before


# --- failures seen from Python ----------------------------------------------

def test_open_failure_carries_the_whole_report(tmp_path: Path) -> None:
    missing = str(tmp_path / "missing.chk")
    with pytest.raises(RuntimeError) as info:
        Vexmora_.ChkReader_(missing)
    assert re.fullmatch(
        re.escape(f"Error: Can not open/write file: {missing}") +
        r"\n\nSource File:\t[^\n]*FileSerializer[^\n]*, Line: \d+\nFunction:\t[^\n]+",
        str(info.value))


@pytest.mark.parametrize("method", ["write_fchk", "write_gjf"])
@pytest.mark.parametrize("convert", [str, os.fsencode], ids=["str", "bytes"])
def test_unwritable_output_is_a_runtime_error(reader: Any, tmp_path: Path, method: str,
                                              convert: Callable[[str], Any]) -> None:
    target = str(tmp_path / "no-such-dir" / "out")
    with pytest.raises(RuntimeError) as info:
        getattr(reader, method)(convert(target))
    report = str(info.value)
    assert report.startswith(f"Error: Can not write file: {target}\n\nSource File:\t")
    assert "\nFunction:\t" in report
    assert reader.params.title == "H2 test"  # the reader is untouched


# --- documentation ----------------------------------------------------------

def test_module_docstring() -> None:
    doc = Vexmora_.__doc__
    assert doc.startswith(DOC_PREFIX)
    notice = doc[len(DOC_PREFIX):]
    assert "issue" in notice and notice.rstrip().endswith(".")


@pytest.mark.parametrize("cls, name, doc", [(c, n, d) for c, n, d, _ in PROPERTIES],
                         ids=PROPERTY_IDS)
def test_property_docstrings(cls: str, name: str, doc: str) -> None:
    prop = vars(getattr(Vexmora_, cls))[name]
    assert isinstance(prop, property) and prop.fset is None
    assert prop.__doc__ == doc


@pytest.mark.parametrize("cls", ["ChkParams", "Mol", "ChkReader_"])
def test_classes_have_exactly_the_listed_properties(cls: str) -> None:
    have = {n for n, v in vars(getattr(Vexmora_, cls)).items() if isinstance(v, property)}
    assert have == {n for c, n, _, _ in PROPERTIES if c == cls}
    assert getattr(Vexmora_, cls).__doc__ is None


def test_method_docstrings() -> None:
    assert Vexmora_.ChkReader_.write_gjf.__doc__.rstrip().endswith(
        "Write a gjf file based on the information of .chk")
    assert Vexmora_.ChkReader_.write_fchk.__doc__.rstrip().endswith(
        "Write a formatted fchk file based on the partial information of .chk")


# --- the vexmora package and its command line -------------------------------

def test_package_reexports_the_classes() -> None:
    import vexmora

    for name in ("ChkReader_", "ChkParams", "Mol"):
        assert getattr(vexmora, name) is getattr(Vexmora_, name)
    assert set(vexmora.__all__) == {"ChkReader_", "ChkParams", "Mol", "__version__"}
    assert not hasattr(Vexmora_.ChkParams, "Mol")  # a module attribute, not nested


def test_package_version() -> None:
    import vexmora

    declared = re.search(r'^version\s*=\s*"([^"]+)"', (ROOT / "pyproject.toml").read_text(),
                         re.MULTILINE)
    assert declared is not None
    assert vexmora.__version__ == declared.group(1)
    assert metadata.version("vexmora") == vexmora.__version__


def run_cli(cwd: Path, *args: str) -> "subprocess.CompletedProcess[str]":
    return subprocess.run([sys.executable, "-m", "vexmora", *args], cwd=cwd,
                          capture_output=True, text=True, timeout=120)


def test_cli_writes_both_files_and_says_where(tmp_path: Path) -> None:
    write_chk(tmp_path, h2(), "h2.chk")
    done = run_cli(tmp_path, "h2.chk", "-o", "out.fchk", "--gjf", "sub.gjf")
    assert done.returncode == 0, done.stderr
    lines = done.stdout.splitlines()
    assert "Wrote out.fchk" in lines and "Wrote sub.gjf" in lines
    assert any("H2 test" in line for line in lines)
    assert (tmp_path / "out.fchk").read_text().startswith("H2 test")
    gjf = (tmp_path / "sub.gjf").read_text()
    assert gjf.startswith("%chk=") and "#p HF/STO-3G" in gjf


def test_cli_reports_a_failure_in_one_line(tmp_path: Path) -> None:
    done = run_cli(tmp_path, "missing.chk", "-o", "out.fchk")
    assert done.returncode == 1
    assert done.stderr.strip() == "Error: Can not open/write file: missing.chk"
    assert not (tmp_path / "out.fchk").exists()

"""What Python sees: arguments and path types, failure reports (also for paths
that are not UTF-8 or hold a NUL), texts that are not UTF-8, read-only values,
lifetimes, the Gaussian input writer, the package and its command line."""
from __future__ import annotations

import gc
import os
import re
import subprocess
import sys
from importlib import metadata
from pathlib import Path
from typing import Any

import pytest

from chkbuilder import h2, job, labels, mol, read, reals, text

Vexmora_ = pytest.importorskip("Vexmora_")
ROOT = Path(__file__).resolve().parents[1]
OPEN, WRITE = "Can not open/write file: ", "Can not write file: "


@pytest.mark.parametrize("where, good, bad", [
    ("ChkReader_", "fchk", "fname"), ("write_fchk", "fname", "fgjf"), ("write_gjf", "fgjf", "fname")])
def test_arguments(tmp_path: Path, monkeypatch: pytest.MonkeyPatch, where: str, good: str,
                   bad: str) -> None:
    monkeypatch.chdir(tmp_path)
    r = read(tmp_path, h2())
    call = Vexmora_.ChkReader_ if where == "ChkReader_" else getattr(r, where)
    call(**{good: "t.chk" if where == "ChkReader_" else b"out"})
    for args, kwargs in [((), {bad: "x"}), ((), {}), (("a", "b"), {}), ((3,), {}),
                         ((Path("a.chk"),), {}), (("\udcff.chk",), {})]:
        with pytest.raises(TypeError, match="incompatible (constructor|function) arguments"):
            call(*args, **kwargs)
    assert sorted(os.listdir(tmp_path)) == sorted(["t.chk"] + ([] if where == "ChkReader_" else ["out"]))


@pytest.mark.parametrize("where, message", [("ChkReader_", OPEN), ("write_fchk", WRITE),
                                            ("write_gjf", WRITE)])
@pytest.mark.parametrize("name, shown", [(b"/no\xff/x", "/no\\xff/x"), (b"/x\0tail", "/x\\0tail"),
                                         (bytearray(b"/no/x"), "/no/x"), ("/no/x", "/no/x")])
def test_failure_reports_name_the_path(tmp_path: Path, where: str, message: str, name: Any,
                                       shown: str) -> None:
    r = read(tmp_path, h2())
    call = Vexmora_.ChkReader_ if where == "ChkReader_" else getattr(r, where)
    with pytest.raises(RuntimeError) as info:
        call(type(name)(os.fsencode(str(tmp_path)) + name) if type(name) is not str else
             str(tmp_path) + name)
    first, rest = str(info.value).split("\n", 1)
    reason = "" if where == "ChkReader_" else (
        ": Invalid argument" if "\\0" in shown else ": No such file or directory")
    assert first == f"Error: {message}{tmp_path}{shown}{reason}" and rest.startswith("\nSource File:\t")
    assert os.listdir(tmp_path) == ["t.chk"]  # nothing written, not even before a NUL


@pytest.mark.parametrize("name, damage", [
    ("title", lambda b: b.replace(502, labels(title=b"bad \xff"))),
    ("route", lambda b: b.replace(502, labels(route=b"#p \xc3 HF"))),
    ("method", lambda b: b.replace(993, job(raw=b"H\xffF\\STO-3G\\"))),
    ("baset", lambda b: b.replace(993, job(raw=b"HF\\\xfeSTO\\"))),
    ("gauver", lambda b: b.replace(801, text(b"ES64\xff   "))),
    ("orblabels", lambda b: b.replace(502, labels(fields=[b"1", b"H \xff1S"])))])
def test_text_that_is_not_utf8(tmp_path: Path, name: str, damage: Any) -> None:
    r = read(tmp_path, damage(h2()))
    with pytest.raises(UnicodeDecodeError):
        getattr(r.params.mol if name == "orblabels" else r.params, name)
    assert r.params.mol.natoms == 2 and r.params.jobtype == "SP"  # only that getter fails
    r.write_fchk(str(tmp_path / "o.fchk"))


def fds_on(path: str) -> int:
    return [os.path.realpath(f"/proc/self/fd/{fd}") for fd in os.listdir("/proc/self/fd")
            ].count(os.path.realpath(path))


def test_values_and_lifetimes(tmp_path: Path) -> None:
    """The Hessian is a read-only view that keeps the reader, and its open file, alive."""
    chk = h2().add(585, reals([0.5 + i for i in range(21)])).write(tmp_path / "t.chk")
    r = Vexmora_.ChkReader_(chk)
    hess, mol_ = r.params.mol.hessian, r.params.mol
    for obj, name in ((r, "params"), (r.params, "title"), (mol_, "coords"), (mol_, "natoms")):
        with pytest.raises(AttributeError):
            setattr(obj, name, getattr(obj, name))
    with pytest.raises(ValueError, match="read-only"):
        hess[0, 0] = 1.0
    coords = mol_.coords
    coords[...] = 7.0  # a fresh copy
    assert mol_.coords[1, 2] == pytest.approx(1.4 * 0.529177249) and mol_.aoene == [-0.578, 0.67]
    del r, mol_, coords, obj
    gc.collect()
    assert fds_on(chk) == 1 and (hess[0, 0], hess[5, 5]) == (0.5, 20.5)
    del hess
    gc.collect()
    assert fds_on(chk) == 0
    for _ in range(3):  # nor does a failed parse leave it open
        with pytest.raises(RuntimeError):
            read(tmp_path, h2(), extra=b"\0")
    assert fds_on(str(tmp_path / "t.chk")) == 0


# Atomic numbers 0, -3, 112 reach the ends of the symbol table; one x is too wide for its field.
ATOMS = [(8, (0.0, 0.0, 0.0)), (1, (1.0, -1.0, 0.5)), (0, (2.0, 0.0, -3.0)),
         (112, (1000.0, 0.0, 0.0)), (-3, (0.0, 0.0, -10.0)), (111, (-3000.0, 1.25, 0.0))]
BODY = """\
#p B3LYP/def2SVP Freq

Generated by Vexmora

{charge}
O    0.00000000   0.00000000   0.00000000
H    0.52917725  -0.52917725   0.26458862
X    1.05835450   0.00000000  -1.58753175
Rg 529.17724900   0.00000000   0.00000000
X    0.00000000   0.00000000  -5.29177249
Rg -1587.53174700   0.66147156   0.00000000
"""


@pytest.mark.parametrize("charge, mult, line", [(-1, 2, "  -1    2"), (12345, -1, "12345   -1")])
def test_gjf(tmp_path: Path, monkeypatch: pytest.MonkeyPatch, charge: int, mult: int,
             line: str) -> None:
    monkeypatch.chdir(tmp_path)
    b = h2().remove(670).replace(502, labels("T", "#p B3LYP/def2SVP Freq"))
    b.replace(997, mol([z for z, _ in ATOMS], [x for _, x in ATOMS], charge=charge,
                       multiplicity=mult)).write("job.chk")
    Path("out.gjf").write_text("an older and longer file\n" * 20)
    Vexmora_.ChkReader_(fchk="job.chk").write_gjf(fgjf="out.gjf")
    assert Path("out.gjf").read_text() == "%chk=job.chk\n" + BODY.format(charge=line)
    read(tmp_path, h2().remove(502)).write_gjf("n.gjf")
    assert Path("n.gjf").read_text().split("\n")[1:4] == ["None", "", "Generated by Vexmora"]


def test_package_and_the_old_command_line(tmp_path: Path) -> None:
    import vexmora
    assert (vexmora.ChkReader_, vexmora.Mol) == (Vexmora_.ChkReader_, Vexmora_.Mol)
    declared = re.search(r'^version\s*=\s*"([^"]+)"', (ROOT / "pyproject.toml").read_text(), re.M)
    assert vexmora.__version__ == declared.group(1) == metadata.version("vexmora")  # type: ignore
    h2().write(tmp_path / "h2.chk")
    done = subprocess.run([sys.executable, "-m", "vexmora", "h2.chk", "-o", "o.fchk", "--gjf", "s.gjf"],
                          cwd=tmp_path, capture_output=True, text=True, timeout=120)
    assert done.returncode == 0 and "Wrote o.fchk" in done.stdout and "H2 test" in done.stdout
    assert (tmp_path / "s.gjf").read_text().startswith("%chk=h2.chk\n#p HF/STO-3G\n")

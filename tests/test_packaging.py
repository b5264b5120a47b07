"""The package as shipped: the type stubs match the bindings and type a user's
script, the README's session runs, the clone's root shadows nothing."""
from __future__ import annotations

import ast
import doctest
import re
import subprocess
import sys
from importlib.machinery import EXTENSION_SUFFIXES
from pathlib import Path

import pytest

import Vexmora_
import vexmora
ROOT = Path(__file__).resolve().parents[1]
STUBS = [(ROOT / "Vexmora_" / "Vexmora_-stubs" / "__init__.pyi", Vexmora_),
         (ROOT / "src" / "vexmora" / "_core.pyi", vexmora._core)]


@pytest.mark.parametrize("stub, module", STUBS, ids=["Vexmora_", "vexmora._core"])
def test_stub_lists_every_member_with_its_docstring(stub: Path, module: object) -> None:
    classes = [n for n in ast.parse(stub.read_text()).body if isinstance(n, ast.ClassDef)]
    assert {c.name for c in classes} == {n for n in dir(module) if isinstance(getattr(module, n), type)}
    for c in classes:
        cls = getattr(module, c.name)
        members = {f.name for f in c.body if isinstance(f, ast.FunctionDef)}
        assert members - {"__init__"} == {n for n in dir(cls) if not n.startswith("_")}, c.name
        for f in (f for f in c.body if isinstance(f, ast.FunctionDef)):
            runtime = getattr(cls, f.name)
            assert (ast.get_docstring(f) or "") in (runtime.__doc__ or ""), f.name
            if not isinstance(runtime, property):  # the keyword names, as the binding has them
                signature = (runtime.__doc__ or "").split("\n", 1)[0]
                assert all(f"{a.arg}: " in signature for a in f.args.args[1:]), f.name
    if module is Vexmora_:  # the stub package is installed next to the extension
        assert (Path(module.__file__).parent / "Vexmora_-stubs" / "__init__.pyi").read_text() == stub.read_text()


def test_readme_session_runs(tmp_path: Path, monkeypatch: pytest.MonkeyPatch) -> None:
    blocks = re.findall(r"```python\n(.*?)```", (ROOT / "README.md").read_text(), re.S)
    session = "\n".join(b for b in blocks if b.startswith(">>> "))
    (tmp_path / "examples").symlink_to(ROOT / "examples")
    monkeypatch.chdir(tmp_path)
    test = doctest.DocTestParser().get_doctest(session, {}, "README", "README.md", 0)
    runner = doctest.DocTestRunner(optionflags=doctest.NORMALIZE_WHITESPACE)
    runner.run(test)
    assert session and runner.failures == 0
    assert (tmp_path / "water.gjf").read_text().startswith("%chk=examples/water.chk\n")


# A user's script over both modules; mypy must type what it reveals.
USER_SCRIPT = '''
from typing import Any, Dict, List
import Vexmora_
import vexmora
reader = Vexmora_.ChkReader_("water.chk")
reveal_type(reader.params.mol.names)
ckpt = vexmora.load("water.chk")
reveal_type(ckpt.mo_coefficients_alpha)
reveal_type(ckpt.shell_types)
reveal_type(ckpt.densities["SCF"])
try:
    ckpt.write_fchk("water.fchk")
except vexmora.WriteError as exc:
    reveal_type(exc.errno)
# The optional parts: PySCF, QCSchema, the viewer and the dataset.
mf = ckpt.to_pyscf(xc=None)
ckpt.write_pyscf_chk("water.pyscf.h5")
schema: Dict[str, Any] = ckpt.to_qcschema()
ckpt.write_html("homo.html", "homo", isovalue=0.05)
fig = ckpt.view(3, mode=None, isovalue=None, beta=False)
card: str = ckpt._repr_html_()
wavenumbers, intensities = ckpt.vibrations().spectrum("ir")
result = vexmora.write_dataset(["jobs"], "jobs.parquet", columns=["formula"], recursive=True)
errors: List[str] = result.errors
ok: bool = result.ok and result.rows >= 0
'''


def test_mypy_strict_types_a_user_script(tmp_path: Path) -> None:
    pytest.importorskip("mypy")
    (tmp_path / "user.py").write_text(USER_SCRIPT)
    run = subprocess.run([sys.executable, "-m", "mypy", "--strict", "--no-incremental", "user.py"],
                         cwd=tmp_path, capture_output=True, text=True, timeout=600)
    revealed = [t.replace("builtins.", "") for t in re.findall(r'Revealed type is "(.*)"', run.stdout)]
    assert run.returncode == 0 and len(revealed) == 5, run.stdout
    assert revealed[0] == "list[str]"
    arrays = revealed[1:4]  # float64, int64, float64 (as "float64" or "floating[_64Bit]")
    assert all("dtype[Any]" not in t and "64" in t for t in arrays) and "| None" in arrays[0]
    assert ["float" in t for t in arrays] == [True, False, True] and "int" in arrays[1]
    assert revealed[4] == "int | None"


def test_clone_root_imports_the_installed_modules() -> None:
    """In the clone's root (where the README puts a user) the sources shadow nothing."""
    run = subprocess.run([sys.executable, "-c", "import Vexmora_, vexmora; print(Vexmora_.__file__); "
                          "print(vexmora._core.__file__); print(vexmora.__file__)"],
                         cwd=ROOT, capture_output=True, text=True, timeout=60)
    assert run.returncode == 0, run.stderr
    *extensions, package = [Path(p).absolute() for p in run.stdout.split()]
    # The compiled modules, not the source folder Vexmora_/ taken for a package.
    assert all(p.name.endswith(tuple(EXTENSION_SUFFIXES)) for p in extensions), run.stdout
    assert not any(str(p).startswith(str(ROOT / d)) for p in (*extensions, package)
                   for d in ("src", "Vexmora_")), run.stdout

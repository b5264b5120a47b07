"""The package as shipped: the type stubs match the bindings and the README's
session runs."""
from __future__ import annotations

import ast
import doctest
import re
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

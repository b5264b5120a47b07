"""The type stubs match the bindings: every public member, with its docstring."""
from __future__ import annotations

import ast
from pathlib import Path

import pytest

Vexmora_ = pytest.importorskip("Vexmora_")
vexmora = pytest.importorskip("vexmora")
ROOT = Path(__file__).resolve().parents[1]
STUBS = [(ROOT / "Vexmora_" / "Vexmora_.pyi", Vexmora_), (ROOT / "vexmora" / "_core.pyi", vexmora._core)]


@pytest.mark.parametrize("stub, module", STUBS, ids=["Vexmora_", "vexmora._core"])
def test_stub_lists_every_member_with_its_docstring(stub: Path, module: object) -> None:
    classes = [n for n in ast.parse(stub.read_text()).body if isinstance(n, ast.ClassDef)]
    assert {c.name for c in classes} == {n for n in dir(module) if isinstance(getattr(module, n), type)}
    for c in classes:
        cls = getattr(module, c.name)
        members = {f.name: ast.get_docstring(f) or "" for f in c.body if isinstance(f, ast.FunctionDef)}
        assert set(members) - {"__init__"} == {n for n in dir(cls) if not n.startswith("_")}, c.name
        for name, doc in members.items():
            assert name == "__init__" or doc in (getattr(cls, name).__doc__ or ""), name
    if module is Vexmora_:  # the stub is installed next to the extension
        assert Path(module.__file__).with_name(stub.name).read_text() == stub.read_text()

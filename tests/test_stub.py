"""The type stub shipped with the extension matches the bindings."""
from __future__ import annotations

import ast
import inspect
from pathlib import Path
from typing import Dict, Set

import pytest

Vexmora_ = pytest.importorskip("Vexmora_")

STUB = Path(__file__).resolve().parents[1] / "Vexmora_" / "Vexmora_.pyi"


def stub_members() -> Dict[str, Dict[str, str]]:
    """Class name -> member name -> docstring (or '' for none) from the stub."""
    tree = ast.parse(STUB.read_text())
    out: Dict[str, Dict[str, str]] = {}
    for node in tree.body:
        if isinstance(node, ast.ClassDef):
            out[node.name] = {
                f.name: ast.get_docstring(f) or ""
                for f in node.body
                if isinstance(f, ast.FunctionDef)
            }
    return out


def module_members(cls: type) -> Set[str]:
    return {n for n, _ in inspect.getmembers(cls) if not n.startswith("_")} | (
        {"__init__"} if cls is Vexmora_.ChkReader_ else set()
    )


@pytest.mark.parametrize("name", ["ChkParams", "Mol", "ChkReader_"])
def test_stub_lists_every_member_with_its_docstring(name: str) -> None:
    cls = getattr(Vexmora_, name)
    members = stub_members()[name]
    assert set(members) == module_members(cls)
    for member, doc in members.items():
        if member == "__init__":
            continue
        bound = getattr(cls, member)
        text = bound.__doc__ if not isinstance(bound, property) else bound.__doc__
        assert doc in (text or ""), member


def test_stub_has_exactly_the_module_classes() -> None:
    public = {n for n in dir(Vexmora_) if not n.startswith("_")}
    assert set(stub_members()) == public


def test_stub_is_installed_next_to_the_extension() -> None:
    installed = Path(Vexmora_.__file__).with_name("Vexmora_.pyi")
    assert installed.read_text() == STUB.read_text()

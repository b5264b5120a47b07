"""Shared set-up of the suites. The tests import the installed modules; in a
tree that is not built, every test module is skipped with one reason. The
fixtures shared by several modules are here."""
from __future__ import annotations

import importlib.util
import sys
from pathlib import Path
from typing import Any, Optional

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent))  # chkbuilder, refdata


def _unbuilt() -> Optional[str]:
    """Why the installed modules are missing, or None where both import."""
    for name in ("Vexmora_", "vexmora._core"):
        try:
            spec = importlib.util.find_spec(name)
        except ImportError:
            spec = None
        # A source folder found on the path is a namespace package, not the extension.
        if spec is None or spec.origin in (None, "namespace"):
            return f"{name} is not installed: build it with `pip install .` (or bash scripts/test.sh)"
    return None


UNBUILT = _unbuilt()


class _Skipped(pytest.Module):
    def collect(self) -> Any:
        pytest.skip(UNBUILT or "", allow_module_level=True)


def pytest_pycollect_makemodule(module_path: Path, parent: Any) -> Optional[pytest.Module]:
    if UNBUILT is None:
        return None
    return _Skipped.from_parent(parent, path=module_path)


@pytest.fixture(scope="session")
def h2_chk(tmp_path_factory: pytest.TempPathFactory) -> Path:
    """The builder's H2 job (SCF density, Hessian), written once per session."""
    from chkbuilder import h2_job

    return h2_job(tmp_path_factory.mktemp("h2"))

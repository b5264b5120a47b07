"""The extension built for CPython 3.9 refuses to load in CPython 3.10."""
from __future__ import annotations

import ast
import glob
import shutil
import subprocess
import sys
from pathlib import Path
from typing import Optional

import pytest

ROOT = Path(__file__).resolve().parents[1]

# Prints the import failure (type, then text) and the interpreter's version text,
# each on one line: the version text may hold line feeds of its own.
CHILD = """
import sys
try:
    import Vexmora_
except ImportError as exc:
    print(type(exc).__name__ + ":" + repr(str(exc)))
else:
    print("imported:" + repr(Vexmora_.__file__))
print(repr(sys.version))
"""


def build_for_39() -> Optional[Path]:
    """The installed 3.9 build of the extension, from the running interpreter
    when it is 3.9, else from the project's 3.9 virtual environment."""
    if sys.version_info[:2] == (3, 9):
        try:
            import Vexmora_
        except ImportError:
            pass
        else:
            return Path(Vexmora_.__file__)
    found = sorted(glob.glob(str(ROOT / ".venv-3.9" / "lib" / "python3.9" / "site-packages"
                                 / "Vexmora_*.so")))
    return Path(found[0]) if found else None


def python310() -> Optional[str]:
    found = sorted(glob.glob("/root/.pyenv/versions/3.10.*/bin/python3.10"))
    return found[-1] if found else None


def test_39_build_refuses_to_load_in_310(tmp_path: Path) -> None:
    ext = build_for_39()
    if ext is None:
        pytest.skip("no CPython 3.9 build of the extension installed")
    py310 = python310()
    if py310 is None:
        pytest.skip("no CPython 3.10 interpreter on this machine")
    # A plain name that the 3.10 import system looks for.
    shutil.copy(ext, tmp_path / "Vexmora_.so")
    env = {"PATH": "/usr/bin:/bin", "PYTHONPATH": str(tmp_path), "PYTHONNOUSERSITE": "1"}
    done = subprocess.run([py310, "-c", CHILD], cwd=tmp_path, env=env, capture_output=True,
                          text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    outcome, version = done.stdout.splitlines()
    version = ast.literal_eval(version)
    assert version.startswith("3.10")
    kind, _, message = outcome.partition(":")
    assert kind == "ImportError", outcome
    assert ast.literal_eval(message) == (
        "Python version mismatch: module was compiled for Python 3.9, but the interpreter "
        f"version is incompatible: {version}.")

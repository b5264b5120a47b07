"""The extension built for CPython 3.9 refuses to load in CPython 3.10."""
from __future__ import annotations

import glob
import shutil
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[1]
CHILD = "import sys\ntry:\n    import Vexmora_\nexcept ImportError as e:\n    print(repr((str(e), sys.version)))"


def test_39_build_refuses_to_load_in_310(tmp_path: Path) -> None:
    ext = sorted(glob.glob(str(ROOT / ".venv-3.9/lib/python3.9/site-packages/Vexmora_*.so")))
    py310 = sorted(glob.glob("/root/.pyenv/versions/3.10.*/bin/python3.10"))
    if not ext or not py310:
        pytest.skip("needs the CPython 3.9 build of the extension and a CPython 3.10")
    shutil.copy(ext[0], tmp_path / "Vexmora_.so")  # a plain name that 3.10 looks for
    done = subprocess.run([py310[-1], "-c", CHILD], cwd=tmp_path, capture_output=True, text=True,
                          env={"PATH": "/usr/bin:/bin", "PYTHONPATH": str(tmp_path)}, timeout=120)
    message, version = eval(done.stdout)
    assert version.startswith("3.10") and message == (
        "Python version mismatch: module was compiled for Python 3.9, but the interpreter "
        f"version is incompatible: {version}.")

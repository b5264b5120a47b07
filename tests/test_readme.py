"""The example session in the README runs and prints what it shows."""
from __future__ import annotations

import doctest
import os
import re
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[1]


def readme_session() -> str:
    """The Python blocks of the README that are interactive sessions."""
    blocks = re.findall(r"```python\n(.*?)```", (ROOT / "README.md").read_text(), re.S)
    return "\n".join(b for b in blocks if b.startswith(">>> "))


def test_readme_session_runs(tmp_path: Path, monkeypatch: pytest.MonkeyPatch) -> None:
    (tmp_path / "examples").symlink_to(ROOT / "examples")
    monkeypatch.chdir(tmp_path)
    session = readme_session()
    assert session, "the README has no example session"
    test = doctest.DocTestParser().get_doctest(session, {}, "README", "README.md", 0)
    runner = doctest.DocTestRunner(optionflags=doctest.NORMALIZE_WHITESPACE)
    runner.run(test)
    assert runner.failures == 0
    assert (tmp_path / "water.fchk").stat().st_size > 0
    assert (tmp_path / "water.gjf").read_text().startswith("%chk=examples/water.chk\n")

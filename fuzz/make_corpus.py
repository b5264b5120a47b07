"""Writes the fuzzing seed corpus: every synthetic checkpoint in the tests' tables, each
also without its 32 kB label record (so that mutations reach the records after it), and
the orbital layouts of every wavefunction type. Run where the tests run: ``python
fuzz/make_corpus.py OUTDIR``."""
from __future__ import annotations

import importlib
import sys
from pathlib import Path
from typing import Iterator, Tuple

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests"))
from chkbuilder import ChkBuilder  # noqa: E402

MODULES = ("test_failures", "test_records", "test_wavefunction", "test_basis", "test_fchk",
           "test_vibrations", "test_formchk")


def builders() -> Iterator[Tuple[str, object]]:
    """(name, ChkBuilder or bytes) of every table row that holds a checkpoint."""
    for name in MODULES:
        for fname, fn in vars(importlib.import_module(name)).items():
            for mark in getattr(fn, "pytestmark", []):
                if mark.name == "parametrize":
                    for k, row in enumerate(mark.args[1]):
                        for value in row if isinstance(row, tuple) else (row,):
                            if isinstance(value, (ChkBuilder, bytes)):
                                yield f"{fname[5:]}-{k}", value
    wfn = importlib.import_module("test_wavefunction")
    for code in wfn.WFN:
        yield f"wfn{code}", wfn.wfn(code)


def main(out: str) -> None:
    d = Path(out)
    d.mkdir(parents=True, exist_ok=True)
    n = 0
    for name, value in builders():
        files = {name: value}
        if isinstance(value, ChkBuilder):
            small = ChkBuilder(list(value.records), value.header_words).remove(502)
            files = {name: value.build(), name + "-small": small.build()}
        for fname, data in files.items():
            if 32 <= len(data) <= 1 << 20:  # type: ignore[arg-type]
                (d / f"{fname}.chk").write_bytes(data)  # type: ignore[arg-type]
                n += 1
    print(f"{n} seeds in {d}")


if __name__ == "__main__":
    main(sys.argv[1])

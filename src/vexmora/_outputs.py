"""Outputs that never replace an input, and names that say what a file holds.

The reader refuses, file by file, to replace the checkpoint it read (the rule
and its message live in C++). Here a command checks all its outputs first, so
that a refused output leaves nothing written, also when the file an output
would replace is another input of the same batch.
"""
from __future__ import annotations

import os
from pathlib import Path
from typing import Dict, Iterable, Mapping, Optional, Tuple

from . import _core

FileId = Tuple[int, int]

#: Suffixes of other kinds of file than a writer makes: suffix -> (what it
#: names, how the command line writes one, or None).
KNOWN_SUFFIXES: Dict[str, Tuple[str, Optional[str]]] = {
    ".chk": ("a binary checkpoint", None), ".log": ("a Gaussian output", None),
    ".out": ("a Gaussian output", None),
    ".fchk": ("a formatted checkpoint", "-o {path}"), ".fch": ("a formatted checkpoint", "-o {path}"),
    ".gjf": ("a Gaussian input", "--gjf {path}"), ".com": ("a Gaussian input", "--gjf {path}"),
    ".molden": ("a Molden file", "`vexmora convert CHK --to molden`"),
    ".xyz": ("an XYZ file", "`vexmora convert CHK --to xyz`"),
}


def input_ids(paths: Iterable[str]) -> Dict[FileId, str]:
    """Device and inode -> path of each input that exists."""
    ids: Dict[FileId, str] = {}
    for p in paths:
        try:
            st = os.stat(p)
        except OSError:
            continue
        ids.setdefault((st.st_dev, st.st_ino), p)
    return ids


def refuse_inputs(targets: Iterable[str], inputs: Mapping[FileId, str], own: str = "") -> None:
    """Raise :class:`~vexmora.errors.WriteError` for the first target that is one of
    ``inputs`` (other than the file ``own``, which the caller checks itself)."""
    own_id = set(input_ids([own] if own else []))
    for t in targets:
        try:
            st = os.stat(t)
        except OSError:
            continue
        source = inputs.get((st.st_dev, st.st_ino))
        if source is not None and (st.st_dev, st.st_ino) not in own_id:
            _core.refuse_input(os.fsencode(t), os.fsencode(source))  # raises, with the reader's text


def check_name(path: str, suffixes: Tuple[str, ...], what: str) -> None:
    """Raise ValueError, with a hint, when ``path``'s suffix names another kind
    of file than ``what`` (whose suffixes are ``suffixes``)."""
    suffix = Path(path).suffix.lower()
    if suffix not in KNOWN_SUFFIXES or suffix in suffixes:
        return
    kind, how = KNOWN_SUFFIXES[suffix]
    hint = f"to write {kind}, use {how.format(path=path)}" if how else f"name it {suffixes[0]}"
    raise ValueError(f"{path}: the name of {kind}, not of {what}; {hint}")

"""The library's errors: one line for users, the reader's whole report kept aside.

A checkpoint that cannot be read (or holds what a writer cannot express) raises
:class:`CheckpointError`; an output that cannot be written, or that would
replace an input, raises :class:`WriteError`, an ``OSError``. ``str()`` of
either is the one line ``PATH: reason``; ``.report`` holds the reader's whole
report, with the source location, for bug reports.
"""
from __future__ import annotations

from typing import Optional


class CheckpointError(RuntimeError):
    """A checkpoint that cannot be read or converted; the message is one line.

    ``report`` holds the reader's whole report (with the source location).
    """

    def __init__(self, message: str, report: str = "") -> None:
        super().__init__(message)
        self.report = report or message


class WriteError(OSError):
    """An output that could not be written, or was refused because it is an input.

    ``errno`` is the system's error number (None for the refusal), ``strerror``
    the reason and ``filename`` the output; ``str()`` is ``"PATH: reason"``;
    ``report`` is the reader's whole report.
    """

    def __init__(self, errno: Optional[int], strerror: str, filename: str, report: str = "") -> None:
        super().__init__(errno, strerror, filename)
        self.report = report or str(self)

    def __str__(self) -> str:
        return f"{self.filename}: {self.strerror}"

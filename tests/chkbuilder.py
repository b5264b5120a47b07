"""Builds synthetic Gaussian checkpoint files, record by record, for the tests.

A checkpoint is a sequence of little-endian 8-byte words: N and L (the number
of directory entries and the length of the file in words), two more header
words, N directory entries of four words (label, begin, end, aux), then the
records. :class:`ChkBuilder` lays this out from a list of records and can damage
the result on purpose.
"""
from __future__ import annotations

import struct
from dataclasses import dataclass, field
from pathlib import Path
from typing import Iterable, List, Optional, Sequence, Union

Part = Union[bytes, bytearray, Sequence[int], Sequence[float]]


def ints(values: Iterable[int]) -> bytes:
    """Signed 64-bit words."""
    vals = list(values)
    return struct.pack(f"<{len(vals)}q", *vals)


def reals(values: Iterable[float]) -> bytes:
    """IEEE 754 doubles."""
    vals = [float(v) for v in values]
    return struct.pack(f"<{len(vals)}d", *vals)


def text(s: Union[str, bytes], width: Optional[int] = None, pad: bytes = b" ") -> bytes:
    """Bytes of a text, padded with ``pad`` (blanks by default) to ``width``."""
    b = s.encode() if isinstance(s, str) else bytes(s)
    if width is not None:
        if len(b) > width:
            raise ValueError("text longer than its field")
        b += pad * (width - len(b))
    return b


def words(part: Part) -> bytes:
    """A record part as bytes: bytes pass through, ints and floats become words."""
    if isinstance(part, (bytes, bytearray)):
        return bytes(part)
    vals = list(part)
    if all(isinstance(v, int) and not isinstance(v, bool) for v in vals):
        return ints(vals)
    return reals(vals)


@dataclass
class Record:
    label: int
    data: bytes
    #: Overrides the directory's length of the record, in words (to damage it).
    length: Optional[int] = None
    aux: int = 0


@dataclass
class ChkBuilder:
    """A checkpoint under construction: a list of records in file order."""

    records: List[Record] = field(default_factory=list)
    header_words: Sequence[int] = (0, 0)

    def add(self, label: int, *parts: Part, length: Optional[int] = None) -> "ChkBuilder":
        """Append a record made of ``parts`` (concatenated, padded to whole words)."""
        data = b"".join(words(p) for p in parts)
        data += b"\0" * (-len(data) % 8)
        self.records.append(Record(label, data, length))
        return self

    def build(
        self,
        *,
        length_words: Optional[int] = None,
        extra_bytes: bytes = b"",
        entries: Optional[int] = None,
        truncate_words: Optional[int] = None,
    ) -> bytes:
        """The file's bytes.

        ``length_words`` overrides L in the header, ``extra_bytes`` are appended
        after L is computed, ``entries`` overrides N (e.g. a directory longer
        than the file) and ``truncate_words`` cuts the file (and L) to that many
        words, so the last records are cut short while the header stays valid.
        """
        n = len(self.records)
        pos = 4 + 4 * n
        directory = []
        body = b""
        for rec in self.records:
            nwords = len(rec.data) // 8
            end = pos + (rec.length if rec.length is not None else nwords)
            directory.append((rec.label, pos, end, rec.aux))
            body += rec.data
            pos += nwords
        total = pos
        if truncate_words is not None:
            total = truncate_words
        head_len = length_words if length_words is not None else total
        head = ints([entries if entries is not None else n, head_len, *self.header_words])
        out = head + b"".join(ints(e) for e in directory) + body
        out = out[: total * 8]
        return out + extra_bytes

    def write(self, path: Union[str, Path], **kwargs: object) -> str:
        """Write the file (see :meth:`build` for the damage options); returns the path."""
        Path(path).write_bytes(self.build(**kwargs))  # type: ignore[arg-type]
        return str(path)

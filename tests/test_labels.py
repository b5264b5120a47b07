"""Job labels: title, route and orbital label groups (record 502), the job
description with method, basis set and job type (record 993) and the program
version (record 801)."""
from __future__ import annotations

import re
import sys
from pathlib import Path
from typing import List, Optional, Union

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent))
from chkbuilder import ChkBuilder, h2, job, labels, reals, version  # noqa: E402

Vexmora_ = pytest.importorskip("Vexmora_")

FLAG = "Label flag (-12345) not found"
#: A label that no reading step asks for; its records only take up room.
FILLER = 4242
#: Words of record 502 before its label fields: flag, three words, title, route.
LABEL_HEAD_WORDS = 4 + 800 // 8 + 32000 // 8


def load(tmp_path: Path, b: ChkBuilder, cut: Optional[int] = None) -> "Vexmora_.ChkReader_":
    """The reader of ``b``; ``cut`` ends the file that many words into its last record."""
    start = 4 + 4 * len(b.records) + sum(len(r.data) // 8 for r in b.records[:-1])
    build = {} if cut is None else {"truncate_words": start + cut}
    return Vexmora_.ChkReader_(fchk=b.write(tmp_path / "t.chk", **build))


def error(msg: str) -> str:
    """Pattern of a whole error report carrying exactly ``msg``."""
    return "^Error: " + re.escape(msg) + "(\n|$)"


def info(itype: int = 0, ipf: int = 0) -> List[int]:
    """info1_9 for a job kind; word 5 at 200 keeps the wavefunction prefix
    ("R", "U", ...) off the method text, so that it reads as stored."""
    return [0, 0, 0, 0, ipf, 200, itype, 0, 0]


def with_last(label: int, data: bytes, length: Union[int, None] = None) -> ChkBuilder:
    """H2 with record ``label`` moved to the end of the file, behind room
    enough that any record length up to the file's own fits."""
    b = h2().remove(label).add(FILLER, reals([0.0] * 5000))
    return b.add(label, data, length=length)


# --- defaults ----------------------------------------------------------------

#: info1_9 as stored, extremes and all; itype 2 with ipf 8 is ADMP, and word
#: 5 keeps the wavefunction prefix off the method.
INFO = [-(2**63), 2**63 - 1, -7, 12345, 8, 1200, 2, 0, 99]


@pytest.mark.parametrize("absent", [None, 502, 993, 801])
def test_each_label_record_is_optional(tmp_path: Path, absent: Optional[int]) -> None:
    b = h2().replace(993, job(INFO))
    p = load(tmp_path, b.remove(absent) if absent else b).params
    labels_ = ("Unknown", "None", []) if absent == 502 else \
        ("H2 test", "#p HF/STO-3G", ["1H 1S", "2H 1S"])
    assert (p.title, p.route, p.mol.orblabels) == labels_
    job_ = ("Unknown", "Unknown", "Unknown", []) if absent == 993 else \
        ("HF", "STO-3G", "ADMP", INFO)
    assert (p.method, p.baset, p.jobtype, p.info1_9) == job_
    assert p.gauver == ("Unknown" if absent == 801 else "ES64L-G16RevA.03")


# --- record 502: flag, title and route ----------------------------------------

@pytest.mark.parametrize("flag", [-12344, 0, -12345 + 2**32, None])
def test_wrong_label_flag(tmp_path: Path, flag: Optional[int]) -> None:
    with pytest.raises(RuntimeError, match=error(FLAG)):
        if flag is None:
            # The flag cannot be read at all: that is a wrong flag, not a stale word.
            load(tmp_path, with_last(502, labels()), cut=0)
        else:
            load(tmp_path, h2().replace(502, labels(flag=flag)))


CUT = labels("A title long enough to be cut by the end of the file", "#p B3LYP/6-31G(d) opt",
             ["1", "C"])


@pytest.mark.parametrize("rec, cut, title, route", [
    (labels("  lead and  inner  ", " #p  mp2 "), None, "  lead and  inner", " #p  mp2"),
    # Only blanks are trimmed: tabs and line feeds stay.
    (labels("tab\t", "line\n"), None, "tab\t", "line\n"),
    (labels(b"abc\0def", b"#p\0 opt"), None, "abc", "#p"),
    (labels("T" * 800, "R" * 32000), None, "T" * 800, "R" * 32000),
    (labels("", ""), None, "", ""),
    # The end of the file inside the title, then inside the route.
    (CUT, 4 + 3, "A title long enough to b", ""),
    (CUT, 4 + 100 + 2, "A title long enough to be cut by the end of the file", "#p B3LYP/6-31G(d"),
])
def test_title_and_route(tmp_path: Path, rec: bytes, cut: Optional[int], title: str,
                         route: str) -> None:
    b = h2().replace(502, rec) if cut is None else with_last(502, rec)
    p = load(tmp_path, b, cut=cut).params
    assert (p.title, p.route) == (title, route)
    assert cut is None or p.mol.orblabels == []


# --- record 502: label fields -------------------------------------------------

def next_to_filler() -> ChkBuilder:
    """Record 502 without its BEL, followed by a record that looks like fields."""
    b = h2().replace(502, labels(fields=["1", "C"], end=b"")).add(FILLER, b"2\\H\\\a")
    b.records.insert(3, b.records.pop(-1))
    return b


@pytest.mark.parametrize("tail, expected", [
    # The unfinished x is dropped; '|' separates as '\' does.
    (b"1\\C\\2\\H|x\a", ["1C", "2H"]),
    (b"A\\1\\B\\", ["1B"]),
    (b"A\\B\\C\\\a", []),
    (b"1|C|2|H|\a", ["1C", "2H"]),
    (b"1\\C\\\a2\\H\\", ["1C"]),
    (b"\a1\\C\\", []),
    (b"1\\\\C\\\a", ["1C"]),
    (b"1\0junk\\C\\\a", ["1C"]),
    (b"0\\9\\x\\\a", ["0", "9x"]),
    (b" 1\\C\\\a", []),
    (b"", []),
    (b"1 O 1S\\ 2S\\2 H 1S\\\a", ["1 O 1S 2S", "2 H 1S"]),
    # Where the fields end, given as whole files. No BEL: the list ends with
    # the record, and the next record's bytes, separators and all, are not
    # taken for fields.
    (next_to_filler(), ["1C"]),
    # The directory's length is what counts, not the bytes that follow.
    (h2().replace(502, labels(fields=["1", "C"]), length=LABEL_HEAD_WORDS), []),
    # The record claims far more than the file holds; reading stops at the
    # end of the file.
    (with_last(502, labels(end=b"1\\C\\2\\H\\"), length=LABEL_HEAD_WORDS + 101), ["1C", "2H"]),
    (with_last(502, labels(end=b"1\\C\\2\\HH"), length=LABEL_HEAD_WORDS + 101), ["1C", "2"]),
] + [
    # A long field is kept whole.
    (field.encode() + b"\\C\\2\\H\\\a", [field + "C", "2H"])
    for field in ("1" + "".join(chr(ord("a") + k % 26) for k in range(n - 1))
                  for n in (199, 200, 1000, 20000))
])
def test_label_fields_and_groups(tmp_path: Path, tail: Union[bytes, ChkBuilder],
                                 expected: List[str]) -> None:
    b = h2().replace(502, labels(end=tail)) if isinstance(tail, bytes) else tail
    p = load(tmp_path, b).params
    assert p.title == "A test job" and p.mol.orblabels == expected


# --- record 993: method, basis set, job type ----------------------------------

@pytest.mark.parametrize("raw, cut, method, baset", [
    (b"ABCDEF\\GHIJKLMN\\", None, "ABCDEF", "GHIJKLMN"),
    (b"B3LYP\\6-31G(d)\\Opt\\Freq", None, "B3LYP", "6-31G(d)"),
    (b"MP2|cc-pVTZ|rest\\more", None, "MP2", "cc-pVTZ"),
    (b"MP2\\cc-pVTZ|", None, "MP2", "cc-pVTZ"),
    (b"  HF \\ STO-3G \\", None, "  HF ", " STO-3G "),
    (b"H\aF\\B\\", None, "H\aF", "B"),
    (b"\\\\", None, "", ""),
    (b"\\Gen\\", None, "", "Gen"),
    (b"M" * 1526 + b"\\\\", None, "M" * 1526, ""),
    (b"HF\\STO-3G", None, "Unknown", "Unknown"),
    (b"no separators", None, "Unknown", "Unknown"),
    (b"", None, "Unknown", "Unknown"),
    # Beyond its 1528 bytes, a separator is not part of the job text.
    (b"HF\\STO-3G".ljust(1528, b"\0") + b"\\basis\\", None, "Unknown", "Unknown"),
    # The end of the file cuts the record that many words in.
    (b"HF\\STO-3G\\", 9 + 2, "HF", "STO-3G"),
    # Only one separator before the end of the file; it must not count twice.
    (b"ABCDEFG\\BASIS\\", 9 + 1, "Unknown", "Unknown"),
    (b"HF\\STO-3G\\", 9, "Unknown", "Unknown"),
    # Cut inside the nine integers: the missing ones are 0, so itype 0.
    (b"HF\\STO-3G\\", 6, "Unknown", "Unknown"),
])
def test_job_record(tmp_path: Path, raw: bytes, cut: Optional[int], method: str,
                    baset: str) -> None:
    rec = job(info(5), raw=raw[:1528]) + raw[1528:]
    b = h2().replace(993, rec) if cut is None else with_last(993, rec)
    p = load(tmp_path, b, cut=cut).params
    kept = 9 if cut is None else min(cut, 9)
    assert (p.method, p.baset) == (method, baset)
    assert p.info1_9 == info(5)[:kept] + [0] * (9 - kept)
    assert p.jobtype == ("Force" if kept == 9 else "SP")


@pytest.mark.parametrize("itype, ipf, jobtype", [
    (0, 0, "SP"), (1, 0, "SP"), (3, 0, "Guess=Only"), (4, 0, "LST"), (5, 0, "Force"),
    (6, 0, "Freq"), (7, 0, "Stability"), (8, 0, "Scan"), (9, 0, "Rearchive/MS-Restart"),
    (10, 0, "Mixed"),
    (2, 0, "FOpt"), (2, 1, "FTS"), (2, 2, "POpt"), (2, 3, "PTS"), (2, 4, "FSaddle"),
    (2, 6, "PSaddle"), (2, 7, "BOMD"), (2, 8, "ADMP"),
    (11, 0, "FOpt"), (11, 4, "FSaddle"), (11, 8, "ADMP"),
    # The optimisation kind matters only for itype 2 and 11.
    (6, 5, "Freq"), (0, -1, "SP"), (10, 99, "Mixed"),
    # Codes outside the tables are reported.
    (12, 0, "Unrecognized itype= 12"), (-1, 0, "Unrecognized itype= -1"),
    (-(2**63), 0, f"Unrecognized itype= {-(2**63)}"),
    (2, 5, "Unrecognized ipf= 5"), (2, -1, "Unrecognized ipf= -1"),
    (11, 2**63 - 1, f"Unrecognized ipf= {2**63 - 1}"),
])
def test_job_type(tmp_path: Path, itype: int, ipf: int, jobtype: str) -> None:
    b = h2().replace(993, job(info(itype, ipf)))
    if jobtype.startswith("Unrecognized"):
        with pytest.raises(RuntimeError, match=error(jobtype)):
            load(tmp_path, b)
    else:
        assert load(tmp_path, b).params.jobtype == jobtype


# --- record 801: program version ----------------------------------------------

@pytest.mark.parametrize("data, length, expected", [
    (b"ES64L-G09RevD.01" + b" " * 16, None, "ES64L-G09RevD.01"),
    (b"G16 ", None, "G16"),
    (b"  lead\ttab\t", None, "  lead\ttab\t"),
    (b"", None, ""),
    (b"V" * 4000, None, "V" * 4000),
    # A length past the end of the file is cut there; one that no file could
    # hold is reported as a damaged file before any text buffer is sized.
    (version("ES64L-G16RevC.01"), 100, "ES64L-G16RevC.01"),
    (version(), -1, None), (version(), 10**12, None), (version(), 2**62, None),
])
def test_version(tmp_path: Path, data: bytes, length: Optional[int],
                 expected: Optional[str]) -> None:
    b = with_last(801, data, length=length)
    if expected is None:
        with pytest.raises(RuntimeError, match="^Error: "):
            load(tmp_path, b)
    else:
        assert load(tmp_path, b).params.gauver == expected

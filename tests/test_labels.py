"""Job labels: title, route and orbital label groups (record 502), the job
description with method, basis set and job type (record 993) and the program
version (record 801)."""
from __future__ import annotations

import re
import sys
from pathlib import Path
from typing import List, Union

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent))
from chkbuilder import ChkBuilder, h2, ints, job, labels, reals, text, version  # noqa: E402

Vexmora_ = pytest.importorskip("Vexmora_")

FLAG = "Label flag (-12345) not found"
#: A label that no reading step asks for; its records only take up room.
FILLER = 4242
#: Words of record 502 before its label fields: flag, three words, title, route.
LABEL_HEAD_WORDS = 4 + 800 // 8 + 32000 // 8


def load(tmp_path: Path, b: ChkBuilder, **build: object) -> "Vexmora_.ChkReader_":
    return Vexmora_.ChkReader_(fchk=b.write(tmp_path / "t.chk", **build))


def error(msg: str) -> str:
    """Pattern of a whole error report carrying exactly ``msg``."""
    return "^Error: " + re.escape(msg) + "(\n|$)"


def start_of_last(b: ChkBuilder) -> int:
    """Word offset at which the last record of ``b`` begins."""
    return 4 + 4 * len(b.records) + sum(len(r.data) // 8 for r in b.records[:-1])


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

def test_defaults_without_label_records(tmp_path: Path) -> None:
    p = load(tmp_path, h2().remove(502, 993, 801)).params
    assert p.route == "None"
    assert (p.title, p.method, p.baset, p.jobtype, p.gauver) == ("Unknown",) * 5
    assert p.info1_9 == [] and p.mol.orblabels == []


@pytest.mark.parametrize("absent", [502, 993, 801])
def test_each_label_record_is_optional(tmp_path: Path, absent: int) -> None:
    b = h2().replace(993, job(info(6), "B3LYP", "6-31G")).remove(absent)
    p = load(tmp_path, b).params
    texts = (p.title, p.route, p.mol.orblabels)
    assert texts == (("Unknown", "None", []) if absent == 502
                     else ("H2 test", "#p HF/STO-3G", ["1H 1S", "2H 1S"]))
    job_texts = (p.method, p.baset, p.jobtype, p.info1_9)
    assert job_texts == (("Unknown", "Unknown", "Unknown", []) if absent == 993
                         else ("B3LYP", "6-31G", "Freq", info(6)))
    assert p.gauver == ("Unknown" if absent == 801 else "ES64L-G16RevA.03")


def test_complete_job_texts(tmp_path: Path) -> None:
    p = load(tmp_path, h2()).params
    assert (p.title, p.route, p.gauver) == ("H2 test", "#p HF/STO-3G", "ES64L-G16RevA.03")
    # A closed-shell wavefunction puts "R" in front of the stored method.
    assert (p.method, p.baset, p.jobtype) == ("RHF", "STO-3G", "SP")
    assert p.info1_9 == [0] * 9
    assert p.mol.orblabels == ["1H 1S", "2H 1S"]


# --- record 502: flag, title and route ----------------------------------------

@pytest.mark.parametrize("flag", [-12344, -12346, 0, 12345, -12345 + 2**32])
def test_wrong_label_flag(tmp_path: Path, flag: int) -> None:
    with pytest.raises(RuntimeError, match=error(FLAG)):
        load(tmp_path, h2().replace(502, labels(flag=flag)))


def test_label_record_starting_at_the_end_of_file(tmp_path: Path) -> None:
    # The flag cannot be read at all: that is a wrong flag, not a stale word.
    b = with_last(502, labels())
    with pytest.raises(RuntimeError, match=error(FLAG)):
        load(tmp_path, b, truncate_words=start_of_last(b))


@pytest.mark.parametrize("title, route, expect_title, expect_route", [
    ("Ninechars", "#p HF", "Ninechars", "#p HF"),
    ("A test job", "", "A test job", ""),
    ("  lead and  inner  ", " #p  mp2 ", "  lead and  inner", " #p  mp2"),
    # Only blanks are trimmed: tabs and line feeds stay.
    ("tab\t", "line\n", "tab\t", "line\n"),
    (b"abc\0def", b"#p\0 opt", "abc", "#p"),
    ("T" * 800, "R" * 32000, "T" * 800, "R" * 32000),
    ("", "", "", ""),
])
def test_title_and_route(tmp_path: Path, title: Union[str, bytes], route: Union[str, bytes],
                         expect_title: str, expect_route: str) -> None:
    p = load(tmp_path, h2().replace(502, labels(title, route))).params
    assert (p.title, p.route) == (expect_title, expect_route)


@pytest.mark.parametrize("kept_words, expect_title, expect_route", [
    (4 + 3, "A title long enough to b", ""),   # cut inside the title
    (4 + 100 + 2, "A title long enough to be cut by the end of the file", "#p B3LYP/6-31G(d"),
])
def test_end_of_file_inside_title_or_route(tmp_path: Path, kept_words: int, expect_title: str,
                                           expect_route: str) -> None:
    rec = labels("A title long enough to be cut by the end of the file", "#p B3LYP/6-31G(d) opt",
                 ["1", "C"])
    b = with_last(502, rec)
    p = load(tmp_path, b, truncate_words=start_of_last(b) + kept_words).params
    assert (p.title, p.route, p.mol.orblabels) == (expect_title, expect_route, [])


# --- record 502: label fields -------------------------------------------------

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
])
def test_label_fields_and_groups(tmp_path: Path, tail: bytes, expected: List[str]) -> None:
    m = load(tmp_path, h2().replace(502, labels(end=tail))).params.mol
    assert m.orblabels == expected


@pytest.mark.parametrize("n", [199, 200, 1000, 20000])
def test_long_field_is_kept_whole(tmp_path: Path, n: int) -> None:
    field = "1" + "".join(chr(ord("a") + k % 26) for k in range(n - 1))
    b = h2().replace(502, labels(fields=[field, "C", "2", "H"]))
    assert load(tmp_path, b).params.mol.orblabels == [field + "C", "2H"]


def test_fields_stop_at_the_record_end(tmp_path: Path) -> None:
    # No BEL: the list ends with the record, and the next record's bytes,
    # separators and all, are not taken for fields.
    b = h2().replace(502, labels(fields=["1", "C"], end=b""))
    b.add(FILLER, b"2\\H\\\a")
    b.records.insert(3, b.records.pop(-1))
    assert [r.label for r in b.records[2:4]] == [502, FILLER]
    assert load(tmp_path, b).params.mol.orblabels == ["1C"]


def test_record_length_limits_the_fields(tmp_path: Path) -> None:
    # The directory's length is what counts, not the bytes that follow.
    b = h2().replace(502, labels(fields=["1", "C"]), length=LABEL_HEAD_WORDS)
    p = load(tmp_path, b).params
    assert p.title == "A test job" and p.mol.orblabels == []


@pytest.mark.parametrize("tail, expected", [
    (b"1\\C\\2\\H\\", ["1C", "2H"]),
    (b"1\\C\\2\\HH", ["1C", "2"]),
])
def test_end_of_file_inside_the_fields(tmp_path: Path, tail: bytes,
                                       expected: List[str]) -> None:
    # The record claims far more than the file holds; reading stops at the
    # end of the file.
    assert len(tail) % 8 == 0
    rec = labels(end=tail)
    b = with_last(502, rec, length=len(rec) // 8 + 100)
    assert load(tmp_path, b).params.mol.orblabels == expected


def test_texts_that_are_not_utf8(tmp_path: Path) -> None:
    b = h2().replace(502, labels(b"caf\xe9", "#p HF", fields=[b"1\xff", "C"]))
    p = load(tmp_path, b).params
    assert p.route == "#p HF"
    with pytest.raises(UnicodeDecodeError):
        p.title
    with pytest.raises(UnicodeDecodeError):
        p.mol.orblabels


# --- record 993: method, basis set, job type ----------------------------------

@pytest.mark.parametrize("raw, method, baset", [
    (b"ABCDEF\\GHIJKLMN\\", "ABCDEF", "GHIJKLMN"),
    (b"B3LYP\\6-31G(d)\\Opt\\Freq", "B3LYP", "6-31G(d)"),
    (b"MP2|cc-pVTZ|rest\\more", "MP2", "cc-pVTZ"),
    (b"MP2\\cc-pVTZ|", "MP2", "cc-pVTZ"),
    (b"  HF \\ STO-3G \\", "  HF ", " STO-3G "),
    (b"H\aF\\B\\", "H\aF", "B"),
    (b"\\\\", "", ""),
    (b"\\Gen\\", "", "Gen"),
    (b"M" * 1526 + b"\\\\", "M" * 1526, ""),
    (b"HF\\STO-3G", "Unknown", "Unknown"),
    (b"no separators", "Unknown", "Unknown"),
    (b"", "Unknown", "Unknown"),
])
def test_method_and_basis_split(tmp_path: Path, raw: bytes, method: str, baset: str) -> None:
    p = load(tmp_path, h2().replace(993, job(info(), raw=raw))).params
    assert (p.method, p.baset, p.jobtype) == (method, baset, "SP")


def test_separator_past_the_job_text_is_not_seen(tmp_path: Path) -> None:
    rec = ints(info()) + text(b"HF\\STO-3G", 1528, pad=b"\0") + b"\\basis\\"
    p = load(tmp_path, h2().replace(993, rec)).params
    assert (p.method, p.baset) == ("Unknown", "Unknown")


@pytest.mark.parametrize("raw, kept_words, expected", [
    (b"HF\\STO-3G\\", 9 + 2, ("HF", "STO-3G", info(5))),
    # Only one separator before the end of the file; it must not count twice.
    (b"ABCDEFG\\BASIS\\", 9 + 1, ("Unknown", "Unknown", info(5))),
    (b"HF\\STO-3G\\", 9, ("Unknown", "Unknown", info(5))),
    # Cut inside the nine integers: the missing ones are 0, so itype 0.
    (b"HF\\STO-3G\\", 6, ("Unknown", "Unknown", info(5)[:6] + [0] * 3)),
])
def test_end_of_file_inside_the_job_record(tmp_path: Path, raw: bytes, kept_words: int,
                                           expected: tuple) -> None:
    b = with_last(993, job(info(5), raw=raw))
    p = load(tmp_path, b, truncate_words=start_of_last(b) + kept_words).params
    assert (p.method, p.baset, p.info1_9) == expected
    assert p.jobtype == ("Force" if kept_words >= 9 else "SP")


@pytest.mark.parametrize("itype, ipf, jobtype", [
    (0, 0, "SP"), (1, 0, "SP"), (3, 0, "Guess=Only"), (4, 0, "LST"), (5, 0, "Force"),
    (6, 0, "Freq"), (7, 0, "Stability"), (8, 0, "Scan"), (9, 0, "Rearchive/MS-Restart"),
    (10, 0, "Mixed"),
    (2, 0, "FOpt"), (2, 1, "FTS"), (2, 2, "POpt"), (2, 3, "PTS"), (2, 4, "FSaddle"),
    (2, 6, "PSaddle"), (2, 7, "BOMD"), (2, 8, "ADMP"),
    (11, 0, "FOpt"), (11, 4, "FSaddle"), (11, 8, "ADMP"),
    # The optimisation kind matters only for itype 2 and 11.
    (6, 5, "Freq"), (0, -1, "SP"), (10, 99, "Mixed"),
])
def test_job_type(tmp_path: Path, itype: int, ipf: int, jobtype: str) -> None:
    p = load(tmp_path, h2().replace(993, job(info(itype, ipf)))).params
    assert p.jobtype == jobtype


@pytest.mark.parametrize("itype", [12, 100, -1, -(2**63), 2**63 - 1])
def test_unrecognized_itype(tmp_path: Path, itype: int) -> None:
    with pytest.raises(RuntimeError, match=error(f"Unrecognized itype= {itype}")):
        load(tmp_path, h2().replace(993, job(info(itype))))


@pytest.mark.parametrize("itype, ipf", [(2, 5), (2, 9), (2, -1), (11, 5), (11, 2**63 - 1),
                                        (11, -(2**63))])
def test_unrecognized_ipf(tmp_path: Path, itype: int, ipf: int) -> None:
    with pytest.raises(RuntimeError, match=error(f"Unrecognized ipf= {ipf}")):
        load(tmp_path, h2().replace(993, job(info(itype, ipf))))


def test_info1_9_is_kept_as_stored(tmp_path: Path) -> None:
    values = [-(2**63), 2**63 - 1, -7, 12345, 8, 1200, 2, 0, 99]
    p = load(tmp_path, h2().replace(993, job(values))).params
    assert p.info1_9 == values
    assert p.jobtype == "ADMP"


# --- record 801: program version ----------------------------------------------

@pytest.mark.parametrize("data, expected", [
    (b"ES64L-G16RevA.03", "ES64L-G16RevA.03"),
    (b"ES64L-G09RevD.01" + b" " * 16, "ES64L-G09RevD.01"),
    (b"G16 ", "G16"),
    (b"  lead\ttab\t", "  lead\ttab\t"),
    (b"", ""),
    (b"V" * 4000, "V" * 4000),
])
def test_version_text(tmp_path: Path, data: bytes, expected: str) -> None:
    assert load(tmp_path, h2().replace(801, data)).params.gauver == expected


def test_version_record_past_the_end_of_file(tmp_path: Path) -> None:
    b = with_last(801, version("ES64L-G16RevC.01"), length=100)
    assert load(tmp_path, b).params.gauver == "ES64L-G16RevC.01"


@pytest.mark.parametrize("length", [-1, 10**12, 2**62])
def test_version_record_of_impossible_length(tmp_path: Path, length: int) -> None:
    # Reported as a damaged file before any text buffer is sized.
    with pytest.raises(RuntimeError, match="^Error: "):
        load(tmp_path, h2().replace(801, version(), length=length))


# --- the properties -------------------------------------------------------------

@pytest.mark.parametrize("name", ["title", "route", "gauver", "method", "baset", "jobtype",
                                  "info1_9"])
def test_label_properties_are_read_only(tmp_path: Path, name: str) -> None:
    p = load(tmp_path, h2()).params
    value = getattr(p, name)
    assert isinstance(value, list if name == "info1_9" else str)
    with pytest.raises(AttributeError):
        setattr(p, name, value)


def test_lists_are_fresh_copies(tmp_path: Path) -> None:
    p = load(tmp_path, h2().replace(993, job(info(6)))).params
    p.info1_9.clear()
    p.mol.orblabels.append("x")
    assert p.info1_9 == info(6)
    assert p.mol.orblabels == ["1H 1S", "2H 1S"]

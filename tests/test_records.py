"""What the reader makes of records 998, 501, 502, 993, 801, 997 and 551. Each row: a
checkpoint and the values of expressions on its reader ``r``, parameters ``p``,
molecule ``m`` and the library's checkpoint ``c`` (arrays to 1e-12 Bohr), and "out"
the printed text."""
from __future__ import annotations

from pathlib import Path
from typing import Any, Dict, List

import numpy as np
import pytest

import vexmora

from chkbuilder import (H2_XYZ, ChkBuilder, basis, general, h1s, h2, job, labels, last, mol,
                        orientation, read, reals, switches, text)

BOHR = 0.529177249
HEAD, AFTER = [float(k + 1) for k in range(10)], [1000.0 + k for k in range(1200)]
LHW = 4 + 100 + 4000  # words of record 502 before its label fields
CUT = labels("A title long enough to be cut by the end of the file", "#p B3LYP/6-31G(d) opt")
INFO = [-(2**63), 2**63 - 1, -7, 12345, 8, 1200, 2, 0, 99]  # ADMP, no method prefix
ATOMS3 = ((0.0, 0.0, 0.25), (1.5, -0.5, 0.75), (-1.25, 2.0, -3.5))
CELL = ((10.0, 0.0, 0.0), (1.0, 12.0, 0.0), (-2.0, 0.5, 14.0))
ROT90Z, SHIFT = ((0.0, -1.0, 0.0), (1.0, 0.0, 0.0), (0.0, 0.0, 1.0)), (0.5, -0.25, 1.0)
GENERAL = ((0.8, -0.6, 0.1), (0.6, 0.8, -0.2), (0.05, 0.3, 0.95))
CENTRES, FAR = ((0.3, -0.2, 0.1), (1.1, 0.4, -0.7)), ((5.0, 5.0, 5.0), (-4.0, 3.0, 2.0))
THREE = ((0.3, -0.2, 0.1), (0.9, 0.9, 0.9), (1.1, 0.4, -0.7))
USE_BASIS = "Warning! Use Basis coords\n"
TRANSFER = "Warning! Coordinates do not match /B/. Transferring coordinates from /Mol/ to /B/\n"


def a(xyz: Any) -> np.ndarray:
    """Angstrom from Bohr."""
    return np.asarray(xyz, dtype=float).reshape(-1, 3) * BOHR


def header_as_501() -> ChkBuilder:
    """501 entries: the header entry is found first as record 501, an empty one."""
    b = h2()
    for k in range(501 - len(b.records)):
        b.add(5000 + k, b"")
    b.header_words = (len(b.build()) // 16, 0)
    return b


def placed(atoms: Any, centres: Any = CENTRES, shell_atoms: Any = None, orient: Any = None,
           ilsw: Any = None) -> ChkBuilder:
    """H2 with atoms and shell centres (no /B/ for None), orientation (rotation, shift), cell."""
    b = h2().replace(997, mol([1] * len(atoms), atoms, ndim=3, cell=CELL))
    b.replace(670, basis(h1s(centres, shell_atoms))) if centres else b.remove(670)
    if orient:
        b.add(551, orientation(*orient))
    return b.replace(998, switches(ilsw)) if ilsw else b


def layout(moltyp: int, hdrlen: int) -> ChkBuilder:
    return h2().remove(670).replace(997, mol([8, 1, 1], ATOMS3, moltyp=moltyp, hdrlen=hdrlen,
                                             charge=-1, multiplicity=2, nae=5, nbe=4, ne=9,
                                             nbasis=7, nbsuse=6, nucchg=[6.0, 1.0, 0.5]))


LABELS = {  # tail of record 502 -> label groups
    b"1\\C\\2\\H|x\a": ["1C", "2H"], b"A\\1\\B\\": ["1B"], b"A\\B\\C\\\a": [],
    b"1\\C\\\a2\\H\\": ["1C"], b"\a1\\C\\": [], b"1\0junk\\C\\\a": ["1C"], b"": [],
    b"0\\9\\x\\\a": ["0", "9x"], b" 1\\C\\\a": [], b"1 O 1S\\ 2S\\2 H 1S\\\a": ["1 O 1S 2S", "2 H 1S"],
    b"1" + b"ab" * 5000 + b"\\C\\\a": ["1" + "ab" * 5000 + "C"]}
JOBS = {  # job text of record 993 -> (method, basis)
    b"B3LYP\\6-31G(d)\\Opt\\Freq": ("B3LYP", "6-31G(d)"), b"MP2|cc-pVTZ|rest": ("MP2", "cc-pVTZ"),
    b"  HF \\ STO-3G \\": ("  HF ", " STO-3G "), b"\\\\": ("", ""), b"\\Gen\\": ("", "Gen"),
    b"M" * 1526 + b"\\\\": ("M" * 1526, ""), b"HF\\STO-3G": ("Unknown", "Unknown"),
    b"HF\\STO-3G".ljust(1528, b"\0") + b"\\b\\": ("Unknown", "Unknown")}
JOBTYPES: List[Any] = [(t, 0, n) for t, n in enumerate(
    "SP SP FOpt Guess=Only LST Force Freq Stability Scan Rearchive/MS-Restart Mixed FOpt".split())]
JOBTYPES += [(t, f, n) for t in (2, 11) for f, n in enumerate(
    "FOpt FTS POpt PTS FSaddle - PSaddle BOMD ADMP".split()) if n != "-"] + [(6, 5, "Freq")]
N, ALL = "Unknown", {"p.title": "H2 test", "p.route": "#p HF/STO-3G", "p.gauver": "ES64L-G16RevA.03",
                     "m.orblabels": ["1H 1S", "2H 1S"], "p.method": "RHF", "p.baset": "STO-3G",
                     "p.jobtype": "SP", "p.info1_9": [0] * 9, "r.ilsw[21]": 0, "r.rlsw": []}
ROWS: Dict[str, Any] = {
    "h2": (h2(), ALL),
    "no-502": (h2().remove(502), {**ALL, "p.title": N, "p.route": "None", "m.orblabels": []}),
    "no-993": (h2().remove(993), {**ALL, "p.method": N, "p.baset": N, "p.jobtype": N,
                                  "p.info1_9": []}),
    "no-801": (h2().remove(801), {**ALL, "p.gauver": N}),
    "no-998": (h2().remove(998), {"r.ilsw[21]": -1, "r.ilsw[57]": 47, "r.rlsw": [0.0] * 47}),
    "switches": (h2().replace(998, switches({7: 70, 99: -5}, [1.0, 2.0])).add(998, switches({7: 9})),
                 {"r.ilsw[7]": 70, "r.ilsw[99]": -5, "r.rlsw": [1.0, 2.0], "len(r.ilsw)": 100}),
    "998-cut": (h2().remove(998).add(998, switches({57: 5, 56: 9}, [1, 2, 3, 4, 5])).build(cut=102),
                {"r.rlsw": [1.0, 2.0, 0.0, 0.0, 0.0], "r.ilsw[56]": 9}),
    "header-as-501": (header_as_501(), {"p.genarr": [0.0] * 1000, "m.natoms": 2}),
    "general": (h2().replace(501, general({0: 2.5, 22: 1e-9, 31: -76.02, 42: -76.3, 999: 4.5})),
                {"p.genarr[999]": 4.5, "p.genarr[22]": 1e-9, "p.viratio": 2.5, "p.scfene": -76.02,
                 "p.totene": -76.3, "len(p.genarr)": 1000}),
    "no-501": (h2().remove(501), {"p.genarr": [0.0] * 1000, "p.scfene": 0.0}),
    "501-short": (h2().remove(501).add(501, reals(HEAD)).add(7, reals(AFTER)),
                  {"p.genarr": HEAD + AFTER[:990]}),
    "501-cut": (h2().remove(501).add(501, reals(HEAD + [7.0] * 990)).build(cut=10),
                {"p.genarr": HEAD + [0.0] * 990}),
    **{f"title-route-{k}": (h2().replace(502, labels(t, r)), {"p.title": et, "p.route": er})
       for k, (t, r, et, er) in enumerate([
           ("  lead and  inner  ", " #p  mp2 ", "  lead and  inner", " #p  mp2"),
           ("tab\t", "line\n", "tab\t", "line\n"), (b"abc\0def", b"#p\0 opt", "abc", "#p"),
           ("T" * 800, "R" * 32000, "T" * 800, "R" * 32000), ("", "", "", "")])},
    "title-cut": (last(502, CUT).build(cut=7), {"p.title": "A title long enough to b",
                                                "p.route": "", "m.orblabels": []}),
    "route-cut": (last(502, CUT).build(cut=106), {"p.route": "#p B3LYP/6-31G(d"}),
    **{f"fields-{k}": (h2().replace(502, labels(end=t)), {"m.orblabels": v})
       for k, (t, v) in enumerate(LABELS.items())},
    "fields-by-length": (h2().replace(502, labels(fields=["1", "C"]), length=LHW),
                         {"m.orblabels": []}),
    "fields-to-eof": (last(502, labels(end=b"1\\C\\2\\HH"), length=LHW + 101),
                      {"m.orblabels": ["1C", "2"]}),
    **{f"job-{k}": (h2().replace(993, job([0, 0, 0, 0, 0, 200, 5, 0, 0], raw=t[:1528]) + t[1528:]),
                    {"p.method": v[0], "p.baset": v[1], "p.jobtype": "Force"})
       for k, (t, v) in enumerate(JOBS.items())},
    **{f"jobtype-{t}-{f}": (h2().replace(993, job([0, 0, 0, 0, f, 0, t, 0, 0])), {"p.jobtype": n})
       for t, f, n in JOBTYPES},
    "job-info": (h2().replace(993, job(INFO)), {"p.info1_9": INFO, "p.jobtype": "ADMP",
                                                "p.method": "HF"}),
    **{f"job-cut-{n}": (last(993, job(INFO[:6] + [5, 0, 0])).build(cut=n), {
        "p.method": m, "p.info1_9": (INFO[:6] + [5, 0, 0])[:min(n, 9)] + [0] * (9 - min(n, 9)),
        "p.jobtype": "Force" if n >= 9 else "SP"}) for n, m in ((11, "HF"), (10, N), (6, N))},
    **{f"version-{k}": (last(801, t, length=n), {"p.gauver": v}) for k, (t, n, v) in enumerate([
        (b"ES64L-G09RevD.01" + b" " * 16, None, "ES64L-G09RevD.01"), (b"  lead\ttab\t", None,
        "  lead\ttab\t"), (b"", None, ""), (text("G16RevC.01"), 100, "G16RevC.01")])},
    **{f"layout{t}/{h}": (layout(t, h), {
        "m.natoms": 3, "m.totchg": -1, "m.multiplicity": 2, "m.nae": 5, "m.nbe": 4, "m.ne": 9,
        "m.nbasis": 7, "m.nbsuse": 6, "m.ndim": 0, "m.atomicnums": [8, 1, 1], "m.names": ["O", "H", "H"],
        "m.nucchg": [6.0, 1.0, 0.5], "m.coords": a(ATOMS3)})
       for t, h in ((-12345, 12), (-12346, 20), (-12347, 17), (-12348, 30), (-12349, 13))},
    **{f"cell-{n}": (h2().replace(997, mol([1, 1], H2_XYZ, ndim=n, cell=CELL)),
                     {"m.ndim": n, "m.cell": a(CELL) if n else np.zeros((3, 3)),
                      "c.cell": a(CELL)[:n] if n else None}) for n in (0, 1, 3)},
    "most-atoms": (h2().remove(670).replace(997, mol([2] * 249997, [(0.5 * k, 0.0, 0.0) for k in
                   range(249997)], ndim=3, cell=CELL)), {"m.names[-1]": "He", "m.cell": a(CELL),
                   "m.coords[-1:]": a([0.5 * 249996, 0.0, 0.0])}),
    "element-ends": (h2().remove(670).replace(997, mol([0, 111, 112, -3], CELL + ((0, 0, 0),))),
                     {"m.names": ["X", "Rg", "Rg", "X"], "m.atomicnums": [0, 111, 112, -3]}),
    # Orientation: the atoms go onto the shell centres by shift, then rotation, else take them.
    "on-shells": (placed(CENTRES, orient=(ROT90Z, SHIFT)), {"m.coords": a(CENTRES), "out": ""}),
    "shift": (placed(np.subtract(CENTRES, SHIFT), orient=(ROT90Z, SHIFT)), {"m.coords": a(CENTRES)}),
    "shift-rotation": (placed(np.asarray(CENTRES) @ np.asarray(ROT90Z) - SHIFT,
                              orient=(ROT90Z, SHIFT)), {"m.coords": a(CENTRES), "out": ""}),
    "use-basis": (placed(FAR, orient=(ROT90Z, SHIFT)), {"m.coords": a(CENTRES), "out": USE_BASIS,
                                                        "m.cshell": a(CENTRES), "m.cell": a(CELL)}),
    "use-basis-last-shell": (placed(FAR, THREE, [1, 1, 2], (ROT90Z, SHIFT)), {
        "m.coords": a(THREE[1:]), "m.cshell": a((THREE[1], THREE[1], THREE[2])),
        "out": USE_BASIS + TRANSFER}),
    "transfer": (placed(THREE[1:]), {"m.coords": a(THREE[1:]), "m.cshell": a(THREE[1:]),
                                     "out": TRANSFER}),
    "at-threshold": (placed(((1e-4, 0.0, 0.0), H2_XYZ[1]), H2_XYZ), {"m.cshell": a(H2_XYZ),
                                                                      "out": ""}),
    "past-threshold": (placed(((1.0001e-4, 0.0, 0.0), H2_XYZ[1]), H2_XYZ), {"out": TRANSFER}),
    "switch25": (placed(np.subtract(CENTRES, SHIFT), orient=(ROT90Z, SHIFT), ilsw={25: 1}),
                 {"m.coords": a(np.subtract(CENTRES, SHIFT)), "out": TRANSFER}),
    **{f"no-basis-{k}": (placed(THREE, None, orient=(rot, SHIFT)), {
        "m.coords": a((np.asarray(THREE) + SHIFT) @ np.asarray(rot).T), "m.cell": a(CELL)})
       for k, rot in (("rot90z", ROT90Z), ("general", GENERAL))},
}


@pytest.mark.parametrize("data, expected", ROWS.values(), ids=ROWS.keys())
def test_record(tmp_path: Path, capfd: pytest.CaptureFixture, data: Any,
                expected: Dict[str, Any]) -> None:
    r = read(tmp_path, data)
    out = capfd.readouterr().out
    env = {"r": r, "p": r.params, "m": r.params.mol}
    if any(expr.startswith("c.") for expr in expected):  # the library's view of the same file
        env["c"] = vexmora.load(tmp_path / "t.chk")
    for expr, want in expected.items():
        got = out if expr == "out" else eval(expr, {}, env)
        if isinstance(want, np.ndarray):
            np.testing.assert_allclose(got, want, rtol=0, atol=1e-12, err_msg=expr)
        else:
            assert got is want if want is None else got == want, expr

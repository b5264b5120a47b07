#!/usr/bin/env python3
"""Mutation testing of the C++ core: how many small faults does the suite catch?

Each mutant is one small change to one line of a C++ file of ``Vexmora_/`` or
``libvexmora/``, the bindings included (a flipped comparison, a constant off by
one, ``&&``/``||`` swapped, a throw or a check deleted, a unit constant
changed). A mutant is known by its file, the text of its line, the operator and
the occurrence on the line, so a saved list still applies after nearby lines
moved. The runner never touches the working tree: it copies the tracked files
into ``build/mutate/tree`` and, for each mutant, patches the copy, rebuilds
``build/mutate/obj`` incrementally with ninja, runs ctest and then the copy's
pytest (-x) on one interpreter against that build, and restores the copy. A
mutant that does not compile is left out of the score. With --budget the run
stops starting mutants after that many seconds and scores those it ran. With
--sanitizers a survivor also goes to the test command's sanitizer step
(fuzz/replay.sh, in the copy), which sees reads and writes past an array that
pass unseen in a release build.

    python tools/mutate.py --list                 # the chosen mutants
    python tools/mutate.py --save mutants.json    # choose and save, then run
    python tools/mutate.py --load mutants.json    # run a saved list
    python tools/mutate.py --load mutants.json --matrix kills.json  # and which tests kill each
    python tools/mutate.py --load mutants.json --sanitizers  # survivors to the sanitizer step
    python tools/mutate.py --load mutants.json --budget 2400 --jobs 2  # at most ~40 min
"""
from __future__ import annotations

import argparse
import json
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import time
from collections import defaultdict
from pathlib import Path
from typing import Dict, Iterator, List, Optional, Tuple

ROOT = Path(__file__).resolve().parents[1]
TREE = ROOT / "build" / "mutate" / "tree"  # the copy that is mutated
BUILD = ROOT / "build" / "mutate" / "obj"
DIRS = ("Vexmora_", "libvexmora")
JOBS = 1  # ninja's jobs (--jobs)

# name -> (pattern, replacement); the replacement is applied to one match.
OPERATORS: Dict[str, Tuple[str, str]] = {
    "lt>le": (r" < ", " <= "), "le>lt": (r" <= ", " < "),
    "gt>ge": (r" > ", " >= "), "ge>gt": (r" >= ", " > "),
    "eq>ne": (r" == ", " != "), "ne>eq": (r" != ", " == "),
    "and>or": (r" && ", " || "), "or>and": (r" \|\| ", " && "),
    "plus>minus": (r" \+ (?=\w)", " - "), "minus>plus": (r" - (?=\w)", " + "),
    "int+1": (r"(?<![\w.])\d+(?![\w.])", "INT+1"), "int-1": (r"(?<![\w.])[1-9]\d*(?![\w.])", "INT-1"),
    "real*1.01": (r"(?<![\w.])(?!0\.0\b)\d+\.\d*(?:e-?\d+)?(?![\w.])", "REAL"),
    "no-throw": (r"VEX_THROW\(", "(void)("),
    "true>false": (r"\breturn true\b", "return false"), "false>true": (r"\breturn false\b", "return true"),
}


def code_spans(line: str) -> List[Tuple[int, int]]:
    """Column ranges of a line outside string and character literals and // comments."""
    spans, start, i, quote = [], 0, 0, ""
    while i < len(line):
        c = line[i]
        if quote:
            if c == "\\":
                i += 1
            elif c == quote:
                quote, start = "", i + 1
        elif c in "\"'":
            spans.append((start, i))
            quote = c
        elif line.startswith("//", i):
            break
        i += 1
    if not quote:
        spans.append((start, i))
    return spans


def matches(line: str, op: str) -> List[re.Match]:
    """Matches of operator ``op`` in the code part of ``line``."""
    if line.lstrip().startswith(("#", "//")) or (op.startswith(("plus", "minus")) and '"' in line):
        return []  # (+ and - next to a text mostly joins strings: it would not compile)
    spans = code_spans(line)
    return [m for m in re.finditer(OPERATORS[op][0], line)
            if any(a <= m.start() and m.end() <= b for a, b in spans)]


def mutate_line(line: str, op: str, k: int) -> Optional[str]:
    """``line`` with occurrence ``k`` of ``op`` changed, or None if there is none."""
    found = matches(line, op)
    if k >= len(found):
        return None
    m, rep = found[k], OPERATORS[op][1]
    if rep == "INT+1":
        rep = str(int(m.group()) + 1)
    elif rep == "INT-1":
        rep = str(int(m.group()) - 1)
    elif rep == "REAL":
        rep = f"({m.group()} * 1.01)"
    return line[:m.start()] + rep + line[m.end():]


def sources(root: Path = ROOT) -> List[Path]:
    """Every C++ file of the core and of both bindings, sources before headers."""
    return [f for pattern in ("*.cpp", "*.h") for d in DIRS for f in sorted((root / d).glob(pattern))]


def copy_tree() -> None:
    """The tracked files of the working tree into TREE; unchanged files keep
    their copy (and its time stamp), so that ninja rebuilds only what changed.
    A changed file gets the time of the copy, not its own: a merge can bring a
    file older than an object the last run built from its previous text."""
    names = subprocess.check_output(["git", "ls-files", "-z"], cwd=ROOT, text=True).split("\0")
    for name in filter(None, names):
        src, dst = ROOT / name, TREE / name
        if not src.is_file():
            continue
        if not dst.exists() or dst.read_bytes() != src.read_bytes():
            dst.parent.mkdir(parents=True, exist_ok=True)
            shutil.copy(src, dst)


def candidates(files: List[Path]) -> Iterator[dict]:
    """Every possible mutant of ``files``."""
    for f in files:
        seen: Dict[str, int] = defaultdict(int)
        for text in f.read_text().splitlines():
            nth = seen[text.strip()]
            seen[text.strip()] += 1
            for op in OPERATORS:
                for k in range(len(matches(text, op))):
                    yield {"file": f.name, "line": text.strip(), "nth": nth, "op": op, "k": k}


def choose(seed: int, total: int) -> List[dict]:
    """About ``total`` mutants, at least one from every C++ file, the rest by share."""
    by_file: Dict[str, List[dict]] = defaultdict(list)
    for c in candidates(sources()):
        by_file[c["file"]].append(c)
    count = sum(len(v) for v in by_file.values())
    rng, chosen = random.Random(seed), []
    for name in by_file:  # in the order of sources()
        quota = min(len(by_file[name]), max(1, round(total * len(by_file[name]) / count)))
        # An operator first, then a place: constants are far more common than
        # comparisons or throws, but not more telling.
        by_op: Dict[str, List[dict]] = defaultdict(list)
        for c in by_file[name]:
            by_op[c["op"]].append(c)
        for _ in range(quota):
            op = rng.choice(sorted(k for k, v in by_op.items() if v))
            chosen.append(by_op[op].pop(rng.randrange(len(by_op[op]))))
    return chosen


def locate(mut: dict) -> Optional[Tuple[Path, int, str]]:
    """File, line index and mutated text of ``mut`` in the copy."""
    path = next((TREE / d / mut["file"] for d in DIRS if (TREE / d / mut["file"]).exists()), None)
    if path is None:
        return None
    lines = path.read_text().splitlines(keepends=True)
    same = [i for i, text in enumerate(lines) if text.strip() == mut["line"]]
    if len(same) <= mut["nth"]:
        return None
    i = same[mut["nth"]]
    new = mutate_line(lines[i], mut["op"], mut["k"])
    return None if new is None else (path, i, new)


def run(cmd: List[str], timeout: int, env: Optional[dict] = None) -> bool:
    try:
        return subprocess.run(cmd, cwd=TREE, env=env, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=timeout).returncode == 0
    except subprocess.TimeoutExpired:
        return False  # a hanging suite counts as a caught fault


def configure(python: str) -> dict:
    """Copies the tree, configures its build once; returns the environment the suite runs in."""
    bindir = Path(python).parent
    copy_tree()
    if not (BUILD / "build.ninja").exists():
        pyb = subprocess.check_output([python, "-m", "pybind11", "--cmakedir"], text=True).strip()
        subprocess.check_call([str(bindir / "cmake"), "-S", str(TREE), "-B", str(BUILD), "-G", "Ninja",
                               f"-DCMAKE_MAKE_PROGRAM={bindir / 'ninja'}", "-DVEXMORA_BUILD_TESTS=ON",
                               "-DCMAKE_BUILD_TYPE=Release", "-DCMAKE_CXX_FLAGS_RELEASE=-O1",
                               f"-DPython_EXECUTABLE={python}", f"-Dpybind11_DIR={pyb}"])
    if not build(bindir):
        sys.exit("the unmutated sources do not build")
    (BUILD / "Vexmora_-stubs").mkdir(exist_ok=True)
    (BUILD / "Vexmora_-stubs" / "__init__.pyi").write_bytes((TREE / "Vexmora_" / "Vexmora_-stubs" / "__init__.pyi").read_bytes())
    # The package as installed: its Python files beside the core built here, so
    # that neither the source folder nor an installed copy is imported instead.
    pkg = BUILD / "pkg" / "vexmora"
    shutil.rmtree(pkg.parent, ignore_errors=True)
    pkg.mkdir(parents=True)
    for f in list((TREE / "src" / "vexmora").iterdir()) + list(BUILD.glob("_core*.so")):
        if not f.name.startswith("_core") or f.parent == BUILD:
            (pkg / f.name).symlink_to(f)
    # The copy's tests find the shared real files where the working tree's do.
    sys.path.insert(0, str(ROOT / "tests"))
    from refdata import TESTDATA
    if not TESTDATA.is_dir():  # (a worktree elsewhere: set VEXMORA_TESTDATA)
        print(f"warning: no real files at {TESTDATA}: the tests that compare with them skip",
              file=sys.stderr, flush=True)
    env = dict(os.environ, PYTHONPATH=f"{pkg.parent}{os.pathsep}{BUILD}", PYTHONDONTWRITEBYTECODE="1",
               VEXMORA_TESTDATA=str(TESTDATA))
    where = subprocess.check_output(
        [python, "-c", "import Vexmora_, vexmora._core as c; print(Vexmora_.__file__, c.__file__)"],
        env=env, cwd=BUILD, text=True).split()
    if [Path(w).resolve().parent for w in where] != [BUILD, BUILD]:
        sys.exit(f"the suite would import {where}, not the build in {BUILD}")
    return env


def build(bindir: Path) -> bool:
    return run([str(bindir / "ninja"), "-C", str(BUILD), f"-j{JOBS}"], timeout=1800)


def failures(python: str, env: dict, every: bool) -> List[str]:
    """What fails: ["ctest"], pytest's node ids, or [] when the whole suite passes.
    Without ``every`` pytest stops at its first failure."""
    if not run([str(Path(python).parent / "ctest"), "--test-dir", str(BUILD)], 300):
        return ["ctest"]
    # The pytest command, not "python -m pytest", which would put the source
    # folder (without a compiled core) first on the path.
    cmd = [str(Path(python).parent / "pytest"), "-q", "-rf", "-p", "no:cacheprovider", "tests"]
    try:
        done = subprocess.run(cmd + ([] if every else ["-x"]), cwd=TREE, env=env, text=True,
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=600)
    except subprocess.TimeoutExpired:
        return ["timeout"]  # a hanging suite counts as a caught fault
    if done.returncode == 0:
        return []
    # A crash of the interpreter lists no failed test.
    return re.findall(r"^FAILED (.+?)(?: - .*)?$", done.stdout, re.M) or ["pytest"]


def sanitizers_catch(python: str) -> bool:
    """Whether the test command's sanitizer step (fuzz/replay.sh) fails on the copy."""
    return not run(["bash", "fuzz/replay.sh"], 1800, dict(os.environ, PYTHON=python))


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--seed", type=int, default=12)
    ap.add_argument("--count", type=int, default=64, help="mutants to choose (about)")
    ap.add_argument("--list", action="store_true", help="print the chosen mutants and stop")
    ap.add_argument("--save", type=Path, help="write the chosen list to this file")
    ap.add_argument("--load", type=Path, help="run the list saved in this file")
    ap.add_argument("--matrix", type=Path, help="run the whole suite for each mutant and "
                    "write the tests that fail for it to this file")
    ap.add_argument("--sanitizers", action="store_true", help="give each survivor to the "
                    "sanitizer step of the test command too")
    ap.add_argument("--budget", type=float, help="seconds after which no further mutant starts")
    ap.add_argument("--jobs", type=int, default=1, help="ninja's parallel jobs (default 1)")
    ap.add_argument("--python", default=str(ROOT / ".venv-3.11" / "bin" / "python"))
    args = ap.parse_args()
    global JOBS
    JOBS = args.jobs
    start = time.monotonic()
    args.python = os.path.abspath(args.python)  # not resolved: a venv's python is a link
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("terminated"))  # restores the source too
    muts = json.loads(args.load.read_text()) if args.load else choose(args.seed, args.count)
    # One file after another, fewer recompilations; headers, which rebuild
    # much of the core, last.
    muts.sort(key=lambda m: (m["file"].endswith(".h"), m["file"]))
    if args.save:
        args.save.write_text(json.dumps(muts, indent=1) + "\n")
    if args.list:
        for m in muts:
            print(f"{m['file']}: [{m['op']}#{m['k']}] {m['line']}")
        return
    env = configure(args.python)
    if failures(args.python, env, every=False):
        sys.exit("the suite fails on the unmutated sources")
    score: Dict[str, List[int]] = defaultdict(lambda: [0, 0])
    survivors, skipped, matrix = [], 0, {}
    for n, mut in enumerate(muts, 1):
        if args.budget is not None and time.monotonic() - start > args.budget:
            print(f"budget spent: {len(muts) - n + 1} mutants not run", flush=True)
            skipped += len(muts) - n + 1
            break
        found = locate(mut)
        if found is None:
            print(f"[{n}/{len(muts)}] missing: {mut['file']}: {mut['line']}", flush=True)
            skipped += 1
            continue
        path, i, new = found
        original = path.read_bytes()
        lines = original.decode().splitlines(keepends=True)
        lines[i] = new
        try:
            path.write_text("".join(lines))
            if not build(Path(args.python).parent):
                outcome = "not compiled"
            else:
                failed = failures(args.python, env, every=args.matrix is not None)
                if not failed and args.sanitizers and sanitizers_catch(args.python):
                    failed = ["sanitizers"]
                outcome = "killed" if failed else "survived"
                matrix[f"{mut['file']}:{i + 1} [{mut['op']}] {new.strip()}"] = failed
        finally:
            path.write_bytes(original)  # also on Ctrl-C
        how = " by the sanitizers" if outcome == "killed" and failed == ["sanitizers"] else ""
        print(f"[{n}/{len(muts)}] {outcome}{how}: {mut['file']}:{i + 1} {new.strip()}", flush=True)
        if outcome == "not compiled":
            skipped += 1
            continue
        score[mut["file"]][1] += 1
        if outcome == "killed":
            score[mut["file"]][0] += 1
        else:
            survivors.append(f"{mut['file']}:{i + 1} [{mut['op']}] {mut['line']}  ->  {new.strip()}")
    build(Path(args.python).parent)  # leave the build matching the sources
    if args.matrix:
        args.matrix.write_text(json.dumps(matrix, indent=1) + "\n")
    print("\nfile                 killed/total")
    for name in sorted(score):
        print(f"{name:20} {score[name][0]:3d}/{score[name][1]:<3d}")
    killed, total = sum(v[0] for v in score.values()), sum(v[1] for v in score.values())
    by_sanitizers = sum(v == ["sanitizers"] for v in matrix.values())
    print(f"overall              {killed:3d}/{total:<3d} = {100.0 * killed / max(total, 1):.1f} %"
          f"  ({by_sanitizers} of them by the sanitizers; {skipped} not compiled, missing or not run)")
    print("\nsurvivors:\n" + "\n".join(survivors))


if __name__ == "__main__":
    main()

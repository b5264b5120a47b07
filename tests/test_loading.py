"""Loading: the library's reader checks every record at load but reads the large
ones (orbitals, densities, Hessian) on first use, from the file as it was then;
their buffers serve later loads."""
from __future__ import annotations

import os
import threading
from pathlib import Path
from typing import Callable, Dict, Tuple

import numpy as np
import pytest

import vexmora
from chkbuilder import H2_XYZ, h2, ints, mol, reals

RNG = np.random.default_rng(7)


def job(n: int, cut: int = 0, scale: float = 1.0) -> Tuple[Dict[str, np.ndarray], bytes]:
    """H2 with n basis functions: random orbitals, SCF density and Hessian, and the
    matrices a reader must give; with ``cut``, the file ends ``cut`` words short
    of the orbitals' end (behind room for their length), which then read as 0."""
    mo = scale * RNG.standard_normal((n, n))
    tri = RNG.standard_normal(n * (n + 1) // 2)
    hess = RNG.standard_normal(21)
    full = np.zeros((n, n))
    full[np.tril_indices(n)] = tri
    full += np.tril(full, -1).T
    b = h2().replace(997, mol([1, 1], H2_XYZ, nbasis=n)).replace(522, reals(np.arange(n) * 0.1))
    b.add(603, ints([1 << 32]) + tri.tobytes()).add(585, reals(hess))
    b.remove(524).add(4242, bytes(8 * n * n)).add(524, mo.tobytes())
    if cut:
        mo.flat[-cut:] = 0.0
    h = np.zeros((6, 6))
    h[np.tril_indices(6)] = hess
    h += np.tril(h, -1).T
    return {"mo": mo, "density": full, "hessian": h}, b.build(cut=n * n - cut if cut else None)


TAKE: Dict[str, Callable[[vexmora.Checkpoint], np.ndarray]] = {
    "mo": lambda c: c.mo_coefficients_alpha, "density": lambda c: c.densities["SCF"],
    "hessian": lambda c: c.hessian}


def test_threads_share_one_first_read(tmp_path: Path) -> None:
    """One fresh checkpoint read from 8 threads at once: every thread gets the arrays
    the file was built from (1030 functions: the density unpacks on two threads)."""
    want, data = job(1030)
    path = tmp_path / "t.chk"
    path.write_bytes(data)
    c = vexmora.load(path)
    got: Dict[Tuple[int, str], np.ndarray] = {}
    start = threading.Barrier(8)

    def run(i: int) -> None:
        start.wait()
        for name in list(TAKE)[i % 3:] + list(TAKE)[:i % 3]:
            got[i, name] = TAKE[name](c)

    threads = [threading.Thread(target=run, args=(i,)) for i in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert len(got) == 24 and all(np.array_equal(a, want[name]) for (_, name), a in got.items())


@pytest.mark.parametrize("first, second", [((400, 0, 1.0), (400, 0, 2.0)), ((400, 0, 1.0), (390, 7000, 3.0)),
                                           ((380, 0, 1.0), (400, 0, 4.0)),
                                           # orbitals of over 8 MiB, read in two halves at once;
                                           # the file ending in the second half, then in the first
                                           ((1100, 0, 1.0), (1100, 7000, 2.0)),
                                           ((1100, 0, 1.0), (1100, 800_000, 3.0))])
def test_a_buffer_of_an_earlier_load_holds_the_new_file(tmp_path: Path, first: Tuple[int, int, float],
                                                        second: Tuple[int, int, float]) -> None:
    """Loads one after another reuse large buffers: nothing of the earlier file may show,
    also where the later file ends inside its orbitals (the rest reads as 0)."""
    for n, cut, scale in (first, second):
        want, data = job(n, cut, scale)
        path = tmp_path / f"{n}-{cut}.chk"
        path.write_bytes(data)
        c = vexmora.load(path)
        for name, take in TAKE.items():
            assert np.array_equal(take(c), want[name]), name
        del c


def truncate(p: Path) -> None:
    os.truncate(p, p.stat().st_size // 2)


def rewrite(p: Path) -> None:
    """The same length, other values, another time stamp."""
    data = bytearray(p.read_bytes())
    data[-8:] = reals([1.5])
    st = p.stat()
    p.write_bytes(bytes(data))
    os.utime(p, ns=(st.st_atime_ns, st.st_mtime_ns + 10**9))


def replace(p: Path) -> None:
    other = p.with_suffix(".new")
    other.write_bytes(p.read_bytes())
    os.replace(other, p)


CHANGES = {"truncated": truncate, "rewritten": rewrite, "replaced": replace, "removed": os.remove}


@pytest.mark.parametrize("change", CHANGES)
def test_a_file_changed_after_loading_is_refused_on_access(tmp_path: Path, change: str,
                                                           monkeypatch: pytest.MonkeyPatch) -> None:
    """The metadata stays; a large array not yet read raises a clear error, each time;
    arrays taken before stay valid; a new load of the file works."""
    want, data = job(40)
    path = tmp_path / "t.chk"
    path.write_bytes(data)
    monkeypatch.chdir(tmp_path)  # a relative path, and then another directory
    c = vexmora.load("t.chk")
    mo = c.mo_coefficients_alpha
    CHANGES[change](path)
    monkeypatch.chdir("/")
    assert c.symbols == ["H", "H"] and c.n_basis == 40 and np.array_equal(mo, want["mo"])
    reason = "Can not open/write file: " if change == "removed" else "changed after it was loaded"
    for name in ("density", "hessian", "density"):
        with pytest.raises(RuntimeError, match=reason):
            TAKE[name](c)
    with pytest.raises(RuntimeError, match=reason):
        c.write_fchk(tmp_path / "t.fchk")
    assert not (tmp_path / "t.fchk").exists()
    if change != "removed":
        assert change == "truncated" or np.array_equal(vexmora.load(path).hessian, want["hessian"])

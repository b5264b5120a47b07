"""The dataset table: each column against the library's property, Gaussian's log and the
thermo command; error rows; the same table on threads, processes and a Dask cluster, read
back by pandas, polars and Dask; outputs whole or not at all, never over an input."""
from __future__ import annotations

import json
import os
import re
import shutil
import signal
import subprocess
import sys
from collections import Counter
from concurrent.futures import ProcessPoolExecutor, ThreadPoolExecutor
from pathlib import Path
from typing import Any, Dict, Iterator, List

import numpy as np
import pytest

import vexmora
import vexmora.cli
from chkbuilder import h2, h2_job, labels
from refdata import TESTDATA, good_checkpoints, log_orbital_energies, real_checkpoints
from test_vibrations import BOND, job

pa = pytest.importorskip("pyarrow", reason="pyarrow is not installed (pip install 'vexmora[dataset]')")
pq = pytest.importorskip("pyarrow.parquet")
from vexmora import _dataset  # noqa: E402

ROOT = Path(__file__).resolve().parents[1]
# One job's route turned symmetry off: each table of it says so (the fixture checks it once).
pytestmark = pytest.mark.filterwarnings("ignore:.*the route turned symmetry off")


@pytest.fixture(scope="module")
def jobs(tmp_path_factory: pytest.TempPathFactory) -> List[str]:
    """Builder jobs (a frequency job of three atoms, one of two whose route turned symmetry
    off, H2 without masses, the second again with a byte of its route not UTF-8), the real
    checkpoints, an empty and a damaged file, in that order."""
    tmp = tmp_path_factory.mktemp("jobs")
    nosymm = job().replace(502, labels("H2", "#p freq nosymm", ["1", "H 1S", "2", "H 1S"]))
    latin = job().replace(502, labels("H2", b"#p freq nosymm\xff", ["1", "H 1S", "2", "H 1S"]))
    paths = [job(BOND + ((0.0, 1.3, 2.2),), moltyp=-12347).write(tmp / "bent.chk"),
             nosymm.write(tmp / "nosymm.chk"), str(h2_job(tmp)), latin.write(tmp / "latin.chk")]
    (tmp / "empty.chk").write_bytes(b"")
    (tmp / "cut.chk").write_bytes(h2().build()[:-40])
    return paths + [str(p) for p in real_checkpoints()] + [str(tmp / "empty.chk"), str(tmp / "cut.chk")]


@pytest.fixture(scope="module")
def table(jobs: List[str]) -> Any:
    with ThreadPoolExecutor(2) as pool, pytest.warns(UserWarning, match="nosymm.chk: warning: the route turned"):
        return vexmora.dataset(jobs, executor=pool)


def thermo_command(path: str, capsys: pytest.CaptureFixture) -> Dict[str, Any]:
    assert vexmora.cli.main(["thermo", path, "--json"]) == 0
    return json.loads(capsys.readouterr().out)[0]


def hill(symbols: List[str]) -> str:
    """The Hill formula as written out: C, then H, then the rest alphabetically (all of
    them alphabetically without carbon)."""
    counts = Counter(symbols)
    first = [e for e in ("C", "H") if e in counts] if "C" in counts else []
    return "".join(e + (str(counts[e]) if counts[e] > 1 else "") for e in first + sorted(set(counts) - set(first)))


def expected(path: str, capsys: pytest.CaptureFixture) -> Dict[str, Any]:
    """Every column from the checkpoint's own properties and `vexmora thermo`."""
    c = vexmora.load(path)
    g = c.point_group()
    out: Dict[str, Any] = {k: getattr(c, k) for k in ("title", "route", "method", "basis_set", "job_type",
                                                     "program_version", "charge", "multiplicity", "n_basis",
                                                     "n_electrons", "scf_energy", "total_energy", "symbols")}
    out.update(path=path, error=None, formula=hill(c.symbols),
               n_atoms=len(c.symbols), atomic_numbers=c.atomic_numbers.tolist(),
               coordinates=c.coordinates.reshape(-1).tolist(), point_group=g.name, symmetry_number=g.symmetry_number,
               dipole=None if c.dipole is None else c.dipole.tolist(),
               mulliken_charges=None if c.mulliken_charges is None else c.mulliken_charges.tolist())
    for suffix, e, n in (("", c.mo_energies_alpha, c.n_alpha), ("_beta", c.mo_energies_beta, c.n_beta)):
        homo = None if e is None or n < 1 else float(e[n - 1])
        lumo = None if e is None or n >= len(e) else float(e[n])
        out.update({"homo_energy" + suffix: homo, "lumo_energy" + suffix: lumo,
                    "gap" + suffix: None if homo is None or lumo is None else lumo - homo})
    thermo = dict.fromkeys(_dataset._THERMO)
    if c.hessian is not None and c.atomic_masses is not None:
        f = c.vibrations().frequencies
        ref = thermo_command(path, capsys)
        thermo.update(frequencies=f.tolist(), n_imaginary=int((f < 0).sum()), zpe=ref["ZPE"],
                      enthalpy=ref["H"], gibbs=ref["G(T)"], qh_gibbs=ref["qh-G(T)"])
    return {**out, **thermo}


def test_every_column_is_the_librarys_and_gaussians(jobs: List[str], table: Any,
                                                    capsys: pytest.CaptureFixture) -> None:
    assert table.schema == _dataset.schema() and table.column_names == list(_dataset.NAMES)
    rows = table.to_pylist()
    assert [r["path"] for r in rows] == jobs  # input order
    broken = [p for p in jobs if "broken" in p or p.endswith(("empty.chk", "cut.chk"))]
    for path, row in zip(jobs, rows):
        if path in broken:
            assert row["error"].startswith(path + ": ") and "\n" not in row["error"], row["error"]
            assert all(v is None for k, v in row.items() if k not in ("path", "error")), path
            continue
        assert row == expected(path, capsys), path
    assert sum(r["frequencies"] is not None for r in rows) == 3 + (TESTDATA.is_dir() and 2)
    # Independently: what Gaussian printed in the job's log.
    for path, row in zip(jobs, rows):
        log = Path(path).with_suffix(".log")
        if not log.exists():
            continue
        text = log.read_text(errors="replace")
        assert row["scf_energy"] == pytest.approx(float(re.findall(r"SCF Done:.*?=\s+(\S+)", text)[-1]), abs=1e-8)
        for spin, suffix in (("Alpha", ""), ("Beta", "_beta")):
            printed = log_orbital_energies(text, spin)
            if printed and row["homo_energy" + suffix] is not None:
                n = sum(1 for e in printed if e <= row["homo_energy" + suffix] + 1e-5)
                assert row["lumo_energy" + suffix] == pytest.approx(printed[n], abs=6e-6), (path, spin)
        if "Thermochemistry" in text:
            for column, label in (("zpe", "Zero-point correction="),
                                  ("enthalpy", "Sum of electronic and thermal Enthalpies="),
                                  ("gibbs", "Sum of electronic and thermal Free Energies=")):
                value = float(re.findall(re.escape(label) + r"\s+(-?\d+\.\d+)", text)[-1])
                assert row[column] == pytest.approx(value, abs=1.1e-6), (path, column)


def test_the_library_gives_the_same_rows_where_the_core_gives_none(jobs: List[str], table: Any,
                                                                    monkeypatch: pytest.MonkeyPatch) -> None:
    """Every file through the library's own path (as a file only it can read would go)."""
    core_rows = _dataset._core.dataset_rows

    def none_read(*args: Any) -> Dict[str, Any]:
        columns = core_rows(*args)
        columns["ok"][:] = False
        return columns
    monkeypatch.setattr(_dataset._core, "dataset_rows", none_read)
    with pytest.warns(UserWarning, match="nosymm.chk: warning: the route turned"):
        assert vexmora.dataset(jobs).equals(table)


def test_columns_and_schema_are_fixed_and_documented(jobs: List[str]) -> None:
    sub = vexmora.dataset(jobs[:2], columns=["qh_gibbs", "formula"], executor=ThreadPoolExecutor(1))
    assert sub.column_names == ["path", "error", "formula", "qh_gibbs"]
    assert sub.schema == _dataset.schema(["formula", "qh_gibbs"])
    assert vexmora.dataset([]).schema == _dataset.schema()
    with pytest.raises(ValueError, match="unknown column gibs; the columns are path, error, title"):
        vexmora.dataset(jobs[:1], columns=["gibs"])
    # The README's table of columns names each, in order, with its unit.
    readme = (ROOT / "README.md").read_text()
    documented = re.findall(r"^\| `(\w+)` \| `([^`]*)` \| ([^|]*) \|", readme, re.M)
    assert [(n, t.strip(), u.strip()) for n, t, u, *_ in documented] == [
        (c.name, c.type, c.unit) for c in _dataset.COLUMNS]


# --- the same table however it is computed -----------------------------------------------
@pytest.fixture(scope="module")
def dask_client() -> Iterator[Any]:
    distributed = pytest.importorskip("distributed", reason="dask.distributed is not installed")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as client:
        yield client


@pytest.fixture
def deadline() -> Iterator[None]:
    """Fails the test, rather than hanging the suite, after two minutes."""
    def expire(signum: int, frame: Any) -> None:
        raise TimeoutError("the test ran past its two minutes")
    old = signal.signal(signal.SIGALRM, expire)
    signal.alarm(120)
    yield
    signal.alarm(0)
    signal.signal(signal.SIGALRM, old)


@pytest.mark.parametrize("kind", ["processes", "dask"])
def test_same_table_on_processes_and_a_dask_cluster(kind: str, jobs: List[str], table: Any, tmp_path: Path,
                                                    deadline: None, request: pytest.FixtureRequest) -> None:
    many = jobs * 3  # more files than one task of a process pool holds
    expect = pa.concat_tables([table] * 3)
    out = tmp_path / "t.parquet"
    if kind == "processes":
        with ProcessPoolExecutor(2) as pool:
            result = vexmora.write_dataset(many, out, executor=pool, row_group_size=7)
    else:
        client = request.getfixturevalue("dask_client")
        result = vexmora.write_dataset(many, out, executor=client.get_executor(), row_group_size=7)
    assert (result.rows, len(result.errors)) == (len(many), 3 * sum(r is not None for r in table["error"].to_pylist()))
    assert pq.read_table(out).equals(expect) and pq.ParquetFile(out).num_row_groups == -(-len(many) // 7)
    pd = pytest.importorskip("pandas")
    frame = pd.read_parquet(out)
    assert frame["path"].tolist() == many and np.allclose(frame["coordinates"][0], expect["coordinates"][0].as_py())
    if kind == "dask":  # the readers that come with a cluster's environment
        polars = pytest.importorskip("polars")
        assert polars.read_parquet(out)["qh_gibbs"].to_list() == expect["qh_gibbs"].to_pylist()
        dd = pytest.importorskip("dask.dataframe")
        back = dd.read_parquet(str(out)).compute()
        assert back["path"].tolist() == many and back["qh_gibbs"].isna().tolist() == frame["qh_gibbs"].isna().tolist()


# --- outputs ------------------------------------------------------------------------------------
def test_arrays_go_to_hdf5_beside_the_table(jobs: List[str], tmp_path: Path) -> None:
    h5py = pytest.importorskip("h5py")
    names = ("mo_coefficients_alpha", "densities.SCF", "hessian", "mo_energies_beta")
    paths = jobs[:3] + jobs[-1:]
    result = vexmora.write_dataset(paths, tmp_path / "t.parquet", arrays=names, executor=ThreadPoolExecutor(2))
    keys = pq.read_table(tmp_path / "t.parquet")["arrays_key"].to_pylist()
    assert result.arrays_path == str(tmp_path / "t.h5") and keys == ["000000", "000001", "000002", None]
    with h5py.File(tmp_path / "t.h5", "r") as f:
        assert sorted(f) == keys[:3]
        for key, path in zip(keys[:3], paths):
            c, group = vexmora.load(path), f[key]
            assert group.attrs["path"] == path
            assert np.array_equal(group["hessian"][()], c.hessian)
            assert np.array_equal(group["mo_coefficients_alpha"][()], c.mo_coefficients_alpha)
            assert ("densities" in group) == ("SCF" in c.densities) and "mo_energies_beta" not in group
            if "SCF" in c.densities:
                assert np.array_equal(group["densities/SCF"][()], c.densities["SCF"])
    for bad in ("vibrations", "title", "densities.XYZ", "write_fchk"):
        with pytest.raises(ValueError, match="is not an array of a checkpoint"):
            vexmora.write_dataset(paths, tmp_path / "u.parquet", arrays=[bad])
    assert sorted(os.listdir(tmp_path)) == ["t.h5", "t.parquet"]


def test_a_row_and_its_arrays_are_of_one_file(tmp_path: Path, monkeypatch: pytest.MonkeyPatch) -> None:
    """A file replaced after its row was read, before its arrays were: an error row, no group."""
    pytest.importorskip("h5py")
    first, other = job().write(tmp_path / "a.chk"), str(h2_job(tmp_path))
    core_rows = _dataset._core.dataset_rows_of

    def then_replaced(*args: Any) -> Dict[str, Any]:
        columns = core_rows(*args)
        shutil.copy(other, first)
        return columns
    monkeypatch.setattr(_dataset._core, "dataset_rows_of", then_replaced)
    result = vexmora.write_dataset([first], tmp_path / "t.parquet", arrays=["mo_coefficients_alpha"])
    row = pq.read_table(tmp_path / "t.parquet").to_pylist()[0]
    assert "changed after it was loaded" in result.errors[0] and row["error"] == result.errors[0]
    assert all(v is None for k, v in row.items() if k not in ("path", "error")), row


class Stop(KeyboardInterrupt):
    pass


def test_an_interrupted_or_failed_write_leaves_no_partial_file(jobs: List[str], tmp_path: Path) -> None:
    old = tmp_path / "old.parquet"
    old.write_bytes(b"the previous table")
    done = [0]
    def stop(n: int) -> None:  # after a few row groups are written
        done[0] += n
        if done[0] >= 9:
            raise Stop()
    for out in (old, tmp_path / "new.parquet"):
        with pytest.raises(Stop):
            vexmora.write_dataset(jobs * 30, out, progress=stop, arrays=["hessian"], row_group_size=2)
    assert sorted(os.listdir(tmp_path)) == ["old.parquet"] and old.read_bytes() == b"the previous table"
    # A full disk (a file size limit, without privileges): the system's reason, nothing left.
    child = ("import resource, signal, sys, vexmora\n"
             "signal.signal(signal.SIGXFSZ, signal.SIG_IGN)\n"
             "resource.setrlimit(resource.RLIMIT_FSIZE, (4096, resource.RLIM_INFINITY))\n"
             "try:\n    vexmora.write_dataset(sys.argv[2:], sys.argv[1])\n"
             "except vexmora.WriteError as exc:\n    print(exc.errno, exc)\n")
    run = subprocess.run([sys.executable, "-c", child, str(old), *jobs * 20], capture_output=True, text=True,
                         timeout=120, cwd=tmp_path)
    assert run.stdout.strip() == f"27 {old}: File too large", run.stderr
    assert sorted(os.listdir(tmp_path)) == ["old.parquet"] and old.read_bytes() == b"the previous table"


@pytest.mark.parametrize("out, inputs, message", [
    ("jobs/a.chk", ["jobs"], "it is the input file jobs/a.chk, which is never replaced"),
    ("t.parquet", ["jobs", "t.parquet"], "it is the input file t.parquet"),
    ("link.parquet", ["jobs"], "link.parquet: it is the input file jobs/a.chk"),
    ("new.chk", ["jobs"], "the name of a binary checkpoint, not of a Parquet table; name it .parquet"),
    ("t.parquet --arrays hessian --arrays-file jobs/a.chk", ["jobs"], "jobs/a.chk: it is the input file"),
    ("t.parquet --columns gibbs,entropy", ["jobs"], "unknown column entropy"),
    ("jobs", ["jobs/a.chk"], "vexmora: jobs: Is a directory"),
], ids=["input in the folder", "input file", "link to an input", "checkpoint name", "arrays file",
        "unknown column", "a folder"])
def test_refusals_write_nothing(out: str, inputs: List[str], message: str, tmp_path: Path,
                                monkeypatch: pytest.MonkeyPatch, capsys: pytest.CaptureFixture) -> None:
    monkeypatch.chdir(tmp_path)
    Path("jobs").mkdir()
    h2_job(Path("jobs"), "a.chk")
    Path("t.parquet").write_bytes(b"not a table")
    os.symlink("jobs/a.chk", "link.parquet")
    before = {p: p.read_bytes() for p in tmp_path.rglob("*") if p.is_file()}
    assert vexmora.cli.main(["dataset", *inputs, "-o", *out.split()]) == 1
    err = capsys.readouterr().err
    assert err.startswith("vexmora: ") and message in err and len(err.splitlines()) == 1, err
    assert {p: p.read_bytes() for p in tmp_path.rglob("*") if p.is_file()} == before


def test_outputs_through_links(tmp_path: Path) -> None:
    """A link to an output is written through, as every writer does: the link stays; the
    table and its arrays are never one file, by any name."""
    pytest.importorskip("h5py")
    chk = str(h2_job(tmp_path))
    (tmp_path / "other.parquet").write_bytes(b"the previous table")
    (tmp_path / "link.parquet").symlink_to("other.parquet")
    vexmora.write_dataset([chk], tmp_path / "link.parquet", columns=["formula"])
    assert (tmp_path / "link.parquet").is_symlink()
    assert pq.read_table(tmp_path / "other.parquet")["formula"].to_pylist() == ["H2"]
    (tmp_path / "alias.h5").symlink_to("other.parquet")
    with pytest.raises(ValueError, match="named for both the table and its arrays"):
        vexmora.write_dataset([chk], tmp_path / "link.parquet", arrays=["hessian"],
                              arrays_path=tmp_path / "alias.h5")
    assert pq.read_table(tmp_path / "other.parquet")["formula"].to_pylist() == ["H2"]
    assert sorted(p.name for p in tmp_path.iterdir() if p.name.startswith(".")) == []


def test_an_error_row_names_its_file(tmp_path: Path, capsys: pytest.CaptureFixture) -> None:
    """A file that reads but whose vibrations fail (two atoms at one point): its row's error,
    and the command's line, name it."""
    with np.errstate(invalid="ignore"):
        chk = job(((0.0, 0.0, 0.0), (0.0, 0.0, 0.0))).write(tmp_path / "same.chk")
    (error,) = vexmora.dataset([chk], columns=["gibbs"])["error"].to_pylist()
    assert error == f"{chk}: The mass-weighted Hessian could not be diagonalised"
    assert vexmora.cli.main(["dataset", chk, "-o", str(tmp_path / "t.parquet")]) == 1
    assert capsys.readouterr().err == f"vexmora: {error}\n"


def test_command_goes_on_past_bad_files(tmp_path: Path, capsys: pytest.CaptureFixture) -> None:
    folder = tmp_path / "jobs"
    (folder / "deeper").mkdir(parents=True)
    h2_job(folder, "a.chk")
    job(BOND + ((0.0, 1.3, 2.2),), moltyp=-12347).write(folder / "deeper" / "b.chk")
    (folder / "empty.chk").write_bytes(b"")
    (folder / "noise.chk").write_bytes(bytes(range(256)) * 7)
    out = tmp_path / "t.parquet"
    assert vexmora.cli.main(["dataset", str(folder), "-o", str(out), "-j", "2", "-r", "--columns", "formula"]) == 1
    assert capsys.readouterr().err.splitlines() == [
        f"vexmora: {folder / 'empty.chk'}: the file is empty, not a checkpoint",
        f"vexmora: {folder / 'noise.chk'}: Not a valid .chk file generated by Gaussian 64 bit version or it has broken"]
    t = pq.read_table(out)
    assert t.column_names == ["path", "error", "formula"] and t["formula"].to_pylist() == ["H2", "H3", None, None]
    assert vexmora.cli.main(["dataset", str(folder / "a.chk"), str(folder / "deeper"), "-o", str(out)]) == 0
    assert pq.read_table(out)["formula"].to_pylist() == ["H2", "H3"]


def test_readme_threads_example_runs(tmp_path: Path, monkeypatch: pytest.MonkeyPatch) -> None:
    pytest.importorskip("pandas")
    block = re.search(r"```python\n(# A folder of jobs.*?)```", (ROOT / "README.md").read_text(), re.S)
    assert block is not None
    (tmp_path / "jobs").mkdir()
    job().write(tmp_path / "jobs" / "high.chk")
    job(BOND + ((0.0, 1.3, 2.2),), moltyp=-12347).write(tmp_path / "jobs" / "low.chk")
    monkeypatch.chdir(tmp_path)
    scope: Dict[str, Any] = {}
    exec(block.group(1), scope)
    df = scope["df"]
    assert df["path"].tolist() == sorted(df["path"], key=lambda p: dict(zip(df["path"], df["qh_gibbs"]))[p])
    assert len(df) == 2 and df["qh_gibbs"].is_monotonic_increasing


def test_without_pyarrow_a_clear_import_error(monkeypatch: pytest.MonkeyPatch, capsys: pytest.CaptureFixture,
                                             tmp_path: Path) -> None:
    monkeypatch.setitem(sys.modules, "pyarrow", None)
    with pytest.raises(ImportError, match=r"need pyarrow: pip install 'vexmora\[dataset\]'"):
        vexmora.dataset([])
    assert vexmora.cli.main(["dataset", str(h2_job(tmp_path)), "-o", str(tmp_path / "t.parquet")]) == 1
    assert capsys.readouterr().err.startswith("vexmora: vexmora's datasets need pyarrow: pip install")

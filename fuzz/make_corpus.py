"""Writes the fuzzing seed corpus: varied synthetic checkpoints made with the
test-side builder, complete jobs and damaged ones, one file per variant."""
from __future__ import annotations

import sys
from pathlib import Path
from typing import Callable, Dict

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests"))

from chkbuilder import (H1S_COEFS, H1S_EXPS, ChkBuilder, Shell, basis, densities, h2,  # noqa: E402
                        job, labels, lower_triangle, mol, orientation, reals, switches)

XYZ = [(0.0, 0.0, 0.0), (0.0, 0.3, 1.4), (1.1, -0.7, 2.5)]
CELL = ((9.0, 0.0, 0.0), (0.0, 9.0, 0.0), (0.0, 0.0, 9.0))


def with_wfn(iopcl: int, irohf: int = 0, nb: int = 2) -> ChkBuilder:
    """H2 with orbitals laid out for wavefunction code ``iopcl``."""
    spin, nri, unres = (iopcl % 8) // 4 + 1, (iopcl % 4) // 2 + 1, iopcl % 2
    norb = nb * spin
    b = h2().replace(998, switches({0: iopcl, 21: irohf}))
    b.replace(522, reals([-0.5 + 0.1 * i for i in range(norb * (1 + unres))]))
    b.replace(524, reals([0.3 * i for i in range(nb * norb * spin * nri)]))
    if unres:
        b.add(526, reals([0.2 * i for i in range(nb * norb * spin * nri)]))
    return b


def shells_basis(types: str) -> ChkBuilder:
    """Three atoms with one shell of each type code in ``types`` (S, P, L=SP, D, F)."""
    code = {"S": (0, {0}), "P": (1, {1}), "L": (1, {0, 1}), "D": (2, {2}), "F": (3, {2, 3})}
    shells = []
    for i, t in enumerate(types):
        T, Ls = code[t]
        shells.append(Shell(atom=i % 3 + 1, T=T, exps=H1S_EXPS, centre=XYZ[i % 3],
                            coefs={L: [c * (L + 1) for c in H1S_COEFS] for L in Ls}))
    b = h2().replace(997, mol([8, 1, 1], XYZ, nbasis=len(types), nae=5, nbe=5))
    return b.replace(670, basis(shells)).remove(522, 524)


def dens(iopcl: int, mask: int, blocks: int, nb: int = 2) -> ChkBuilder:
    n = nb * ((iopcl % 8) // 4 + 1)
    size = ((iopcl % 4) // 2 + 1) * n * (n + 1) // 2 * (iopcl % 2 + 1)
    return with_wfn(iopcl).add(603, densities(mask, *[[0.1 * k] * size for k in range(blocks)]))


VARIANTS: Dict[str, Callable[[], bytes]] = {
    "h2": lambda: h2().build(),
    "no_orbitals": lambda: h2().remove(522, 524).build(),
    **{f"wfn{c}": (lambda c=c: with_wfn(c).build()) for c in (1, 2, 6, 22)},
    "rohf_534": lambda: with_wfn(0, irohf=3).add(534, reals([0.0])).build(),
    "orthbasis": lambda: h2().add(685, reals([1.0, 0.0, 0.0, 1.0])).build(),
    "hessian": lambda: h2().add(585, reals([0.1 * i for i in range(21)])).build(),
    "orient_hessian": lambda: h2().add(551, orientation(((0, 1, 0), (-1, 0, 0), (0, 0, 1)), (0, 0, 1.0)))
    .add(585, reals([0.01 * i for i in range(21)])).build(),
    "shells_sp": lambda: shells_basis("SLL").build(),
    "shells_spdf": lambda: shells_basis("SPDFLD").build(),
    "dens_many": lambda: dens(0, 0b101000101, 4).build(),
    "dens_unres": lambda: dens(1, 3, 2).build(),
    "dens_all": lambda: h2().add(603, densities(0, word=-1)).build(),
    "opt_freq": lambda: h2().replace(993, job([0, 0, 0, 0, 1, 0, 2, 0, 0], "B3LYP", "6-31G")).build(),
    "periodic": lambda: h2().replace(997, mol([1, 1], XYZ[:2], ndim=3, cell=CELL)).build(),
    "bad_flag": lambda: h2().replace(502, labels(flag=7)).build(),
    "truncated": lambda: h2().build(length_words=700)[:700 * 8],
    "long_record": lambda: h2().replace(524, reals([1.0] * 4), length=1 << 40).build(),
    "header_only": lambda: ChkBuilder().build(),
}
# Small seeds (no 502 with its 32 kB route) let mutations reach the later records.
for name in ("h2", "wfn1", "orient_hessian", "shells_spdf", "dens_unres"):
    VARIANTS[f"small_{name}"] = (lambda full=VARIANTS[name]: small(full()))
for t in (-12345, -12346, -12347, -12349):
    VARIANTS[f"moltyp{t}"] = (lambda t=t: h2().replace(997, mol([1, 1], XYZ[:2], moltyp=t))
                              .build())


def small(chk: bytes) -> bytes:
    """The same file without its label record 502 (rebuilt from the records)."""
    import struct
    n = struct.unpack_from("<q", chk)[0]
    b = ChkBuilder()
    for k in range(n):
        label, begin, end, _ = struct.unpack_from("<4q", chk, 32 + 32 * k)
        if label != 502:
            b.add(label, chk[8 * begin:8 * end])
    return b.build()


def main(out: str) -> None:
    d = Path(out)
    d.mkdir(parents=True, exist_ok=True)
    for name, make in VARIANTS.items():
        (d / f"{name}.chk").write_bytes(make())
    print(f"{len(VARIANTS)} seeds in {d}")


if __name__ == "__main__":
    main(sys.argv[1])

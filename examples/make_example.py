"""Writes examples/water.chk: a small synthetic checkpoint of water, RHF/STO-3G.

The numbers are made up for the example (geometry, energies, orbitals), except
the STO-3G exponents and contraction coefficients; the layout is that of a
64-bit Gaussian checkpoint. Run it from anywhere: ``python examples/make_example.py``.
"""
from __future__ import annotations

import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tests"))

from chkbuilder import ChkBuilder, ints, raw_coefs, reals, text  # noqa: E402


def build() -> bytes:
    ilsw = [0] * 100
    ilsw[57] = 2
    switches = ints(ilsw) + reals([0.0] * 100)

    gen = [0.0] * 1000
    gen[0], gen[22], gen[31], gen[42] = 2.0012, 3.1e-9, -74.9629466, -74.9629466

    tail = b"1\\O 1S\\2S\\2PX\\2PY\\2PZ\\2\\H 1S\\3\\H 1S\\\x07"
    labels = ints([-12345, 0, 0, 0]) + text("Water, the bundled example", 800)
    labels += text("#p RHF/STO-3G SP", 32000) + tail

    info = [0] * 9
    job = ints(info) + text(b"HF\\STO-3G\\", 1528, pad=b"\0")

    atoms = [8, 1, 1]
    xyz = [0.0, 0.0, 0.2217, 0.0, 1.4309, -0.8867, 0.0, -1.4309, -0.8867]
    nat = 3
    hdr = [-12348, 20, nat, 0, 1, 5, 5, 10, 7, 7, 0, 0] + [0] * 8
    entries = nat + 3
    mol = ints(hdr) + ints(atoms + [0] * 3) + reals([8.0, 1.0, 1.0] + [0.0] * 3)
    mol += reals(xyz + [0.0] * 9) + ints([0] * entries)

    o1s = [130.7093200, 23.8088610, 6.4436083]
    o2sp = [5.0331513, 1.1695961, 0.3803890]
    h1s = [3.42525091, 0.62391373, 0.16885540]
    c1s = [0.15432897, 0.53532814, 0.44463454]
    c2s = [-0.09996723, 0.39951283, 0.70011547]
    c2p = [0.15591627, 0.60768372, 0.39195739]
    primexp = o1s + o2sp + h1s + h1s
    primconc = raw_coefs(c1s, o1s, 0) + raw_coefs(c2s, o2sp, 0) + 2 * raw_coefs(c1s, h1s, 0)
    primspconc = [0.0] * 3 + raw_coefs(c2p, o2sp, 1) + [0.0] * 6
    centres = [xyz[0:3], xyz[0:3], xyz[3:6], xyz[6:9]]
    nshell, nprim = 4, 12
    basis = ints([nshell, 1, nprim, 0, 0, 0] + [0] * 26)
    basis += reals(primexp) + reals(primconc) + reals(primspconc)
    basis += ints([0] * nshell)  # shellhiptr
    for k in range(3):
        basis += reals([c[k] for c in centres])
    basis += ints([1, 1, 2, 3])  # shell2map
    basis += ints([1, 4, 7, 10])  # shellprimptr
    basis += ints([3, 3, 3, 3])  # shellnprim
    basis += ints([0, 1, 0, 0])  # shelltypes
    basis += ints([0, 0, 0, 0])  # shellcons: the second shell is SP
    basis += ints([0] * nshell) + ints([0] * nshell) + reals([0.0] * nshell) * 2

    energies = reals([-20.2434, -1.2684, -0.6166, -0.4531, -0.3913, 0.6053, 0.7428])
    mo = [1.0 if i == j else 0.01 * ((i + 2 * j) % 5 - 2) for j in range(7) for i in range(7)]
    dens = [0.0] * 28
    for i in range(7):
        dens[i * (i + 1) // 2 + i] = 2.0 if i < 5 else 0.0

    b = ChkBuilder()
    b.add(998, switches).add(501, reals(gen)).add(502, labels).add(993, job)
    b.add(801, text("ES64L-G16 synthetic example", 32)).add(997, mol).add(670, basis)
    b.add(522, energies).add(524, reals(mo)).add(603, ints([1 << 32]), reals(dens))
    return b.build()


def main() -> None:
    out = HERE / "water.chk"
    out.write_bytes(build())
    print(f"Wrote {out}")


if __name__ == "__main__":
    main()

"""The basis set as exported: shells regrouped by atom, type codes, coefficients
of normalised primitives (a law checked on random contractions) and centres."""
from __future__ import annotations

import math
from pathlib import Path
from typing import Any, List, Sequence

import pytest
from hypothesis import given, settings, strategies as st

from chkbuilder import XYZ3, Shell, overlap, read, with_basis

BOHR = 0.529177249


def normalised(coefs: Sequence[float], exps: Sequence[float], L: int) -> List[float]:
    return [c * math.sqrt(overlap(L, e, e)) for c, e in zip(coefs, exps)]


def test_shells_regrouped_by_atom(tmp_path: Path) -> None:
    stored = [(3, 0, [5.0], [0.7]), (1, 1, [4.0, 0.4], [0.2, 0.9]), (2, 0, [3.0, 0.3], [0.3, 0.8]),
              (1, 0, [2.0], [1.1]), (3, 2, [1.5, 0.5], [0.4, 0.6]), (1, 2, [1.0], [0.9])]
    m = read(tmp_path, with_basis([Shell(a, T, e, {T: c}) for a, T, e, c in stored], 3)).params.mol
    new = [stored[i] for i in (1, 3, 5, 2, 0, 4)]  # atom 1 in stored order, then 2 and 3
    assert (m.shell2map, m.shelltypes, m.spconcoeff) == ([1, 1, 1, 2, 3, 3], [1, 0, -2, 0, 0, -2], [])
    assert (m.shellnprim, m.primexp) == ([len(s[2]) for s in new], [e for s in new for e in s[2]])
    assert m.concoeff == pytest.approx([c for s in new for c in normalised(s[3], s[2], s[1])],
                                       rel=1e-12)
    assert m.cshell.tolist() == [[x * BOHR for x in XYZ3[s[0] - 1]] for s in new]


@pytest.mark.parametrize("cons", [0, 2])
def test_sp_shells(tmp_path: Path, cons: int) -> None:
    es, cs, cp = [3.0, 0.7, 0.2], [-0.1, 0.4, 0.7], [0.15, 0.5, 0.45]
    sp = Shell(2, 1, es, {0: cs, 1: cp}, C=cons)
    m = read(tmp_path, with_basis([Shell(1, 0, [9.0], {0: [1.0]}), Shell(1, 1, es, {0: cs, 1: cp},
                                   C=cons), Shell(2, 1, [0.8, 0.2], {1: [0.5, 0.6]}), sp])).params.mol
    assert m.shelltypes == [0, -1, 1, -1]
    s_part, p_part = normalised(cs, es, 0), normalised(cp, es, 1)
    assert m.concoeff == pytest.approx(normalised([1.0], [9.0], 0) + s_part + normalised(
        [0.5, 0.6], [0.8, 0.2], 1) + s_part, rel=1e-12)
    assert m.spconcoeff == pytest.approx([0.0] + p_part + [0.0, 0.0] + p_part, rel=1e-12)


contraction = st.integers(1, 6).flatmap(lambda n: st.tuples(
    st.lists(st.floats(0.05, 50.0), min_size=n, max_size=n, unique=True),
    st.lists(st.floats(-3.0, 3.0).filter(lambda c: abs(c) > 1e-3), min_size=n, max_size=n)))


@settings(max_examples=60, deadline=None)
@given(st.lists(st.tuples(st.integers(0, 5), contraction), min_size=1, max_size=4),
       st.integers(0, 1), st.integers(0, 1))
def test_random_contractions(tmp_path_factory: Any, shells: Any, bhdr4: int, bhdr5: int) -> None:
    """Stored coefficients of raw primitives come out as those of normalised ones,
    for every angular momentum; d and higher codes are negative for pure shells."""
    b = with_basis([Shell(1, L, e, {L: c}) for L, (e, c) in shells], bhdr4=bhdr4, bhdr5=bhdr5)
    m = read(tmp_path_factory.mktemp("b"), b).params.mol
    assert m.shelltypes == [L if L < 2 or (bhdr4 if L == 2 else bhdr5) else -L for L, _ in shells]
    assert m.concoeff == pytest.approx([x for L, (e, c) in shells for x in normalised(c, e, L)],
                                       rel=1e-11, abs=1e-300)
    assert m.primexp == [x for _, (e, _) in shells for x in e]

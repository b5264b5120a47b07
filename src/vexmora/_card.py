"""The summary card a notebook shows for a :class:`~vexmora.Checkpoint`: HTML and inline
CSS only (no script), so it displays wherever HTML does, also in a trusted-less notebook."""
from __future__ import annotations

import html
import os
from typing import TYPE_CHECKING, List, Optional, Tuple

if TYPE_CHECKING:
    from .checkpoint import Checkpoint

HARTREE_TO_EV = 27.211386245988
_STYLE = ("font-family: system-ui, sans-serif; font-size: 13px; border: 1px solid #ccc; "
          "border-radius: 6px; padding: 8px 12px; display: inline-block; max-width: 46em")
_TH = ("text-align: left; padding: 1px 12px 1px 0; color: #555; font-weight: normal; "
       "vertical-align: top; white-space: nowrap")


def _rows(ckpt: "Checkpoint") -> List[Tuple[str, str]]:
    """(label, plain text) of each line of the card."""
    rows = [("Job", f"{ckpt.job_type} {ckpt.method}/{ckpt.basis_set}"),
            ("Title", ckpt.title.strip()),
            ("Charge, multiplicity", f"{ckpt.charge}, {ckpt.multiplicity}"),
            ("Atoms, electrons", f"{len(ckpt.atomic_numbers)}, {ckpt.n_electrons} "
                                 f"({ckpt.n_alpha} α, {ckpt.n_beta} β)"),
            ("Basis functions", str(ckpt.n_basis)),
            ("SCF energy", f"{ckpt.scf_energy:.8f} Eh")]
    if ckpt.total_energy != ckpt.scf_energy:
        rows.append(("Total energy", f"{ckpt.total_energy:.8f} Eh"))
    group = _point_group(ckpt)
    if group:
        rows.append(("Point group", group))
    gap = _frontier(ckpt)
    if gap:
        rows.append(("HOMO, LUMO", gap))
    return rows


def _point_group(ckpt: "Checkpoint") -> Optional[str]:
    try:
        return ckpt.point_group().name
    except (ValueError, RuntimeError):
        return None


def _frontier(ckpt: "Checkpoint") -> Optional[str]:
    e = ckpt.mo_energies_alpha
    homo = ckpt.n_alpha - 1
    if e is None or not 0 <= homo < len(e):
        return None
    text = f"{e[homo]:.4f} Eh"
    if homo + 1 < len(e):
        text += f", {e[homo + 1]:.4f} Eh (gap {(e[homo + 1] - e[homo]) * HARTREE_TO_EV:.2f} eV)"
    return text + (" (alpha)" if ckpt.mo_energies_beta is not None else "")


def _frequencies(ckpt: "Checkpoint") -> str:
    """The frequencies' line and the full list (a details element, no script), or ""."""
    if ckpt.hessian is None or ckpt.atomic_masses is None:
        return ""
    try:
        vib = ckpt.vibrations()
    except (ValueError, RuntimeError):
        return ""
    f = vib.frequencies
    if not len(f):
        return ""
    imaginary = int((f < 0).sum())
    head = (f"{len(f)} modes, {f.min():.1f} to {f.max():.1f} cm⁻¹"
            + (f", {imaginary} imaginary" if imaginary else "")
            + f"; zero-point energy {vib.zero_point_energy:.6f} Eh")
    listed = ", ".join(f"{abs(x):.1f}{'i' if x < 0 else ''}" for x in f)
    return (f'<tr><th style="{_TH}">Frequencies</th><td>{html.escape(head)}'
            f'<details><summary>all (cm⁻¹)</summary><div class="vexmora-frequencies">'
            f"{html.escape(listed)}</div></details></td></tr>")


def card(ckpt: "Checkpoint") -> str:
    """The card's HTML: the formula and file as heading, then a table of the job, the
    molecule, the energies, the point group, the frontier orbitals and the frequencies."""
    from .checkpoint import formula

    name = os.path.basename(ckpt.path) if ckpt.path else ""
    heading = f"<b>{html.escape(formula(ckpt.symbols))}</b>"
    if name:
        heading += f' <span style="color: #777">{html.escape(name)}</span>'
    body = "".join(f'<tr><th style="{_TH}">{html.escape(k)}</th><td>{html.escape(v)}</td></tr>'
                   for k, v in _rows(ckpt))
    return (f'<div class="vexmora-checkpoint" style="{_STYLE}"><div>{heading}</div>'
            f'<table style="border-collapse: collapse; margin-top: 4px">{body}{_frequencies(ckpt)}'
            "</table></div>")


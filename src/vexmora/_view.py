"""Interactive 3-D views of a checkpoint as plotly figures (needs plotly, the ``view`` extra).

The molecule is drawn as meshes (spheres in Jmol's element colours, bonds as
cylinders half in each atom's colour); an orbital or a density as isosurfaces
computed here from the values on the same box as :meth:`Checkpoint.write_cube`
(``_mesh``), so a page carries a few hundred kilobytes of triangles instead of
the whole volume; a normal mode as arrows. plotly's wheel carries its
JavaScript, which every page embeds: the page needs no network.
"""
from __future__ import annotations

import html
import math
import os
import warnings
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any, Dict, List, Optional, Sequence, Tuple, Union, cast

import numpy as np

from . import _core, _grid
from ._mesh import Mesh, isosurface

if TYPE_CHECKING:
    from .checkpoint import Checkpoint, PathLike

BOHR = _core.BOHR_TO_ANGSTROM
#: Default isovalues, atomic units: orbitals (Bohr^-3/2), densities (e/Bohr^3), and the
#: density surface the electrostatic potential is shown on.
ORBITAL_ISOVALUE = 0.05
DENSITY_ISOVALUE = 0.02
POTENTIAL_ISOVALUE = 0.001
#: Default margin of the box of the potential's 0.001 surface, Angstrom (6 Bohr): that
#: surface lies 3 to 4 Bohr beyond the atoms, further for an anion.
POTENTIAL_MARGIN = 6 * BOHR
#: Past this many points in the cube's default box (a large molecule), a view's points lie
#: further apart, so that its box holds about this many (one orbital at 32 MB of values).
MAX_VIEW_POINTS = 4_000_000
#: The two signs' colours (blue positive, red negative, as Jmol and Avogadro).
PLUS, MINUS = "#1f4fd8", "#d81f2a"
ARROW = "#1a9a3a"

# Jmol's element colours, Z = 1 to 109.
_JMOL = ("FFFFFF D9FFFF CC80FF C2FF00 FFB5B5 909090 3050F8 FF0D0D 90E050 B3E3F5 AB5CF2 8AFF00 "
         "BFA6A6 F0C8A0 FF8000 FFFF30 1FF01F 80D1E3 8F40D4 3DFF00 E6E6E6 BFC2C7 A6A6AB 8A99C7 "
         "9C7AC7 E06633 F090A0 50D050 C88033 7D80B0 C28F8F 668F8F BD80E3 FFA100 A62929 5CB8D1 "
         "702EB0 00FF00 94FFFF 94E0E0 73C2C9 54B5B5 3B9E9E 248F8F 0A7D8C 006985 C0C0C0 FFD98F "
         "A67573 668080 9E63B5 D47A00 940094 429EB0 57178F 00C900 70D4FF FFFFC7 D9FFC7 C7FFC7 "
         "A3FFC7 8FFFC7 61FFC7 45FFC7 30FFC7 1FFFC7 00FF9C 00E675 00D452 00BF38 00AB24 4DC2FF "
         "4DA6FF 2194D6 267DAB 266696 175487 D0D0E0 FFD123 B8B8D0 A6544D 575961 9E4FB5 AB5C00 "
         "754F45 428296 420066 007D00 70ABFA 00BAFF 00A1FF 008FFF 0080FF 006BFF 545CF2 785CE3 "
         "8A4FE3 A136D4 B31FD4 B31FBA B30DA6 BD0D87 C70066 CC0059 D1004F D90045 E00038 E6002E "
         "EB0026").split()
# Covalent radii, Angstrom, Z = 1 to 96 (Cordero et al. 2008; low-spin values for Mn, Fe, Co).
_COVALENT = [float(r) for r in (
    "0.31 0.28 1.28 0.96 0.84 0.76 0.71 0.66 0.57 0.58 1.66 1.41 1.21 1.11 1.07 1.05 1.02 1.06 "
    "2.03 1.76 1.70 1.60 1.53 1.39 1.39 1.32 1.26 1.24 1.32 1.22 1.22 1.20 1.19 1.20 1.20 1.16 "
    "2.20 1.95 1.90 1.75 1.64 1.54 1.47 1.46 1.42 1.39 1.45 1.44 1.42 1.39 1.39 1.38 1.39 1.40 "
    "2.44 2.15 2.07 2.04 2.03 2.01 1.99 1.98 1.98 1.96 1.94 1.92 1.92 1.89 1.90 1.87 1.87 1.75 "
    "1.70 1.62 1.51 1.44 1.41 1.36 1.36 1.32 1.45 1.46 1.48 1.40 1.50 1.50 2.60 2.21 2.15 2.06 "
    "2.00 1.96 1.90 1.87 1.80 1.69").split()]
#: Two atoms are bonded (without the job's bond table) within the sum of their covalent
#: radii plus this, Angstrom (Open Babel's tolerance).
BOND_TOLERANCE = 0.45
BOND_RADIUS = 0.12


def colour(z: int) -> str:
    """The Jmol colour of element ``z`` ("#RRGGBB"); grey for a dummy centre, pink past 109."""
    return "#" + (_JMOL[z - 1] if 1 <= z <= len(_JMOL) else "808080" if z <= 0 else "FF1493")


def covalent_radius(z: int) -> float:
    """Angstrom; 1.5 past Cm, 0.3 for a dummy centre."""
    return _COVALENT[z - 1] if 1 <= z <= len(_COVALENT) else 0.3 if z <= 0 else 1.5


def atom_radius(z: int) -> float:
    """The drawn sphere's radius, Angstrom: a fraction of the covalent radius."""
    return max(0.22, 0.4 * covalent_radius(z))


def plotly() -> Any:
    """plotly.graph_objects, or ImportError naming the extra."""
    try:
        import plotly.graph_objects as go
    except ImportError:
        raise ImportError("the viewer needs plotly: pip install 'vexmora[view]'") from None
    return go


# --- meshes of the molecule -----------------------------------------------------------
def _sphere(subdivisions: int = 2) -> Tuple[np.ndarray, np.ndarray]:
    """A unit icosphere: vertices (n, 3), triangles (m, 3) ordered outwards."""
    t = (1 + math.sqrt(5)) / 2
    v = [(-1, t, 0), (1, t, 0), (-1, -t, 0), (1, -t, 0), (0, -1, t), (0, 1, t), (0, -1, -t),
         (0, 1, -t), (t, 0, -1), (t, 0, 1), (-t, 0, -1), (-t, 0, 1)]
    f = [(0, 11, 5), (0, 5, 1), (0, 1, 7), (0, 7, 10), (0, 10, 11), (1, 5, 9), (5, 11, 4),
         (11, 10, 2), (10, 7, 6), (7, 1, 8), (3, 9, 4), (3, 4, 2), (3, 2, 6), (3, 6, 8),
         (3, 8, 9), (4, 9, 5), (2, 4, 11), (6, 2, 10), (8, 6, 7), (9, 8, 1)]
    verts = [np.array(p, dtype=float) / np.linalg.norm(p) for p in v]
    for _ in range(subdivisions):
        middle: Dict[Tuple[int, int], int] = {}

        def mid(a: int, b: int) -> int:
            key = (min(a, b), max(a, b))
            if key not in middle:
                p = verts[a] + verts[b]
                verts.append(p / np.linalg.norm(p))
                middle[key] = len(verts) - 1
            return middle[key]

        f = [t for a, b, c in f for t in ((a, mid(a, b), mid(c, a)), (b, mid(b, c), mid(a, b)),
                                          (c, mid(c, a), mid(b, c)), (mid(a, b), mid(b, c), mid(c, a)))]
    return np.array(verts), np.array(f, dtype=np.int64)


def _cylinder(a: np.ndarray, b: np.ndarray, radius: float, sides: int = 12,
              tip: Optional[float] = None) -> Tuple[np.ndarray, np.ndarray]:
    """A tube from ``a`` to ``b``, open at its ends; with ``tip`` a cone of that base radius
    instead (its apex at ``b``)."""
    axis = b - a
    length = float(np.linalg.norm(axis))
    u = axis / length if length > 0 else np.array([0.0, 0.0, 1.0])
    helper = np.array([1.0, 0.0, 0.0]) if abs(u[0]) < 0.9 else np.array([0.0, 1.0, 0.0])
    e1 = np.cross(u, helper)
    e1 /= np.linalg.norm(e1)
    e2 = np.cross(u, e1)
    phi = 2 * math.pi * np.arange(sides) / sides
    ring = np.cos(phi)[:, None] * e1 + np.sin(phi)[:, None] * e2
    if tip is not None:
        verts = np.vstack([a + tip * ring, b[None], a[None]])
        s = np.arange(sides)
        tris = np.concatenate([np.stack([s, (s + 1) % sides, np.full(sides, sides)], axis=1),
                               np.stack([(s + 1) % sides, s, np.full(sides, sides + 1)], axis=1)])
        return verts, tris
    verts = np.vstack([a + radius * ring, b + radius * ring])
    s = np.arange(sides)
    n = (s + 1) % sides
    tris = np.concatenate([np.stack([s, n, sides + n], axis=1), np.stack([s, sides + n, sides + s], axis=1)])
    return verts, tris


def bonds(ckpt: "Checkpoint") -> List[Tuple[int, int]]:
    """Bonded pairs (0-based): the job's bond table, or atoms within their covalent radii
    plus :data:`BOND_TOLERANCE`."""
    table = ckpt.bonds
    if table is not None and len(table.pairs):
        return [(int(a), int(b)) for a, b in table.pairs]
    z = ckpt.atomic_numbers
    xyz = ckpt.coordinates
    r = np.array([covalent_radius(int(q)) for q in z])
    d = np.linalg.norm(xyz[:, None] - xyz[None], axis=-1)
    near = (d < r[:, None] + r[None] + BOND_TOLERANCE) & (d > 0.1)
    near &= (z[:, None] > 0) & (z[None] > 0)
    a, b = np.nonzero(np.triu(near, 1))
    return list(zip(a.tolist(), b.tolist()))


class _Pieces:
    """Meshes gathered into one trace: vertices, triangles, per-vertex colour and label."""

    def __init__(self) -> None:
        self.verts: List[np.ndarray] = []
        self.tris: List[np.ndarray] = []
        self.colours: List[str] = []
        self.labels: List[str] = []
        self.count = 0

    def add(self, verts: np.ndarray, tris: np.ndarray, colour: str, label: str) -> None:
        self.verts.append(verts)
        self.tris.append(tris + self.count)
        self.colours += [colour] * len(verts)
        self.labels += [label] * len(verts)
        self.count += len(verts)

    def trace(self, go: Any, name: str, **kw: Any) -> Any:
        v = np.vstack(self.verts).astype(np.float32)
        t = np.vstack(self.tris).astype(np.int32)
        return go.Mesh3d(x=v[:, 0], y=v[:, 1], z=v[:, 2], i=t[:, 0], j=t[:, 1], k=t[:, 2],
                         vertexcolor=self.colours, text=self.labels, hovertemplate="%{text}<extra></extra>",
                         name=name, flatshading=False, **kw)


def molecule_trace(ckpt: "Checkpoint", go: Any) -> Any:
    """The atoms and bonds as one mesh."""
    unit, faces = _sphere()
    z = [int(q) for q in ckpt.atomic_numbers]
    xyz = ckpt.coordinates
    names = [f"{s}{k + 1}" for k, s in enumerate(ckpt.symbols)]
    pieces = _Pieces()
    for k, (q, p) in enumerate(zip(z, xyz)):
        pieces.add(p + atom_radius(q) * unit, faces, colour(q), names[k])
    for a, b in bonds(ckpt):
        middle = (xyz[a] + xyz[b]) / 2
        label = f"{names[a]}-{names[b]} {np.linalg.norm(xyz[a] - xyz[b]):.3f} Å"
        for end, q in ((a, z[a]), (b, z[b])):
            v, t = _cylinder(xyz[end], middle, BOND_RADIUS)
            pieces.add(v, t, colour(q), label)
    return pieces.trace(go, "molecule", showlegend=False,
                        lighting=dict(ambient=0.45, diffuse=0.8, specular=0.25, roughness=0.4))


def arrows(ckpt: "Checkpoint", mode: int, length: float = 1.5) -> Tuple[np.ndarray, np.ndarray, str]:
    """Normal mode ``mode`` (0-based) as arrows: from the atoms (natoms, 3) to tips along
    its displacements (natoms, 3), Angstrom, the largest ``length`` long; and a caption."""
    vib = ckpt.vibrations()
    n = len(vib.frequencies)
    if isinstance(mode, bool) or not isinstance(mode, (int, np.integer)) or not 0 <= mode < n:
        raise ValueError(f"mode {mode!r} out of range: the checkpoint has {n} normal modes "
                         f"(indices 0 to {n - 1})")
    d = vib.modes[mode]
    scale = length / max(float(np.linalg.norm(d, axis=1).max()), 1e-300)
    f = float(vib.frequencies[mode])
    caption = f"mode {mode + 1}: {abs(f):.1f}{'i' if f < 0 else ''} cm⁻¹"
    return ckpt.coordinates, ckpt.coordinates + d * scale, caption


def mode_trace(ckpt: "Checkpoint", mode: int, go: Any) -> Tuple[Any, str]:
    """The arrows of :func:`arrows` as one mesh (shaft and head; none shorter than 0.05 A)."""
    starts, tips, caption = arrows(ckpt, mode)
    pieces = _Pieces()
    for k, (p, tip) in enumerate(zip(starts, tips)):
        u = tip - p
        size = float(np.linalg.norm(u))
        if size < 0.05:
            continue
        neck = p + u * max(0.0, 1 - 0.3 / size)
        label = f"{ckpt.symbols[k]}{k + 1}"
        v, t = _cylinder(p, neck, 0.05)
        pieces.add(v, t, ARROW, label)
        v, t = _cylinder(neck, tip, 0.0, tip=0.13)
        pieces.add(v, t, ARROW, label)
    if not pieces.verts:
        return None, caption
    return pieces.trace(go, caption, showlegend=True), caption


# --- surfaces ------------------------------------------------------------------------------
@dataclass(frozen=True)
class Volume:
    """Values on a box of points, as :meth:`Checkpoint.write_cube` writes them: point (i, j, k)
    lies at ``origin + i axes[0] + j axes[1] + k axes[2]`` (Angstrom)."""

    origin: np.ndarray  # (3,), Angstrom
    axes: np.ndarray  # (3, 3), Angstrom: the step along each axis
    values: np.ndarray  # (n1, n2, n3), atomic units
    kind: str  # "orbital", "density" or "spin"
    caption: str

    def points(self) -> np.ndarray:
        """The box's points, (n1 n2 n3, 3), Angstrom, the last axis fastest."""
        idx = np.indices(self.values.shape).reshape(3, -1).T
        out: np.ndarray = self.origin + idx @ self.axes
        return out


def view_spacing(ckpt: "Checkpoint", margin: Optional[float]) -> Optional[float]:
    """None (the cube's default spacing) where its box holds at most :data:`MAX_VIEW_POINTS`
    points, else the spacing (Angstrom) that brings it down to about that many."""
    _, _, counts = _grid.cube_box(ckpt.coordinates / BOHR, None, None, margin)
    total = counts[0] * counts[1] * counts[2]
    return None if total <= MAX_VIEW_POINTS else _grid.DEFAULT_SPACING * (total / MAX_VIEW_POINTS) ** (1 / 3)


def volume(ckpt: "Checkpoint", what: Union[int, str], *, beta: bool = False, spin: bool = False,
           spacing: Optional[float] = None, shape: Union[None, int, Sequence[int]] = None,
           margin: Optional[float] = None, threads: Optional[int] = None,
           allow_large: bool = False) -> Volume:
    """The values of ``what`` (as :meth:`Checkpoint.write_cube` takes it) on the box that
    write_cube would use with the same ``spacing``, ``shape``, ``margin`` and ``allow_large``."""
    plan = _grid.plan_cube(ckpt, what, spacing=spacing, shape=shape, margin=margin, beta=beta,
                           spin=spin, allow_large=allow_large)
    values = _grid.box_values(plan, threads).reshape(plan.shape)
    if plan.orbitals:
        index = plan.orbitals[0] - 1
        energies = ckpt.mo_energies_beta if beta else ckpt.mo_energies_alpha
        homo = (ckpt.n_beta if beta else ckpt.n_alpha) - 1
        name = {homo: "HOMO", homo + 1: "LUMO"}.get(index, f"orbital {index + 1}")
        assert energies is not None  # plan_cube checked the set
        caption = (f"{name} ({'beta' if beta else 'alpha'} orbital {index + 1}, "
                   f"{energies[index]:.4f} Eh)")
        kind = "orbital"
    else:
        kind = "spin" if what == "spin" or spin else "density"
        caption = plan.comment.replace(" (e/Bohr^3)", "")
    return Volume(plan.origin * BOHR, plan.axes * BOHR, values, kind, caption)


def surface_mesh(vol: Volume, level: float) -> Mesh:
    """The surface where the values equal ``level``; for a negative level, the region below it
    counts as inside (normals point away from the lobe either way)."""
    if level >= 0:
        return isosurface(vol.values, level, vol.origin, vol.axes)
    return isosurface(-vol.values, -level, vol.origin, vol.axes)


def mesh_trace(go: Any, mesh: Mesh, name: str, **kw: Any) -> Any:
    v = mesh.vertices.astype(np.float32)
    t = mesh.triangles.astype(np.int32)
    return go.Mesh3d(x=v[:, 0], y=v[:, 1], z=v[:, 2], i=t[:, 0], j=t[:, 1], k=t[:, 2], name=name,
                     showlegend=True, hoverinfo="skip", flatshading=False,
                     lighting=dict(ambient=0.35, diffuse=0.85, specular=0.35, roughness=0.35,
                                   fresnel=0.1), **kw)


def _check_isovalue(isovalue: Optional[float], default: float) -> float:
    level = default if isovalue is None else isovalue
    if isinstance(level, bool) or not isinstance(level, (int, float)) or not (math.isfinite(level) and level > 0):
        raise ValueError(f"isovalue must be a positive number (atomic units), not {isovalue!r}")
    return float(level)


def _empty_warning(ckpt: "Checkpoint", what: str, level: float) -> None:
    warnings.warn(f"{ckpt.path or 'checkpoint'}: no point of the box reaches {level:g} for "
                  f"{what}: nothing to draw (choose a smaller isovalue)", stacklevel=4)


def potential_surface(ckpt: "Checkpoint", kind: str, isovalue: Optional[float],
                      spacing: Optional[float], shape: Union[None, int, Sequence[int]],
                      margin: Optional[float], threads: Optional[int],
                      allow_large: bool = False) -> Tuple[Mesh, np.ndarray, float]:
    """The density surface (default 0.001 a.u.) and the potential at its vertices (a.u.)."""
    level = _check_isovalue(isovalue, POTENTIAL_ISOVALUE)
    margin = POTENTIAL_MARGIN if margin is None else margin
    if spacing is None and shape is None:
        spacing = view_spacing(ckpt, margin)
    vol = volume(ckpt, kind, spacing=spacing, shape=shape, margin=margin, threads=threads,
                 allow_large=allow_large)
    mesh = surface_mesh(vol, level)
    values = (np.asarray(ckpt.potential_at(mesh.vertices, kind=kind, threads=threads), dtype=np.float64)
              if len(mesh.vertices) else np.zeros(0))
    return mesh, values, level


# --- the figure --------------------------------------------------------------------------------
def figure(ckpt: "Checkpoint", what: Union[int, str] = "molecule", *, mode: Optional[int] = None,
           isovalue: Optional[float] = None, beta: bool = False, spin: bool = False,
           kind: str = "SCF", spacing: Optional[float] = None,
           shape: Union[None, int, Sequence[int]] = None, margin: Optional[float] = None,
           threads: Optional[int] = None, allow_large: bool = False) -> Any:
    """The plotly figure of :meth:`Checkpoint.view`."""
    go = plotly()
    from .checkpoint import formula

    traces = [molecule_trace(ckpt, go)]
    parts = [f"{formula(ckpt.symbols)} {ckpt.method}/{ckpt.basis_set}"]
    # Every argument checked before the values are computed.
    arrows = mode_trace(ckpt, mode, go) if mode is not None else None
    if isovalue is not None:
        _check_isovalue(isovalue, 1.0)
    if what == "potential":
        mesh, esp, level = potential_surface(ckpt, kind, isovalue, spacing, shape, margin, threads,
                                             allow_large)
        if len(mesh):
            top = float(np.percentile(np.abs(esp), 98)) or 1e-3
            traces.append(mesh_trace(go, mesh, f"ρ = {level:g}", intensity=esp.astype(np.float32),
                                     colorscale="RdBu", cmin=-top, cmax=top, opacity=0.85,
                                     colorbar=dict(title=dict(text="ESP (a.u.)"), len=0.6)))
        else:
            _empty_warning(ckpt, f"the {kind} density", level)
        parts.append(f"electrostatic potential on the {kind} density {level:g} a.u.")
    elif what != "molecule":
        if isinstance(what, str) and what not in ("homo", "lumo", "density", "spin") and \
                what not in ckpt.densities and what not in ckpt.spin_densities:
            raise ValueError(f'what must be "molecule", "homo", "lumo", an orbital index, "density", '
                             f'"spin", "potential" or a density kind, not {what!r}')
        if spacing is None and shape is None:
            spacing = view_spacing(ckpt, margin)
        vol = volume(ckpt, what, beta=beta, spin=spin, spacing=spacing, shape=shape, margin=margin,
                     threads=threads, allow_large=allow_large)
        level = _check_isovalue(isovalue, ORBITAL_ISOVALUE if vol.kind == "orbital" else DENSITY_ISOVALUE)
        signs = [level] if vol.kind == "density" else [level, -level]
        drawn = 0
        for lv in signs:
            mesh = surface_mesh(vol, lv)
            if len(mesh):
                drawn += 1
                traces.append(mesh_trace(go, mesh, f"{lv:+g} a.u.", color=PLUS if lv > 0 else MINUS,
                                         opacity=0.55))
        if not drawn:
            _empty_warning(ckpt, vol.caption, level)
        parts.append(f"{vol.caption}, ±{level:g} a.u." if len(signs) == 2 else
                     f"{vol.caption}, {level:g} a.u.")
    if arrows is not None:
        if arrows[0] is not None:
            traces.append(arrows[0])
        parts.append(arrows[1])
    fig = go.Figure(traces)
    axis = dict(visible=False)
    fig.update_layout(title=dict(text=html.escape(" · ".join(parts)), x=0.02, font=dict(size=14)),
                      scene=dict(xaxis=axis, yaxis=axis, zaxis=axis, aspectmode="data"),
                      margin=dict(l=0, r=0, t=40, b=0), paper_bgcolor="white",
                      legend=dict(x=0.01, y=0.95))
    return fig


def page(fig: Any, title: str) -> bytes:
    """One self-contained HTML page of the figure: plotly's JavaScript inside, no fetch."""
    text = fig.to_html(include_plotlyjs=True, full_html=True, include_mathjax=False,
                       config={"displaylogo": False, "responsive": True})
    head = (f"<head><title>{html.escape(title)}</title>"
            "<style>html, body { height: 100%; margin: 0; }</style>")
    return cast(str, text).replace("<head>", head, 1).encode("utf-8")


class ViewMixin:
    """:class:`~vexmora.Checkpoint`'s views: a figure, a page, and the notebook's summary card."""

    path: str

    def view(self, what: Union[int, str] = "molecule", *, mode: Optional[int] = None,
             isovalue: Optional[float] = None, beta: bool = False, spin: bool = False,
             kind: str = "SCF", spacing: Optional[float] = None,
             shape: Union[None, int, Sequence[int]] = None, margin: Optional[float] = None,
             threads: Optional[int] = None, allow_large: bool = False) -> Any:
        """An interactive 3-D figure (a ``plotly.graph_objects.Figure``; needs plotly,
        ``pip install 'vexmora[view]'``): the molecule, and

        * ``what="homo"``, ``"lumo"`` or a 0-based orbital index (the beta set with
          ``beta=True``): the orbital's isosurfaces at +isovalue (blue) and -isovalue (red),
          default 0.05 Bohr^-3/2;
        * ``"density"`` (SCF) or a density kind ("MP2", ...; its spin density with
          ``spin=True``): the surface at isovalue, default 0.02 e/Bohr^3; ``"spin"``: the SCF
          spin density's surfaces at ±isovalue;
        * ``"potential"``: the electrostatic potential (``potential_at``, a.u.) as colours on the
          ``kind`` density's surface at isovalue (default 0.001 e/Bohr^3), red negative;
        * ``mode=k``: normal mode k (0-based, of :meth:`vibrations`) as arrows on the atoms.

        The values come from the box :meth:`write_cube` uses with the same ``spacing``,
        ``shape`` and ``margin`` (Angstrom; by default points 1/6 Bohr apart, 4 Bohr beyond
        the atoms, 6 Bohr for the potential, whose surface lies further out; further apart
        where that box would hold more than 4 million points); a box of more than 400^3
        points needs ``allow_large=True``. The surfaces are computed here, so the figure
        holds triangles, not the volume. ``fig.show()`` displays it in a notebook; see
        :meth:`write_html` for a page. Bad arguments raise ValueError.
        """
        return figure(cast("Checkpoint", self), what, mode=mode, isovalue=isovalue, beta=beta,
                      spin=spin, kind=kind, spacing=spacing, shape=shape, margin=margin,
                      threads=threads, allow_large=allow_large)

    def write_html(self, path: "PathLike", what: Union[int, str] = "molecule", **options: Any) -> None:
        """Write :meth:`view`'s figure (same ``what`` and options) as one self-contained HTML
        page that needs no network (plotly's JavaScript inside, about 5 MB). The file
        appears whole or not at all and never replaces the checkpoint (WriteError)."""
        ckpt = cast("Checkpoint", self)
        fig = figure(ckpt, what, **options)
        title = f"{os.path.basename(ckpt.path) or 'checkpoint'}: {what}"
        data = page(fig, title)
        ckpt._write(lambda p: ckpt._reader.write_bytes(p, data), path)

    def _repr_html_(self) -> str:
        """A summary card for notebooks: plain HTML and CSS, no JavaScript."""
        from ._card import card

        return card(cast("Checkpoint", self))

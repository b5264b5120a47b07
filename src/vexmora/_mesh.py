"""Isosurfaces of values on a box of points, as triangle meshes (marching tetrahedra).

Each cell of the box is cut into six tetrahedra along its main diagonal (Kuhn's
triangulation, the same in every cell, so neighbouring cells cut their shared
faces alike and the surface has no cracks). In a tetrahedron the values are
interpolated linearly, which makes the surface a triangle or a quad there: no
table of 256 cases is needed, and the whole box is worked in NumPy at once.
A vertex lies on an edge of the triangulation; it is made once per edge, so
triangles share their vertices and the viewer shades the surface smoothly.
"""
from __future__ import annotations

from dataclasses import dataclass
from itertools import permutations
from typing import Tuple

import numpy as np

#: The six tetrahedra of a cell: corner codes (bit 0: +1 along the first axis,
#: bit 1 the second, bit 2 the third), a path from corner 0 to corner 7.
TETRAHEDRA = np.array([[0, 1 << a, (1 << a) | (1 << b), 7] for a, b, _ in permutations(range(3))],
                      dtype=np.int64)
#: For the vertex alone on its side of the surface (one in, three out or the other
#: way round): the other three.
OTHERS = np.array([[1, 2, 3], [0, 2, 3], [0, 1, 3], [0, 1, 2]], dtype=np.int64)
#: For two vertices in: inside mask -> (in, in, out, out).
PAIRS = {3: (0, 1, 2, 3), 5: (0, 2, 1, 3), 6: (1, 2, 0, 3),
         9: (0, 3, 1, 2), 10: (1, 3, 0, 2), 12: (2, 3, 0, 1)}


@dataclass(frozen=True)
class Mesh:
    """A triangle mesh: vertices (n, 3), in the box's units; triangles (m, 3) of vertex
    indices, each ordered so that its normal points towards lower values."""

    vertices: np.ndarray
    triangles: np.ndarray

    def __len__(self) -> int:
        return len(self.triangles)


def isosurface(values: np.ndarray, level: float, origin: np.ndarray, axes: np.ndarray) -> Mesh:
    """The surface where ``values`` (n1, n2, n3), at points origin + i axes[0] + j axes[1]
    + k axes[2], equal ``level``; the region above ``level`` counts as inside."""
    v = np.asarray(values, dtype=np.float64)
    n1, n2, n3 = v.shape
    inside = v > level
    if min(v.shape) < 2 or not (inside.any() and not inside.all()):
        return Mesh(np.zeros((0, 3)), np.zeros((0, 3), dtype=np.int64))
    # Cells with corners on both sides: few, compared with the box.
    any_in = np.zeros((n1 - 1, n2 - 1, n3 - 1), dtype=bool)
    all_in = np.ones_like(any_in)
    for c in range(8):
        part = inside[c & 1:n1 - 1 + (c & 1), (c >> 1) & 1:n2 - 1 + ((c >> 1) & 1),
                      (c >> 2) & 1:n3 - 1 + ((c >> 2) & 1)]
        any_in |= part
        all_in &= part
    i, j, k = np.nonzero(any_in & ~all_in)
    base = (i * n2 + j) * n3 + k
    # Global index of each corner code relative to a cell's first corner.
    step = np.array([(c & 1) * n2 * n3 + ((c >> 1) & 1) * n3 + ((c >> 2) & 1) for c in range(8)])
    codes = np.broadcast_to(TETRAHEDRA, (len(base), 6, 4)).reshape(-1, 4)
    corners = (base[:, None, None] + step[TETRAHEDRA][None]).reshape(-1, 4)
    flat = v.ravel()
    mask = (flat[corners] > level) @ np.array([1, 2, 4, 8])
    keep = (mask != 0) & (mask != 15)
    codes, corners, mask = codes[keep], corners[keep], mask[keep]

    edges = []  # (tetrahedron, vertex a, vertex b) triples, three per triangle
    owners = []
    ones = np.array([bin(m).count("1") for m in range(16)])[mask]
    lone = np.where(ones == 1, np.array([-1, 0, 1, -1, 2, -1, -1, -1, 3, -1, -1, -1, -1, -1, -1, -1])[mask],
                    np.array([-1] * 7 + [3, -1, -1, -1, 2, -1, 1, 0, -1])[mask])
    single = np.nonzero(ones != 2)[0]
    if len(single):
        s = lone[single]
        o = OTHERS[s]
        edges.append(np.stack([np.stack([s, o[:, q]], axis=1) for q in range(3)], axis=1))
        owners.append(single)
    double = np.nonzero(ones == 2)[0]
    if len(double):
        table = np.zeros((16, 4), dtype=np.int64)
        for m, order in PAIRS.items():
            table[m] = order
        a, b, c, d = table[mask[double]].T
        quad = [np.stack(e, axis=1) for e in ((a, c), (a, d), (b, d), (b, c))]
        edges += [np.stack([quad[0], quad[1], quad[2]], axis=1),
                  np.stack([quad[0], quad[2], quad[3]], axis=1)]
        owners += [double, double]
    if not edges:
        return Mesh(np.zeros((0, 3)), np.zeros((0, 3), dtype=np.int64))
    ends = np.concatenate(edges)  # (triangles, 3 corners, 2 ends), tetrahedron slots
    tet = np.concatenate(owners)
    ca = np.take_along_axis(codes[tet], ends[:, :, 0], axis=1)
    cb = np.take_along_axis(codes[tet], ends[:, :, 1], axis=1)
    ga = np.take_along_axis(corners[tet], ends[:, :, 0], axis=1)
    gb = np.take_along_axis(corners[tet], ends[:, :, 1], axis=1)
    # Along a Kuhn path one end of every edge lies below the other in each axis: the
    # edge is the lower corner and the direction between them, shared by every cell.
    low = np.where(ca < cb, ga, gb)
    key = low * 8 + (ca ^ cb)
    unique, first, index = np.unique(key.ravel(), return_index=True, return_inverse=True)
    lo = unique // 8
    direction = unique % 8
    hi = lo + step[direction]
    t = (level - flat[lo]) / (flat[hi] - flat[lo])
    grid = np.stack(np.unravel_index(lo, v.shape), axis=1).astype(np.float64)
    offset = np.stack([direction & 1, (direction >> 1) & 1, (direction >> 2) & 1], axis=1)
    vertices = np.asarray(origin, dtype=np.float64) + (grid + t[:, None] * offset) @ np.asarray(axes)
    triangles = index.reshape(-1, 3).astype(np.int64)
    return Mesh(vertices, _outwards(triangles, vertices, corners[tet], flat, level, v.shape,
                                    np.asarray(origin, dtype=np.float64), np.asarray(axes)))


def _outwards(triangles: np.ndarray, vertices: np.ndarray, corners: np.ndarray, flat: np.ndarray,
              level: float, shape: Tuple[int, ...], origin: np.ndarray, axes: np.ndarray) -> np.ndarray:
    """Triangles reordered where needed so that each normal points from the inside out:
    against the gradient of the values."""
    pos = origin + np.stack(np.unravel_index(corners, shape), axis=-1).astype(np.float64) @ axes
    up = flat[corners] > level
    # The values are linear in a tetrahedron: its inside corners' centroid lies uphill
    # of its outside corners' centroid.
    w = np.where(up, 1.0 / up.sum(axis=1, keepdims=True), -1.0 / (~up).sum(axis=1, keepdims=True))
    uphill = (pos * w[:, :, None]).sum(axis=1)
    p = vertices[triangles]
    normal = np.cross(p[:, 1] - p[:, 0], p[:, 2] - p[:, 0])
    flip = (normal * uphill).sum(axis=1) > 0
    out = triangles.copy()
    out[flip, 1], out[flip, 2] = triangles[flip, 2], triangles[flip, 1]
    return out

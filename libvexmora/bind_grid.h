// What the bindings of values on points share: the thread count and the box of a cube.
#pragma once

#include <array>
#include <cstdint>

#include "bindings.h"
#include "grid.h"

using Points = py::array_t<double, py::array::c_style | py::array::forcecast>;

// Points of shape (n, 3), every coordinate finite, or a ValueError.
void check_points(const Points& points);
// None: every core; more threads than cores only cost their buffers.
int thread_count(const py::object& threads);
// A box from Python's values, checked (finite, at least one point per axis).
GridBox cube_box(const std::array<double, 3>& origin, const std::array<double, 9>& axes,
                 const std::array<int64_t, 3>& shape);

// Planes first .. first + count of the first axis of a box, into `out`
// (points x columns, C order), by any evaluator of points (orbitals, densities,
// the potential): no other buffer than the evaluator's blocks.
template <typename Values>
void values_on_box(const Values& v, const std::array<double, 3>& origin,
                   const std::array<double, 9>& axes, const std::array<int64_t, 3>& shape,
                   int64_t first, int64_t count, py::array_t<double, py::array::c_style> out,
                   const py::object& threads) {
  const GridBox b = cube_box(origin, axes, shape);
  if (first < 0 || count < 0 || first > b.shape[0] - count)
    throw py::value_error("planes outside the box");
  const int64_t n = count * b.shape[1] * b.shape[2];
  if (out.size() != n * v.columns()) throw py::value_error("the output does not fit the planes");
  const int nt = thread_count(threads);
  double* o = out.mutable_data();
  py::gil_scoped_release nogil;
  v.evaluate(BoxPlanes(b, first, count), o, nt);
}

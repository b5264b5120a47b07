// What the bindings of values on points share: the thread count and the box of a cube.
#pragma once

#include <array>
#include <cstdint>

#include "bindings.h"
#include "grid.h"

using Points = py::array_t<double, py::array::c_style | py::array::forcecast>;

// None: every core; more threads than cores only cost their buffers.
int thread_count(const py::object& threads);
// A box from Python's values, checked (finite, at least one point per axis).
GridBox cube_box(const std::array<double, 3>& origin, const std::array<double, 9>& axes,
                 const std::array<int64_t, 3>& shape);

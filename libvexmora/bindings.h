// What the library's bindings share: read-only views on the reader's storage,
// the texts of the file as str, and one bind function per topic. Each topic's
// bindings live in a source file of their own; core_module.cpp only calls them.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cmath>

#include "PyCommon.h"
#include "Vexmora.h"

namespace py = pybind11;

// The reader's class object, which topics extend with methods.
using ReaderClass = py::classh<Vexmora>;

inline const Vexmora& reader_of(const py::object& self) { return self.cast<const Vexmora&>(); }

inline void set_read_only(py::array& a) {
  py::detail::array_proxy(a.ptr())->flags &= ~py::detail::npy_api::NPY_ARRAY_WRITEABLE_;
}

// A read-only array over `data`, kept alive by `owner` (the reader object).
template <typename T>
inline py::array view(const T* data, std::vector<py::ssize_t> shape, const py::object& owner) {
  py::ssize_t n = 1;
  for (const py::ssize_t s : shape) n *= s;
  if (n == 0 || data == nullptr) return py::array_t<T>(shape);  // nothing to share
  py::array a(py::dtype::of<T>(), std::move(shape), data, owner);
  set_read_only(a);
  return a;
}

template <typename T>
inline py::array view(const std::vector<T>& v, const py::object& owner) {
  return view(v.data(), {static_cast<py::ssize_t>(v.size())}, owner);
}

// Orbital coefficients, one orbital per row: `count` orbitals of equal length.
inline py::object orbital_rows(const std::vector<double>& v, int64_t count, const py::object& owner) {
  if (v.empty() || count < 1 || v.size() % static_cast<size_t>(count) != 0) return py::none();
  const auto rows = static_cast<py::ssize_t>(count);
  return view(v.data(), {rows, static_cast<py::ssize_t>(v.size()) / rows}, owner);
}

// The order n of a packed lower triangle of `len` elements, or -1.
inline int64_t triangle_order(size_t len) {
  const auto n = static_cast<int64_t>((std::sqrt(8.0 * static_cast<double>(len) + 1.0) - 1.0) / 2.0 + 0.5);
  return n >= 0 && static_cast<size_t>(n) * static_cast<size_t>(n + 1) / 2 == len ? n : -1;
}

// A full symmetric matrix unpacked from the row-wise lower triangle.
inline py::object unpack_density(const std::vector<double>& tri) {
  const int64_t n = triangle_order(tri.size());
  if (tri.empty() || n < 1) return py::none();
  py::array_t<double> a({static_cast<py::ssize_t>(n), static_cast<py::ssize_t>(n)});
  double* out = a.mutable_data();
  {
    py::gil_scoped_release nogil;
    // Row by row into the lower half, then mirrored tile by tile: writing
    // both halves from the triangle at once strides through memory by n.
    const double* t = tri.data();
    for (int64_t r = 0; r < n; ++r, t += r) std::copy(t, t + r + 1, out + r * n);
    constexpr int64_t kTile = 64;
    for (int64_t r0 = 0; r0 < n; r0 += kTile)
      for (int64_t c0 = 0; c0 <= r0; c0 += kTile)
        for (int64_t r = r0; r < std::min(n, r0 + kTile); ++r)
          for (int64_t c = c0; c < std::min(r, c0 + kTile); ++c) out[c * n + r] = out[r * n + c];
  }
  return std::move(a);
}

// A text of the file as str; bytes that are not UTF-8 become backslash escapes.
inline py::str text(const std::string& s) {
  PyObject* o = PyUnicode_DecodeUTF8(s.data(), static_cast<py::ssize_t>(s.size()), "backslashreplace");
  if (o == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(o);
}

// One bind function per topic.
void bind_reader(py::module_& m, ReaderClass& reader);
void bind_grid(py::module_& m, ReaderClass& reader);
void bind_wavefunction(py::module_& m, ReaderClass& reader);

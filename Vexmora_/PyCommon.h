// What both extension modules share: the translation of the reader's
// failures into Python and the (n, 3) coordinate arrays.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <algorithm>
#include <vector>

#include "Error.h"

// A failure becomes RuntimeError with the whole report. The report may quote a
// path or a text from the file that is not UTF-8; pybind11's own translation
// would then lose it, so undecodable bytes are shown as backslash escapes.
inline void translate_error(std::exception_ptr p) {
  try {
    if (p) std::rethrow_exception(p);
  } catch (const _Error& e) {
    const std::string report = e.what();
    PyObject* text = PyUnicode_DecodeUTF8(report.data(), static_cast<Py_ssize_t>(report.size()),
                                          "backslashreplace");
    if (text == nullptr) return;  // decoding failed for want of memory: that error stands
    PyErr_SetObject(PyExc_RuntimeError, text);
    Py_DECREF(text);
  }
}

// A new (n, 3) array from x, y, z triples, scaled (Bohr to Angstrom); at most
// as many rows as v holds triples.
inline pybind11::array_t<double> triples(const std::vector<double>& v, int64_t n, double scale) {
  n = std::max<int64_t>(0, std::min<int64_t>(n, static_cast<int64_t>(v.size() / 3)));
  pybind11::array_t<double> a({static_cast<pybind11::ssize_t>(n), pybind11::ssize_t{3}});
  double* out = a.mutable_data();
  for (int64_t i = 0; i < 3 * n; ++i) out[i] = v[i] * scale;
  return a;
}

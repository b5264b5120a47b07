// What the library's bindings share: read-only views on the reader's storage,
// the texts of the file as str, and one bind function per topic. Each topic's
// bindings live in a source file of their own; core_module.cpp only calls them.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "PyCommon.h"
#include "Reader.h"
#include "Vexmora.h"

namespace py = pybind11;

// The reader's class object, which topics extend with methods. Its base, the
// specified reader, is bound too, so that methods may take either.
using ReaderClass = py::classh<Reader, Vexmora>;

inline const Reader& reader_of(const py::object& self) { return self.cast<const Reader&>(); }
inline const ChkParams::Mol& mol_of(const py::object& self) { return reader_of(self).params().mol; }
// The same without reading the large records the reader deferred: for what
// they do not hold. loaded() reads them.
inline const ChkParams::Mol& meta_of(const py::object& self) { return reader_of(self).metadata().mol; }

// The molecule once the records of kind b are read (on first use, from the
// file, without the interpreter lock).
inline const ChkParams::Mol& loaded(const Vexmora& r, Bulk b) {
  {
    py::gil_scoped_release nogil;
    r.load(b);
  }
  return r.metadata().mol;
}

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

// A new array of the values in `shape`.
inline py::array_t<double> copy_of(const double* first, std::vector<py::ssize_t> shape) {
  py::array_t<double> a(std::move(shape));
  std::copy(first, first + a.size(), a.mutable_data());
  return a;
}

// The same, or None for an empty (absent) item.
inline py::object optional(const std::vector<double>& v, std::vector<py::ssize_t> shape) {
  if (v.empty()) return py::none();
  return copy_of(v.data(), std::move(shape));
}

// A text of the file as str; bytes that are not UTF-8 become backslash escapes.
inline py::str text(const std::string& s) {
  PyObject* o = PyUnicode_DecodeUTF8(s.data(), static_cast<py::ssize_t>(s.size()), "backslashreplace");
  if (o == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(o);
}

// One bind function per topic, each in bind_<topic>.cpp; the names the
// reader gains are those of the Checkpoint properties they serve.
void bind_reader(py::module_& m, ReaderClass& reader);      // opening, saved state
void bind_job(py::module_& m, ReaderClass& reader);         // texts, counts, energies, switches
void bind_molecule(py::module_& m, ReaderClass& reader);    // atoms, geometry, cell
void bind_orbitals(py::module_& m, ReaderClass& reader);    // energies, coefficients, occupations
void bind_basis(py::module_& m, ReaderClass& reader);       // shells, primitives, function order
void bind_densities(py::module_& m, ReaderClass& reader);   // the density matrices by kind
void bind_properties(py::module_& m, ReaderClass& reader);  // Hessian, gradient, moments, charges
void bind_vibrations(py::module_& m, ReaderClass& reader);  // harmonic analysis
void bind_writers(py::module_& m, ReaderClass& reader);     // the table of output formats
void bind_records(py::module_& m, ReaderClass& reader);     // response properties
void bind_errors(py::module_& m, ReaderClass& reader);      // CheckpointError, WriteError
void bind_natural_orbitals(py::module_& m, ReaderClass& reader);  // orthonormality, natural orbitals
void bind_grid(py::module_& m, ReaderClass& reader);         // orbitals and densities on points, cubes
void bind_symmetry(py::module_& m, ReaderClass& reader);     // point groups
void bind_thermo(py::module_& m, ReaderClass& reader);       // thermochemistry and its constants
void bind_potential(py::module_& m, ReaderClass& reader);    // the electrostatic potential, ESP files
void bind_dataset(py::module_& m, ReaderClass& reader);      // rows of the dataset table

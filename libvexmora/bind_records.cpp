// The job's further data in vexmora._core: the response properties of record
// 619, in the frame of the coordinates, atomic units, and the sections of the
// fuller .fchk read from further records, by label.
#include "Tensors.h"
#include "bindings.h"

namespace {


// A new array of `v` in `shape`, or None when the item is absent.
py::object shaped(const std::vector<double>& v, std::vector<py::ssize_t> shape) {
  if (v.empty()) return py::none();
  py::array_t<double> a(std::move(shape));
  if (static_cast<size_t>(a.size()) != v.size()) return py::none();
  std::copy(v.begin(), v.end(), a.mutable_data());
  return std::move(a);
}

// The full symmetric matrix of a lower triangle xx, yx, yy, zx, zy, zz.
void unpack3(const double* t, double* out) {
  const int at[9] = {0, 1, 3, 1, 2, 4, 3, 4, 5};
  for (int k = 0; k < 9; ++k) out[k] = t[at[k]];
}

// Triangles of six as full 3 x 3 matrices, in `shape` (last two axes 3, 3).
py::object triangles(const std::vector<double>& v, std::vector<py::ssize_t> shape) {
  if (v.empty() || v.size() % 6 != 0) return py::none();
  std::vector<double> full(v.size() / 6 * 9);
  for (size_t i = 0; i < v.size() / 6; ++i) unpack3(&v[6 * i], &full[9 * i]);
  return shaped(full, std::move(shape));
}

py::object hyperpolarizability(const std::vector<double>& v) {
  if (v.size() != 10) return py::none();
  std::vector<double> full(27);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) full[9 * i + 3 * j + k] = v[tensors::rank3_index(i, j, k)];
  return shaped(full, {3, 3, 3});
}

py::object section_value(const FchkSection& s) {
  if (s.scalar && s.real && !s.reals.empty()) return py::float_(s.reals[0]);
  if (s.scalar && !s.real && !s.ints.empty()) return py::int_(s.ints[0]);
  if (s.real) return py::array_t<double>(static_cast<py::ssize_t>(s.reals.size()), s.reals.data());
  return py::array_t<int64_t>(static_cast<py::ssize_t>(s.ints.size()), s.ints.data());
}

py::dict sections(const Reader& r) {
  py::dict d;
  for (const FchkSection& s : r.properties().sections) d[text(s.label)] = section_value(s);
  return d;
}

}  // namespace

void bind_records(py::module_&, ReaderClass& cls) {
  cls.def_property_readonly("dipole_derivatives",
                            [](const Reader& r) {
                              return shaped(r.properties().dipole_derivatives,
                                            {static_cast<py::ssize_t>(r.metadata().mol.natoms), 3, 3});
                            })
      .def_property_readonly("polarizability",
                             [](const Reader& r) { return triangles(r.properties().polarizability, {3, 3}); })
      .def_property_readonly("polarizability_derivatives",
                             [](const Reader& r) {
                               return triangles(r.properties().polarizability_derivatives,
                                                {static_cast<py::ssize_t>(r.metadata().mol.natoms), 3, 3, 3});
                             })
      .def_property_readonly("hyperpolarizability",
                             [](const Reader& r) { return hyperpolarizability(r.properties().hyperpolarizability); })
      .def_property_readonly("sections", &sections);
}

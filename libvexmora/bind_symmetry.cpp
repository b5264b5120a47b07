// Point groups in vexmora._core: the detector on plain arrays, without the
// interpreter lock.
#include "bindings.h"
#include "symmetry.h"

namespace {

template <typename T>
std::vector<T> values(const py::array_t<T, py::array::c_style | py::array::forcecast>& a) {
  return std::vector<T>(a.data(), a.data() + a.size());
}

py::tuple point_group(const py::array_t<int64_t, py::array::c_style | py::array::forcecast>& numbers,
                      const py::array_t<double, py::array::c_style | py::array::forcecast>& coordinates,
                      const py::array_t<double, py::array::c_style | py::array::forcecast>& masses,
                      double tolerance) {
  const std::vector<int64_t> z = values(numbers);
  const std::vector<double> xyz = values(coordinates), m = values(masses);
  PointGroup g;
  {
    py::gil_scoped_release nogil;
    g = detect_point_group(z, m, xyz, tolerance);
  }
  return py::make_tuple(g.name, g.symmetry_number, g.order);
}

}  // namespace

void bind_symmetry(py::module_& m, ReaderClass& reader) {
  // Record 551's second word: the order of the Abelian subgroup Gaussian ran
  // the job in (1 for C1, 2 for Cs and C3v, 4 for C2v, 8 for D2h), 0 where the
  // checkpoint holds no such record (or the switches said to skip it).
  reader.def_property_readonly("symmetry_subgroup_order",
                               [](const Vexmora& r) { return r.metadata().mol.orient_b; });
  m.attr("SYMMETRY_TOLERANCE") = kSymmetryTolerance;
  m.def("point_group", &point_group, py::arg("atomic_numbers"), py::arg("coordinates"), py::arg("masses"),
        py::arg("tolerance"));
}

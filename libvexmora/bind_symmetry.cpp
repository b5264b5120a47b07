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
  (void)reader;
  m.attr("SYMMETRY_TOLERANCE") = kSymmetryTolerance;
  m.def("point_group", &point_group, py::arg("atomic_numbers"), py::arg("coordinates"), py::arg("masses"),
        py::arg("tolerance"));
}

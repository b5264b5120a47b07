// The electrostatic potential on points and boxes, and the ESP file, in
// vexmora._core: the potential's Hermite expansion is built once per density,
// then evaluated on any number of point sets without the interpreter lock.
#include <string>

#include "bind_grid.h"
#include "density.h"
#include "esp_writer.h"
#include "potential.h"

namespace {

// The density whose potential is asked for, as a packed lower triangle: the
// one place that says where the triangle comes from.
std::vector<double> potential_density(const ChkParams::Mol& m, int kind, bool spin) {
  if (kind < 0 || kind > 8) throw py::index_error("density kind out of range");
  // The SCF density of a job that stored none is built from its orbitals.
  std::vector<double> tri = density_triangle(m, kind, spin);
  if (tri.empty()) throw py::value_error("no such density in this checkpoint");
  return tri;
}

py::array_t<double> potential_at(const Potential& v, const Points& points, const py::object& threads) {
  check_points(points);
  const int64_t n = points.shape(0);
  const double* xyz = points.data();
  const int64_t on = v.first_on_nucleus(xyz, n);
  if (on >= 0)
    throw py::value_error("point " + std::to_string(on) +
                          " lies on a nucleus, where the potential is infinite");
  const int nt = thread_count(threads);
  py::array_t<double> out(static_cast<py::ssize_t>(n));
  double* o = out.mutable_data();
  {
    py::gil_scoped_release nogil;
    v.evaluate(PointList(xyz, n), o, nt);
  }
  return out;
}


}  // namespace

void bind_potential(py::module_& m, ReaderClass& reader) {
  m.def("fortran_d16", &fortran_d16, py::arg("x"));
  py::class_<Potential>(m, "PotentialValues", py::module_local())
      .def_property_readonly("columns", &Potential::columns)
      .def_property_readonly("distributions", &Potential::distributions)
      .def_property_readonly("in_multipoles", &Potential::in_multipoles)
      .def("at", &potential_at, py::arg("points"), py::arg("threads") = py::none())
      .def("box", &values_on_box<Potential>, py::arg("origin"), py::arg("axes"), py::arg("shape"),
           py::arg("first"), py::arg("count"), py::arg("out").noconvert(),
           py::arg("threads") = py::none());

  reader
      .def("potential_values",
           [](const Vexmora& r, int kind, bool spin) {
             const ChkParams::Mol& mol = r.params().mol;
             std::vector<double> tri = potential_density(mol, kind, spin);
             py::gil_scoped_release nogil;
             // A spin density is a distribution of electrons alone: no nuclei.
             return Potential(mol, tri, !spin);
           },
           py::arg("kind"), py::arg("spin"))
      .def("write_esp",
           [](const Vexmora& r, const std::string& path, const std::vector<double>& charges,
              const Points& points, const Points& values) {
             check_points(points);
             if (values.ndim() != 1 || values.shape(0) != points.shape(0))
               throw py::value_error("one potential value per point");
             const double *xyz = points.data(), *v = values.data();
             const int64_t n = points.shape(0);
             py::gil_scoped_release nogil;
             write_esp(r, path, charges, xyz, v, n);
           },
           py::arg("path"), py::arg("charges"), py::arg("points"), py::arg("values"));
}

// The job's optional properties in the standard orientation, each None when
// the checkpoint holds none: Hessian, gradient, moments, charges and masses.
#include "bindings.h"
#include "conventions.h"

namespace {

py::object hessian(const py::object& self) {
  const Eigen::MatrixXd& h = loaded(reader_of(self), Bulk::hessian).hessian;
  if (h.size() == 0) return py::none();
  // Symmetric: the column-major storage read row by row is the same matrix.
  return view(h.data(), {static_cast<py::ssize_t>(h.rows()), static_cast<py::ssize_t>(h.cols())}, self);
}

py::object quadrupole(const Reader& r) {
  const std::vector<double>& q = r.properties().quadrupole;
  if (q.empty()) return py::none();
  const Eigen::Matrix3d Q = quadrupole_matrix(q);
  return copy_of(Q.data(), {3, 3});  // symmetric: the storage order does not matter
}

// One value per entry (per atom for the charges and masses).
py::object flat(const std::vector<double>& v) { return optional(v, {static_cast<py::ssize_t>(v.size())}); }

}  // namespace

void bind_properties(py::module_&, ReaderClass& cls) {
  cls.def_property_readonly("hessian", &hessian)
      .def_property_readonly("gradient",
                             [](const Reader& r) {
                               // A job without forces leaves the record zero-filled: no gradient.
                               const std::vector<double>& g = r.properties().gradient;
                               const bool zero = std::all_of(g.begin(), g.end(), [](double x) { return x == 0.0; });
                               return optional(zero ? std::vector<double>{} : g,
                                               {static_cast<py::ssize_t>(g.size() / 3), 3});
                             })
      .def_property_readonly("dipole", [](const Reader& r) { return optional(r.properties().dipole, {3}); })
      .def_property_readonly("quadrupole", &quadrupole)
      .def_property_readonly("mulliken_charges", [](const Reader& r) { return flat(r.properties().mulliken); })
      .def_property_readonly("atomic_masses", [](const Reader& r) { return flat(r.properties().atmass); });
}

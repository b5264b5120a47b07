// The harmonic analysis of the Hessian, computed without the interpreter lock
// and returned as one object of arrays (mode k is row k).
#include "Utils.h"
#include "Vibrations.h"
#include "bindings.h"

namespace {

py::array_t<double> per_mode(const std::vector<double>& v) {
  return copy_of(v.data(), {static_cast<py::ssize_t>(v.size())});
}

Vibrations vibrations(const Vexmora& r) {
  const ChkParams::Mol& m = r.params().mol;
  py::gil_scoped_release nogil;
  return harmonic_vibrations(m.hessian, m.atmass, leading(m.coords, 3 * m.natoms));
}

}  // namespace

void bind_vibrations(py::module_& m, ReaderClass& cls) {
  py::class_<Vibrations>(m, "Vibrations", py::module_local())
      .def_property_readonly("frequencies", [](const Vibrations& v) { return per_mode(v.frequencies); })
      .def_property_readonly("reduced_masses", [](const Vibrations& v) { return per_mode(v.reduced_masses); })
      .def_property_readonly("force_constants", [](const Vibrations& v) { return per_mode(v.force_constants); })
      .def_property_readonly("modes",
                             [](const Vibrations& v) {
                               // Column k of the column-major matrix is mode k:
                               // its storage is (modes, atoms, 3) row-major.
                               const auto nm = static_cast<py::ssize_t>(v.modes.cols());
                               return copy_of(v.modes.data(), {nm, static_cast<py::ssize_t>(v.modes.rows() / 3), 3});
                             })
      .def_readonly("zero_point_energy", &Vibrations::zero_point_energy);
  cls.def("vibrations", &vibrations);
}

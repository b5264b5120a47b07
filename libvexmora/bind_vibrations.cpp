// The harmonic analysis of the Hessian, computed without the interpreter lock
// and returned as one object of arrays (mode k is row k).
#include "Utils.h"
#include "Vibrations.h"
#include "bindings.h"

namespace {

py::array_t<double> per_mode(const std::vector<double>& v) {
  return copy_of(v.data(), {static_cast<py::ssize_t>(v.size())});
}

// An intensity array, or None where the job stored no derivatives for it. An
// atom has no modes: every per-mode array is empty, none None.
py::object intensities(const Vibrations& vib, const std::vector<double>& v) {
  return v.empty() && !vib.frequencies.empty() ? py::object(py::none()) : py::object(per_mode(v));
}

Vibrations vibrations(const Reader& r) {
  const ChkParams::Mol& m = loaded(r, Bulk::hessian);
  const Properties& p = r.properties();
  py::gil_scoped_release nogil;
  Vibrations v = harmonic_vibrations(m.hessian, p.atmass, leading(m.coords, 3 * m.natoms));
  add_intensities(v, p);
  return v;
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
      .def_readonly("zero_point_energy", &Vibrations::zero_point_energy)
      .def_property_readonly("ir_intensities", [](const Vibrations& v) { return intensities(v, v.ir_intensities); })
      .def_property_readonly("raman_activities",
                             [](const Vibrations& v) { return intensities(v, v.raman_activities); })
      .def_property_readonly("depolarization_ratios", [](const Vibrations& v) -> py::object {
        if (v.depolarization_plane.empty() && !v.frequencies.empty()) return py::none();
        py::array_t<double> a({static_cast<py::ssize_t>(v.depolarization_plane.size()), py::ssize_t{2}});
        for (size_t k = 0; k < v.depolarization_plane.size(); ++k) {
          a.mutable_at(k, 0) = v.depolarization_plane[k];
          a.mutable_at(k, 1) = v.depolarization_unpolarized[k];
        }
        return std::move(a);
      });
  cls.def("vibrations", &vibrations);
}

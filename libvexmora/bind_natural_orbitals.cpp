// Orbitals that are not orthonormal (after ADMP), and the Molden, .wfn and
// .wfx files of the natural orbitals of the density instead.
#include "NaturalOrbitals.h"
#include "bindings.h"
#include "wavefunction.h"

void bind_natural_orbitals(py::module_& /*m*/, ReaderClass& reader) {
  reader
      .def("orthonormality_error",
           [](const Vexmora& r) -> py::object {
             double e = 0.0;
             {
               py::gil_scoped_release nogil;
               e = orthonormality_error(r.params().mol);
             }
             return e < 0.0 ? py::object(py::none()) : py::object(py::float_(e));
           })
      .def("write_molden_natural",
           [](const Vexmora& r, const std::string& path) {
             py::gil_scoped_release nogil;
             write_molden_natural(r, path);
           },
           py::arg("path"))
      .def("write_aim",
           [](const Vexmora& r, const std::string& format, const std::string& path, bool natural,
              bool spin_block) {
             if (format != "wfn" && format != "wfx") throw py::value_error("format: wfn or wfx");
             py::gil_scoped_release nogil;
             const WavefunctionOptions options{natural, spin_block};
             if (format == "wfn")
               write_wfn(r, path, options);
             else
               write_wfx(r, path, options);
           },
           py::arg("format"), py::arg("path"), py::arg("natural"), py::arg("spin_block"));
}

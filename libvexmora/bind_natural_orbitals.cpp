// Orbitals that are not orthonormal (after ADMP), and the Molden file of the
// natural orbitals of the density instead.
#include "NaturalOrbitals.h"
#include "bindings.h"

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
           py::arg("path"));
}

// The library's private extension module, vexmora._core: the reader of
// Vexmora_ bound again with the library's NumPy arrays, topic by topic.
#include "bindings.h"

PYBIND11_MODULE(_core, m) {
  m.doc() = "Private bindings of the checkpoint reader for the vexmora package.";
  m.attr("BOHR_TO_ANGSTROM") = BOHR_TO_ANGSTROM;

  // Local: Vexmora_ registers the specified reader under its own name.
  py::classh<Vexmora>(m, "_SpecifiedReader", py::module_local());
  ReaderClass reader(m, "Reader", py::module_local());
  bind_reader(m, reader);
  bind_job(m, reader);
  bind_molecule(m, reader);
  bind_orbitals(m, reader);
  bind_basis(m, reader);
  bind_densities(m, reader);
  bind_properties(m, reader);
  bind_vibrations(m, reader);
  bind_writers(m, reader);
  bind_records(m, reader);
  bind_errors(m, reader);
  bind_natural_orbitals(m, reader);
  bind_grid(m, reader);
  bind_symmetry(m, reader);
  bind_thermo(m, reader);
  bind_potential(m, reader);
  bind_dataset(m, reader);
}

// The library's private extension module, vexmora._core: the reader of
// Vexmora_ bound again with the library's NumPy arrays, topic by topic.
#include "Utils.h"
#include "bindings.h"

PYBIND11_MODULE(_core, m) {
  m.doc() = "Private bindings of the checkpoint reader for the vexmora package.";
  py::register_local_exception_translator(translate_error);
  m.attr("BOHR_TO_ANGSTROM") = BOHR_TO_ANGSTROM;
  m.attr("element_symbols") = std::vector<std::string>(element_symbols, element_symbols + 112);
  m.attr("density_names") = std::vector<std::string>(density_names, density_names + 9);

  // Local: Vexmora_ registers the same C++ class under its own name.
  ReaderClass reader(m, "Reader", py::module_local());
  bind_reader(m, reader);
  bind_grid(m, reader);
  bind_wavefunction(m, reader);
}

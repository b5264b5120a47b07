// The wavefunction writers for AIM programs (.wfn, .wfx) in vexmora._core.
#include "bindings.h"
#include "wavefunction.h"

void bind_wavefunction(py::module_& m, ReaderClass& reader) {
  (void)m;
  for (const auto& [name, write] : {std::pair{"write_wfn", &write_wfn}, {"write_wfx", &write_wfx}})
    reader.def(
        name,
        [write = write](const Vexmora& r, const std::string& path) {
          py::gil_scoped_release nogil;
          write(r, path);
        },
        py::arg("path"));
}

// Opening a checkpoint and the parsed state as bytes (what pickling carries).
// The interpreter lock is released while a file is parsed.
#include "bindings.h"

namespace {

std::unique_ptr<Reader> open_reader(const std::string& path) {
  py::gil_scoped_release nogil;
  // The large records are read on first use, by name: no descriptor is held
  // per object.
  auto r = std::make_unique<Reader>(path, true);
  r->release_file();
  return r;
}

std::unique_ptr<Reader> from_state(const py::bytes& state) {
  const std::string s = state;
  py::gil_scoped_release nogil;
  return std::make_unique<Reader>(Reader::restore_state(s));
}

py::bytes state(const Reader& r) {
  std::string s;
  {
    py::gil_scoped_release nogil;
    s = r.save_state();
  }
  return py::bytes(s);
}

}  // namespace

void bind_reader(py::module_&, ReaderClass& cls) {
  cls.def(py::init(&open_reader), py::arg("path"))
      .def_static("from_state", &from_state, py::arg("state"))
      .def("state", &state);
}

// The library's errors: a failure of the reader becomes vexmora.errors'
// CheckpointError, a failed or refused write its WriteError (an OSError with
// the errno), each with one line for users and the whole report kept aside.
// Vexmora_ keeps its own translation: RuntimeError with the whole report.
#include "OutputFile.h"
#include "bindings.h"

namespace {

// Raises vexmora.errors.<name>(*args); a failure to build it raises instead.
void raise_library_error(const char* name, const py::tuple& args) {
  try {
    const py::object cls = py::module_::import("vexmora.errors").attr(name);
    const py::object exc = cls(*args);
    PyErr_SetObject(cls.ptr(), exc.ptr());
  } catch (py::error_already_set& e) {
    e.restore();
  }
}

void translate_library_error(std::exception_ptr p) {
  try {
    if (p) std::rethrow_exception(p);
  } catch (const WriteError& e) {
    const py::object err = e.err == 0 ? py::object(py::none()) : py::object(py::int_(e.err));
    raise_library_error("WriteError", py::make_tuple(err, text(e.reason), text(e.path), text(e.what())));
  } catch (const _Error& e) {
    // The message alone; what() is the report with the source location.
    raise_library_error("CheckpointError",
                        py::make_tuple(text(e.std::runtime_error::what()), text(e.what())));
  }
}

}  // namespace

void bind_errors(py::module_& m, ReaderClass& /*reader*/) {
  py::register_local_exception_translator(translate_library_error);
  m.def("refuse_input",
        [](const std::string& path, const std::string& input) {
          refuse_input(path, InputFile::of(input));
        },
        py::arg("path"), py::arg("input"),
        "Raise WriteError when path, through links, names the file input.");
}

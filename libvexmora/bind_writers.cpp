// The output formats, read from the one table (formats.h): their names and
// suffixes, and one writer call for all. The interpreter lock is released
// while a file is written. write_bytes hands Python's own pages (the viewer's
// HTML) to the same output file, so they too appear whole or not at all and
// never replace the checkpoint.
#include "bindings.h"
#include "formats.h"

#include <string_view>

void bind_writers(py::module_& m, ReaderClass& cls) {
  py::class_<OutputFormat>(m, "OutputFormat", py::module_local())
      .def_property_readonly("name", [](const OutputFormat& f) { return f.name; })
      .def_property_readonly("suffix", [](const OutputFormat& f) { return f.suffix; })
      .def_property_readonly("description", [](const OutputFormat& f) { return f.description; });
  m.attr("output_formats") = py::cast(output_formats(), py::return_value_policy::reference);
  cls.def(
      "write",
      [](const Reader& r, const std::string& format, const std::string& path) {
        const OutputFormat& f = output_format(format);
        py::gil_scoped_release nogil;
        f.write(r, path);
      },
      py::arg("format"), py::arg("path"));
  cls.def(
      "write_bytes",
      [](const Vexmora& r, const std::string& path, const py::bytes& data) {
        const std::string_view content = data;  // bytes are immutable; the caller holds them
        py::gil_scoped_release nogil;
        OutputFile f = r.output(path);
        f.write(content.data(), content.size());
        f.commit();
      },
      py::arg("path"), py::arg("data"));
}

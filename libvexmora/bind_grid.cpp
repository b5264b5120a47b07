// Orbitals and densities on points, and cube files, in vexmora._core. The
// evaluators are built once (the density's eigenvectors, the shells) and then
// called on any number of point sets, without the interpreter lock.
#include <thread>

#include "bind_grid.h"
#include "cube_writer.h"
#include "density.h"

// None: every core; more threads than cores only cost their buffers.
int thread_count(const py::object& threads) {
  const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  if (threads.is_none()) return cores;
  const int n = threads.cast<int>();
  if (n < 1) throw py::value_error("threads must be at least 1 (or None for all cores)");
  return std::min(n, cores);
}

namespace {

py::array_t<double> values_at(const PointValues& v, const Points& points, const py::object& threads) {
  check_points(points);
  const int64_t n = points.shape(0);
  const double* xyz = points.data();
  const int nt = thread_count(threads);
  py::array_t<double> out({static_cast<py::ssize_t>(n), static_cast<py::ssize_t>(v.columns())});
  double* o = out.mutable_data();
  {
    py::gil_scoped_release nogil;
    v.evaluate(PointList(xyz, n), o, nt);
  }
  return out;
}

}  // namespace

void check_points(const Points& points) {
  if (points.ndim() != 2 || points.shape(1) != 3)
    throw py::value_error("points must be an array of shape (n, 3)");
  const double* xyz = points.data();
  for (int64_t k = 0; k < 3 * points.shape(0); ++k)
    if (!std::isfinite(xyz[k])) throw py::value_error("points must be finite numbers");
}

GridBox cube_box(const std::array<double, 3>& origin, const std::array<double, 9>& axes,
                 const std::array<int64_t, 3>& shape) {
  GridBox b;
  std::copy(origin.begin(), origin.end(), b.origin);
  std::copy(axes.begin(), axes.end(), b.axes);
  std::copy(shape.begin(), shape.end(), b.shape);
  for (const double x : b.origin)
    if (!std::isfinite(x)) throw py::value_error("the box's origin is not finite");
  for (const double x : b.axes)
    if (!std::isfinite(x)) throw py::value_error("the box's steps are not finite");
  for (const int64_t n : b.shape)
    if (n < 1) throw py::value_error("the box needs at least one point along each axis");
  return b;
}

void bind_grid(py::module_& m, ReaderClass& reader) {
  py::class_<PointValues>(m, "PointValues", py::module_local())
      .def_property_readonly("columns", &PointValues::columns)
      .def("at", &values_at, py::arg("points"), py::arg("threads") = py::none())
      .def("box", &values_on_box<PointValues>, py::arg("origin"), py::arg("axes"), py::arg("shape"),
           py::arg("first"), py::arg("count"), py::arg("out").noconvert(),
           py::arg("threads") = py::none());

  reader
      .def("orbital_values",
           [](const Vexmora& r, const std::vector<int64_t>& which, bool beta) {
             py::gil_scoped_release nogil;
             return PointValues::orbitals(r.params().mol, which, beta);
           },
           py::arg("which"), py::arg("beta"))
      .def("density_values",
           [](const Vexmora& r, int kind, bool spin) {
             if (kind < 0 || kind > 8) throw py::index_error("density kind out of range");
             const ChkParams::Mol& mol = r.params().mol;
             py::gil_scoped_release nogil;
             const std::vector<double> tri = density_triangle(mol, kind, spin);
             if (tri.empty()) throw py::value_error("no such density in this checkpoint");
             return PointValues::density(mol, tri);
           },
           py::arg("kind"), py::arg("spin"))
      .def("write_cube",
           [](const Vexmora& r, const std::string& path, const std::string& title,
              const std::string& comment, const std::array<double, 3>& origin,
              const std::array<double, 9>& axes, const std::array<int64_t, 3>& shape,
              const std::vector<int64_t>& orbitals, const Points& values,
              const py::object& threads) {
             const GridBox b = cube_box(origin, axes, shape);
             const int nt = thread_count(threads);
             if (values.size() != b.points() * std::max<int64_t>(1, orbitals.size()))
               throw py::value_error("the values do not fill the box");
             const double* v = values.data();
             py::gil_scoped_release nogil;
             write_cube(path, r, title, comment, b, orbitals, v, nt);
           },
           py::arg("path"), py::arg("title"), py::arg("comment"), py::arg("origin"),
           py::arg("axes"), py::arg("shape"), py::arg("orbitals"), py::arg("values"),
           py::arg("threads") = py::none());
}

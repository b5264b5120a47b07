// The density matrices by kind (the bit of record 603's selection mask), total
// and spin, each unpacked anew from the stored lower triangle.
#include <cmath>

#include "bindings.h"

namespace {

// The order n of a packed lower triangle of `len` elements, or -1.
int64_t triangle_order(size_t len) {
  const auto n = static_cast<int64_t>((std::sqrt(8.0 * static_cast<double>(len) + 1.0) - 1.0) / 2.0 + 0.5);
  return n >= 0 && static_cast<size_t>(n) * static_cast<size_t>(n + 1) / 2 == len ? n : -1;
}

// A full symmetric matrix unpacked from the row-wise lower triangle.
py::object unpack_density(const std::vector<double>& tri) {
  const int64_t n = triangle_order(tri.size());
  if (tri.empty() || n < 1) return py::none();
  py::array_t<double> a({static_cast<py::ssize_t>(n), static_cast<py::ssize_t>(n)});
  double* out = a.mutable_data();
  {
    py::gil_scoped_release nogil;
    // Row by row into the lower half, then mirrored tile by tile: writing
    // both halves from the triangle at once strides through memory by n.
    const double* t = tri.data();
    for (int64_t r = 0; r < n; ++r, t += r) std::copy(t, t + r + 1, out + r * n);
    constexpr int64_t kTile = 64;
    for (int64_t r0 = 0; r0 < n; r0 += kTile)
      for (int64_t c0 = 0; c0 <= r0; c0 += kTile)
        for (int64_t r = r0; r < std::min(n, r0 + kTile); ++r)
          for (int64_t c = c0; c < std::min(r, c0 + kTile); ++c) out[c * n + r] = out[r * n + c];
  }
  return std::move(a);
}

constexpr int kKinds = static_cast<int>(std::tuple_size<DensitySet>::value);

const DensitySet& densities(const Vexmora& r, bool spin) {
  return spin ? r.params().mol.spindens : r.params().mol.totdens;
}

}  // namespace

void bind_densities(py::module_& m, ReaderClass& cls) {
  m.attr("density_names") = std::vector<std::string>(density_names, density_names + kKinds);
  cls.def("density_kinds",
          [](const Vexmora& r, bool spin) {
            std::vector<int> kinds;
            for (int k = 0; k < kKinds; ++k)
              if (!densities(r, spin)[k].empty()) kinds.push_back(k);
            return kinds;
          },
          py::arg("spin"))
      .def("density",
           [](const Vexmora& r, int kind, bool spin) {
             if (kind < 0 || kind >= kKinds) throw py::index_error("density kind out of range");
             return unpack_density(densities(r, spin)[kind]);
           },
           py::arg("kind"), py::arg("spin"));
}

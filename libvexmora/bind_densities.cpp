// The density matrices by kind (the bit of record 603's selection mask), total
// and spin, each unpacked anew from the stored lower triangle (the SCF one of
// a job that stored none built from its orbitals, see density.h).
#include <cmath>

#include "BulkMemory.h"
#include "bindings.h"
#include "density.h"
#include "parallel.h"

namespace {

// The order n of a packed lower triangle of `len` elements, or -1.
int64_t triangle_order(size_t len) {
  const auto n = static_cast<int64_t>((std::sqrt(8.0 * static_cast<double>(len) + 1.0) - 1.0) / 2.0 + 0.5);
  return n >= 0 && static_cast<size_t>(n) * static_cast<size_t>(n + 1) / 2 == len ? n : -1;
}

// Rows [r0, r1) of the full symmetric matrix of order n from the row-wise
// lower triangle, in one pass. Each row's left part is a row of the triangle;
// its right part is a column, whose values for a block of rows stand side by
// side in the triangle's later rows. So the rows go in blocks, the right parts
// column by column, and every line of the output is written once.
void unpack_rows(const double* tri, int64_t n, int64_t r0, int64_t r1, double* out) {
  constexpr int64_t kRows = 8;  // one cache line of each column
  for (int64_t b = r0; b < r1; b += kRows) {
    const int64_t e = std::min(r1, b + kRows);
    for (int64_t r = b; r < e; ++r) {
      const double* row = tri + r * (r + 1) / 2;
      std::copy(row, row + r + 1, out + r * n);
    }
    for (int64_t c = b + 1; c < n; ++c) {
      const double* col = tri + c * (c + 1) / 2;  // (c, 0), (c, 1), ...
      for (int64_t r = b, last = std::min(e, c); r < last; ++r) out[r * n + c] = col[r];
    }
  }
}

// An n x n array to be filled, on a buffer of the pool that goes back to it
// when Python frees the array: the next load then unpacks into memory already
// resident instead of fresh pages from the kernel, which cost as much as the
// unpacking. Only a buffer new to the pool is zero-filled first.
py::array_t<double> square_array(int64_t n) {
  const auto items = static_cast<size_t>(n * n);
  auto held = std::make_unique<std::vector<double>>(bulk::take(items));
  held->resize(items);
  const py::capsule owner(held.get(), [](void* p) {
    const std::unique_ptr<std::vector<double>> back(static_cast<std::vector<double>*>(p));
    bulk::give(*back);
  });
  double* data = held.release()->data();
  return py::array_t<double>(std::vector<py::ssize_t>{n, n}, data, owner);
}

// A full symmetric matrix unpacked from the row-wise lower triangle, the rows
// shared between two threads when it is large.
py::object unpack_density(const std::vector<double>& tri, int64_t nbasis) {
  const int64_t n = triangle_order(tri.size());
  // A complex density stores two triangles, whose length can happen to be
  // that of one triangle of another order: only a triangle over the basis is
  // a real density matrix.
  if (n < 1 || n != nbasis) return py::none();
  py::array_t<double> a = square_array(n);
  double* out = a.mutable_data();
  {
    py::gil_scoped_release nogil;
    const int threads = n >= 1024 ? 2 : 1;
    const int64_t half = threads == 2 ? (n / 2) & ~int64_t{7} : n;
    run_parallel(threads, [&](int t) { unpack_rows(tri.data(), n, t ? half : 0, t ? n : half, out); });
  }
  return std::move(a);
}

constexpr int kKinds = static_cast<int>(std::tuple_size<DensitySet>::value);

// The molecule with its densities read, and its orbitals where the SCF
// density may have to come from them.
const ChkParams::Mol& with_densities(const Vexmora& r) {
  const ChkParams::Mol& m = loaded(r, Bulk::densities);
  if (m.totdens[0].empty() && m.spindens[0].empty()) return loaded(r, Bulk::orbitals);
  return m;
}

bool has_density(const ChkParams::Mol& m, int kind, bool spin) {
  return !(spin ? m.spindens : m.totdens)[kind].empty() || (kind == 0 && scf_density_from_orbitals(m, spin));
}

py::object density_matrix(const Vexmora& r, int kind, bool spin) {
  const ChkParams::Mol& m = with_densities(r);
  const std::vector<double>& stored = (spin ? m.spindens : m.totdens)[kind];
  if (!stored.empty()) return unpack_density(stored, m.nbasis);  // no copy of a stored triangle
  std::vector<double> built;
  {
    py::gil_scoped_release nogil;
    built = density_triangle(m, kind, spin);
  }
  return unpack_density(built, m.nbasis);
}

}  // namespace

void bind_densities(py::module_& m, ReaderClass& cls) {
  m.attr("density_names") = std::vector<std::string>(density_names, density_names + kKinds);
  cls.def("density_kinds",
          [](const Vexmora& r, bool spin) {
            const ChkParams::Mol& m = with_densities(r);
            std::vector<int> kinds;
            for (int k = 0; k < kKinds; ++k)
              if (has_density(m, k, spin)) kinds.push_back(k);
            return kinds;
          },
          py::arg("spin"))
      .def("density",
           [](const Vexmora& r, int kind, bool spin) {
             if (kind < 0 || kind >= kKinds) throw py::index_error("density kind out of range");
             return density_matrix(r, kind, spin);
           },
           py::arg("kind"), py::arg("spin"));
}

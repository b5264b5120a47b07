// The molecule: atoms, their positions in the standard orientation (Angstrom)
// and the translation vectors of a periodic system.
#include "Utils.h"
#include "bindings.h"

namespace {

// The leading natoms entries of a per-atom array, as a view.
template <typename T>
py::array per_atom(const std::vector<T>& v, const py::object& self) {
  const auto n = static_cast<py::ssize_t>(std::min<size_t>(
      v.size(), static_cast<size_t>(std::max<int64_t>(meta_of(self).natoms, 0))));
  return view(v.data(), {n}, self);
}

py::object cell(const Vexmora& r) {
  const ChkParams::Mol& x = r.metadata().mol;
  const int64_t nd = std::min<int64_t>(x.ndim, 3);
  if (nd <= 0) return py::none();  // not periodic
  py::array_t<double> a({static_cast<py::ssize_t>(nd), py::ssize_t{3}});
  for (int64_t i = 0; i < nd; ++i)
    for (int k = 0; k < 3; ++k) a.mutable_at(i, k) = x.cell(i, k) * BOHR_TO_ANGSTROM;
  return std::move(a);
}

}  // namespace

void bind_molecule(py::module_&, ReaderClass& cls) {
  cls.def_property_readonly("atomic_numbers",
                            [](const py::object& self) { return per_atom(meta_of(self).atomicnums, self); })
      .def_property_readonly("symbols",
                             [](const Vexmora& r) {
                               const ChkParams::Mol& x = r.metadata().mol;
                               std::vector<std::string> out;
                               for (const int64_t z : leading(x.atomicnums, x.natoms))
                                 out.emplace_back(element_symbol(z));
                               return out;
                             })
      .def_property_readonly("nuclear_charges",
                             [](const py::object& self) { return per_atom(meta_of(self).nucchg, self); })
      .def_property_readonly("coordinates",
                             [](const Vexmora& r) {
                               const ChkParams::Mol& x = r.metadata().mol;
                               return triples(x.coords, x.natoms, BOHR_TO_ANGSTROM);
                             })
      .def_property_readonly("cell", &cell);
}

// The basis set: the shells and their primitives as stored (large arrays as
// read-only views), and Gaussian's order of a Cartesian shell's functions.
#include "Utils.h"
#include "bindings.h"
#include "conventions.h"

namespace {

using Basis = ChkParams::Mol::Basis;

// A property viewing one integer array of the basis record.
void shell_property(ReaderClass& cls, const char* name, std::vector<int64_t> Basis::*member) {
  cls.def_property_readonly(name, [member](const py::object& self) { return view(meta_of(self).basis.*member, self); });
}

}  // namespace

void bind_basis(py::module_& m, ReaderClass& cls) {
  shell_property(cls, "shell_types", &Basis::shelltypes);
  shell_property(cls, "shell_n_primitives", &Basis::shellnprim);
  cls.def_property_readonly("shell_atoms",
                            [](const Vexmora& r) {
                              const std::vector<int64_t>& v = r.metadata().mol.basis.shell2map;
                              py::array_t<int64_t> a(static_cast<py::ssize_t>(v.size()));
                              for (size_t i = 0; i < v.size(); ++i) a.mutable_at(i) = v[i] - 1;
                              return a;
                            })
      .def_property_readonly("exponents", [](const py::object& self) { return view(meta_of(self).basis.primexp, self); })
      .def_property_readonly("contraction_coefficients",
                             [](const py::object& self) { return view(meta_of(self).concoeff, self); })
      .def_property_readonly("sp_contraction_coefficients",
                             [](const py::object& self) -> py::object {
                               if (meta_of(self).spconcoeff.empty()) return py::none();
                               return view(meta_of(self).spconcoeff, self);
                             })
      .def_property_readonly("shell_centres", [](const Vexmora& r) {
        const ChkParams::Mol& x = r.metadata().mol;
        return triples(x.cshell, x.NShell, BOHR_TO_ANGSTROM);
      });
  m.def(
      "cartesian_powers",
      [](int L) {
        if (L < 0 || L > PRMNRM_LMAX) throw py::value_error("angular momentum out of range");
        return gaussian_cartesian(L);
      },
      py::arg("L"), "Powers (x, y, z) of a Cartesian shell's functions, in Gaussian's order.");
}

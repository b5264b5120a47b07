// The molecular orbitals: energies, coefficients (one orbital per row, as
// read-only views) and the occupations the checkpoint implies.
#include "bindings.h"
#include "conventions.h"

namespace {

py::object energies(const py::object& self, bool beta) {
  const std::vector<double>& v = beta ? meta_of(self).boene : meta_of(self).aoene;
  if (v.empty()) return py::none();
  return view(v, self);
}

py::object coefficients(const py::object& self, bool beta) {
  const ChkParams::Mol& x = loaded(reader_of(self), Bulk::orbitals);
  const std::vector<double>& e = beta ? x.boene : x.aoene;
  return orbital_rows(beta ? x.bmocoeff : x.amocoeff, static_cast<int64_t>(e.size()), self);
}

py::object occupations(const py::object& self, bool beta) {
  const std::vector<double> occ = mo_occupations(meta_of(self), beta);
  return optional(occ, {static_cast<py::ssize_t>(occ.size())});
}

}  // namespace

void bind_orbitals(py::module_&, ReaderClass& cls) {
  for (const bool beta : {false, true}) {
    const std::string spin = beta ? "_beta" : "_alpha";
    cls.def_property_readonly(("mo_energies" + spin).c_str(),
                              [beta](const py::object& self) { return energies(self, beta); })
        .def_property_readonly(("mo_coefficients" + spin).c_str(),
                               [beta](const py::object& self) { return coefficients(self, beta); })
        .def_property_readonly(("mo_occupations" + spin).c_str(),
                               [beta](const py::object& self) { return occupations(self, beta); });
  }
  cls.def_property_readonly("orthonormal_basis",
                            [](const py::object& self) {
                              const ChkParams::Mol& x = loaded(reader_of(self), Bulk::orthonormal_basis);
                              return orbital_rows(x.orthbasis, x.nbsuse, self);
                            })
      .def_property_readonly("basis_labels", [](const Vexmora& r) {
        py::list out;
        for (const std::string& s : r.metadata().mol.orblabels) out.append(text(s));
        return out;
      });
}

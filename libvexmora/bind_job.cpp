// The job: its texts, the electron counts, the energies and the switch arrays.
#include "bindings.h"

namespace {

// A property of the texts of the file, as str.
void text_property(ReaderClass& cls, const char* name, std::string ChkParams::*member) {
  cls.def_property_readonly(name, [member](const Vexmora& r) { return text(r.metadata().*member); });
}

// A property of one count of /Mol/.
void count_property(ReaderClass& cls, const char* name, int64_t ChkParams::Mol::*member) {
  cls.def_property_readonly(name, [member](const Vexmora& r) { return r.metadata().mol.*member; });
}

}  // namespace

void bind_job(py::module_&, ReaderClass& cls) {
  text_property(cls, "title", &ChkParams::title);
  text_property(cls, "route", &ChkParams::route);
  text_property(cls, "method", &ChkParams::method);
  text_property(cls, "basis_set", &ChkParams::baset);
  text_property(cls, "job_type", &ChkParams::jobtype);
  text_property(cls, "program_version", &ChkParams::gauver);
  using Mol = ChkParams::Mol;
  count_property(cls, "charge", &Mol::totchg);
  count_property(cls, "multiplicity", &Mol::multiplicity);
  count_property(cls, "n_electrons", &Mol::ne);
  count_property(cls, "n_alpha", &Mol::nae);
  count_property(cls, "n_beta", &Mol::nbe);
  count_property(cls, "n_basis", &Mol::nbasis);
  count_property(cls, "n_independent", &Mol::nbsuse);
  cls.def_property_readonly("scf_energy", [](const Vexmora& r) { return r.metadata().scfene(); })
      .def_property_readonly("total_energy", [](const Vexmora& r) { return r.metadata().totene(); })
      .def_property_readonly("virial_ratio", [](const Vexmora& r) { return r.metadata().viratio(); })
      .def_property_readonly("ilsw", [](const py::object& self) { return view(reader_of(self).ilsw(), self); })
      .def_property_readonly("rlsw", [](const py::object& self) { return view(reader_of(self).rlsw(), self); })
      .def_property_readonly("general",
                             [](const py::object& self) { return view(reader_of(self).metadata().genarr, self); });
}

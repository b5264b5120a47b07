// The reader itself in vexmora._core: opening, pickling, the writers and the
// arrays in chemistry's shapes, large ones as read-only views on the reader's
// storage. The interpreter lock is released while a file is parsed or written.
#include "Utils.h"
#include "Vibrations.h"
#include "bindings.h"

namespace {

std::unique_ptr<Vexmora> open_reader(const std::string& path) {
  py::gil_scoped_release nogil;
  // The large records are read on first use, by name: do not hold a
  // descriptor per object.
  auto r = std::make_unique<Vexmora>(path, true);
  r->release_file();
  return r;
}

template <typename Method>
auto writer(Method method) {
  return [method](const Vexmora& r, const std::string& path) {
    py::gil_scoped_release nogil;
    (r.*method)(path);
  };
}

// A new array of the values in `shape`.
py::array_t<double> copy_of(const double* first, std::vector<py::ssize_t> shape) {
  py::array_t<double> a(std::move(shape));
  std::copy(first, first + a.size(), a.mutable_data());
  return a;
}

// The same, or None for an empty (absent) item.
py::object optional(const std::vector<double>& v, std::vector<py::ssize_t> shape) {
  if (v.empty()) return py::none();
  return copy_of(v.data(), std::move(shape));
}

py::dict vibrations(const Vexmora& r) {
  const ChkParams::Mol& m = loaded(r, Bulk::hessian);
  Vibrations v;
  {
    py::gil_scoped_release nogil;
    v = harmonic_vibrations(m.hessian, m.atmass, leading(m.coords, 3 * m.natoms));
  }
  const auto nm = static_cast<py::ssize_t>(v.frequencies.size());
  const auto n = static_cast<py::ssize_t>(v.modes.rows() / 3);
  py::dict d;
  d["frequencies"] = copy_of(v.frequencies.data(), {nm});
  d["reduced_masses"] = copy_of(v.reduced_masses.data(), {nm});
  d["force_constants"] = copy_of(v.force_constants.data(), {nm});
  // Column k of the column-major matrix is mode k: its storage is (nm, n, 3) row-major.
  d["modes"] = copy_of(v.modes.data(), {nm, n, 3});
  d["zero_point_energy"] = v.zero_point_energy;
  return d;
}

}  // namespace

void bind_reader(py::module_& m, ReaderClass& cls) {
  (void)m;
  using Mol = ChkParams::Mol;
  const auto mol = [](const py::object& self) -> const Mol& { return reader_of(self).metadata().mol; };

  cls.def(py::init(&open_reader), py::arg("path"))
      .def_static("from_state",
                  [](const py::bytes& state) {
                    const std::string s = state;
                    py::gil_scoped_release nogil;
                    return std::make_unique<Vexmora>(Vexmora::restore_state(s));
                  })
      .def("state",
           [](const Vexmora& r) {
             std::string s;
             {
               py::gil_scoped_release nogil;
               s = r.save_state();
             }
             return py::bytes(s);
           })
      .def("write_fchk",
           [](const Vexmora& r, const std::string& path, bool full) {
             py::gil_scoped_release nogil;
             full ? r.write_full_fchk(path) : r.write_fchk(path);
           },
           py::arg("path"), py::arg("full") = false)
      .def("write_gjf", writer(&Vexmora::write_gjf), py::arg("path"))
      .def("write_molden", writer(&Vexmora::write_molden), py::arg("path"))
      .def("write_xyz", writer(&Vexmora::write_xyz), py::arg("path"))
      .def("texts",
           [](const Vexmora& r) {
             const ChkParams& p = r.metadata();
             py::dict d;
             d["title"] = text(p.title), d["route"] = text(p.route), d["method"] = text(p.method);
             d["basis_set"] = text(p.baset), d["job_type"] = text(p.jobtype);
             d["program_version"] = text(p.gauver);
             return d;
           })
      .def("counts",
           [](const Vexmora& r) {
             const Mol& x = r.metadata().mol;
             py::dict d;
             d["natoms"] = x.natoms, d["charge"] = x.totchg, d["multiplicity"] = x.multiplicity;
             d["n_electrons"] = x.ne, d["n_alpha"] = x.nae, d["n_beta"] = x.nbe;
             d["n_basis"] = x.nbasis, d["n_independent"] = x.nbsuse, d["ndim"] = x.ndim;
             d["iopcl"] = r.iopcl(), d["irohf"] = r.irohf();
             return d;
           })
      .def("atomic_numbers",
           [mol](const py::object& self) {
             const Mol& x = mol(self);
             return view(x.atomicnums.data(), {static_cast<py::ssize_t>(leading(x.atomicnums, x.natoms).size())}, self);
           })
      .def("nuclear_charges",
           [mol](const py::object& self) {
             const Mol& x = mol(self);
             return view(x.nucchg.data(), {static_cast<py::ssize_t>(leading(x.nucchg, x.natoms).size())}, self);
           })
      .def("coordinates",
           [](const Vexmora& r, bool angstrom) {
             const Mol& x = r.metadata().mol;
             return triples(x.coords, x.natoms, angstrom ? BOHR_TO_ANGSTROM : 1.0);
           },
           py::arg("angstrom") = true)
      .def("cell", [](const Vexmora& r) -> py::object {
        const Mol& x = r.metadata().mol;
        const int64_t nd = std::min<int64_t>(x.ndim, 3);
        if (nd <= 0) return py::none();
        py::array_t<double> a({static_cast<py::ssize_t>(nd), py::ssize_t{3}});
        for (int64_t i = 0; i < nd; ++i)
          for (int k = 0; k < 3; ++k) a.mutable_at(i, k) = x.cell(i, k) * BOHR_TO_ANGSTROM;
        return std::move(a);
      })
      .def("mo_energies",
           [mol](const py::object& self, bool beta) -> py::object {
             const std::vector<double>& v = beta ? mol(self).boene : mol(self).aoene;
             if (v.empty()) return py::none();
             return view(v, self);
           },
           py::arg("beta"))
      .def("mo_coefficients",
           [](const py::object& self, bool beta) {
             const Mol& x = loaded(reader_of(self), Bulk::orbitals);
             const std::vector<double>& e = beta ? x.boene : x.aoene;
             return orbital_rows(beta ? x.bmocoeff : x.amocoeff, static_cast<int64_t>(e.size()), self);
           },
           py::arg("beta"))
      .def("orthonormal_basis",
           [](const py::object& self) {
             const Mol& x = loaded(reader_of(self), Bulk::orthonormal_basis);
             return orbital_rows(x.orthbasis, x.nbsuse, self);
           })
      .def("basis_labels",
           [mol](const py::object& self) {
             py::list out;
             for (const std::string& s : mol(self).orblabels) out.append(text(s));
             return out;
           })
      .def("shell_array",
           [mol](const py::object& self, const std::string& name) {
             const auto& b = mol(self).basis;
             const std::vector<int64_t>& v = name == "types"    ? b.shelltypes
                                             : name == "nprim" ? b.shellnprim
                                                               : b.shell2map;
             return view(v, self);
           },
           py::arg("name"))
      .def("shell_atoms",
           [mol](const py::object& self) {
             const std::vector<int64_t>& v = mol(self).basis.shell2map;
             py::array_t<int64_t> a(static_cast<py::ssize_t>(v.size()));
             for (size_t i = 0; i < v.size(); ++i) a.mutable_at(i) = v[i] - 1;
             return a;
           })
      .def("exponents", [mol](const py::object& self) { return view(mol(self).basis.primexp, self); })
      .def("contraction_coefficients",
           [mol](const py::object& self) { return view(mol(self).concoeff, self); })
      .def("sp_contraction_coefficients",
           [mol](const py::object& self) -> py::object {
             if (mol(self).spconcoeff.empty()) return py::none();
             return view(mol(self).spconcoeff, self);
           })
      .def("shell_centres", [](const Vexmora& r) {
        const Mol& x = r.metadata().mol;
        return triples(x.cshell, x.NShell, BOHR_TO_ANGSTROM);
      })
      .def("density_kinds",
           [](const Vexmora& r, bool spin) {
             const Mol& x = loaded(r, Bulk::densities);
             const DensitySet& d = spin ? x.spindens : x.totdens;
             std::vector<int> kinds;
             for (int k = 0; k < 9; ++k)
               if (!d[k].empty()) kinds.push_back(k);
             return kinds;
           },
           py::arg("spin"))
      .def("density",
           [](const Vexmora& r, int kind, bool spin) {
             if (kind < 0 || kind > 8) throw py::index_error("density kind out of range");
             const Mol& x = loaded(r, Bulk::densities);
             const DensitySet& d = spin ? x.spindens : x.totdens;
             return unpack_density(d[kind]);
           },
           py::arg("kind"), py::arg("spin"))
      .def("hessian",
           [](const py::object& self) -> py::object {
             const Eigen::MatrixXd& h = loaded(reader_of(self), Bulk::hessian).hessian;
             if (h.size() == 0) return py::none();
             // Symmetric: the column-major storage read row by row is the same matrix.
             return view(h.data(), {static_cast<py::ssize_t>(h.rows()), static_cast<py::ssize_t>(h.cols())}, self);
           })
      .def("gradient",
           [mol](const py::object& self) {
             const Mol& x = mol(self);
             return optional(x.gradient, {static_cast<py::ssize_t>(x.gradient.size() / 3), 3});
           })
      .def("dipole", [mol](const py::object& self) { return optional(mol(self).dipole, {3}); })
      .def("quadrupole",
           [mol](const py::object& self) {
             const std::vector<double>& q = mol(self).quadrupole;  // XX, YY, ZZ, XY, XZ, YZ
             if (q.empty()) return optional(q, {});
             return optional({q[0], q[3], q[4], q[3], q[1], q[5], q[4], q[5], q[2]}, {3, 3});
           })
      .def("mulliken_charges", [mol](const py::object& self) {
        return optional(mol(self).mulliken, {static_cast<py::ssize_t>(mol(self).mulliken.size())});
      })
      .def("masses", [mol](const py::object& self) {
        return optional(mol(self).atmass, {static_cast<py::ssize_t>(mol(self).atmass.size())});
      })
      .def("vibrations", &vibrations)
      .def("hessian_triangle",
           [](const py::object& self) { return view(loaded(reader_of(self), Bulk::hessian).hesstri, self); })
      .def("ilsw", [](const py::object& self) { return view(reader_of(self).ilsw(), self); })
      .def("rlsw", [](const py::object& self) { return view(reader_of(self).rlsw(), self); })
      .def("general", [](const py::object& self) { return view(reader_of(self).metadata().genarr, self); });
}

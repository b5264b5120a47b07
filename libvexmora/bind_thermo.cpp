// Thermochemistry in vexmora._core: the physical constants the vibrations
// use, the thermochemistry of frequencies and the symmetry number Gaussian
// takes, computed here for the library and the dataset alike.
#include "bindings.h"
#include "codata.h"
#include "thermo.h"

namespace {

QuasiHarmonic quasi_harmonic_of(const std::string& name) {
  if (name.empty()) return QuasiHarmonic::none;
  if (name == "grimme") return QuasiHarmonic::grimme;
  if (name == "truhlar") return QuasiHarmonic::truhlar;
  throw py::value_error("quasi_harmonic must be None, 'grimme' or 'truhlar', not " + name);
}

ThermoOptions options(double temperature, double pressure, double concentration, const std::string& quasi_harmonic,
                      double cutoff, bool head_gordon, double frequency_scale, double zpe_scale) {
  return ThermoOptions{temperature, pressure, concentration, quasi_harmonic_of(quasi_harmonic),
                       cutoff, head_gordon, frequency_scale, zpe_scale};
}

py::dict thermo(const std::vector<double>& frequencies, const std::vector<double>& masses,
                const std::vector<double>& coordinates, int64_t multiplicity, int64_t sigma, const ThermoOptions& o) {
  if (masses.empty() || coordinates.size() != 3 * masses.size())
    throw py::value_error("thermochemistry needs natoms >= 1 masses and 3 natoms coordinates");
  Thermo t;
  {
    py::gil_scoped_release nogil;
    t = thermochemistry(frequencies, masses, coordinates, multiplicity, sigma, o);
  }
  py::dict d;
  d["linear"] = t.linear;
  d["zero_point_energy"] = t.zero_point_energy;
  d["thermal_energy"] = t.thermal_energy;
  d["enthalpy"] = t.enthalpy;
  d["gibbs_free_energy"] = t.gibbs_free_energy;
  d["entropy"] = t.entropy;
  d["harmonic_entropy"] = t.harmonic_entropy;
  d["harmonic_enthalpy"] = t.harmonic_enthalpy;
  d["harmonic_gibbs_free_energy"] = t.harmonic_gibbs_free_energy;
  py::list table;
  for (const ThermoRow& row : t.table) table.append(py::make_tuple(row[0], row[1], row[2]));
  d["table"] = table;
  return d;
}

py::tuple gaussian_symmetry(const std::string& route, int64_t subgroup_order, const std::string& group,
                            int64_t group_sigma, const std::string& path) {
  std::string source, note;
  const int64_t sigma = gaussian_symmetry_number(route, subgroup_order, group, group_sigma, path, source, note);
  return py::make_tuple(sigma, source, note.empty() ? py::object(py::none()) : py::object(text(note)));
}

}  // namespace

void bind_thermo(py::module_& m, ReaderClass& reader) {
  (void)reader;
  py::dict c;
  c["hartree_joule"] = codata::kHartreeJoule;
  c["bohr_metre"] = codata::kBohrMetre;
  c["amu_kg"] = codata::kAmuKg;
  c["light_metre_per_second"] = codata::kLightMetrePerSecond;
  c["planck_joule_second"] = codata::kPlanckJouleSecond;
  c["boltzmann_joule_per_kelvin"] = codata::kBoltzmannJoulePerKelvin;
  c["avogadro"] = codata::kAvogadro;
  c["elementary_charge_coulomb"] = codata::kElementaryChargeCoulomb;
  m.attr("CODATA") = c;
  py::class_<ThermoOptions>(m, "ThermoOptions", py::module_local());
  m.def("thermo_options", &options, py::arg("temperature"), py::arg("pressure"), py::arg("concentration"),
        py::arg("quasi_harmonic"), py::arg("cutoff"), py::arg("head_gordon"), py::arg("frequency_scale"),
        py::arg("zpe_scale"));
  m.def("thermochemistry", &thermo, py::arg("frequencies"), py::arg("masses"), py::arg("coordinates"),
        py::arg("multiplicity"), py::arg("sigma"), py::arg("options"));
  m.def("route_turns_symmetry_off", &route_turns_symmetry_off, py::arg("route"));
  m.def("gaussian_symmetry", &gaussian_symmetry, py::arg("route"), py::arg("subgroup_order"), py::arg("group"),
        py::arg("group_sigma"), py::arg("path"));
}

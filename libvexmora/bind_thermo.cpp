// Thermochemistry and spectra in vexmora._core: the physical constants the
// vibrations use, so that the Python side derives its numbers from the same set.
#include "bindings.h"
#include "codata.h"

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
}

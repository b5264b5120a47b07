// Thermochemistry of a frequency job: Gaussian's ideal gas, rigid rotor and
// harmonic oscillator, with the corrections Gaussian does not make
// (quasi-harmonic entropy and enthalpy, a standard state in mol/L, scaled
// frequencies), as GoodVibes makes them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

enum class QuasiHarmonic { none, grimme, truhlar };

struct ThermoOptions {
  double temperature = 298.15;  // K
  double pressure = 1.0;        // atm
  double concentration = 0.0;   // mol/L of the standard state; 0 for the ideal gas at `pressure`
  QuasiHarmonic quasi_harmonic = QuasiHarmonic::none;
  double cutoff = 100.0;         // cm^-1, of the quasi-harmonic corrections
  bool head_gordon = false;      // damp the low modes' energy too
  double frequency_scale = 1.0;
  double zpe_scale = 0.0;        // of the zero-point energy alone; 0 for frequency_scale
};

// One row of Gaussian's table: E kcal/mol, Cv cal/(mol K), S cal/(mol K).
using ThermoRow = std::array<double, 3>;

// Energies in Hartree per particle, entropies in Hartree/K, relative to the
// electronic energy unless named otherwise.
struct Thermo {
  bool linear = false;
  double zero_point_energy = 0.0, thermal_energy = 0.0;
  double enthalpy = 0.0, gibbs_free_energy = 0.0, entropy = 0.0;  // with the corrections asked for
  double harmonic_entropy = 0.0, harmonic_enthalpy = 0.0, harmonic_gibbs_free_energy = 0.0;
  // "Total", "Electronic", "Translational", "Rotational", "Vibrational".
  std::array<ThermoRow, 5> table{};
};

// The thermochemistry of atoms of `masses` (amu) at `coordinates` (3n,
// Angstrom) vibrating at `frequencies` (cm^-1, imaginary ones negative and
// left out), with rotational symmetry number `sigma`. The options must be
// valid (positive numbers; the caller checks them).
Thermo thermochemistry(const std::vector<double>& frequencies, const std::vector<double>& masses,
                       const std::vector<double>& coordinates, int64_t multiplicity, int64_t sigma,
                       const ThermoOptions& options);

// Whether a route section tells Gaussian to ignore symmetry (NoSymm,
// NoSymmetry, Symm(None), Symmetry=None, Symm=(Loose,None), any case): its
// thermochemistry then takes a symmetry number of 1. Routes are ASCII: a
// byte beyond it counts as a letter, blanks are ASCII's.
bool route_turns_symmetry_off(const std::string& route);

// Gaussian's symmetry number: 1 where it ran the job without symmetry (the
// route said so, or record 551 says the subgroup it used has order 1), else
// the geometry's. `source` becomes "route", "checkpoint" or "geometry"; `note`
// a warning naming `path` where that differs from the geometry's number.
int64_t gaussian_symmetry_number(const std::string& route, int64_t subgroup_order, const std::string& group,
                                 int64_t group_sigma, const std::string& path, std::string& source,
                                 std::string& note);

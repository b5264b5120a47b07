// Harmonic vibrational analysis of a Cartesian Hessian.
#pragma once

#include <Eigen/Dense>
#include <vector>

#include "ChkParams.h"
#include "Properties.h"

struct Vibrations {
  std::vector<double> frequencies;      // cm^-1, ascending; imaginary ones negative
  std::vector<double> reduced_masses;   // amu
  std::vector<double> force_constants;  // mDyne/Angstrom
  // One column per mode: the Cartesian displacements (x, y, z per atom) with
  // unit norm, as Gaussian prints them.
  Eigen::MatrixXd modes;
  double zero_point_energy = 0.0;  // Hartree, real modes only
  // Spectral intensities, one per mode, empty until computed from the
  // response properties: IR intensities (km/mol), Raman activities
  // (Angstrom^4/amu), depolarisation ratios for plane and unpolarised light.
  std::vector<double> ir_intensities, raman_activities, depolarization_plane,
      depolarization_unpolarized;
};

// The normal modes of `hessian` (3n x 3n, Hartree/Bohr^2) for atoms of `masses`
// (amu) at `coords` (3n, Bohr), with translations and rotations projected out:
// 3n - 6 modes, 3n - 5 for a linear molecule, none for one atom.
Vibrations harmonic_vibrations(const Eigen::MatrixXd& hessian, const std::vector<double>& masses,
                               const std::vector<double>& coords);

// Fills the intensities of `v`, the analysis of a Hessian, from the job's
// dipole and polarizability derivatives where it holds them (whole records only).
void add_intensities(Vibrations& v, const Properties& p);

// The vibrational sections of a formatted checkpoint ("Number of Normal
// Modes", "Vib-E2", "Vib-Modes", ...) in formchk's order, and "NImag" (the
// imaginary modes, in Slot::Status), from the analysis of
// the molecule's Hessian; none without a Hessian or masses. Vib-E2's
// intensity blocks hold zeros where the job stored no derivatives.
std::vector<FchkSection> vibration_sections(const ChkParams::Mol& m, const Properties& p);

// One checkpoint's row of the dataset table: the values of the library's
// properties, its point group and `vexmora thermo`'s thermochemistry, read
// and computed without Python so that many files go through threads at once.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "thermo.h"

struct DatasetOptions {
  bool point_group = true;  // the point group and symmetry number
  bool thermo = true;       // the frequencies and the thermochemistry (with a Hessian and masses)
  ThermoOptions thermochemistry;
  // The symmetry number of the thermochemistry: Gaussian's (0), the geometry's
  // (-1), or the number given (>= 1).
  int64_t symmetry = 0;
};

// A value that may be absent (null in the table).
struct MaybeDouble {
  bool present = false;
  double value = 0.0;
};

struct DatasetRow {
  // False where reading or computing failed: the row holds nothing, and the
  // caller asks the library for the file's message.
  bool ok = false;
  std::string title, route, method, basis_set, job_type, program_version, formula;
  int64_t charge = 0, multiplicity = 0, n_atoms = 0, n_basis = 0, n_electrons = 0;
  std::vector<std::string> symbols;
  std::vector<int64_t> atomic_numbers;
  std::vector<double> coordinates;  // Angstrom, x y z per atom
  double scf_energy = 0.0, total_energy = 0.0;
  MaybeDouble homo, lumo, homo_beta, lumo_beta;  // Hartree
  std::vector<double> dipole, mulliken;          // empty where absent
  bool has_group = false;
  std::string point_group;
  int64_t symmetry_number = 0;
  bool has_thermo = false;
  std::vector<double> frequencies;  // cm^-1
  int64_t n_imaginary = 0;
  double zpe = 0.0, enthalpy = 0.0, gibbs = 0.0, qh_gibbs = 0.0;  // Hartree, E included but in zpe
  std::string note;  // a warning of the thermochemistry, one line, or empty
};

class Reader;

// The row of the checkpoint at `path`. Never throws: a failure leaves ok false.
DatasetRow dataset_row(const std::string& path, const DatasetOptions& options);

// The same of a checkpoint already open (the arrays of its row come from the
// same reader); `path` names it in warnings.
DatasetRow dataset_row(const Reader& reader, const std::string& path, const DatasetOptions& options);

// Hill formula of element symbols: C first, then H, then the others in
// alphabetical order; without carbon, all in alphabetical order.
std::string hill_formula(const std::vector<std::string>& symbols);

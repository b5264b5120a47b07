// The point group of a molecule from its atoms and coordinates.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct PointGroup {
  std::string name;              // Schoenflies, as Gaussian prints it: "C2v", "Td", "D*h", "Kh"
  int64_t symmetry_number = 1;   // the number of proper rotations (2 for D*h, 1 for C*v)
  int64_t order = 1;             // the number of operations (0 for the infinite linear groups)
};

// The default tolerance, Angstrom: an operation holds when it carries every
// atom to within this distance of an equivalent atom. Optimised geometries are
// symmetric to 1e-5 Angstrom or better; a geometry distorted by a few
// hundredths of an Angstrom has the lower symmetry.
constexpr double kSymmetryTolerance = 0.01;

// The point group of atoms `atomic_numbers` at `coordinates` (3n, Angstrom,
// any orientation). Atoms are equivalent when their atomic numbers and masses
// agree; `masses` (amu) may be empty, and then the atomic numbers alone decide.
PointGroup detect_point_group(const std::vector<int64_t>& atomic_numbers, const std::vector<double>& masses,
                              const std::vector<double>& coordinates, double tolerance = kSymmetryTolerance);

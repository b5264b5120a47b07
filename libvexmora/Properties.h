// The library's reading of the records the specified reader leaves alone:
// the job's optional properties (properties.cpp) and the sections of the
// fuller .fchk from further records (records.cpp), read once at load from
// the reader's record access and kept beside the reader (Reader.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Vexmora.h"

// Where a section of the fuller .fchk goes among the ones the specified
// writer always writes, in formchk's order.
enum class Slot : int32_t {
  BeforeMasses,  // behind the coordinates
  AfterMasses,
  Basis,         // behind the shell counts
  Bonds,         // behind RLSW
  Internal,      // behind the densities
  Path,          // behind the Mulliken charges
  Tensors,       // behind the quadrupole moment
  Vibrations,    // computed when written, not read
  Parameters,    // behind the vibrations
  Status,        // behind "RMS Density", computed when written
};

// A section of the fuller .fchk read from a record that only that writer and
// the library's properties use: integers, reals, or one of either (scalar).
struct FchkSection {
  std::string label;
  Slot slot = Slot::BeforeMasses;
  bool real = false, scalar = false;
  std::vector<int64_t> ints;
  std::vector<double> reals;
};

// Each item empty when the checkpoint holds none; vectors and tensors in the
// frame of the coordinates, atomic units, masses in amu.
struct Properties {
  std::vector<double> gradient;    // 3 natoms: x, y, z per atom
  std::vector<double> dipole;      // 3
  std::vector<double> quadrupole;  // 6: XX, YY, ZZ, XY, XZ, YZ
  std::vector<double> mulliken;    // natoms
  std::vector<double> atmass;      // natoms
  // Record 619's response properties; lower triangles xx, yx, yy, zx, zy, zz.
  std::vector<double> dipole_derivatives;          // 9 natoms: per atom [displacement][component]
  std::vector<double> polarizability;              // 6: a lower triangle
  std::vector<double> polarizability_derivatives;  // 18 natoms: a triangle per displacement
  std::vector<double> hyperpolarizability;  // 10: xxx, xxy, xyy, yyy, xxz, xyz, yyz, xzz, yzz, zzz
  std::vector<FchkSection> sections;        // in formchk's order within each slot
};

// Both read from the open file of `reader`; never an error: an item whose
// record is missing, short or out of range is left out.
Properties read_properties(const Vexmora& reader);
std::vector<FchkSection> read_records(const Vexmora& reader);

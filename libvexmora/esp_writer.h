// Gaussian's ESP file (what pop=MK IOp(6/50=1) writes and antechamber reads
// with -fi gesp): the atoms in Bohr with their fitted charges, the dipole and
// quadrupole lines (zeros, as Gaussian writes them there), then each point's
// potential (atomic units) and position (Bohr), every number in Fortran's D16.8.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Vexmora.h"

// One number as Fortran's D16.8: " -0.26112618D-02" (a mantissa 0.1 to 1).
std::string fortran_d16(double x);

// points: 3 per point (Bohr); values: one per point; charges: one per atom.
void write_esp(const Vexmora& reader, const std::string& path, const std::vector<double>& charges,
               const double* points, const double* values, int64_t npoints);

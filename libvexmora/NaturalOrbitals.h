// Orbitals that are not orthonormal, and the natural orbitals of the density.
//
// The orbitals of a checkpoint are normally orthonormal in the basis overlap
// S. ADMP propagates the density, and the orbitals it stores are not: only
// the density describes the state. Where the checkpoint holds its orthonormal
// basis X as a square matrix (record 685, one vector per row, X S X^T = 1),
// S = (X^T X)^-1, and neither the test nor the natural orbitals need integrals.
#pragma once

#include <string>
#include <vector>

#include "ChkParams.h"
#include "Vexmora.h"

// How far the stored orbitals of both spins are from orthonormal in S, or -1
// where that cannot be told (no square X, or not one orbital per function).
// Square orbitals C are orthonormal in S = (X^T X)^-1 exactly when
// C^T C = X^T X; the value is max |v^T C^T C v / v^T X^T X v - 1| over fixed
// pseudo-random probes v, so it costs a few matrix-vector products, not an
// inversion. For ADMP orbitals it is of order 1, for orthonormal ones 1e-6.
double orthonormality_error(const ChkParams::Mol& m);

struct NaturalOrbitals {
  std::vector<double> occupations;  // electrons, most occupied first
  std::vector<double> coefs;        // one orbital per row, over the basis functions
};

// The natural orbitals of the total SCF density D: the eigenvectors U of the
// density in the orthonormal basis, X S D S X^T, as orbitals U^T X.
// Throws when the checkpoint holds no square X or no SCF density.
NaturalOrbitals natural_orbitals(const ChkParams::Mol& m);

// A Molden file of those natural orbitals (one set, energies 0), written as
// the Molden writer writes the stored ones.
void write_molden_natural(const Vexmora& reader, const std::string& path);

// The density matrices every route takes: the stored ones, and the SCF density
// of a job that stored orbitals but no density (pop=None), from those orbitals.
#pragma once

#include <vector>

#include "ChkParams.h"

// The density of `kind` (the bit of record 603's selection mask; 0 is "SCF"),
// total or spin (alpha minus beta), as a packed row-wise lower triangle over
// the basis: the stored triangle where the checkpoint holds one. For kind 0
// where the checkpoint holds real orbitals of one spin each but no SCF density
// at all (neither total nor spin), the triangle of sum_occ C C^T of the
// occupied orbitals instead: restricted ones (ROHF included) hold [i < nae]
// alpha and [i < nbe] beta electrons, unrestricted ones their own. A
// closed-shell restricted job has no spin density, as Gaussian stores none.
// Empty when there is neither. Needs the orbitals and densities read.
std::vector<double> density_triangle(const ChkParams::Mol& m, int kind, bool spin);

// Whether density_triangle(m, 0, spin) builds the SCF density from the orbitals.
bool scf_density_from_orbitals(const ChkParams::Mol& m, bool spin);

// Wavefunctions over Cartesian primitives, as the AIM programs read them
// (.wfn, .wfx): pure functions expanded into Cartesian monomials, contraction
// and normalisation folded into each primitive's orbital coefficient.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Vexmora.h"

struct PrimitiveWavefunction {
  // Per primitive: atom (from 1), type code (1 s, 2-4 p, ..., 36-56 h, as
  // AIMAll numbers them), exponent (Bohr^-2).
  std::vector<int64_t> centres, types;
  std::vector<double> exps;
  // The occupied orbitals: restricted ones first (spin 3, alpha and beta; a
  // singly occupied ROHF orbital is spin 1), or the alpha (1) then the beta (2).
  struct Orbital {
    double occupation = 0, energy = 0;
    int spin = 3;
  };
  std::vector<Orbital> orbitals;
  std::vector<double> coefs;  // orbitals x primitives: of raw primitives x^a y^b z^c exp(-e r^2)
  bool unrestricted = false;

  int64_t nprim() const { return static_cast<int64_t>(exps.size()); }
};

// The occupied orbitals of the checkpoint over primitives; `who` names the
// format in messages ("wfn output"). Complex or generalised orbitals, shells
// above h and a checkpoint without orbitals are refused.
PrimitiveWavefunction expand_primitives(const ChkParams::Mol& m, const std::string& who);


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
// above h and a checkpoint without orbitals are refused. With `natural`, the
// natural orbitals of the SCF density instead (NaturalOrbitals.h: one set of
// spin 3, energies 0), those of occupation above 1e-8.
PrimitiveWavefunction expand_primitives(const ChkParams::Mol& m, const std::string& who,
                                        bool natural = false);

// How the AIM writers write: the stored orbitals or the natural ones, and for
// .wfn Multiwfn's $MOSPIN block of an unrestricted file's spins, which
// Gaussian's own files do not have.
struct WavefunctionOptions {
  bool natural = false;
  bool spin_block = false;
};
void write_wfn(const Vexmora& reader, const std::string& path, const WavefunctionOptions& options);
void write_wfx(const Vexmora& reader, const std::string& path, const WavefunctionOptions& options);


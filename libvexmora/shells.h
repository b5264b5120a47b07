// The basis as the library's writers and evaluators see it: one angular
// momentum per shell (an SP shell becomes an S and a P shell), Gaussian's
// function order, contractions of normalised primitives normalised to one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ChkParams.h"
#include "conventions.h"

// Contraction coefficients of normalised primitives, scaled to unit norm.
std::vector<double> normalised_contraction(int L, const double* exps, const double* coefs,
                                           int64_t n);

struct BasisShell {
  int64_t atom = 0;  // from 1
  int L = 0;
  bool pure = false;
  int64_t first_prim = 0, nprim = 0;
  std::vector<double> coefs;  // of normalised primitives, the contraction normalised

  int64_t nfunctions() const { return pure ? 2 * L + 1 : (L + 1) * (L + 2) / 2; }
};

// What a consumer of the shells can hold; messages start "<who>: ", and a
// shell beyond the limits is refused as one "<holder> has no" ("the Molden format").
struct ShellLimits {
  std::string who, holder;
  int64_t max_pure_L = 0, max_cartesian_L = 0;
};

// The shells of `m`, checked against the limits and against the checkpoint's
// counts (primitives, atoms in order).
std::vector<BasisShell> split_shells(const ChkParams::Mol& m, const ShellLimits& limits);

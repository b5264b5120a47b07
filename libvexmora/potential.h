// The electrostatic potential of a density (and of the nuclei) at points:
// V(r) = sum_A Z_A / |r - R_A| - sum_mu,nu D_mu,nu int phi_mu phi_nu / |r - r'| dr'.
//
// The density is expanded once into Hermite Gaussians (McMurchie-Davidson):
// every pair of primitives becomes one charge distribution of exponent p at
// P, its Hermite coefficients contracted with the density block of its shell
// pair. Primitive pairs with the same exponents on the same atoms (an SP
// shell's S and P parts) share one distribution. A point then costs, per
// distribution, the Boys function and the Hermite integrals R_tuv up to the
// pair's angular momentum. Shell pairs are screened by their Gaussian-product
// prefactor times the largest density element of their block.
//
// Far from its centre a compact distribution is a point multipole (exactly, up
// to exp(-p r^2)): the tight distributions centred close to an atom (a core
// exponent paired with anything) are moved to that atom by a Taylor series of
// their Hermite derivatives and summed into one multipole, used at the points
// beyond its reach; closer points take them one by one.
#pragma once

#include <cstdint>
#include <vector>

#include "ChkParams.h"
#include "grid.h"

// A primitive pair whose estimated contribution to the potential anywhere
// (prefactor, contraction, largest density element) falls below this is left out.
constexpr double kPotentialCutoff = 1e-13;
// A point closer to a nucleus than this (Bohr) is on it.
constexpr double kOnNucleus = 1e-8;

class Potential {
 public:
  // The potential of the density `triangle` (a packed lower triangle over the
  // basis, row-wise), with the nuclei's charges when `nuclei`.
  Potential(const ChkParams::Mol& m, const std::vector<double>& triangle, bool nuclei);

  // Values at the points into their rows of out, over `threads` threads. A point
  // on a nucleus gets the potential of everything but that nucleus (as Gaussian
  // prints the potential at the nuclei).
  void evaluate(const PointSet& points, double* out, int threads) const;

  // The first of n points (Bohr, three each) on a nucleus, or -1.
  int64_t first_on_nucleus(const double* xyz, int64_t n) const;
  int64_t columns() const { return 1; }  // one value per point
  int64_t distributions() const { return static_cast<int64_t>(charges_.size()); }
  // Of those, the ones that join a multipole far from their atom.
  int64_t in_multipoles() const { return distributions() - alone_; }

 private:
  struct Charge {
    double p, P[3];
    int L;
    int64_t offset;  // of its coefficients, (L+1)(L+2)(L+3)/6 of them, 2 pi / p and the sign folded in
  };
  // The tight distributions charges_[first, end) as one multipole at an atom,
  // which stands for them at points at least `reach` away.
  struct Multipole {
    Charge charge;  // at the atom, of the smallest exponent of its members
    double reach2;
    int64_t first, end;
  };
  void gather_multipoles(const ChkParams::Mol& m, std::vector<std::vector<double>>& acc);
  void evaluate_block(int64_t n, const double* xyz, double* v) const;

  std::vector<Charge> charges_;  // those alone first, then each multipole's
  int64_t alone_ = 0;
  std::vector<Multipole> multipoles_;
  std::vector<double> coefs_;
  std::vector<double> nuclei_;  // x, y, z (Bohr), Z per nucleus
};

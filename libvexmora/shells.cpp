#include "shells.h"

#include <cmath>

#include "Error.h"
#include "Utils.h"

// NormCC takes the coefficients of raw primitives: there and back by each
// primitive's norm.
std::vector<double> normalised_contraction(int L, const double* exps, const double* coefs,
                                           int64_t n) {
  std::vector<double> c(coefs, coefs + n), self(c.size());
  for (size_t p = 0; p < c.size(); ++p) {
    self[p] = PrmNrm(1, L, exps[p], exps[p]);
    c[p] /= std::sqrt(self[p]);
  }
  NormCC(1, L, n, exps, c, self);
  for (size_t p = 0; p < c.size(); ++p) c[p] *= std::sqrt(self[p]);
  return c;
}

std::vector<BasisShell> split_shells(const ChkParams::Mol& m, const ShellLimits& limits) {
  const auto& b = m.basis;
  const std::string who = limits.who + ": ";
  const size_t ns = b.shelltypes.size();
  if (b.shellnprim.size() < ns || b.shell2map.size() < ns)
    VEX_THROW(who + "the shell arrays disagree in length");
  if (b.primexp.size() < m.concoeff.size())
    VEX_THROW(who + "fewer exponents than contraction coefficients");
  std::vector<BasisShell> out;
  int64_t prim = 0, atom = 1;
  const auto add = [&](int64_t a, int L, bool pure, int64_t np, const std::vector<double>& c) {
    out.push_back({a, L, pure, prim, np,
                   normalised_contraction(L, b.primexp.data() + prim, c.data() + prim, np)});
  };
  for (size_t i = 0; i < ns; ++i) {
    const int64_t T = b.shelltypes[i], np = b.shellnprim[i], a = b.shell2map[i];
    if (np < 0 || np > static_cast<int64_t>(m.concoeff.size()) - prim)
      VEX_THROW(who + "the shells hold more primitives than the basis");
    if (a < atom || a > m.natoms) VEX_THROW(who + "the shells are not grouped by atom in order");
    atom = a;
    const int64_t L = T < 0 ? -T : T;
    if (T == -1) {
      if (m.spconcoeff.size() != m.concoeff.size())
        VEX_THROW(who + "SP shell without P coefficients");
      add(a, 0, false, np, m.concoeff);
      add(a, 1, false, np, m.spconcoeff);
    } else {
      const bool pure = T < -1;
      if (pure ? L > limits.max_pure_L : L > limits.max_cartesian_L)
        VEX_THROW(who + limits.holder + " has no " +
                  (pure ? "pure" : "Cartesian") + " shell of angular momentum " +
                  std::to_string(L) + " (shell " + std::to_string(i + 1) + ")");
      add(a, static_cast<int>(L), pure, np, m.concoeff);
    }
    prim += np;
  }
  return out;
}

#include "wavefunction.h"

#include <algorithm>

#include "Error.h"
#include "NaturalOrbitals.h"
#include "grid.h"

namespace {

// AIMAll's type codes: s = 1, then every L in this order of its monomials.
const char* const kTypeNames[] = {
    "", "x", "y", "z", "xx", "yy", "zz", "xy", "xz", "yz",
    "xxx", "yyy", "zzz", "xxy", "xxz", "yyz", "xyy", "xzz", "yzz", "xyz",
    "xxxx", "yyyy", "zzzz", "xxxy", "xxxz", "xyyy", "yyyz", "xzzz", "yzzz", "xxyy", "xxzz",
    "yyzz", "xxyz", "xyyz", "xyzz",
    "zzzzz", "yzzzz", "yyzzz", "yyyzz", "yyyyz", "yyyyy", "xzzzz", "xyzzz", "xyyzz", "xyyyz",
    "xyyyy", "xxzzz", "xxyzz", "xxyyz", "xxyyy", "xxxzz", "xxxyz", "xxxyy", "xxxxz", "xxxxy",
    "xxxxx"};
constexpr int kTypes = sizeof kTypeNames / sizeof kTypeNames[0];

CartesianPowers powers_of(const char* name) {
  CartesianPowers p = {0, 0, 0};
  for (const char* c = name; *c; ++c) ++p[*c - 'x'];
  return p;
}

// The type codes of angular momentum L and, for each, the monomial's place
// in the shell.
std::vector<std::pair<int64_t, int>> types_of(const GridShell& s) {
  std::vector<std::pair<int64_t, int>> out;
  for (int t = 0; t < kTypes; ++t) {
    const CartesianPowers p = powers_of(kTypeNames[t]);
    if (p[0] + p[1] + p[2] != s.L) continue;
    const auto q = std::find(s.monomials.begin(), s.monomials.end(), p) - s.monomials.begin();
    out.push_back({t + 1, static_cast<int>(q)});
  }
  return out;
}

struct Selected {
  const double* coefs;  // one orbital over the basis
  PrimitiveWavefunction::Orbital orbital;
};

std::vector<Selected> occupied(const ChkParams::Mol& m, const std::string& who) {
  const auto check = [&](const std::vector<double>& e, const std::vector<double>& c) {
    if (e.empty()) VEX_THROW(who + ": the checkpoint holds no molecular orbitals");
    if (c.size() != e.size() * static_cast<size_t>(m.nbasis))
      VEX_THROW(who + ": the format holds real orbitals of one spin only (these are complex "
                "or generalised)");
  };
  check(m.aoene, m.amocoeff);
  const bool unrestricted = !m.boene.empty();
  if (unrestricted) check(m.boene, m.bmocoeff);
  const auto n = [&](int64_t k, const std::vector<double>& e) {
    return std::clamp<int64_t>(k, 0, static_cast<int64_t>(e.size()));
  };
  std::vector<Selected> out;
  if (!unrestricted) {
    for (int64_t i = 0; i < n(std::max(m.nae, m.nbe), m.aoene); ++i)
      out.push_back({m.amocoeff.data() + i * m.nbasis,
                     {(i < m.nae) + (i < m.nbe) + 0.0, m.aoene[i], i < m.nbe ? 3 : 1}});
    return out;
  }
  for (int64_t i = 0; i < n(m.nae, m.aoene); ++i)
    out.push_back({m.amocoeff.data() + i * m.nbasis, {1.0, m.aoene[i], 1}});
  for (int64_t i = 0; i < n(m.nbe, m.boene); ++i)
    out.push_back({m.bmocoeff.data() + i * m.nbasis, {1.0, m.boene[i], 2}});
  return out;
}

// The natural orbitals that hold electrons, pointing into `n`.
std::vector<Selected> occupied_natural(const NaturalOrbitals& n, int64_t nbasis) {
  std::vector<Selected> out;
  for (size_t i = 0; i < n.occupations.size(); ++i)
    if (n.occupations[i] > 1e-8)
      out.push_back({n.coefs.data() + static_cast<int64_t>(i) * nbasis, {n.occupations[i], 0.0, 3}});
  return out;
}

}  // namespace

PrimitiveWavefunction expand_primitives(const ChkParams::Mol& m, const std::string& who, bool natural) {
  const std::vector<GridShell> shells =
      grid_shells(m, {who, "the format", kGridMaxL, kGridMaxL});
  if (static_cast<int64_t>(m.atomicnums.size()) < m.natoms)
    VEX_THROW(who + ": fewer atomic numbers than atoms");
  const NaturalOrbitals nos = natural ? natural_orbitals(m) : NaturalOrbitals{};
  const std::vector<Selected> orbitals = natural ? occupied_natural(nos, m.nbasis) : occupied(m, who);
  PrimitiveWavefunction w;
  w.unrestricted = !natural && !m.boene.empty();
  for (const Selected& o : orbitals) w.orbitals.push_back(o.orbital);
  // The primitives: shell by shell, type by type, all exponents of a type
  // together (the order AIM readers regroup into shells).
  struct Column {
    const GridShell* shell;
    int monomial;
    double coef;
  };
  std::vector<Column> columns;
  for (const GridShell& s : shells)
    for (const auto& [type, q] : types_of(s))
      for (size_t p = 0; p < s.exps.size(); ++p) {
        w.centres.push_back(s.atom);
        w.types.push_back(type);
        w.exps.push_back(s.exps[p]);
        columns.push_back({&s, q, s.coefs[p]});
      }
  const int64_t np = w.nprim();
  w.coefs.assign(orbitals.size() * static_cast<size_t>(np), 0.0);
  for (size_t i = 0; i < orbitals.size(); ++i) {
    double* row = w.coefs.data() + i * np;
    for (int64_t k = 0; k < np; ++k) {
      const Column& c = columns[k];
      double sum = 0;
      for (size_t f = 0; f < c.shell->functions.size(); ++f)
        for (const GridShell::Term& t : c.shell->functions[f])
          if (t.monomial == c.monomial) sum += orbitals[i].coefs[c.shell->first_function + f] * t.weight;
      row[k] = sum * c.coef;
    }
  }
  return w;
}

// The basis step: regroup the stored shells by atom, export them in the
// formatted checkpoint's convention, and normalise the contractions.
#include <cmath>
#include <string>

#include "Utils.h"
#include "Vexmora.h"

namespace {

// Length of the coefficient buffer of one shell and angular momentum.
constexpr int64_t MaxCon = 100;

int64_t lmin_of(int64_t T, int64_t C) {
  if (T == 1) return C == 1 ? 1 : 0;
  return C != 0 ? T : 0;
}

bool kept_atom_type(int64_t t) { return t == 0 || t == 1000 || t >= 10000000; }

bool is_expanded(int64_t T, int64_t C) { return (T == 1 && C != 1) || (T >= 2 && C == 0); }

// Whether [ptr - 1, ptr - 1 + n) lies inside an array of `size` entries. An
// empty range (a shell without primitives) is never followed, so its pointer
// may hold anything.
bool range_ok(int64_t ptr, int64_t n, size_t size) {
  if (n == 0) return true;
  return ptr >= 1 && n > 0 && ptr - 1 <= static_cast<int64_t>(size) &&
         n <= static_cast<int64_t>(size) - (ptr - 1);
}

std::string shell_text(int64_t s) { return " of shell " + std::to_string(s + 1); }

}  // namespace

void Vexmora::fix_basis() {
  ChkParams::Mol& m = params_.mol;
  using Basis = ChkParams::Mol::Basis;
  const Basis old = m.basis;  // the stages read the record as stored
  Basis& b = m.basis;
  const int64_t ns = m.NShell;

  // Clear every array, keeping its length, so unwritten entries read 0.
  for (auto* v : {&b.primexp, &b.primconc, &b.primspconc, &b.hiconc1, &b.hiconc2, &b.shellx,
                  &b.shelly, &b.shellz, &b.shellaux4, &b.shellaux5})
    std::fill(v->begin(), v->end(), 0.0);
  for (auto* v : {&b.shellhiptr, &b.shell2map, &b.shellprimptr, &b.shellnprim, &b.shelltypes,
                  &b.shellcons, &b.shellaux2, &b.shellaux3})
    std::fill(v->begin(), v->end(), 0);

  // Atom filter, then a stable counting sort of the kept shells by atom.
  std::vector<int64_t> per_atom(static_cast<size_t>(m.natoms) + 1, 0);
  std::vector<char> kept(static_cast<size_t>(ns), 0);
  for (int64_t s = 0; s < ns; ++s) {
    const int64_t a = old.shell2map[s];
    if (a < 1 || a > m.natoms) VEX_THROW("FixB is confused about JAn");
    if (kept_atom_type(m.atomtypes[a - 1])) {
      kept[s] = 1;
      ++per_atom[a];
    }
  }
  for (int64_t a = 1; a <= m.natoms; ++a) per_atom[a] += per_atom[a - 1];
  std::vector<int64_t> order(static_cast<size_t>(per_atom[m.natoms]));
  {
    std::vector<int64_t> next(per_atom.begin(), per_atom.end() - 1);
    for (int64_t s = 0; s < ns; ++s)
      if (kept[s]) order[next[old.shell2map[s] - 1]++] = s;
  }

  // Count the pieces and check every range they copy before anything is written.
  int64_t pieces = 0, prims = 0, highs = 0;
  for (const int64_t s : order) {
    const int64_t T = old.shelltypes[s], C = old.shellcons[s], np = old.shellnprim[s];
    if (T < 0) VEX_THROW("Negative shell type" + shell_text(s) + " in the basis record");
    if (np < 0) VEX_THROW("Negative shellnprim" + shell_text(s) + " in the basis record");
    if (!range_ok(old.shellprimptr[s], np, old.primexp.size()))
      VEX_THROW("shellprimptr" + shell_text(s) + " points outside the primitives (NPrim= " +
                std::to_string(m.NPrim) + ")");
    const int64_t first = is_expanded(T, C) ? 1 : T;
    const int64_t npieces = T - first + 1;
    const int64_t nhigh = T >= 2 ? T - std::max<int64_t>(first, 2) + 1 : 0;
    if (nhigh > 0 && !range_ok(old.shellhiptr[s], np, old.hiconc1.size()))
      VEX_THROW("shellhiptr" + shell_text(s) + " points outside the high-L coefficients (" +
                std::to_string(m.bhdr3) + ")");
    if (npieces > ns - pieces) VEX_THROW("NShell != mol.NShell in fix_basis");
    pieces += npieces;
    using Wide = __int128;
    if (Wide(npieces) * np > m.NPrim - prims || Wide(nhigh) * np > m.bhdr3 - highs)
      VEX_THROW("shellnprim: the shells hold more primitives than the basis record (NPrim= " +
                std::to_string(m.NPrim) + ")");
    prims += npieces * np;
    highs += nhigh * np;
  }
  if (pieces != ns) VEX_THROW("NShell != mol.NShell in fix_basis");

  // Rebuild: SP shells stay one shell marked with constraint 2; SPD and SPDF
  // shells are split into an SP shell and single-L shells.
  int64_t n = 0, pp = 1, hp = 1;
  for (const int64_t s : order) {
    const int64_t T = old.shelltypes[s], C = old.shellcons[s], np = old.shellnprim[s];
    const bool expand = is_expanded(T, C);
    const int64_t first = expand ? 1 : T;
    // Counted from 0, not up to T: T may be the largest int64_t, past which L
    // would wrap and the copies run beyond the shells.
    for (int64_t k = 0; k <= T - first; ++k, ++n) {
      const int64_t L = first + k;
      b.shell2map[n] = old.shell2map[s];
      b.shellaux3[n] = old.shellaux3[s];
      b.shellnprim[n] = np;
      b.shellx[n] = old.shellx[s], b.shelly[n] = old.shelly[s], b.shellz[n] = old.shellz[s];
      b.shellaux4[n] = old.shellaux4[s], b.shellaux5[n] = old.shellaux5[s];
      b.shellprimptr[n] = pp;
      b.shelltypes[n] = L;
      b.shellcons[n] = (expand && L == 1) ? 2 : L;
      const int64_t src = old.shellprimptr[s] - 1, dst = pp - 1;
      if (np > 0) {  // the pointers of an empty shell may point anywhere
        std::copy_n(old.primexp.begin() + src, np, b.primexp.begin() + dst);
        std::copy_n(old.primconc.begin() + src, np, b.primconc.begin() + dst);
        std::copy_n(old.primspconc.begin() + src, np, b.primspconc.begin() + dst);
      }
      if (L >= 2) {
        const int64_t hsrc = old.shellhiptr[s] - 1;
        if (np > 0) {
          std::copy_n(old.hiconc1.begin() + hsrc, np, b.hiconc1.begin() + hp - 1);
          std::copy_n(old.hiconc2.begin() + hsrc, np, b.hiconc2.begin() + hp - 1);
        }
        b.shellhiptr[n] = hp;
        hp += np;
      }
      pp += np;
    }
  }

  convert_cc(0, 1, 0);

  // Export: type codes, one coefficient per primitive, SP coefficients, centres.
  std::vector<int64_t> codes(static_cast<size_t>(ns));
  bool any_sp = false;
  for (int64_t i = 0; i < ns; ++i) {
    const int64_t T = b.shelltypes[i], C = b.shellcons[i];
    if (T >= 2 && C != T) VEX_THROW("ExpBas called with SPD or SPDF shells");
    const bool sp = T == 1 && C != 1;
    any_sp = any_sp || sp;
    if (T == 0) codes[i] = 0;
    else if (T == 1) codes[i] = sp ? -1 : 1;
    else if (T == 2) codes[i] = m.bhdr4 == 1 ? 2 : -2;
    else codes[i] = m.bhdr5 == 1 ? T : -T;
  }
  m.concoeff.clear();
  m.concoeff.reserve(static_cast<size_t>(m.NPrim));
  for (int64_t i = 0; i < ns; ++i) {
    const int64_t T = b.shelltypes[i], C = b.shellcons[i], np = b.shellnprim[i];
    // data() + offset: a shell without primitives may point just past the end.
    const double* src = T == 0 || (T == 1 && C != 1) ? b.primconc.data() + (b.shellprimptr[i] - 1)
                        : T == 1 ? b.primspconc.data() + (b.shellprimptr[i] - 1)
                        : T == 2 ? b.hiconc1.data() + (b.shellhiptr[i] - 1)
                                 : b.hiconc2.data() + (b.shellhiptr[i] - 1);
    m.concoeff.insert(m.concoeff.end(), src, src + np);
  }
  if (static_cast<int64_t>(m.concoeff.size()) != m.NPrim)
    VEX_THROW("concoeff size != mol.NPrim in ExpBas");
  m.spconcoeff.clear();
  if (any_sp) {
    m.spconcoeff.reserve(static_cast<size_t>(m.NPrim));
    for (int64_t i = 0; i < ns; ++i) {
      const bool sp = b.shelltypes[i] == 1 && b.shellcons[i] != 1;
      for (int64_t p = 0; p < b.shellnprim[i]; ++p)
        m.spconcoeff.push_back(sp ? b.primspconc[b.shellprimptr[i] - 1 + p] : 0.0);
    }
    if (static_cast<int64_t>(m.spconcoeff.size()) != m.NPrim)
      VEX_THROW("spconcoeff size != mol.NPrim in ExpBas");
  }
  m.cshell.resize(static_cast<size_t>(3 * ns));
  for (int64_t i = 0; i < ns; ++i) {
    m.cshell[3 * i] = b.shellx[i];
    m.cshell[3 * i + 1] = b.shelly[i];
    m.cshell[3 * i + 2] = b.shellz[i];
  }

  convert_cc(1, 0, 1);
  b.shelltypes = std::move(codes);
}

namespace {

// The array and offset holding the coefficients of angular momentum L.
template <typename B>
auto& coef_array(B& b, int64_t L) {
  return L == 0 ? b.primconc : L == 1 ? b.primspconc : L == 2 ? b.hiconc1 : b.hiconc2;
}

}  // namespace

std::vector<double> Vexmora::GetCCB(int64_t shell, int64_t L) const {
  const ChkParams::Mol& m = params_.mol;
  const auto& b = m.basis;
  if (shell < 0 || shell >= m.NShell) VEX_THROW("Bad arguments to GetCCB");
  const int64_t T = b.shelltypes[shell];
  if (L < lmin_of(T, b.shellcons[shell]) || L > T) VEX_THROW("L out of range in GetCCB");
  std::vector<double> c(MaxCon, 0.0);
  const int64_t off = (L <= 1 ? b.shellprimptr[shell] : b.shellhiptr[shell]) - 1;
  copy_vec(coef_array(b, L), c, b.shellnprim[shell], off, 0);
  return c;
}

void Vexmora::PutCCB(int64_t shell, int64_t L, const std::vector<double>& coefs) {
  ChkParams::Mol& m = params_.mol;
  auto& b = m.basis;
  if (shell < 0 || shell >= m.NShell) VEX_THROW("Bad arguments to PutCCB");
  const int64_t T = b.shelltypes[shell];
  if (L < lmin_of(T, b.shellcons[shell]) || L > T) VEX_THROW("L out of range in PutCCB");
  const int64_t off = (L <= 1 ? b.shellprimptr[shell] : b.shellhiptr[shell]) - 1;
  copy_vec(coefs, coef_array(b, L), b.shellnprim[shell], 0, off);
}

void Vexmora::convert_cc(int64_t from_type, int64_t to_type, int64_t renorm) {
  const ChkParams::Mol& m = params_.mol;
  const auto& b = m.basis;
  std::vector<double> diag(MaxCon, 0.0);
  for (int64_t i = 0; i < m.NShell; ++i) {
    const int64_t n = b.shellnprim[i];
    if (n >= MaxCon) VEX_THROW("MaxCon too small in Renor1");
    if (!range_ok(b.shellprimptr[i], n, b.primexp.size()))
      VEX_THROW("shellprimptr" + shell_text(i) + " points outside the primitives");
    const double* e = b.primexp.data() + (b.shellprimptr[i] - 1);
    const int64_t T = b.shelltypes[i], lmin = lmin_of(T, b.shellcons[i]);
    for (int64_t k = 0; k <= T - lmin; ++k) {  // counted, as in fix_basis
      const int64_t L = lmin + k;
      std::vector<double> c = GetCCB(i, L);
      for (int64_t p = 0; p < n; ++p)
        if (e[p] < 1e-6) VEX_THROW("Missing exponents in basis set");
      if (from_type != 0)
        for (int64_t p = 0; p < n; ++p) c[p] /= std::sqrt(PrmNrm(from_type, L, e[p], e[p]));
      if (renorm == 1) {
        for (int64_t p = 0; p < n; ++p) diag[p] = PrmNrm(1, L, e[p], e[p]);
        NormCC(1, L, n, e, c, diag);
      }
      if (to_type != 0)
        for (int64_t p = 0; p < n; ++p) c[p] *= std::sqrt(PrmNrm(to_type, L, e[p], e[p]));
      PutCCB(i, L, c);
    }
  }
}

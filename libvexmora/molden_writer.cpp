// The Molden writer.
//
// Gaussian and Molden agree on the order of pure functions (m = 0, +1, -1,
// +2, -2, ...) and of Cartesian d and f functions, and on normalising every
// function on its own; they differ in the order of Cartesian g functions, and
// Molden has no Cartesian h or any shell above h. Contractions are written
// for normalised primitives and normalised here, so that a reader that
// renormalises them and one that does not see the same functions.
#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "NaturalOrbitals.h"
#include "OutputFile.h"
#include "Utils.h"
#include "Vexmora.h"
#include "conventions.h"
#include "formats.h"
#include "shells.h"

namespace {

constexpr int64_t kMaxPureL = 5;       // Molden's letters end at h
constexpr int64_t kMaxCartesianL = 4;  // and its Cartesian shells at g (15G)

// `v` in scientific notation with 12 significant digits.
std::string sci(double v) {
  char tmp[40];
  const auto r = std::to_chars(tmp, tmp + sizeof tmp, v, std::chars_format::scientific, 11);
  return std::string(tmp, r.ptr);
}

// Room one formatted coefficient needs at most.
constexpr size_t kCoefficientChars = 32;

// An MO coefficient with ten decimals ("% .10f"): the absolute error, 5e-11,
// is what an orbital's accuracy depends on. Formatted from integers, which is
// several times faster than a general conversion; huge or non-finite values
// (never seen in an orbital) take the general route.
char* put_coefficient(char* p, double c) {
  if (!(std::fabs(c) < 1e8))
    return std::to_chars(p, p + kCoefficientChars, c, std::chars_format::scientific, 11).ptr;
  const auto q = static_cast<uint64_t>(std::fabs(c) * 1e10 + 0.5);
  uint64_t whole = q / 10000000000ULL, frac = q % 10000000000ULL;
  *p++ = c < 0 && q != 0 ? '-' : ' ';  // signs in one column
  if (whole == 0) {
    *p++ = '0';
  } else {
    p = std::to_chars(p, p + 12, whole).ptr;
  }
  *p++ = '.';
  for (int k = 9; k >= 0; --k, frac /= 10) p[k] = static_cast<char>('0' + frac % 10);
  return p + 10;
}

// The function numbers that start the coefficient lines, "%6lld ", each
// formatted once rather than once per orbital.
std::vector<std::string> function_labels(size_t n) {
  std::vector<std::string> out(n);
  char tmp[32];
  for (size_t k = 0; k < n; ++k) {
    std::snprintf(tmp, sizeof tmp, "%6zu ", k + 1);
    out[k] = tmp;
  }
  return out;
}

// Molden's Cartesian order; it equals Gaussian's up to f.
std::vector<CartesianPowers> molden_cartesian(int L) {
  if (L != 4) return gaussian_cartesian(L);
  return {{4, 0, 0}, {0, 4, 0}, {0, 0, 4}, {3, 1, 0}, {3, 0, 1}, {1, 3, 0}, {0, 3, 1}, {1, 0, 3},
          {0, 1, 3}, {2, 2, 0}, {2, 0, 2}, {0, 2, 2}, {2, 1, 1}, {1, 2, 1}, {1, 1, 2}};
}

// Where each of Molden's functions of one shell is among Gaussian's:
// molden[k] = gaussian[source[k]]. No factor is needed: Gaussian normalises
// every Cartesian function on its own (xy as well as xx), and so do Molden's
// readers; pure functions are normalised in both.
std::vector<int64_t> shell_map(int L, bool pure) {
  std::vector<int64_t> source;
  if (pure) {
    for (int64_t k = 0; k < 2 * L + 1; ++k) source.push_back(k);
    return source;
  }
  const std::vector<CartesianPowers> from = gaussian_cartesian(L), to = molden_cartesian(L);
  for (const CartesianPowers& p : to)
    source.push_back(std::find(from.begin(), from.end(), p) - from.begin());
  return source;
}

// The shells as Molden sees them, checked against what Molden can hold and
// against the checkpoint's counts.
std::vector<BasisShell> molden_shells(const ChkParams::Mol& m) {
  return split_shells(m, {"Molden output", "the Molden format", kMaxPureL, kMaxCartesianL});
}

void write_atoms(OutputFile& f, const ChkParams::Mol& m) {
  f.put("[Atoms] AU\n");
  for (int64_t i = 0; i < m.natoms; ++i) {
    const double* x = &m.coords[3 * i];
    f.print("%-2s %5lld %3lld %20.12f %20.12f %20.12f\n", element_symbol(m.atomicnums[i]),
            static_cast<long long>(i + 1), static_cast<long long>(m.atomicnums[i]), x[0], x[1],
            x[2]);
  }
}

// The [GTO] section: every atom, those without functions with no shells.
void write_gto(OutputFile& f, const ChkParams::Mol& m, const std::vector<BasisShell>& shells) {
  f.put("[GTO]\n");
  size_t next = 0;
  for (int64_t a = 1; a <= m.natoms; ++a) {
    f.print("%5lld 0\n", static_cast<long long>(a));
    for (; next < shells.size() && shells[next].atom == a; ++next) {
      const BasisShell& s = shells[next];
      const double* e = m.basis.primexp.data() + s.first_prim;
      const std::vector<double>& c = s.coefs;
      f.print("%c %4lld 1.00\n", "spdfgh"[s.L], static_cast<long long>(s.nprim));
      for (int64_t p = 0; p < s.nprim; ++p)
        f.print("%22s %22s\n", sci(e[p]).c_str(), sci(c[p]).c_str());
    }
    f.put("\n");
  }
}

// The flags for the pure shells present. [5D] alone means pure d and f;
// [9G] makes g and h shells pure (Molden has no Cartesian h, and readers take
// h as Cartesian without the flag), so g and h must agree.
std::string pure_flags(const std::vector<BasisShell>& shells) {
  bool any[5] = {}, pure[5] = {};  // d, f, and g with h as one group
  for (const BasisShell& s : shells)
    if (s.L >= 2) {
      const int g = std::min(s.L, 4);
      if (any[g] && pure[g] != s.pure)
        VEX_THROW("Molden output: pure and Cartesian shells of one kind (d, f, or g and h)");
      any[g] = true, pure[g] = s.pure;
    }
  std::string out = pure[2] && pure[3] ? "[5D7F]\n"
                    : pure[2] && any[3] ? "[5D10F]\n"
                    : pure[2]           ? "[5D]\n"
                    : pure[3]           ? "[7F]\n"
                                        : "";
  return pure[4] ? out + "[9G]\n" : out;
}

// Function k of Molden's order is Gaussian's function source[k].
std::vector<int64_t> basis_map(const std::vector<BasisShell>& shells, int64_t nbasis) {
  std::vector<int64_t> all;
  int64_t offset = 0;
  for (const BasisShell& s : shells) {
    // An SP shell's S and P functions stay in Gaussian's order s, x, y, z.
    const std::vector<int64_t> one = shell_map(s.L, s.pure);
    for (const int64_t k : one) all.push_back(offset + k);
    offset += static_cast<int64_t>(one.size());
  }
  if (offset != nbasis)
    VEX_THROW("Molden output: the shells hold " + std::to_string(offset) +
              " functions, the checkpoint " + std::to_string(nbasis));
  return all;
}

void write_orbitals(OutputFile& f, const std::vector<int64_t>& map,
                    const std::vector<double>& energies, const std::vector<double>& coefs,
                    const char* spin, const std::vector<double>& occupations) {
  const size_t nbf = map.size();
  const std::vector<std::string> labels = function_labels(nbf);
  TextBuffer out(f);
  for (size_t i = 0; i < energies.size(); ++i) {
    out.add(" Sym= A\n Ene= ");
    out.add(sci(energies[i]));
    out.add("\n Spin= ");
    out.add(spin);
    out.add("\n Occup= ");
    char* p = out.room(kCoefficientChars);
    const double occ = occupations[i];
    out.advance(std::to_chars(p, p + kCoefficientChars, occ, std::chars_format::fixed, 6).ptr);
    out.add("\n");
    const double* row = coefs.data() + i * nbf;
    for (size_t k = 0; k < nbf; ++k) {
      const std::string& label = labels[k];
      char* q = out.room(label.size() + kCoefficientChars + 1);
      std::memcpy(q, label.data(), label.size());
      q = put_coefficient(q + label.size(), row[map[k]]);
      *q++ = '\n';
      out.advance(q);
    }
  }
  out.flush();
}

// Real orbitals of one spin over the basis: complex and generalised ones
// (two or four numbers per function) have no Molden form.
void check_orbitals(const std::vector<double>& energies, const std::vector<double>& coefs,
                    size_t nbf) {
  if (coefs.size() != energies.size() * nbf)
    VEX_THROW("Molden output: the orbitals are not real orbitals of one spin over the " +
              std::to_string(nbf) + " basis functions (complex or generalised orbitals)");
}

// The orbitals of one spin as the [MO] section lists them.
struct OrbitalSet {
  const char* spin;
  const std::vector<double>& energies;
  const std::vector<double>& coefs;
  std::vector<double> occupations;
};

void write_molden_file(const Vexmora& reader, const std::string& path,
                       const std::vector<OrbitalSet>& sets) {
  const ChkParams::Mol& m = reader.params().mol;
  if (m.natoms < 1 || static_cast<int64_t>(m.coords.size()) < 3 * m.natoms ||
      static_cast<int64_t>(m.atomicnums.size()) < m.natoms)
    VEX_THROW("Molden output: the checkpoint holds no atoms");
  // Everything is checked before the file is opened: a refused conversion
  // leaves no file behind, not even an empty one.
  const std::vector<BasisShell> shells = molden_shells(m);
  const std::vector<int64_t> map = basis_map(shells, m.nbasis);
  const std::string flags = pure_flags(shells);
  for (const OrbitalSet& s : sets) check_orbitals(s.energies, s.coefs, map.size());

  OutputFile f = reader.output(path);
  f.put("[Molden Format]\n[Title]\n");
  f.put(one_line(reader.params().title) + "\n");
  write_atoms(f, m);
  write_gto(f, m, shells);
  f.put(flags);
  f.put("[MO]\n");
  for (const OrbitalSet& s : sets) write_orbitals(f, map, s.energies, s.coefs, s.spin, s.occupations);
  f.commit();
}

}  // namespace

void write_molden(const Vexmora& reader, const std::string& path) {
  const ChkParams::Mol& m = reader.params().mol;
  if (m.aoene.empty() || m.amocoeff.empty())
    VEX_THROW("Molden output: the checkpoint holds no molecular orbitals");
  std::vector<OrbitalSet> sets = {{"Alpha", m.aoene, m.amocoeff, mo_occupations(m, false)}};
  if (!m.boene.empty()) sets.push_back({"Beta", m.boene, m.bmocoeff, mo_occupations(m, true)});
  write_molden_file(reader, path, sets);
}

void write_molden_natural(const Vexmora& reader, const std::string& path) {
  const NaturalOrbitals natural = natural_orbitals(reader.params().mol);
  // Natural orbitals have occupations, not energies.
  const std::vector<double> energies(natural.occupations.size(), 0.0);
  write_molden_file(reader, path, {{"Alpha", energies, natural.coefs, natural.occupations}});
}

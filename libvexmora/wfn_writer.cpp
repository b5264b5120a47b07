// The AIMPAC .wfn format in the layout of Gaussian's output=wfn: fixed columns
// as AIMPAC's Fortran reads them, D exponents, occupied orbitals over
// primitives; by option, unrestricted files end with Multiwfn's $MOSPIN block,
// which tells alpha orbitals (1) from beta ones (2).
#include <charconv>
#include <cmath>
#include <cstring>

#include "OutputFile.h"
#include "formats.h"
#include "wavefunction.h"

namespace {

// v as Fortran's Dw.d, " 0.1234567D+04", right-aligned in `width`.
// Exponents beyond two digits have no D form: such values count as zero.
char* put_d(char* p, double v, int digits, int width) {
  char tmp[40];
  int exponent = 0;
  char mant[32] = {};
  if (v != 0 && std::fabs(v) >= 1e-98 && std::fabs(v) < 1e98) {
    const auto r = std::to_chars(tmp, tmp + sizeof tmp, std::fabs(v),
                                 std::chars_format::scientific, digits - 1);
    *r.ptr = '\0';
    // d.ddddde+XX -> 0.dddddd, exponent + 1
    mant[0] = tmp[0];
    std::memcpy(mant + 1, tmp + 2, static_cast<size_t>(digits - 1));
    exponent = std::atoi(std::strchr(tmp, 'e') + 1) + 1;
  } else {
    std::memset(mant, '0', static_cast<size_t>(digits));
    v = 0;
  }
  char field[48];
  const int n = std::snprintf(field, sizeof field, "%s0.%.*sD%c%02d", v < 0 ? "-" : "", digits,
                              mant, exponent < 0 ? '-' : '+', std::abs(exponent));
  const int pad = width > n ? width - n : 0;
  std::memset(p, ' ', static_cast<size_t>(pad));
  std::memcpy(p + pad, field, static_cast<size_t>(n));
  return p + pad + n;
}

// Integers in fields of three, twenty a line, after a 20-character label.
void put_assignments(OutputFile& f, const char* label, const std::vector<int64_t>& v) {
  for (size_t k = 0; k < v.size(); ++k) {
    if (k % 20 == 0) f.print(k ? "\n%-20s" : "%-20s", label);
    f.print("%3lld", static_cast<long long>(v[k]));
  }
  f.put("\n");
}

void put_reals(TextBuffer& out, const double* v, size_t n, size_t per_line, int digits, int width,
               const char* label) {
  for (size_t k = 0; k < n; ++k) {
    if (k % per_line == 0 && label) out.add(label);
    out.advance(put_d(out.room(64), v[k], digits, width));
    if (k % per_line == per_line - 1 || k + 1 == n) out.add("\n");
  }
}

}  // namespace

void write_wfn(const Vexmora& r, const std::string& path) { write_wfn(r, path, WavefunctionOptions{}); }

void write_wfn(const Vexmora& r, const std::string& path, const WavefunctionOptions& options) {
  const ChkParams& p = r.params();
  const ChkParams::Mol& m = p.mol;
  const PrimitiveWavefunction w = expand_primitives(m, "wfn output", options.natural);
  // The fixed columns: centre numbers in three digits, coordinates in F12.8.
  if (m.natoms > 999) VEX_THROW("wfn output: the wfn format holds at most 999 atoms");
  for (int64_t i = 0; i < 3 * m.natoms; ++i)
    if (!(std::fabs(m.coords[i]) < 99.99))
      VEX_THROW("wfn output: the wfn format holds coordinates below 100 Bohr only");
  OutputFile f = r.output(path);
  f.put(" " + one_line(p.title) + "\n");  // Gaussian's leading blank
  f.print("GAUSSIAN        %7zu MOL ORBITALS%7lld PRIMITIVES%9lld NUCLEI\n", w.orbitals.size(),
          static_cast<long long>(w.nprim()), static_cast<long long>(m.natoms));
  for (int64_t i = 0; i < m.natoms; ++i) {
    const double* x = &m.coords[3 * i];
    const double q = i < static_cast<int64_t>(m.nucchg.size()) ? m.nucchg[i] : m.atomicnums[i];
    f.print("  %-3s%3lld    (CENTRE%3lld) %12.8f%12.8f%12.8f  CHARGE =%5.1f\n",
            element_symbol(m.atomicnums[i]), static_cast<long long>(i + 1),
            static_cast<long long>(i + 1), x[0], x[1], x[2], q);
  }
  put_assignments(f, "CENTRE ASSIGNMENTS", w.centres);
  put_assignments(f, "TYPE ASSIGNMENTS", w.types);
  TextBuffer out(f);
  // (10X,5E14.7): the label and a blank fill the first ten columns.
  put_reals(out, w.exps.data(), w.exps.size(), 5, 7, 14, "EXPONENTS ");
  out.flush();
  for (size_t i = 0; i < w.orbitals.size(); ++i) {
    const auto& o = w.orbitals[i];
    f.print("MO%5zu     MO 0.0        OCC NO =%13.7f  ORB. ENERGY =%12.6f\n", i + 1,
            o.occupation, o.energy);
    put_reals(out, w.coefs.data() + i * w.nprim(), static_cast<size_t>(w.nprim()), 5, 8, 16,
              nullptr);
    out.flush();
  }
  f.put("END DATA\n");
  f.print(" TOTAL ENERGY =  %20.12f THE VIRIAL(-V/T)=%13.8f\n", p.totene(), p.viratio());
  if (w.unrestricted && options.spin_block) {
    f.put("$MOSPIN $END\n");
    for (size_t i = 0; i < w.orbitals.size(); ++i)
      f.print(i % 40 == 39 || i + 1 == w.orbitals.size() ? "%2d\n" : "%2d", w.orbitals[i].spin);
  }
  f.commit();
}

// The formatted checkpoint writer.
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "FchkWriter.h"
#include "OutputFile.h"
#include "Utils.h"
#include "Vexmora.h"

void write_int(OutputFile& f, const char* label, int64_t v) {
  f.print("%-40s   I     %12lld\n", label, static_cast<long long>(v));
}

void write_real(OutputFile& f, const char* label, double v) {
  f.print("%-40s   R     %22.15E\n", label, v);
}

namespace {

void write_int32(OutputFile& f, const char* label, int64_t v) {
  f.print("%-40s   I     %12d\n", label, static_cast<int>(v));
}

// Array items, formatted without printf into a text buffer.
class ItemWriter {
 public:
  explicit ItemWriter(OutputFile& f) : buf_(f) {}

  // Right-justified in `width` columns, never cut (as printf does).
  void put(const char* text, size_t n, size_t width) {
    char* p = buf_.room(std::max(n, width));
    for (size_t k = n; k < width; ++k) *p++ = ' ';
    std::memcpy(p, text, n);
    buf_.advance(p + n);
  }
  void newline() { buf_.add("\n", 1); }
  void flush() { buf_.flush(); }

 private:
  TextBuffer buf_;
};

// "%12lld"
void put_int(ItemWriter& w, int64_t v) {
  char tmp[24];
  const auto r = std::to_chars(tmp, tmp + sizeof tmp, v);
  w.put(tmp, static_cast<size_t>(r.ptr - tmp), 12);
}

// "%16.8E": to_chars rounds exactly as printf does and writes the same
// exponent digits, in lower case.
void put_real(ItemWriter& w, double v) {
  char tmp[32];
  const auto r = std::to_chars(tmp, tmp + sizeof tmp, v, std::chars_format::scientific, 8);
  const size_t n = static_cast<size_t>(r.ptr - tmp);
  // The exponent's e (and inf, nan) in upper case; inline, as a call to
  // toupper per character cost a fifth of the writer's time.
  for (size_t k = 0; k < n; ++k)
    if (tmp[k] >= 'a' && tmp[k] <= 'z') tmp[k] = static_cast<char>(tmp[k] - 'a' + 'A');
  w.put(tmp, n, 16);
}

// Items are written back to back, `per_line` to a line; a partial last line
// gets its own line feed, an empty array no data line at all.
template <typename Item>
void write_items(OutputFile& f, size_t count, size_t per_line, Item item) {
  ItemWriter w(f);
  for (size_t i = 0; i < count; ++i) {
    item(w, i);
    if ((i + 1) % per_line == 0) w.newline();
  }
  if (count % per_line != 0) w.newline();
  w.flush();
}

}  // namespace

void write_int_array(const char* label, const std::vector<int64_t>& v, OutputFile& f) {
  f.print("%-40s   I   N=%12zu\n", label, v.size());
  write_items(f, v.size(), 6, [&](ItemWriter& w, size_t i) { put_int(w, v[i]); });
}

void write_real_array(const char* label, const std::vector<double>& v, OutputFile& f) {
  f.print("%-40s   R   N=%12zu\n", label, v.size());
  write_items(f, v.size(), 5, [&](ItemWriter& w, size_t i) { put_real(w, v[i]); });
}

void write_char_array(const char* label, const std::vector<char>& v, OutputFile& f) {
  const size_t items = (v.size() + 11) / 12;
  f.print("%-40s   C   N=%12zu\n", label, items);
  write_items(f, items, 5, [&](ItemWriter& w, size_t i) {
    // An item stops early at a NUL inside the text.
    const char* first = v.data() + 12 * i;
    const size_t n = std::min<size_t>(12, v.size() - 12 * i);
    const void* nul = std::memchr(first, '\0', n);
    w.put(first, nul ? static_cast<size_t>(static_cast<const char*>(nul) - first) : n, 0);
  });
}

void write_char_array(const char* label, const std::string& s, OutputFile& f) {
  write_char_array(label, std::vector<char>(s.begin(), s.end()), f);
}

void write_present(OutputFile& f,
                   std::initializer_list<std::pair<const char*, const std::vector<double>*>> sections) {
  for (const auto& [label, v] : sections)
    if (!v->empty()) write_real_array(label, *v, f);
}

namespace {

// What the slots add, where there are slots.
void fill(const FchkSlots* slots, FchkSlot slot, OutputFile& f) {
  if (slots != nullptr) slots->fill(slot, f);
}

}  // namespace

void Vexmora::write_fchk_sections(const std::string& path, const FchkSlots* slots) const {
  const ChkParams& p = params();  // read what was deferred before the output exists
  OutputFile f = output(path);
  const ChkParams::Mol& m = p.mol;

  const std::string title = p.title.size() > 72 ? p.title.substr(0, 71) : p.title;
  f.print("%-72s\n", title.c_str());
  f.print("%-10s%-60s%-20s\n", p.jobtype.c_str(), p.method.c_str(), p.baset.c_str());
  write_int(f, "Number of atoms", m.natoms);
  write_int_array("Info1-9", p.info1_9, f);
  write_char_array("Full Title", p.title, f);
  write_char_array("Route", p.route, f);
  write_int(f, "Charge", m.totchg);
  write_int(f, "Multiplicity", m.multiplicity);
  write_int(f, "Number of electrons", m.ne);
  write_int(f, "Number of alpha electrons", m.nae);
  write_int(f, "Number of beta electrons", m.nbe);
  write_int(f, "Number of basis functions", m.nbasis);
  write_int(f, "Number of independent functions", m.nbsuse);
  fill(slots, FchkSlot::Functions, f);
  write_int(f, "Number of translation vectors", m.ndim);
  write_int_array("Atomic numbers", leading(m.atomicnums, m.natoms), f);
  write_real_array("Nuclear charges", leading(m.nucchg, m.natoms), f);
  write_real_array("Current cartesian coordinates", leading(m.coords, 3 * m.natoms), f);
  if (m.ndim > 0) {
    std::vector<double> tv;
    for (int64_t i = 0; i < std::min<int64_t>(m.ndim, 3); ++i)
      for (int k = 0; k < 3; ++k) tv.push_back(m.cell(i, k));
    write_real_array("Translation vectors", tv, f);
  }
  fill(slots, FchkSlot::Atoms, f);
  write_int(f, "Number of contracted shells", m.NShell);
  write_int(f, "Number of primitive shells", m.NPrim);
  fill(slots, FchkSlot::Shells, f);
  write_int_array("Shell types", m.basis.shelltypes, f);
  write_int_array("Number of primitives per shell", m.basis.shellnprim, f);
  write_int_array("Shell to atom map", m.basis.shell2map, f);
  write_real_array("Primitive exponents", m.basis.primexp, f);
  if (!m.concoeff.empty()) write_real_array("Contraction coefficients", m.concoeff, f);
  if (!m.spconcoeff.empty()) write_real_array("P(S=P) Contraction coefficients", m.spconcoeff, f);
  write_real_array("Coordinates of each shell", m.cshell, f);
  write_int32(f, "Num ILSW", static_cast<int64_t>(ILSW.size()));
  write_int_array("ILSW", ILSW, f);
  if (!RLSW.empty()) {
    write_int32(f, "Num RLSW", static_cast<int64_t>(RLSW.size()));
    write_real_array("RLSW", RLSW, f);
  }
  fill(slots, FchkSlot::Switches, f);
  write_real(f, "Virial Ratio", p.viratio());
  write_real(f, "SCF Energy", p.scfene());
  fill(slots, FchkSlot::ScfEnergy, f);
  write_real(f, "Total Energy", p.totene());
  fill(slots, FchkSlot::TotalEnergy, f);
  write_real(f, "RMS Density", p.rmsdens());
  fill(slots, FchkSlot::RmsDensity, f);
  write_int(f, "IOpCl", IOpCl);
  write_int(f, "IROHF", IROHF);
  write_present(f, {{"Alpha Orbital Energies", &m.aoene},
                    {"Beta Orbital Energies", &m.boene},
                    {"Alpha MO coefficients", &m.amocoeff},
                    {"Beta MO coefficients", &m.bmocoeff},
                    {"Orthonormal basis", &m.orthbasis}});
  for (int k = 0; k < 9; ++k) {
    if (!m.totdens[k].empty())
      write_real_array(("Total " + std::string(density_names[k])).c_str(), m.totdens[k], f);
    if (!m.spindens[k].empty())
      write_real_array(("Spin " + std::string(density_names[k])).c_str(), m.spindens[k], f);
  }
  fill(slots, FchkSlot::Densities, f);
  f.commit();
}

// AIMAll's .wfx format: tagged sections, one value or a few per line, every
// real with 16 significant digits.
#include <charconv>
#include <cstdio>

#include "OutputFile.h"
#include "formats.h"
#include "wavefunction.h"

namespace {

// Text inside a section: one line, without the characters that open tags.
std::string section_text(const std::string& text) {
  std::string s = one_line(text);
  for (char& c : s) {
    if (c == '<') c = '(';
    if (c == '>') c = ')';
  }
  return s.empty() ? " " : s;
}

void open_close(OutputFile& f, const std::string& tag, const std::string& body) {
  f.put("<" + tag + ">\n" + body + "</" + tag + ">\n");
}

void single(OutputFile& f, const std::string& tag, long long v) {
  open_close(f, tag, " " + std::to_string(v) + "\n");
}

void put_real(TextBuffer& out, double v) {
  char* p = out.room(32);
  *p++ = ' ';
  out.advance(std::to_chars(p, p + 30, v, std::chars_format::scientific, 15).ptr);
}

// Reals, `per_line` to a line.
void reals(OutputFile& f, const std::string& tag, const double* v, size_t n, size_t per_line) {
  f.put("<" + tag + ">\n");
  TextBuffer out(f);
  for (size_t k = 0; k < n; ++k) {
    put_real(out, v[k]);
    if (k % per_line == per_line - 1 || k + 1 == n) out.add("\n");
  }
  out.flush();
  f.put("</" + tag + ">\n");
}

void integers(OutputFile& f, const std::string& tag, const std::vector<int64_t>& v) {
  std::string body;
  for (size_t k = 0; k < v.size(); ++k)
    body += " " + std::to_string(v[k]) + (k % 10 == 9 || k + 1 == v.size() ? "\n" : "");
  open_close(f, tag, body);
}

}  // namespace

void write_wfx(const Vexmora& r, const std::string& path) { write_wfx(r, path, WavefunctionOptions{}); }

void write_wfx(const Vexmora& r, const std::string& path, const WavefunctionOptions& options) {
  const ChkParams& p = r.params();
  const ChkParams::Mol& m = p.mol;
  const PrimitiveWavefunction w = expand_primitives(m, "wfx output", options.natural);
  const int64_t n = m.natoms;
  OutputFile f = r.output(path);
  open_close(f, "Title", " " + section_text(p.title) + "\n");
  open_close(f, "Keywords", " GTO\n");
  single(f, "Number of Nuclei", n);
  single(f, "Number of Occupied Molecular Orbitals", static_cast<long long>(w.orbitals.size()));
  single(f, "Number of Perturbations", 0);
  std::string names;
  for (int64_t i = 0; i < n; ++i)
    names += " " + std::string(element_symbol(m.atomicnums[i])) + std::to_string(i + 1) + "\n";
  open_close(f, "Nuclear Names", names);
  integers(f, "Atomic Numbers", std::vector<int64_t>(m.atomicnums.begin(), m.atomicnums.begin() + n));
  std::vector<double> charges(static_cast<size_t>(n));
  for (int64_t i = 0; i < n; ++i)
    charges[i] = i < static_cast<int64_t>(m.nucchg.size()) ? m.nucchg[i] : m.atomicnums[i];
  reals(f, "Nuclear Charges", charges.data(), charges.size(), 1);
  reals(f, "Nuclear Cartesian Coordinates", m.coords.data(), static_cast<size_t>(3 * n), 3);
  single(f, "Net Charge", m.totchg);
  single(f, "Number of Electrons", m.ne);
  single(f, "Number of Alpha Electrons", m.nae);
  single(f, "Number of Beta Electrons", m.nbe);
  single(f, "Electronic Spin Multiplicity", m.multiplicity);
  open_close(f, "Model", " " + section_text(p.method) + "\n");
  single(f, "Number of Primitives", w.nprim());
  integers(f, "Primitive Centers", w.centres);
  integers(f, "Primitive Types", w.types);
  reals(f, "Primitive Exponents", w.exps.data(), w.exps.size(), 4);
  std::vector<double> occ, energies;
  std::string spins;
  for (const auto& o : w.orbitals) {
    occ.push_back(o.occupation);
    energies.push_back(o.energy);
    spins += o.spin == 3 ? " Alpha and Beta\n" : o.spin == 1 ? " Alpha\n" : " Beta\n";
  }
  reals(f, "Molecular Orbital Occupation Numbers", occ.data(), occ.size(), 1);
  reals(f, "Molecular Orbital Energies", energies.data(), energies.size(), 1);
  open_close(f, "Molecular Orbital Spin Types", spins);
  f.put("<Molecular Orbital Primitive Coefficients>\n");
  for (size_t i = 0; i < w.orbitals.size(); ++i) {
    f.print("<MO Number>\n %zu\n</MO Number>\n", i + 1);
    TextBuffer out(f);
    const double* row = w.coefs.data() + i * w.nprim();
    for (int64_t k = 0; k < w.nprim(); ++k) {
      put_real(out, row[k]);
      if (k % 4 == 3 || k + 1 == w.nprim()) out.add("\n");
    }
    out.flush();
  }
  f.put("</Molecular Orbital Primitive Coefficients>\n");
  const double energy = p.totene(), virial = p.viratio();
  reals(f, "Energy = T + Vne + Vee + Vnn", &energy, 1, 1);
  reals(f, "Virial Ratio (-V/T)", &virial, 1, 1);
  f.commit();
}

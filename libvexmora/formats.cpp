#include "formats.h"

#include "Error.h"

// Each library writer, defined in a source file of its own.
void write_molden(const Vexmora& reader, const std::string& path);
void write_xyz(const Vexmora& reader, const std::string& path);
void write_wfn(const Vexmora& reader, const std::string& path);
void write_wfx(const Vexmora& reader, const std::string& path);

const std::vector<OutputFormat>& output_formats() {
  static const std::vector<OutputFormat> table = {
      {"fchk", ".fchk", "formatted checkpoint, as Gaussian's formchk writes it",
       [](const Reader& r, const std::string& p) { r.write_full_fchk(p); }},
      {"gjf", ".gjf", "Gaussian input from the geometry",
       [](const Reader& r, const std::string& p) { r.write_gjf(p); }},
      {"molden", ".molden", "Molden file of the orbitals, for viewers",
       [](const Reader& r, const std::string& p) { write_molden(r, p); }},
      {"xyz", ".xyz", "the geometry in Angstrom",
       [](const Reader& r, const std::string& p) { write_xyz(r, p); }},
      {"wfn", ".wfn", "AIMPAC wavefunction of the occupied orbitals, for QTAIM programs",
       [](const Reader& r, const std::string& p) { write_wfn(r, p); }},
      {"wfx", ".wfx", "AIMAll wavefunction of the occupied orbitals, for QTAIM programs",
       [](const Reader& r, const std::string& p) { write_wfx(r, p); }},
  };
  return table;
}

const OutputFormat& output_format(const std::string& name) {
  for (const OutputFormat& f : output_formats())
    if (name == f.name) return f;
  std::string known;
  for (const OutputFormat& f : output_formats()) known += (known.empty() ? "" : ", ") + std::string(f.name);
  VEX_THROW("unknown output format " + name + "; choose from " + known);
}

std::string one_line(std::string s) {
  for (char& c : s)
    if (c == '\n' || c == '\r') c = ' ';
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

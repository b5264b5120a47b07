// The XYZ writer: the atom count, the title as comment line, then one line per
// atom with its symbol and position in Angstrom.
#include <algorithm>
#include <string>

#include "OutputFile.h"
#include "Vexmora.h"
#include "formats.h"

void write_xyz(const Vexmora& reader, const std::string& path) {
  const ChkParams::Mol& m = reader.metadata().mol;
  // A damaged file may hold fewer coordinates or numbers than atoms.
  const int64_t n = std::max<int64_t>(
      0, std::min<int64_t>({m.natoms, static_cast<int64_t>(m.coords.size()) / 3,
                            static_cast<int64_t>(m.atomicnums.size())}));
  OutputFile f = reader.output(path);
  f.print("%lld\n", static_cast<long long>(n));
  f.put(one_line(reader.metadata().title) + "\n");
  for (int64_t i = 0; i < n; ++i) {
    const double* x = &m.coords[3 * i];
    f.print("%-2s %15.8f %15.8f %15.8f\n", element_symbol(m.atomicnums[i]),
            x[0] * BOHR_TO_ANGSTROM, x[1] * BOHR_TO_ANGSTROM, x[2] * BOHR_TO_ANGSTROM);
  }
  f.commit();
}

#include "esp_writer.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "Error.h"
#include "OutputFile.h"

std::string fortran_d16(double x) {
  if (!std::isfinite(x)) VEX_THROW("the ESP file cannot hold a value that is not finite");
  if (x == 0) return "  0.00000000D+00";
  // %.7E gives d.ddddddd E+xx rounded to 8 digits: the same digits as 0.dddddddd, one power up.
  char e[32];
  std::snprintf(e, sizeof e, "%.7E", std::fabs(x));
  const int power = std::atoi(e + 10) + 1;
  // Fortran drops the D of an exponent of three digits: 0.12345678-100.
  const bool wide = std::abs(power) > 99;
  std::string s = std::string(x < 0 ? " -0." : "  0.") + e[0] + std::string(e + 2, 7) +
                  (wide ? "" : "D") + (power < 0 ? "-" : "+");
  char p[16];
  std::snprintf(p, sizeof p, wide ? "%03d" : "%02d", std::abs(power));
  return s + p;
}

void write_esp(const Vexmora& reader, const std::string& path, const std::vector<double>& charges,
               const double* points, const double* values, int64_t npoints) {
  const ChkParams::Mol& m = reader.metadata().mol;
  if (m.natoms < 1 || static_cast<int64_t>(charges.size()) != m.natoms ||
      static_cast<int64_t>(m.coords.size()) < 3 * m.natoms ||
      static_cast<int64_t>(m.atomicnums.size()) < m.natoms)
    VEX_THROW("the ESP file needs one charge and one position per atom");
  // The charge the fitted charges add up to: the checkpoint's, unless the fit
  // was asked for another.
  double total = 0.0;
  for (const double q : charges) total += q;
  OutputFile f = reader.output(path);
  f.put(" ESP FILE - ATOMIC UNITS\n");
  f.print(" CHARGE = %3lld - MULTIPLICITY = %3lld\n", static_cast<long long>(std::llround(total)),
          static_cast<long long>(m.multiplicity));
  f.print(" ATOMIC COORDINATES AND ESP CHARGES. #ATOMS = %8lld\n", static_cast<long long>(m.natoms));
  for (int64_t a = 0; a < m.natoms; ++a) {
    f.print(" %2s     ", element_symbol(m.atomicnums[a]));
    for (int k = 0; k < 3; ++k) f.put(fortran_d16(m.coords[3 * a + k]));
    f.put(fortran_d16(charges[a]) + "\n");
  }
  const std::string zero = fortran_d16(0);
  f.put(" DIPOLE MOMENT:\n");
  f.put(" X=" + zero + " Y=" + zero + " Z=" + zero + " Total=" + zero + "\n");
  f.put(" TRACELESS QUADRUPOLE MOMENT:\n");
  f.put("   XX=" + zero + "   YY=" + zero + "   ZZ=" + zero + "\n");
  f.put("   XY=" + zero + "   XZ=" + zero + "   YZ=" + zero + "\n");
  f.print(" ESP VALUES AND GRID POINT COORDINATES. #POINTS = %8lld\n", static_cast<long long>(npoints));
  for (int64_t q = 0; q < npoints; ++q)
    f.put(fortran_d16(values[q]) + fortran_d16(points[3 * q]) + fortran_d16(points[3 * q + 1]) +
          fortran_d16(points[3 * q + 2]) + "\n");
  f.commit();
}

// IR intensities and Raman activities of the normal modes, from the dipole and
// polarizability derivatives of record 619, as Gaussian prints them.
#include <cmath>

#include "Vibrations.h"
#include "codata.h"

namespace {

// km/mol of an IR intensity per (e^2/amu) of |d mu / dQ|^2, Q the mass-weighted
// normal coordinate (amu^1/2 Bohr).
constexpr double kIrKmPerMol = 974.8801;
// Angstrom^2 per Bohr^2: the polarizability derivatives are Bohr^2 per Bohr.
constexpr double kAngstrom2PerBohr2 = codata::kBohrMetre * codata::kBohrMetre * 1e20;

using Rows3 = Eigen::Map<const Eigen::Matrix<double, Eigen::Dynamic, 3, Eigen::RowMajor>>;
using Rows6 = Eigen::Map<const Eigen::Matrix<double, Eigen::Dynamic, 6, Eigen::RowMajor>>;

// Mode k's displacement per unit of its mass-weighted coordinate: the unit
// Cartesian mode over the square root of its reduced mass.
Eigen::VectorXd per_unit_q(const Vibrations& v, Eigen::Index k) {
  return v.modes.col(k) / std::sqrt(v.reduced_masses[k]);
}

void add_ir(Vibrations& v, const std::vector<double>& derivatives) {
  const Rows3 d(derivatives.data(), v.modes.rows(), 3);  // row: atom and displacement
  for (Eigen::Index k = 0; k < v.modes.cols(); ++k)
    v.ir_intensities.push_back(kIrKmPerMol * (d.transpose() * per_unit_q(v, k)).squaredNorm());
}

// Raman activity 45 a'^2 + 7 g'^2 and the depolarisation ratios for plane and
// unpolarised light, from the invariants of each mode's polarizability derivative.
void add_raman(Vibrations& v, const std::vector<double>& derivatives) {
  const Rows6 p(derivatives.data(), v.modes.rows(), 6);  // xx, yx, yy, zx, zy, zz
  for (Eigen::Index k = 0; k < v.modes.cols(); ++k) {
    const Eigen::Matrix<double, 6, 1> t = p.transpose() * per_unit_q(v, k) * kAngstrom2PerBohr2;
    const double xx = t(0), yx = t(1), yy = t(2), zx = t(3), zy = t(4), zz = t(5);
    const double a2 = std::pow((xx + yy + zz) / 3.0, 2);
    const double g2 = 0.5 * ((xx - yy) * (xx - yy) + (yy - zz) * (yy - zz) + (zz - xx) * (zz - xx) +
                             6.0 * (yx * yx + zy * zy + zx * zx));
    const double activity = 45.0 * a2 + 7.0 * g2;
    v.raman_activities.push_back(activity);
    v.depolarization_plane.push_back(activity > 0.0 ? 3.0 * g2 / (45.0 * a2 + 4.0 * g2) : 0.0);
    v.depolarization_unpolarized.push_back(activity > 0.0 ? 6.0 * g2 / activity : 0.0);
  }
}

}  // namespace

void add_intensities(Vibrations& v, const Properties& p) {
  // rows is 3 natoms: the derivatives' lengths hold for these atoms only.
  const Eigen::Index rows = v.modes.rows();
  if (v.modes.cols() == 0 || static_cast<Eigen::Index>(v.reduced_masses.size()) != v.modes.cols())
    return;
  if (static_cast<Eigen::Index>(p.dipole_derivatives.size()) == 3 * rows) add_ir(v, p.dipole_derivatives);
  if (static_cast<Eigen::Index>(p.polarizability_derivatives.size()) == 6 * rows)
    add_raman(v, p.polarizability_derivatives);
}

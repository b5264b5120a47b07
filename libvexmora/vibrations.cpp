// Harmonic frequencies from the Hessian and the masses: the mass-weighted
// Hessian restricted to the space orthogonal to the translations and the
// rotations about the centre of mass, diagonalised.
#include <cmath>
#include <string>

#include "Error.h"
#include "Vibrations.h"
#include "codata.h"

namespace {

// The frequencies depend on the constants through E_h / (a_0^2 u), which the
// CODATA 2006 to 2018 sets agree on to 1e-9: each reproduces Gaussian's to the
// digits it prints.
using namespace codata;

// Angular frequency squared, s^-2, of a mass-weighted eigenvalue Hartree/(Bohr^2 amu).
constexpr double kOmega2PerEigenvalue = kHartreeJoule / (kBohrMetre * kBohrMetre * kAmuKg);
// Wavenumber, cm^-1, of an angular frequency, s^-1.
constexpr double kWavenumberPerOmega = 1.0 / (2.0 * kPi * kLightMetrePerSecond * 100.0);
// Hartree of a wavenumber, cm^-1.
constexpr double kHartreePerWavenumber = kPlanckJouleSecond * kLightMetrePerSecond * 100.0 / kHartreeJoule;
// mDyne/Angstrom of N/m.
constexpr double kMilliDynePerAngstromPerNewtonPerMetre = 1e-2;

// A singular value below this fraction of the largest means no motion: the
// rotation about the axis of a linear molecule.
constexpr double kRankTolerance = 1e-6;

// Translations and rotations about the centre of mass, mass-weighted, as
// columns of an orthonormal basis.
Eigen::MatrixXd external_motions(const Eigen::VectorXd& sqrt_m, const Eigen::MatrixXd& xyz) {
  const Eigen::Index n = sqrt_m.size();
  const Eigen::VectorXd m = sqrt_m.cwiseProduct(sqrt_m);
  const Eigen::Vector3d centre = (xyz * m) / m.sum();
  Eigen::MatrixXd D = Eigen::MatrixXd::Zero(3 * n, 6);
  for (Eigen::Index i = 0; i < n; ++i) {
    const Eigen::Vector3d r = xyz.col(i) - centre;
    for (int k = 0; k < 3; ++k) {
      D(3 * i + k, k) = sqrt_m(i);
      D.block<3, 1>(3 * i, 3 + k) = sqrt_m(i) * Eigen::Vector3d::Unit(k).cross(r);
    }
  }
  const Eigen::JacobiSVD<Eigen::MatrixXd> svd(D, Eigen::ComputeThinU);
  const Eigen::VectorXd& s = svd.singularValues();  // descending
  Eigen::Index rank = 0;
  while (rank < s.size() && s(rank) > kRankTolerance * s(0)) ++rank;
  return svd.matrixU().leftCols(rank);
}

}  // namespace

Vibrations harmonic_vibrations(const Eigen::MatrixXd& hessian, const std::vector<double>& masses,
                               const std::vector<double>& coords) {
  const auto n = static_cast<Eigen::Index>(masses.size());
  if (hessian.size() == 0) VEX_THROW("No Hessian in this checkpoint: no vibrational analysis");
  if (n == 0) VEX_THROW("No atomic masses in this checkpoint: no vibrational analysis");
  if (hessian.rows() != 3 * n || hessian.cols() != 3 * n ||
      static_cast<Eigen::Index>(coords.size()) < 3 * n)
    VEX_THROW("Hessian, masses and coordinates differ in the number of atoms");
  Eigen::VectorXd sqrt_m(n), w(3 * n);  // w: 1/sqrt(m) for each Cartesian coordinate
  for (Eigen::Index i = 0; i < n; ++i) {
    if (!(masses[i] > 0.0))
      VEX_THROW("Atom " + std::to_string(i + 1) + " has no positive mass: no vibrational analysis");
    sqrt_m(i) = std::sqrt(masses[i]);
    w.segment<3>(3 * i).setConstant(1.0 / sqrt_m(i));
  }
  const Eigen::Map<const Eigen::MatrixXd> xyz(coords.data(), 3, n);

  const Eigen::MatrixXd weighted = w.asDiagonal() * hessian * w.asDiagonal();

  // The internal space: the orthogonal complement of the external motions.
  const Eigen::MatrixXd ext = external_motions(sqrt_m, xyz);
  const Eigen::MatrixXd Q = Eigen::HouseholderQR<Eigen::MatrixXd>(ext).householderQ();
  const Eigen::MatrixXd B = Q.rightCols(3 * n - ext.cols());
  Vibrations v;
  if (B.cols() == 0) {  // one atom
    v.modes.resize(3 * n, 0);
    return v;
  }
  const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> eig(B.transpose() * weighted * B);
  if (eig.info() != Eigen::Success) VEX_THROW("The mass-weighted Hessian could not be diagonalised");

  const Eigen::Index nm = B.cols();
  v.modes = w.asDiagonal() * (B * eig.eigenvectors());  // Cartesian, mass-weighted norm 1
  for (Eigen::Index k = 0; k < nm; ++k) {
    const double lambda = eig.eigenvalues()(k);
    const double omega = std::sqrt(std::abs(lambda) * kOmega2PerEigenvalue);
    const double norm2 = v.modes.col(k).squaredNorm();
    const double mu = 1.0 / norm2;
    const double nu = std::copysign(omega * kWavenumberPerOmega, lambda);
    v.frequencies.push_back(nu);
    v.reduced_masses.push_back(mu);
    v.force_constants.push_back(mu * kAmuKg * omega * omega * kMilliDynePerAngstromPerNewtonPerMetre);
    v.modes.col(k) /= std::sqrt(norm2);
    if (nu > 0.0) v.zero_point_energy += 0.5 * nu * kHartreePerWavenumber;
  }
  return v;
}

// Orthonormality of the stored orbitals and the natural orbitals of the
// density, both from the orthonormal basis (see NaturalOrbitals.h).
#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <random>
#include <string>

#include "Error.h"
#include "NaturalOrbitals.h"
#include "density.h"

namespace {

using RowMajor = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;
using Rows = Eigen::Map<const RowMajor>;

constexpr int kProbes = 8;

// The square orthonormal basis, or an empty map.
Rows orthonormal_basis(const ChkParams::Mol& m) {
  const int64_t n = m.nbasis;
  if (n < 1 || m.nbsuse != n || static_cast<int64_t>(m.orthbasis.size()) / n != n ||
      static_cast<int64_t>(m.orthbasis.size()) % n != 0)
    return Rows(nullptr, 0, 0);
  return Rows(m.orthbasis.data(), n, n);
}

// |M v|^2 for each probe column v.
Eigen::ArrayXd squared_lengths(const Rows& M, const Eigen::MatrixXd& probes) {
  return (M * probes).colwise().squaredNorm().transpose().array();
}

}  // namespace

double orthonormality_error(const ChkParams::Mol& m) {
  const Rows X = orthonormal_basis(m);
  const Eigen::Index n = X.rows();
  if (n == 0) return -1.0;
  // Fixed probes: the same checkpoint always gives the same value.
  std::mt19937_64 gen(20240611);
  std::normal_distribution<double> normal;
  const Eigen::MatrixXd probes = Eigen::MatrixXd::NullaryExpr(n, kProbes, [&] { return normal(gen); });
  const Eigen::ArrayXd reference = squared_lengths(X, probes);
  double worst = -1.0;
  for (const auto* coefs : {&m.amocoeff, &m.bmocoeff}) {
    if (coefs->empty()) continue;
    if (coefs->size() != static_cast<size_t>(n * n)) return -1.0;  // not one orbital per function
    const Eigen::ArrayXd lengths = squared_lengths(Rows(coefs->data(), n, n), probes);
    worst = std::max(worst, (lengths / reference - 1.0).abs().maxCoeff());
  }
  return worst;
}

NaturalOrbitals natural_orbitals(const ChkParams::Mol& m) {
  const Rows X = orthonormal_basis(m);
  const Eigen::Index n = X.rows();
  if (n == 0)
    VEX_THROW("Natural orbitals: the checkpoint holds no orthonormal basis of all " +
              std::to_string(m.nbasis) + " basis functions, which gives the overlap");
  const std::vector<double> tri = density_triangle(m, 0, false);
  if (tri.size() != static_cast<size_t>(n * (n + 1) / 2))
    VEX_THROW("Natural orbitals: the checkpoint holds no SCF density");
  Eigen::MatrixXd D(n, n);
  for (Eigen::Index r = 0, k = 0; r < n; ++r)
    for (Eigen::Index c = 0; c <= r; ++c, ++k) D(r, c) = D(c, r) = tri[static_cast<size_t>(k)];

  const Eigen::MatrixXd XtX = X.transpose() * X;
  const Eigen::LLT<Eigen::MatrixXd> llt(XtX);
  if (llt.info() != Eigen::Success)
    VEX_THROW("Natural orbitals: the orthonormal basis is singular");
  // X S = X (X^T X)^-1, as the solution of (X^T X) Y^T = X^T.
  const Eigen::MatrixXd XS = llt.solve(X.transpose()).transpose();
  const Eigen::MatrixXd P = XS * D * XS.transpose();
  const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> eig(P);
  if (eig.info() != Eigen::Success) VEX_THROW("Natural orbitals: the density has no eigenvectors");

  NaturalOrbitals out;
  out.occupations.resize(static_cast<size_t>(n));
  RowMajor C(n, n);
  for (Eigen::Index k = 0; k < n; ++k) {  // eigenvalues ascend: most occupied first
    const Eigen::Index j = n - 1 - k;
    out.occupations[static_cast<size_t>(k)] = eig.eigenvalues()(j);
    C.row(k) = eig.eigenvectors().col(j).transpose() * X;
  }
  out.coefs.assign(C.data(), C.data() + C.size());
  return out;
}

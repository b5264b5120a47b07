#include "density.h"

#include <Eigen/Dense>
#include <algorithm>

#include "conventions.h"

namespace {

using RowMajor = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;
using Rows = Eigen::Map<const RowMajor>;

bool real_orbitals(const ChkParams::Mol& m, const std::vector<double>& coefs,
                   const std::vector<double>& energies) {
  return m.nbasis >= 1 && !energies.empty() &&
         coefs.size() == energies.size() * static_cast<size_t>(m.nbasis);
}

bool has_orbitals(const ChkParams::Mol& m) {
  return real_orbitals(m, m.amocoeff, m.aoene) &&
         (m.boene.empty() || real_orbitals(m, m.bmocoeff, m.boene));
}

// D += sign * sum_i w_i c_i c_i^T over the orbitals (one per row) of weight w_i != 0.
void add_orbitals(Eigen::MatrixXd& D, const std::vector<double>& coefs, const std::vector<double>& w,
                  int64_t n, double sign) {
  const auto last = std::find_if(w.rbegin(), w.rend(), [](double x) { return x != 0.0; });
  const auto k = static_cast<Eigen::Index>(w.rend() - last);  // rows up to the last weighted one
  if (k == 0) return;
  const Rows C(coefs.data(), k, n);
  const Eigen::Map<const Eigen::VectorXd> weights(w.data(), k);
  D.noalias() += sign * (C.transpose() * (weights.asDiagonal() * C));
}

std::vector<double> lower_triangle(const Eigen::MatrixXd& D) {
  const Eigen::Index n = D.rows();
  std::vector<double> out;
  out.reserve(static_cast<size_t>(n * (n + 1) / 2));
  for (Eigen::Index r = 0; r < n; ++r)
    for (Eigen::Index c = 0; c <= r; ++c) out.push_back(D(r, c));
  return out;
}

}  // namespace

bool scf_density_from_orbitals(const ChkParams::Mol& m, bool spin) {
  if (!m.totdens[0].empty() || !m.spindens[0].empty() || !has_orbitals(m)) return false;
  // A closed-shell restricted job has no spin density.
  return !spin || !m.boene.empty() || m.nae != m.nbe;
}

std::vector<double> density_triangle(const ChkParams::Mol& m, int kind, bool spin) {
  if (kind < 0 || kind >= static_cast<int>(std::tuple_size<DensitySet>::value)) return {};
  const std::vector<double>& stored = (spin ? m.spindens : m.totdens)[static_cast<size_t>(kind)];
  if (kind != 0 || !scf_density_from_orbitals(m, spin)) return stored;
  Eigen::MatrixXd D = Eigen::MatrixXd::Zero(m.nbasis, m.nbasis);
  if (!m.boene.empty()) {  // unrestricted: alpha +- beta, each orbital one electron
    add_orbitals(D, m.amocoeff, mo_occupations(m, false), m.nbasis, 1.0);
    add_orbitals(D, m.bmocoeff, mo_occupations(m, true), m.nbasis, spin ? -1.0 : 1.0);
  } else if (!spin) {  // restricted: the orbitals' occupations, 2, 1 (ROHF) or 0
    add_orbitals(D, m.amocoeff, mo_occupations(m, false), m.nbasis, 1.0);
  } else {  // restricted spin: the orbitals of alpha but not of beta electrons
    std::vector<double> open(m.aoene.size(), 0.0);
    for (size_t i = 0; i < open.size(); ++i) {
      const auto k = static_cast<int64_t>(i);
      open[i] = (k < m.nae ? 1.0 : 0.0) - (k < m.nbe ? 1.0 : 0.0);
    }
    add_orbitals(D, m.amocoeff, open, m.nbasis, 1.0);
  }
  return lower_triangle(D);
}

#include "conventions.h"

#include "Error.h"

std::vector<double> mo_occupations(const ChkParams::Mol& m, bool beta) {
  const std::vector<double>& energies = beta ? m.boene : m.aoene;
  const bool restricted = m.boene.empty();
  std::vector<double> occ(energies.size());
  for (size_t k = 0; k < occ.size(); ++k) {
    const auto i = static_cast<int64_t>(k);
    if (beta)
      occ[k] = i < m.nbe ? 1.0 : 0.0;
    else
      occ[k] = (i < m.nae ? 1.0 : 0.0) + (restricted && i < m.nbe ? 1.0 : 0.0);
  }
  return occ;
}

std::vector<CartesianPowers> gaussian_cartesian(int L) {
  if (L == 1) return {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  if (L == 2) return {{2, 0, 0}, {0, 2, 0}, {0, 0, 2}, {1, 1, 0}, {1, 0, 1}, {0, 1, 1}};
  if (L == 3)
    return {{3, 0, 0}, {0, 3, 0}, {0, 0, 3}, {1, 2, 0}, {2, 1, 0},
            {2, 0, 1}, {1, 0, 2}, {0, 1, 2}, {0, 2, 1}, {1, 1, 1}};
  std::vector<CartesianPowers> out;
  for (int nx = 0; nx <= L; ++nx)
    for (int ny = 0; ny <= L - nx; ++ny) out.push_back({nx, ny, L - nx - ny});
  return out;
}

Eigen::Matrix3d quadrupole_matrix(const std::vector<double>& q) {
  if (q.size() != 6) VEX_THROW("A quadrupole has six components");
  Eigen::Matrix3d Q;
  Q << q[0], q[3], q[4], q[3], q[1], q[5], q[4], q[5], q[2];
  return Q;
}

std::vector<double> quadrupole_components(const Eigen::Matrix3d& Q) {
  return {Q(0, 0), Q(1, 1), Q(2, 2), Q(0, 1), Q(0, 2), Q(1, 2)};
}

// Vectors and tensors as Gaussian stores them, turned by the orientation
// matrix M into the frame of the coordinates: vectors M v, rank-2 tensors
// M T M^T, every index of a higher tensor alike.
#pragma once

#include <Eigen/Dense>
#include <algorithm>
#include <array>
#include <vector>

namespace tensors {

// The reader's orientation, stored column after column.
inline Eigen::Matrix3d rotation(const std::array<double, 9>& rot) {
  return Eigen::Map<const Eigen::Matrix3d>(rot.data());
}

// Each x, y, z triple: x' = M x.
inline void rotate_vectors(std::vector<double>& v, const Eigen::Matrix3d& M) {
  for (size_t i = 0; i + 3 <= v.size(); i += 3) {
    Eigen::Map<Eigen::Vector3d> x(&v[i]);
    x = M * Eigen::Vector3d(x);
  }
}

// A symmetric tensor from its lower triangle xx, yx, yy, zx, zy, zz, and back.
inline Eigen::Matrix3d from_lower(const double* t) {
  Eigen::Matrix3d P;
  P << t[0], t[1], t[3], t[1], t[2], t[4], t[3], t[4], t[5];
  return P;
}
inline void to_lower(const Eigen::Matrix3d& P, double* t) {
  const double v[6] = {P(0, 0), P(1, 0), P(1, 1), P(2, 0), P(2, 1), P(2, 2)};
  std::copy(v, v + 6, t);
}

// Each lower triangle of six: M P M^T.
inline void rotate_triangles(std::vector<double>& v, const Eigen::Matrix3d& M) {
  for (size_t i = 0; i + 6 <= v.size(); i += 6) to_lower(M * from_lower(&v[i]) * M.transpose(), &v[i]);
}

// Each 3 x 3 block, stored row after row: M B M^T.
inline void rotate_blocks(std::vector<double>& v, const Eigen::Matrix3d& M) {
  using Block = Eigen::Matrix<double, 3, 3, Eigen::RowMajor>;
  for (size_t i = 0; i + 9 <= v.size(); i += 9) {
    Eigen::Map<Block> B(&v[i]);
    B = M * Block(B) * M.transpose();
  }
}

// Per atom three triangles, one per Cartesian displacement: each triangle
// turned, then the displacement index mixed as a vector's.
inline void rotate_triangle_derivatives(std::vector<double>& v, const Eigen::Matrix3d& M) {
  rotate_triangles(v, M);
  for (size_t i = 0; i + 18 <= v.size(); i += 18) {
    Eigen::Map<Eigen::Matrix<double, 6, 3>> D(&v[i]);  // column k: displacement k
    D = Eigen::Matrix<double, 6, 3>(D) * M.transpose();
  }
}

// The ten components of a fully symmetric rank-3 tensor, in Gaussian's order.
constexpr int kRank3[10][3] = {{0, 0, 0}, {0, 0, 1}, {0, 1, 1}, {1, 1, 1}, {0, 0, 2},
                               {0, 1, 2}, {1, 1, 2}, {0, 2, 2}, {1, 2, 2}, {2, 2, 2}};

// Component (i, j, k) of the ten-component form, in any index order.
inline int rank3_index(int i, int j, int k) {
  std::array<int, 3> s = {i, j, k};
  std::sort(s.begin(), s.end());
  for (int c = 0; c < 10; ++c)
    if (kRank3[c][0] == s[0] && kRank3[c][1] == s[1] && kRank3[c][2] == s[2]) return c;
  return 0;
}

inline void rotate_rank3(std::vector<double>& v, const Eigen::Matrix3d& M) {
  if (v.size() != 10) return;
  std::array<double, 10> out{};
  for (int c = 0; c < 10; ++c)
    for (int I = 0; I < 3; ++I)
      for (int J = 0; J < 3; ++J)
        for (int K = 0; K < 3; ++K)
          out[c] += M(kRank3[c][0], I) * M(kRank3[c][1], J) * M(kRank3[c][2], K) *
                    v[rank3_index(I, J, K)];
  std::copy(out.begin(), out.end(), v.begin());
}

}  // namespace tensors

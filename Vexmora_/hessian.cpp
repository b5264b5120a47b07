// The Cartesian Hessian (585): a packed lower triangle, rotated into the frame
// of the shell centres when the orientation record was read, then expanded.
#include "Vexmora.h"

namespace {

inline int64_t tri(int64_t r, int64_t c) { return r >= c ? r * (r + 1) / 2 + c : c * (c + 1) / 2 + r; }

// H' = R H R^T for the 3 x 3 block of atoms (I, J), M(i, j) = rot[i + 3 j].
void rotate_block(std::vector<double>& h, int64_t I, int64_t J, const std::array<double, 9>& rot) {
  const auto M = [&rot](int i, int j) { return rot[i + 3 * j]; };
  double B[3][3], W[3][3];
  for (int a = 0; a < 3; ++a)
    for (int b = 0; b < 3; ++b) B[a][b] = h[tri(3 * I + a, 3 * J + b)];
  for (int a = 0; a < 3; ++a)
    for (int k = 0; k < 3; ++k) W[a][k] = B[a][0] * M(k, 0) + B[a][1] * M(k, 1) + B[a][2] * M(k, 2);
  for (int c = 0; c < 3; ++c)
    for (int k = 0; k < 3; ++k)
      h[tri(3 * I + c, 3 * J + k)] = M(c, 0) * W[0][k] + M(c, 1) * W[1][k] + M(c, 2) * W[2][k];
}

}  // namespace

void Vexmora::read_hessian() {
  const DirEntry* rec = find_record(585);
  if (rec == nullptr) return;
  const int64_t n = 3 * params_.mol.natoms;  // natoms is bounded by read_mol
  record_offset(*rec);
  checked_count(n * (n + 1) / 2, "Hessian");
  defer(Bulk::hessian, [rec = *rec, n](Vexmora& r) {
    ChkParams::Mol& m = r.params_.mol;
    r.seek_record(rec);
    r.read_vec(m.hesstri, n * (n + 1) / 2, "Hessian");

    if (r.has_orient) {
      for (int64_t I = 0; I < m.natoms; ++I)
        for (int64_t J = 0; J <= I; ++J) rotate_block(m.hesstri, I, J, m.orient_rot);
    }

    m.hessian.resize(n, n);
    const double* t = m.hesstri.data();
    for (int64_t r0 = 0; r0 < n; ++r0)
      for (int64_t c = 0; c <= r0; ++c) {
        m.hessian(r0, c) = *t;
        m.hessian(c, r0) = *t;
        ++t;
      }
  });
}

#include "Utils.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "Error.h"

namespace {

// Highest Boys-like order the recurrence needs: max(2L, L + 3) for L <= 13.
constexpr int kMaxOrder = 2 * PRMNRM_LMAX + 1;

// One-centre two-primitive integral I(L, L; 0) by the vertical recurrence on
// both centres. base(m) is I(0, 0; m); the table lives on the stack. With
// flat, base(m) is the same for every m (the overlap), and then so is every
// entry: one order serves for all, a tenth of the work at high L. That
// matters: normalising a shell takes n^2 of these, and a crafted basis record
// of long high-L contractions made seconds of work of every few kilobytes.
double one_centre(int64_t L, double a, double b, const double* base, bool flat) {
  // I[i][k][m], i, k <= L; order m up to 2L.
  double I[PRMNRM_LMAX + 1][PRMNRM_LMAX + 1][kMaxOrder + 3];
  const double p = a + b;
  const int64_t up = flat ? 0 : 1;  // how far the next order lies
  const int64_t mmax = flat ? 0 : std::max<int64_t>(2 * L, L + 3);
  for (int64_t m = 0; m <= mmax; ++m) I[0][0][m] = base[m];
  // First raise i with k = 0, then raise k for every i.
  for (int64_t i = 0; i < L; ++i) {
    for (int64_t m = 0; m + up * (i + 1) <= mmax; ++m) {
      double v = 0.0;
      if (i >= 1) v = i / (2.0 * a) * (I[i - 1][0][m] - (b / p) * I[i - 1][0][m + up]);
      I[i + 1][0][m] = v;
    }
  }
  for (int64_t k = 0; k < L; ++k) {
    for (int64_t i = 0; i <= L; ++i) {
      for (int64_t m = 0; m + up * (i + k + 1) <= mmax; ++m) {
        double v = 0.0;
        if (k >= 1) v = k / (2.0 * b) * (I[i][k - 1][m] - (a / p) * I[i][k - 1][m + up]);
        if (i >= 1) v += i / (2.0 * p) * I[i - 1][k][m + up];
        I[i][k + 1][m] = v;
      }
    }
  }
  return I[L][L][0];
}

}  // namespace

double PrmNrm(int64_t IType, int64_t L, double a, double b) {
  if (IType == 0) return 1.0;
  if (IType != 1 && IType != 2) VEX_THROW("Illegal IType in PrmNrm");
  if (L > PRMNRM_LMAX) VEX_THROW(" out of range in PrmNrm");
  if (L < 0) VEX_THROW(" out of range in PrmNrm");
  const double pi = 4.0 * std::atan(1.0);
  const double p = a + b;
  // The order-independent factor once: pow dominated the basis step when it
  // was taken for every order.
  const double f = (IType == 1) ? std::pow(pi / p, 1.5)
                                : 2.0 * std::pow(pi, 2.5) / (a * b * std::sqrt(p));
  if (IType == 1) return one_centre(L, a, b, &f, true);
  double base[kMaxOrder + 3];
  for (int m = 0; m < kMaxOrder + 3; ++m) base[m] = f / (2.0 * m + 1.0);
  return one_centre(L, a, b, base, false);
}

void NormCC(int64_t IType, int64_t L, int64_t n, const double* exps, std::vector<double>& coefs,
            const std::vector<double>& diag) {
  if (n > static_cast<int64_t>(coefs.size()) || n > static_cast<int64_t>(diag.size()))
    VEX_THROW("Contraction longer than its buffers in NormCC");
  double S = 0.0;
  for (int64_t j = 0; j < n; ++j) {
    S += coefs[j] * coefs[j] * diag[j];
    for (int64_t k = 0; k < j; ++k)
      S += 2.0 * coefs[j] * coefs[k] * PrmNrm(IType, L, exps[j], exps[k]);
  }
  if (n <= 0 || S < 1e-30) VEX_THROW("Unable to normalize a contracted basis function");
  const double f = 1.0 / std::sqrt(S);
  for (int64_t j = 0; j < n; ++j) coefs[j] *= f;
}

bool LBit(int64_t word, int32_t bit) {
  if (static_cast<uint32_t>(bit) > 63u) VEX_THROW("Bit number out of range in LBit");
  return ((static_cast<uint64_t>(word) >> bit) & 1u) != 0;
}

void copy_vec(const std::vector<double>& src, std::vector<double>& dst, int64_t n, int64_t src_off,
              int64_t dst_off) {
  // Even an empty copy must start inside both vectors.
  const int64_t count = std::max<int64_t>(n, 0);
  const auto fits = [count](int64_t off, size_t size) {
    return off >= 0 && off <= static_cast<int64_t>(size) &&
           count <= static_cast<int64_t>(size) - off;
  };
  if (!fits(src_off, src.size())) VEX_THROW("copy_vec: src out of range");
  if (!fits(dst_off, dst.size())) VEX_THROW("copy_vec: dst out of range");
  std::copy_n(src.begin() + src_off, count, dst.begin() + dst_off);
}

// Numerical helpers of the basis step: primitive integrals, contraction
// normalisation, bit tests and a bounded copy.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

// Highest angular momentum PrmNrm accepts.
constexpr int64_t PRMNRM_LMAX = 13;

// Integral of two one-centre primitives x^L exp(-a r^2), x^L exp(-b r^2):
// IType 0 gives 1, 1 the overlap, 2 the Coulomb repulsion.
double PrmNrm(int64_t IType, int64_t L, double a, double b);

// Scales coefs[0..n) so that the contraction has unit norm; diag holds the n
// diagonal integrals.
void NormCC(int64_t IType, int64_t L, int64_t n, const double* exps, std::vector<double>& coefs,
            const std::vector<double>& diag);

// Whether bit `bit` (0..63, 63 the sign bit) of word is set.
bool LBit(int64_t word, int32_t bit);

// dst[dst_off + k] = src[src_off + k] for k < n; refuses any copy past either vector.
void copy_vec(const std::vector<double>& src, std::vector<double>& dst, int64_t n, int64_t src_off,
              int64_t dst_off);

// The first n elements of v (all of v when it is shorter, none for n <= 0):
// the per-atom arrays hold more entries than atoms.
template <typename T>
std::vector<T> leading(const std::vector<T>& v, int64_t n) {
  const size_t k = std::min(v.size(), static_cast<size_t>(std::max<int64_t>(n, 0)));
  return std::vector<T>(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(k));
}

#include "boys.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace {

// Below kTableEnd: F_nmax by an eight-term Taylor series about the nearest
// point of a table kStep apart (|dT| <= 0.05, so the first term left out is
// below 0.05^8 / 8! ~ 1e-15 of the value), exp(-T) from the table's exp(-T_k)
// times a series of exp(dT) as short, then the downward recursion
// F_n = (2T F_{n+1} + exp(-T)) / (2n+1), which only shrinks errors. Above: the
// asymptotic F_0 = sqrt(pi/T)/2 and the upward recursion F_{n+1} = (2n+1) F_n / 2T,
// stable for T > n, without the exp(-T) the exact forms carry: beyond 70 it is
// below 1e-17 of F_n for every n <= kBoysMaxN (F_n ~ (2n-1)!! / (2T)^n sqrt(pi/T) / 2).
constexpr double kStep = 0.1, kTableEnd = 70.0;
constexpr int kTerms = 8;
constexpr int kOrders = kBoysMaxN + kTerms;
constexpr int kPoints = static_cast<int>(kTableEnd / kStep) + 2;
constexpr int64_t kRow = kOrders + 2;  // F_0 .. F_kOrders, then exp(-T_k)
constexpr double kInverse[kTerms] = {0, 1, 1 / 2., 1 / 3., 1 / 4., 1 / 5., 1 / 6., 1 / 7.};

// F_n(T) from the series exp(-T) sum_i (2T)^i / ((2n+1)(2n+3)...(2n+2i+1)): every
// term positive, so no cancellation, in long double for the table.
long double series(int n, long double T) {
  long double term = 1.0L / (2 * n + 1), sum = term;
  for (int i = 1; i < 2000 && term > sum * 1e-22L; ++i) {
    term *= 2 * T / (2 * n + 2 * i + 1);
    sum += term;
  }
  return std::exp(-T) * sum;
}

struct Table {
  std::vector<double> values;  // kPoints rows of kRow
  Table() : values(kPoints * kRow) {
    for (int k = 0; k < kPoints; ++k) {
      for (int n = 0; n <= kOrders; ++n) values[k * kRow + n] = static_cast<double>(series(n, k * kStep));
      values[k * kRow + kOrders + 1] = static_cast<double>(std::exp(-static_cast<long double>(k * kStep)));
    }
  }
};

const double* table() {
  static const Table t;
  return t.values.data();
}

}  // namespace

void boys(int nmax, double T, double* F) {
  boys_block(nmax, &T, 1, F, 1);
}

#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
#define VEX_VECTOR_CLONES __attribute__((target_clones("arch=haswell", "default")))
#else
#define VEX_VECTOR_CLONES
#endif

// The points side by side: every step of a series is one loop over the points,
// which pipelines (and vectorises) where one point's Horner chain would wait on
// itself. Points beyond the table get the asymptotic form.
VEX_VECTOR_CLONES
void boys_block(int nmax, const double* T, int64_t n, double* F, int64_t stride) {
  constexpr int64_t kMax = 64;
  if (n > kMax) {
    for (int64_t first = 0; first < n; first += kMax)
      boys_block(nmax, T + first, std::min(kMax, n - first), F + first, stride);
    return;
  }
  const double* rows = table();
  int64_t at[kMax];
  double d[kMax], e[kMax];
  int64_t near = 0;
  for (int64_t q = 0; q < n; ++q) {
    const double Tq = std::min(T[q], kTableEnd);
    const auto k = static_cast<int64_t>(Tq * (1 / kStep) + 0.5);
    at[q] = k * kRow;
    d[q] = k * kStep - Tq;  // F_n(T) = sum_m F_{n+m}(T_k) d^m / m!
    near += T[q] < kTableEnd;
  }
  if (near > 0) {
    double* top = F + nmax * stride;
    for (int64_t q = 0; q < n; ++q) top[q] = rows[at[q] + nmax + kTerms - 1];
    for (int m = kTerms - 1; m >= 1; --m)
      for (int64_t q = 0; q < n; ++q) top[q] = rows[at[q] + nmax + m - 1] + top[q] * d[q] * kInverse[m];
    if (nmax > 0) {
      for (int64_t q = 0; q < n; ++q) e[q] = 1.0;
      for (int m = kTerms - 1; m >= 1; --m)
        for (int64_t q = 0; q < n; ++q) e[q] = 1.0 + e[q] * d[q] * kInverse[m];
      for (int64_t q = 0; q < n; ++q) e[q] *= rows[at[q] + kOrders + 1];
      for (int k = nmax - 1; k >= 0; --k) {
        const double w = 1.0 / (2 * k + 1);
        double* f = F + k * stride;
        const double* up = f + stride;
        for (int64_t q = 0; q < n; ++q) f[q] = (2 * T[q] * up[q] + e[q]) * w;
      }
    }
  }
  if (near == n) return;
  for (int64_t q = 0; q < n; ++q) {
    const double Tq = std::max(T[q], kTableEnd), h = 0.5 / Tq;
    double f = 0.5 * std::sqrt(M_PI / Tq);
    const bool beyond = T[q] >= kTableEnd;
    F[q] = beyond ? f : F[q];
    for (int k = 1; k <= nmax; ++k) {
      f *= (2 * k - 1) * h;
      F[k * stride + q] = beyond ? f : F[k * stride + q];
    }
  }
}

namespace {

// One pass, everything in registers: the table's branch and the asymptotic one
// are both computed and one chosen, so that the loop vectorises (gathers from
// the table, square roots side by side).
template <int L>
VEX_VECTOR_CLONES void low_hermite(double p, const double* P, const double* h, const double* x,
                                   const double* y, const double* z, int64_t n, double* acc) {
  const double* rows = table();
  const double a = -2 * p, a2 = a * a;
  const double P0 = P[0], P1 = P[1], P2 = P[2];
  for (int64_t q = 0; q < n; ++q) {
    const double X = P0 - x[q], Y = P1 - y[q], Z = P2 - z[q];
    const double T = p * (X * X + Y * Y + Z * Z);
    double F0, F1 = 0, F2 = 0;
    // The branch goes one way for nearly all the points of one distribution.
    if (T < kTableEnd) {
      const int k = static_cast<int>(T * (1 / kStep) + 0.5);
      const double d = k * kStep - T;
      const double* row = rows + k * static_cast<int>(kRow);
      double f = row[L + 7];
      f = row[L + 6] + f * d * (1 / 7.);
      f = row[L + 5] + f * d * (1 / 6.);
      f = row[L + 4] + f * d * (1 / 5.);
      f = row[L + 3] + f * d * (1 / 4.);
      f = row[L + 2] + f * d * (1 / 3.);
      f = row[L + 1] + f * d * (1 / 2.);
      f = row[L] + f * d;
      if constexpr (L == 0) {
        F0 = f;
      } else {
        const double e = row[kOrders + 1] *
            (1 + d * (1 + d * (1 / 2. + d * (1 / 6. + d * (1 / 24. + d * (1 / 120. + d * (1 / 720. + d / 5040.)))))));
        if constexpr (L == 1) {
          F1 = f;
        } else {
          F2 = f;
          F1 = (2 * T * f + e) * (1 / 3.);
        }
        F0 = 2 * T * F1 + e;
      }
    } else {
      const double hT = 0.5 / T;
      F0 = 0.5 * std::sqrt(M_PI / T);
      F1 = F0 * hT;
      F2 = 3 * F1 * hT;
    }
    double v = h[0] * F0;
    if constexpr (L >= 1) v += a * F1 * (h[1] * X + h[2] * Y + h[3] * Z);
    if constexpr (L == 2)
      v += a * F1 * (h[4] + h[7] + h[9]) +
           a2 * F2 * (h[4] * X * X + h[5] * X * Y + h[6] * X * Z + h[7] * Y * Y + h[8] * Y * Z +
                      h[9] * Z * Z);
    acc[q] += v;
  }
}

}  // namespace

void add_low_hermite(int L, double p, const double* P, const double* h, const double* x,
                     const double* y, const double* z, int64_t n, double* acc) {
  if (L == 0) low_hermite<0>(p, P, h, x, y, z, n, acc);
  else if (L == 1) low_hermite<1>(p, P, h, x, y, z, n, acc);
  else low_hermite<2>(p, P, h, x, y, z, n, acc);
}

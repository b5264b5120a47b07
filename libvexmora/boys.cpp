#include "boys.h"

#include <array>
#include <cmath>
#include <vector>

namespace {

// Below kTableEnd: an eight-term Taylor series about the nearest point of a
// table kStep apart (|dT| <= 0.05, so the first term left out is below
// 0.05^8 / 8! ~ 1e-15 of the value). Above: the asymptotic F_0 = sqrt(pi/T)/2
// (erfc(6) ~ 2e-17 left out) and the upward recursion, stable for T > n.
constexpr double kStep = 0.1, kTableEnd = 36.0;
constexpr int kTerms = 8;
constexpr int kOrders = kBoysMaxN + kTerms;
constexpr int kPoints = static_cast<int>(kTableEnd / kStep) + 2;

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
  // values[k][n] = F_n(k kStep) / n'! folded with (-1)^m / m! as Taylor needs.
  std::vector<std::array<double, kOrders + 1>> values;
  Table() : values(kPoints) {
    for (int k = 0; k < kPoints; ++k)
      for (int n = 0; n <= kOrders; ++n) values[k][n] = static_cast<double>(series(n, k * kStep));
  }
};

const Table& table() {
  static const Table t;
  return t;
}

// exp(-T) matters in the upward recursion while it is not negligible against
// F_n ~ (2n-1)!! / (2T)^n sqrt(pi/T) / 2: beyond kNoExp it is below 1e-17 of
// F_n for every n <= kBoysMaxN.
constexpr double kNoExp = 70.0;

}  // namespace

void boys(int nmax, double T, double* F) {
  if (T < kTableEnd) {
    const Table& t = table();
    const int k = static_cast<int>(T / kStep + 0.5);
    const double d = k * kStep - T;  // F_n(T) = sum_m F_{n+m}(T_k) d^m / m!
    const auto& row = t.values[k];
    for (int n = 0; n <= nmax; ++n) {
      double s = row[n + kTerms - 1];
      for (int m = kTerms - 1; m >= 1; --m) s = row[n + m - 1] + s * d / m;
      F[n] = s;
    }
    return;
  }
  const double e = (nmax > 0 && T < kNoExp) ? std::exp(-T) : 0.0;
  const double half_over_T = 0.5 / T;
  F[0] = 0.5 * std::sqrt(M_PI / T);
  for (int n = 0; n < nmax; ++n) F[n + 1] = ((2 * n + 1) * F[n] - e) * half_over_T;
}

// The Boys function against independent forms: F_0 = sqrt(pi/T) erf(sqrt T) / 2,
// and F_n by the integral's power series in long double, over the table's
// points, between them, and across the switch to the asymptotic form.
#include <gtest/gtest.h>

#include <cmath>

#include "boys.h"

namespace {

long double reference(int n, long double T) {
  // integral_0^1 t^2n exp(-T t^2) dt = sum_k (-T)^k / (k! (2n + 2k + 1)) for small T;
  // for larger T the positive series exp(-T) sum_i (2T)^i / ((2n+1)(2n+3)...(2n+2i+1)).
  if (T < 1) {
    long double term = 1, sum = 1.0L / (2 * n + 1);
    for (int k = 1; k < 60; ++k) {
      term *= -T / k;
      sum += term / (2 * n + 2 * k + 1);
    }
    return sum;
  }
  long double term = 1.0L / (2 * n + 1), sum = term;
  for (int i = 1; i < 5000; ++i) {
    term *= 2 * T / (2 * n + 2 * i + 1);
    sum += term;
    if (term < sum * 1e-21L) break;
  }
  return std::exp(-T) * sum;
}

TEST(Boys, MatchesErfAndTheSeriesTo1e14) {
  double F[kBoysMaxN + 1];
  double worst = 0;
  for (double T = 0; T < 120; T += 0.0137) {
    boys(kBoysMaxN, T, F);
    const double f0 = T == 0 ? 1.0 : 0.5 * std::sqrt(M_PI / T) * std::erf(std::sqrt(T));
    worst = std::max(worst, std::fabs(F[0] - f0) / f0);
    for (int n = 0; n <= kBoysMaxN; ++n) {
      const long double r = reference(n, T);
      worst = std::max(worst, static_cast<double>(std::fabs(F[n] - r) / r));
    }
  }
  EXPECT_LT(worst, 1e-14);
}

TEST(Boys, BlocksAndFewerOrdersAgree) {
  // The recursion starts at the highest order asked for, a block mixes points
  // on both sides of the table's end: the values do not depend on either.
  const double T[] = {0.0, 0.05, 3.3, 35.99, 36.0, 69.99, 70.0, 1e4};
  double block[(kBoysMaxN + 1) * 8], two[3];
  boys_block(kBoysMaxN, T, 8, block, 8);
  for (int q = 0; q < 8; ++q) {
    boys(2, T[q], two);
    for (int n = 0; n <= 2; ++n) EXPECT_NEAR(block[n * 8 + q], two[n], 2e-15 * two[n]) << T[q];
  }
}

}  // namespace

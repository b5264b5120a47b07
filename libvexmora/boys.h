// The Boys function F_n(T) = integral_0^1 t^(2n) exp(-T t^2) dt, which the
// nuclear-attraction integrals need for n = 0 .. 2 L (L the angular momentum
// of the highest shell pair), to 1e-14 relative.
#pragma once

#include <cstdint>

// Orders 0 .. kBoysMaxN (shell pairs up to h h).
constexpr int kBoysMaxN = 10;

// F_0(T) .. F_nmax(T) into F (nmax + 1 values), for 0 <= nmax <= kBoysMaxN and T >= 0.
void boys(int nmax, double T, double* F);

// The same at n points: F[k * stride + q] = F_k(T[q]) for k = 0 .. nmax.
void boys_block(int nmax, const double* T, int64_t n, double* F, int64_t stride);

// The potential of one Hermite distribution of angular momentum L <= 2 at n
// points, added to acc: sum_tuv h_tuv R_tuv(p, P - r) in McMurchie and
// Davidson's notation, h in the order of increasing t + u + v (000; 100, 010,
// 001; 200, 110, 101, 020, 011, 002), the Boys function and the R_tuv fused in
// one pass over the points (the common case: s and p shell pairs).
void add_low_hermite(int L, double p, const double* P, const double* h, const double* x,
                     const double* y, const double* z, int64_t n, double* acc);

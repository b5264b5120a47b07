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

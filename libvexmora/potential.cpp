#include "potential.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <map>
#include <string>
#include <tuple>

#include "Error.h"
#include "boys.h"
#include "parallel.h"

namespace {

constexpr int kMaxPairL = 2 * kGridMaxL;
static_assert(kMaxPairL <= kBoysMaxN, "the Boys function must reach the highest pair");
constexpr int kSide = kMaxPairL + 1;

constexpr int64_t ntuv(int L) { return (L + 1) * (L + 2) * (L + 3) / 6; }

// The Hermite indices (t, u, v), t + u + v <= kMaxPairL, ordered by t + u + v so
// that those of a pair of angular momentum L are the first ntuv(L). Each
// (but the first) with the step of the recursion that reaches it:
// R^n_tuv = (k - 1) R^{n+1}_{tuv - 2e} + X R^{n+1}_{tuv - e}, e along `dir`,
// k the index along it.
struct Hermite {
  std::vector<std::array<int, 3>> tuv;
  std::vector<int> dir, parent, grand;
  std::vector<double> mult;
  std::array<int, kSide * kSide * kSide> pos{};

  int at(int t, int u, int v) const { return pos[(t * kSide + u) * kSide + v]; }

  Hermite() {
    for (int s = 0; s <= kMaxPairL; ++s)
      for (int t = s; t >= 0; --t)
        for (int u = s - t; u >= 0; --u) {
          pos[(t * kSide + u) * kSide + (s - t - u)] = static_cast<int>(tuv.size());
          tuv.push_back({t, u, s - t - u});
        }
    for (const auto& e : tuv) {
      const int d = e[0] > 0 ? 0 : e[1] > 0 ? 1 : 2;
      std::array<int, 3> one = e, two = e;
      one[d] -= 1;
      two[d] -= 2;
      dir.push_back(d);
      parent.push_back(e[d] > 0 ? at(one[0], one[1], one[2]) : -1);
      grand.push_back(e[d] > 1 ? at(two[0], two[1], two[2]) : -1);
      mult.push_back(e[d] - 1);
    }
  }
};

const Hermite& hermite() {
  static const Hermite h;
  return h;
}

// E^{ij}_t of one direction (McMurchie-Davidson) for i <= la, j <= lb.
struct Expansion {
  double e[kGridMaxL + 1][kGridMaxL + 1][kMaxPairL + 1];

  Expansion(int la, int lb, double p, double pa, double pb, double k) {
    std::memset(e, 0, sizeof e);
    const double h = 0.5 / p;
    e[0][0][0] = k;
    const auto step = [&](const double* from, double* to, int n, double x) {  // n: from's top t
      for (int t = 0; t <= n + 1; ++t)
        to[t] = (t > 0 ? h * from[t - 1] : 0.0) + (t <= n ? x * from[t] : 0.0) +
                (t + 1 <= n ? (t + 1) * from[t + 1] : 0.0);
    };
    for (int i = 0; i <= la; ++i) {
      if (i > 0) step(e[i - 1][0], e[i][0], i - 1, pa);
      for (int j = 1; j <= lb; ++j) step(e[i][j - 1], e[i][j], i + j - 1, pb);
    }
  }
};

using Key = std::tuple<int64_t, double, int64_t, double>;

}  // namespace

Potential::Potential(const ChkParams::Mol& m, const std::vector<double>& tri, bool nuclei) {
  const std::vector<GridShell> shells =
      grid_shells(m, {"The electrostatic potential", "the potential", kGridMaxL, kGridMaxL});
  const int64_t n = m.nbasis;
  if (static_cast<int64_t>(tri.size()) != n * (n + 1) / 2)
    VEX_THROW("the density matrix is not a real matrix over the basis");
  Eigen::MatrixXd d(n, n);
  for (int64_t r = 0, k = 0; r < n; ++r)
    for (int64_t c = 0; c <= r; ++c, ++k) d(r, c) = d(c, r) = tri[k];
  // Each shell's functions as rows of weights over its monomials.
  std::vector<Eigen::MatrixXd> weights;
  for (const GridShell& s : shells) {
    Eigen::MatrixXd w = Eigen::MatrixXd::Zero(static_cast<int64_t>(s.functions.size()),
                                              static_cast<int64_t>(s.monomials.size()));
    for (size_t f = 0; f < s.functions.size(); ++f)
      for (const GridShell::Term& t : s.functions[f]) w(static_cast<int64_t>(f), t.monomial) += t.weight;
    weights.push_back(std::move(w));
  }
  std::map<Key, int64_t> index;
  std::vector<std::vector<double>> acc;
  for (size_t a = 0; a < shells.size(); ++a)
    for (size_t b = a; b < shells.size(); ++b) {
      const GridShell &sa = shells[a], &sb = shells[b];
      const Eigen::MatrixXd block = d.block(sa.first_function, sb.first_function, weights[a].rows(),
                                            weights[b].rows());
      if (block.cwiseAbs().maxCoeff() == 0) continue;
      // Over the monomials; both orders of a pair of different shells at once.
      const Eigen::MatrixXd mono = weights[a].transpose() * block * weights[b] * (a == b ? 1.0 : 2.0);
      const double dmax = mono.cwiseAbs().maxCoeff();
      const double ab[3] = {sa.centre[0] - sb.centre[0], sa.centre[1] - sb.centre[1],
                            sa.centre[2] - sb.centre[2]};
      const double r2 = ab[0] * ab[0] + ab[1] * ab[1] + ab[2] * ab[2];
      const double poly = std::pow(1 + std::sqrt(r2), sa.L + sb.L);
      const int L = sa.L + sb.L;
      const Hermite& H = hermite();
      for (size_t i = 0; i < sa.exps.size(); ++i)
        for (size_t j = 0; j < sb.exps.size(); ++j) {
          const double al = sa.exps[i], be = sb.exps[j], p = al + be;
          const double k = std::exp(-al * be / p * r2);
          const double c = sa.coefs[i] * sb.coefs[j] * 2 * M_PI / p;
          if (std::fabs(c) * k * dmax * poly < kPotentialCutoff) continue;
          double P[3], pa[3], pb[3];
          for (int x = 0; x < 3; ++x) {
            P[x] = (al * sa.centre[x] + be * sb.centre[x]) / p;
            pa[x] = P[x] - sa.centre[x];
            pb[x] = P[x] - sb.centre[x];
          }
          const Expansion ex(sa.L, sb.L, p, pa[0], pb[0], k), ey(sa.L, sb.L, p, pa[1], pb[1], 1.0),
              ez(sa.L, sb.L, p, pa[2], pb[2], 1.0);
          Key key{sa.atom, al, sb.atom, be};
          if (std::make_pair(sb.atom, be) < std::make_pair(sa.atom, al)) key = Key{sb.atom, be, sa.atom, al};
          auto [it, fresh] = index.emplace(key, static_cast<int64_t>(charges_.size()));
          if (fresh) {
            charges_.push_back({p, {P[0], P[1], P[2]}, L, 0});
            acc.emplace_back();
          }
          Charge& ch = charges_[it->second];
          std::vector<double>& h = acc[it->second];
          ch.L = std::max(ch.L, L);
          h.resize(std::max<size_t>(h.size(), ntuv(L)), 0.0);
          for (size_t q = 0; q < sa.monomials.size(); ++q)
            for (size_t r = 0; r < sb.monomials.size(); ++r) {
              const double w = -c * mono(static_cast<int64_t>(q), static_cast<int64_t>(r));  // electrons
              if (w == 0) continue;
              const CartesianPowers &ma = sa.monomials[q], &mb = sb.monomials[r];
              for (int t = 0; t <= ma[0] + mb[0]; ++t)
                for (int u = 0; u <= ma[1] + mb[1]; ++u) {
                  const double wtu = w * ex.e[ma[0]][mb[0]][t] * ey.e[ma[1]][mb[1]][u];
                  for (int v = 0; v <= ma[2] + mb[2]; ++v) h[H.at(t, u, v)] += wtu * ez.e[ma[2]][mb[2]][v];
                }
            }
        }
    }
  gather_multipoles(m, acc);
  if (nuclei) {
    const bool effective = static_cast<int64_t>(m.nucchg.size()) >= m.natoms;
    for (int64_t a = 0; a < m.natoms; ++a) {
      const double z = effective ? m.nucchg[a] : static_cast<double>(m.atomicnums.at(a));
      if (z == 0) continue;
      nuclei_.insert(nuclei_.end(), {m.coords[3 * a], m.coords[3 * a + 1], m.coords[3 * a + 2], z});
    }
  }
}

namespace {

// The multipoles: distributions of exponent >= kTight within kShift of an atom,
// moved there by the Taylor series of their Hermite derivatives to kOrder more
// orders. Where a member's first term left out might exceed kTranslation at
// the multipole's reach, it stays alone.
constexpr double kTight = 16.0, kShift = 0.25, kTranslation = 1e-15;
constexpr int kOrder = 4;
// Beyond T = p r^2 = kFar the Boys function is its asymptotic form: a
// distribution's potential is that of its point multipole.
constexpr double kFar = 70.0;

double factorial(int n) {
  double f = 1;
  for (int k = 2; k <= n; ++k) f *= k;
  return f;
}

}  // namespace

void Potential::gather_multipoles(const ChkParams::Mol& m, std::vector<std::vector<double>>& acc) {
  const Hermite& H = hermite();
  const int64_t natoms = m.natoms;
  const double reach = std::sqrt(kFar / kTight) + kShift;
  // Each distribution's atom (-1: alone).
  std::vector<int64_t> home(charges_.size(), -1);
  for (size_t k = 0; k < charges_.size(); ++k) {
    const Charge& c = charges_[k];
    const std::vector<double>& h = acc[k];
    if (c.p < kTight || c.L + kOrder > kMaxPairL) continue;
    int64_t best = -1;
    double s2 = kShift * kShift;
    for (int64_t a = 0; a < natoms; ++a) {
      const double dx = c.P[0] - m.coords[3 * a], dy = c.P[1] - m.coords[3 * a + 1],
                   dz = c.P[2] - m.coords[3 * a + 2];
      const double d2 = dx * dx + dy * dy + dz * dz;
      if (d2 <= s2) best = a, s2 = d2;
    }
    if (best < 0) continue;
    // |d^n (1/r)| <= n! / r^(n+1) per component: the first term left out.
    double norm = 0;
    for (const double x : h) norm += std::fabs(x);
    const double s = std::sqrt(s2), rho = reach - s;
    const int n = c.L + kOrder + 1;
    const double bound = norm * 0.5 * std::sqrt(M_PI / c.p) * factorial(n) / factorial(kOrder + 1) *
                         std::pow(3 * s, kOrder + 1) / std::pow(rho, n + 1);
    if (bound < kTranslation) home[k] = best;
  }
  // Those alone first, low angular momentum first; then atom by atom.
  std::vector<int64_t> order(charges_.size());
  for (size_t k = 0; k < order.size(); ++k) order[k] = static_cast<int64_t>(k);
  std::stable_sort(order.begin(), order.end(), [&](int64_t x, int64_t y) {
    return std::make_pair(home[x], charges_[x].L) < std::make_pair(home[y], charges_[y].L);
  });
  std::vector<Charge> sorted;
  std::vector<double> coefs;
  std::vector<double> pole;
  int64_t current = -2;
  const auto close = [&]() {
    if (current < 0) return;
    Multipole& mp = multipoles_.back();
    mp.end = static_cast<int64_t>(sorted.size());
    mp.charge.offset = static_cast<int64_t>(coefs.size());
    coefs.insert(coefs.end(), pole.begin(), pole.begin() + ntuv(mp.charge.L));
  };
  for (const int64_t k : order) {
    const std::vector<double>& h = acc[k];
    if (std::all_of(h.begin(), h.end(), [](double x) { return x == 0; })) continue;
    Charge c = charges_[k];
    if (home[k] != current) {
      close();
      current = home[k];
      if (current >= 0) {
        Multipole mp{};
        for (int x = 0; x < 3; ++x) mp.charge.P[x] = m.coords[3 * current + x];
        mp.charge.p = c.p;
        mp.charge.L = 0;
        mp.reach2 = reach * reach;
        mp.first = static_cast<int64_t>(sorted.size());
        multipoles_.push_back(mp);
        pole.assign(ntuv(kMaxPairL), 0.0);
      } else {
        alone_ = 0;
      }
    }
    if (current >= 0) {
      // p sorted ascending is not promised: the multipole's exponent is its members' smallest.
      Multipole& mp = multipoles_.back();
      if (c.p < mp.charge.p) {  // rescale what is there to the new exponent
        const double f = std::sqrt(c.p / mp.charge.p);
        for (double& x : pole) x *= f;
        mp.charge.p = c.p;
      }
      // Far away h R_tuv(p) = h sqrt(p0 / p) R_tuv(p0): sum at p0 after the shift s = P - A.
      const double w = std::sqrt(mp.charge.p / c.p);
      const double sh[3] = {c.P[0] - mp.charge.P[0], c.P[1] - mp.charge.P[1], c.P[2] - mp.charge.P[2]};
      for (int64_t e = 0; e < ntuv(c.L); ++e) {
        const auto& tuv = H.tuv[e];
        for (int a = 0; a <= kOrder; ++a)
          for (int b = 0; a + b <= kOrder; ++b)
            for (int g = 0; a + b + g <= kOrder; ++g) {
              const double f = std::pow(sh[0], a) * std::pow(sh[1], b) * std::pow(sh[2], g) /
                               (factorial(a) * factorial(b) * factorial(g));
              pole[H.at(tuv[0] + a, tuv[1] + b, tuv[2] + g)] += w * h[e] * f;
            }
      }
      mp.charge.L = std::max(mp.charge.L, c.L + kOrder);
    }
    c.offset = static_cast<int64_t>(coefs.size());
    coefs.insert(coefs.end(), h.begin(), h.end());
    sorted.push_back(c);
    if (current < 0) alone_ = static_cast<int64_t>(sorted.size());
  }
  close();
  charges_ = std::move(sorted);
  coefs_ = std::move(coefs);
}

int64_t Potential::first_on_nucleus(const double* xyz, int64_t n) const {
  for (int64_t k = 0; k < n; ++k)
    for (size_t a = 0; a < nuclei_.size(); a += 4) {
      const double dx = xyz[3 * k] - nuclei_[a], dy = xyz[3 * k + 1] - nuclei_[a + 1],
                   dz = xyz[3 * k + 2] - nuclei_[a + 2];
      if (dx * dx + dy * dy + dz * dz < kOnNucleus * kOnNucleus) return k;
    }
  return -1;
}

namespace {

// Points are taken kSub at a time: every array of the recursion is one value per
// point, contiguous, so the loops over points run in vector registers.
constexpr int64_t kSub = 64;

// AVX2 and FMA where the processor has them (chosen when the library loads).
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
#define VEX_VECTOR_CLONES __attribute__((target_clones("arch=haswell", "default")))
#else
#define VEX_VECTOR_CLONES
#endif

struct Scratch {
  std::vector<double> X, Y, Z, T, F, ra, rb;
  Scratch()
      : X(kSub), Y(kSub), Z(kSub), T(kSub), F((kBoysMaxN + 1) * kSub),
        ra(ntuv(kMaxPairL) * kSub), rb(ntuv(kMaxPairL) * kSub) {}
};

// The potential of one distribution (coefficients h) at n <= kSub points, added to acc.
VEX_VECTOR_CLONES
void add_distribution(double p, const double* P, int L, const double* h, const double* x,
                      const double* y, const double* z, int64_t n, Scratch& s, double* acc) {
  if (L <= 2) {
    add_low_hermite(L, p, P, h, x, y, z, n, acc);
    return;
  }
  double* X = s.X.data();
  double* Y = s.Y.data();
  double* Z = s.Z.data();
  double* T = s.T.data();
  for (int64_t q = 0; q < n; ++q) {
    X[q] = P[0] - x[q];
    Y[q] = P[1] - y[q];
    Z[q] = P[2] - z[q];
    T[q] = p * (X[q] * X[q] + Y[q] * Y[q] + Z[q] * Z[q]);
  }
  double* F = s.F.data();
  boys_block(L, T, n, F, kSub);
  if (L == 0) {
    for (int64_t q = 0; q < n; ++q) acc[q] += h[0] * F[q];
    return;
  }
  const Hermite& H = hermite();
  const double* d[3] = {X, Y, Z};
  double* next = s.ra.data();
  double* prev = s.rb.data();
  // From R^L (one value) down to R^0 (all of the pair's), two buffers in turn.
  double scale[kBoysMaxN + 1] = {1};
  for (int k = 1; k <= L; ++k) scale[k] = scale[k - 1] * (-2 * p);
  for (int k = L; k >= 0; --k) {
    const double f = scale[k];
    for (int64_t q = 0; q < n; ++q) next[q] = f * F[k * kSub + q];
    const int64_t count = ntuv(L - k);
    for (int64_t e = 1; e < count; ++e) {
      double* out = next + e * kSub;
      const double* dx = d[H.dir[e]];
      const double* up = prev + H.parent[e] * kSub;
      if (H.grand[e] >= 0) {
        const double m = H.mult[e];
        const double* up2 = prev + H.grand[e] * kSub;
        for (int64_t q = 0; q < n; ++q) out[q] = dx[q] * up[q] + m * up2[q];
      } else {
        for (int64_t q = 0; q < n; ++q) out[q] = dx[q] * up[q];
      }
    }
    std::swap(next, prev);
  }
  const int64_t top = ntuv(L);
  for (int64_t e = 0; e < top; ++e) {
    const double he = h[e];
    const double* r = prev + e * kSub;
    for (int64_t q = 0; q < n; ++q) acc[q] += he * r[q];
  }
}

}  // namespace

void Potential::evaluate_block(int64_t n, const double* xyz, double* v) const {
  thread_local Scratch s;
  double x[kSub], y[kSub], z[kSub], acc[kSub], cx[kSub], cy[kSub], cz[kSub], cacc[kSub];
  int64_t far[kSub], close[kSub];
  for (int64_t first = 0; first < n; first += kSub) {
    const int64_t m = std::min(kSub, n - first);
    for (int64_t q = 0; q < m; ++q) {
      x[q] = xyz[3 * (first + q)];
      y[q] = xyz[3 * (first + q) + 1];
      z[q] = xyz[3 * (first + q) + 2];
      acc[q] = 0;
    }
    const auto add = [&](const Charge& c, const double* px, const double* py, const double* pz,
                         int64_t count, double* into) {
      add_distribution(c.p, c.P, c.L, coefs_.data() + c.offset, px, py, pz, count, s, into);
    };
    for (int64_t k = 0; k < alone_; ++k) add(charges_[k], x, y, z, m, acc);
    for (const Multipole& mp : multipoles_) {
      // The points beyond its reach take the multipole, the others its members.
      int64_t nfar = 0, nnear = 0;
      for (int64_t q = 0; q < m; ++q) {
        const double dx = x[q] - mp.charge.P[0], dy = y[q] - mp.charge.P[1], dz = z[q] - mp.charge.P[2];
        if (dx * dx + dy * dy + dz * dz >= mp.reach2)
          far[nfar++] = q;
        else
          close[nnear++] = q;
      }
      if (nnear == 0) {
        add(mp.charge, x, y, z, m, acc);
        continue;
      }
      if (nfar == 0) {
        for (int64_t k = mp.first; k < mp.end; ++k) add(charges_[k], x, y, z, m, acc);
        continue;
      }
      for (const auto& [idx, count, one] : {std::make_tuple(far, nfar, true), std::make_tuple(close, nnear, false)}) {
        for (int64_t j = 0; j < count; ++j) {
          cx[j] = x[idx[j]], cy[j] = y[idx[j]], cz[j] = z[idx[j]];
          cacc[j] = 0;
        }
        if (one)
          add(mp.charge, cx, cy, cz, count, cacc);
        else
          for (int64_t k = mp.first; k < mp.end; ++k) add(charges_[k], cx, cy, cz, count, cacc);
        for (int64_t j = 0; j < count; ++j) acc[idx[j]] += cacc[j];
      }
    }
    for (size_t a = 0; a < nuclei_.size(); a += 4)
      for (int64_t q = 0; q < m; ++q) {
        const double dx = x[q] - nuclei_[a], dy = y[q] - nuclei_[a + 1], dz = z[q] - nuclei_[a + 2];
        const double r2 = dx * dx + dy * dy + dz * dz;
        if (r2 >= kOnNucleus * kOnNucleus) acc[q] += nuclei_[a + 3] / std::sqrt(r2);
      }
    std::copy(acc, acc + m, v + first);
  }
}

void Potential::evaluate(const PointSet& points, double* out, int threads) const {
  const int64_t nblocks = points.blocks();
  threads = static_cast<int>(std::max<int64_t>(1, std::min<int64_t>(threads, nblocks)));
  std::atomic<int64_t> next{0};
  run_parallel(threads, [&](int) {
    std::vector<double> xyz(3 * kGridBlock), v(kGridBlock);
    std::vector<int64_t> rows(kGridBlock);
    try {
      for (int64_t b = next++; b < nblocks; b = next++) {
        const int64_t n = points.block(b, xyz.data(), rows.data());
        evaluate_block(n, xyz.data(), v.data());
        for (int64_t q = 0; q < n; ++q) out[rows[q]] = v[q];
      }
    } catch (...) {
      next = nblocks;
      throw;
    }
  });
}

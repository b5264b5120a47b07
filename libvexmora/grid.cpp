#include "grid.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <string>

#include "Error.h"
#include "Utils.h"
#include "parallel.h"

// Per-thread buffers of one block.
struct GridWorkspace {
  GridWorkspace(int64_t nbasis, int64_t vectors, int64_t columns)
      : ao(nbasis * kGridBlock), csub(nbasis, vectors), sig(nbasis),
        dx(kGridBlock), dy(kGridBlock), dz(kGridBlock), radial(kGridBlock),
        powers(3 * (kGridMaxL + 1) * kGridBlock), mono(21 * kGridBlock),
        xyz(3 * kGridBlock), rows(kGridBlock), result(kGridBlock * columns),
        projected(vectors, kGridBlock) {}
  std::vector<double> ao;  // significant functions x kGridBlock, row-major
  Eigen::MatrixXd csub;    // their coefficients
  std::vector<int64_t> sig;
  std::vector<double> dx, dy, dz, radial, powers, mono, xyz;
  std::vector<int64_t> rows;
  std::vector<double> result;  // the block's values, point after point
  Eigen::MatrixXd projected;   // a density's vectors times the functions, at the points
};

namespace {

double double_factorial(int n) {  // n!!, 1 for n <= 0
  double f = 1;
  for (; n > 1; n -= 2) f *= n;
  return f;
}

double binomial(int n, int k) {
  if (k < 0 || k > n) return 0;
  double b = 1;
  for (int i = 1; i <= k; ++i) b = b * (n - k + i) / i;
  return b;
}

// The integral of monomials p and q times a radial function, relative to that
// of x^L x^L: zero unless every power of the product is even.
double angular_overlap(const CartesianPowers& p, const CartesianPowers& q, int L) {
  double v = 1;
  for (int k = 0; k < 3; ++k) {
    const int s = p[k] + q[k];
    if (s % 2) return 0;
    v *= double_factorial(s - 1);
  }
  return v / double_factorial(2 * L - 1);
}

// Gaussian's Cartesian functions: each monomial normalised on its own.
std::vector<std::vector<GridShell::Term>> cartesian_functions(const std::vector<CartesianPowers>& mono,
                                                              int L) {
  std::vector<std::vector<GridShell::Term>> out;
  for (size_t k = 0; k < mono.size(); ++k)
    out.push_back({{static_cast<int>(k), 1 / std::sqrt(angular_overlap(mono[k], mono[k], L))}});
  return out;
}

// Real solid harmonics in Gaussian's order m = 0, +1, -1, +2, -2, ..., each
// as its monomials (the usual expansion, without the Condon-Shortley phase),
// normalised with the monomials' overlaps.
std::vector<std::vector<GridShell::Term>> pure_functions(const std::vector<CartesianPowers>& mono, int L) {
  std::vector<std::vector<GridShell::Term>> out;
  for (int k = 0; k <= 2 * L; ++k) {
    const int m = (k + 1) / 2 * (k % 2 ? 1 : -1), am = std::abs(m);
    std::vector<double> w(mono.size(), 0.0);
    for (int t = 0; t <= (L - am) / 2; ++t)
      for (int u = 0; u <= t; ++u)
        for (int v2 = m < 0 ? 1 : 0; v2 <= am; v2 += 2) {  // v2 = 2v
          const int sign = (t + (v2 - (m < 0 ? 1 : 0)) / 2) % 2 ? -1 : 1;
          const double c = sign * std::pow(0.25, t) * binomial(L, t) * binomial(L - t, am + t) *
                           binomial(t, u) * binomial(am, v2);
          const CartesianPowers p = {2 * t + am - 2 * u - v2, 2 * u + v2, L - 2 * t - am};
          w[std::find(mono.begin(), mono.end(), p) - mono.begin()] += c;
        }
    double norm2 = 0;
    for (size_t a = 0; a < w.size(); ++a)
      for (size_t b = 0; b < w.size(); ++b) norm2 += w[a] * w[b] * angular_overlap(mono[a], mono[b], L);
    std::vector<GridShell::Term> f;
    for (size_t a = 0; a < w.size(); ++a)
      if (w[a] != 0) f.push_back({static_cast<int>(a), w[a] / std::sqrt(norm2)});
    out.push_back(std::move(f));
  }
  return out;
}

// r^2 beyond which |c| w r^L exp(-a r^2) < kPrimitiveCutoff, by fixed-point steps.
double reach2(double a, double c, double w, int L) {
  const double lead = std::log(std::fabs(c) * w / kPrimitiveCutoff);
  double r2 = std::max(lead / a, 1.0);
  for (int it = 0; it < 8; ++it) r2 = std::max((lead + 0.5 * L * std::log(std::max(r2, 1.0))) / a, 0.0);
  return r2;
}

GridShell grid_shell(const BasisShell& s, const ChkParams::Mol& m, int64_t first) {
  GridShell g;
  g.atom = s.atom;
  for (int k = 0; k < 3; ++k) g.centre[k] = m.coords[3 * (s.atom - 1) + k];
  g.L = s.L;
  g.first_function = first;
  g.monomials = gaussian_cartesian(s.L);
  g.functions = s.pure ? pure_functions(g.monomials, s.L) : cartesian_functions(g.monomials, s.L);
  double wmax = 0;
  for (const auto& f : g.functions) {
    double w = 0;
    for (const GridShell::Term& t : f) w += std::fabs(t.weight);
    wmax = std::max(wmax, w);
  }
  for (int64_t p = 0; p < s.nprim; ++p) {
    const double a = m.basis.primexp[s.first_prim + p];
    if (!(a > 0) || !std::isfinite(a)) VEX_THROW("the basis holds an exponent that is not positive");
    const double c = s.coefs[p] / std::sqrt(PrmNrm(1, s.L, a, a));
    if (c == 0) continue;
    g.exps.push_back(a);
    g.coefs.push_back(c);
    g.reach2.push_back(reach2(a, c, wmax, s.L));
    g.extent2 = std::max(g.extent2, g.reach2.back());
  }
  return g;
}

}  // namespace


std::vector<GridShell> grid_shells(const ChkParams::Mol& m, const ShellLimits& limits) {
  if (m.natoms < 1 || static_cast<int64_t>(m.coords.size()) < 3 * m.natoms)
    VEX_THROW(limits.who + ": the checkpoint holds no atoms");
  std::vector<GridShell> out;
  int64_t n = 0;
  for (const BasisShell& s : split_shells(m, limits)) {
    out.push_back(grid_shell(s, m, n));
    n += s.nfunctions();
  }
  if (n != m.nbasis)
    VEX_THROW(limits.who + ": the shells hold " + std::to_string(n) + " functions, the checkpoint " +
              std::to_string(m.nbasis));
  return out;
}

int64_t PointList::block(int64_t b, double* xyz, int64_t* rows) const {
  const int64_t first = b * kGridBlock, n = std::min(kGridBlock, n_ - first);
  std::copy(xyz_ + 3 * first, xyz_ + 3 * (first + n), xyz);
  for (int64_t p = 0; p < n; ++p) rows[p] = first + p;
  return n;
}

BoxPlanes::BoxPlanes(const GridBox& box, int64_t first, int64_t count)
    : box_(box), first_(first), count_(count) {
  const int64_t extent[3] = {count, box.shape[1], box.shape[2]};
  for (int k = 0; k < 3; ++k) tiles_[k] = (extent[k] + kTile[k] - 1) / kTile[k];
}

int64_t BoxPlanes::block(int64_t b, double* xyz, int64_t* rows) const {
  const int64_t t0 = b / (tiles_[1] * tiles_[2]), t1 = b / tiles_[2] % tiles_[1], t2 = b % tiles_[2];
  const int64_t n1 = box_.shape[1], n2 = box_.shape[2];
  int64_t n = 0;
  for (int64_t i = t0 * kTile[0]; i < std::min(count_, (t0 + 1) * kTile[0]); ++i)
    for (int64_t j = t1 * kTile[1]; j < std::min(n1, (t1 + 1) * kTile[1]); ++j)
      for (int64_t k = t2 * kTile[2]; k < std::min(n2, (t2 + 1) * kTile[2]); ++k, ++n) {
        const double ii = static_cast<double>(first_ + i), jj = static_cast<double>(j),
                     kk = static_cast<double>(k);
        for (int c = 0; c < 3; ++c)
          xyz[3 * n + c] = box_.origin[c] + ii * box_.axes[c] + jj * box_.axes[3 + c] +
                           kk * box_.axes[6 + c];
        rows[n] = (i * n1 + j) * n2 + k;
      }
  return n;
}

PointValues::PointValues(const ChkParams::Mol& m)
    : shells_(grid_shells(m, {"Basis functions on points", "the evaluator", kGridMaxL, kGridMaxL})),
      nbasis_(m.nbasis) {}

PointValues PointValues::orbitals(const ChkParams::Mol& m, const std::vector<int64_t>& which,
                                  bool beta) {
  PointValues v(m);
  const std::vector<double>& e = beta ? m.boene : m.aoene;
  const std::vector<double>& c = beta ? m.bmocoeff : m.amocoeff;
  const auto nmo = static_cast<int64_t>(e.size());
  if (nmo == 0) VEX_THROW(std::string("no ") + (beta ? "beta " : "") + "orbitals in this checkpoint");
  if (static_cast<int64_t>(c.size()) != nmo * v.nbasis_)
    VEX_THROW("the orbitals are not real orbitals over the basis (complex or generalised)");
  v.columns_ = static_cast<int64_t>(which.size());
  v.coef_.resize(v.nbasis_, v.columns_);
  for (int64_t j = 0; j < v.columns_; ++j) {
    const int64_t i = which[j];
    if (i < 0 || i >= nmo)
      VEX_THROW("orbital index " + std::to_string(i) + " out of range: the checkpoint holds " +
                std::to_string(nmo) + " orbitals (0 .. " + std::to_string(nmo - 1) + ")");
    for (int64_t k = 0; k < v.nbasis_; ++k) v.coef_(k, j) = c[i * v.nbasis_ + k];
  }
  return v;
}

PointValues PointValues::density(const ChkParams::Mol& m, const std::vector<double>& tri) {
  PointValues v(m);
  const int64_t n = v.nbasis_;
  if (static_cast<int64_t>(tri.size()) != n * (n + 1) / 2)
    VEX_THROW("the density matrix is not a real matrix over the basis");
  Eigen::MatrixXd d(n, n);
  for (int64_t r = 0, k = 0; r < n; ++r)
    for (int64_t c = 0; c <= r; ++c, ++k) d(r, c) = d(c, r) = tri[k];
  // rho = phi^T D phi = sum_k lambda_k (v_k . phi)^2: a closed-shell SCF density
  // has as many terms as occupied orbitals, far fewer than functions.
  const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> eig(d);
  const Eigen::VectorXd& lambda = eig.eigenvalues();
  const double keep = 1e-14 * std::max(lambda.cwiseAbs().maxCoeff(), 1e-300);
  std::vector<int64_t> kept;
  for (int64_t k = 0; k < n; ++k)
    if (std::fabs(lambda(k)) > keep) kept.push_back(k);
  v.columns_ = 1;
  v.density_ = true;
  v.coef_.resize(n, static_cast<int64_t>(kept.size()));
  v.weights_.resize(static_cast<int64_t>(kept.size()));
  for (size_t j = 0; j < kept.size(); ++j) {
    v.coef_.col(j) = eig.eigenvectors().col(kept[j]);
    v.weights_(j) = lambda(kept[j]);
  }
  return v;
}

namespace {

// Whether every point of the box lo..hi lies beyond the shell's reach.
bool beyond_reach(const GridShell& s, const double lo[3], const double hi[3]) {
  double d2 = 0;
  for (int k = 0; k < 3; ++k) {
    const double d = std::max({0.0, lo[k] - s.centre[k], s.centre[k] - hi[k]});
    d2 += d * d;
  }
  return d2 > s.extent2;
}

// The shell's functions at the block's n points, into rows (kGridBlock apart).
void shell_values(const GridShell& s, int64_t n, GridWorkspace& w, double* rows) {
  constexpr int64_t B = kGridBlock;
  const double* xyz = w.xyz.data();
  for (int64_t p = 0; p < n; ++p) {
    w.dx[p] = xyz[3 * p] - s.centre[0];
    w.dy[p] = xyz[3 * p + 1] - s.centre[1];
    w.dz[p] = xyz[3 * p + 2] - s.centre[2];
    const double r2 = w.dx[p] * w.dx[p] + w.dy[p] * w.dy[p] + w.dz[p] * w.dz[p];
    double r = 0;
    for (size_t q = 0; q < s.exps.size(); ++q)
      if (r2 < s.reach2[q]) r += s.coefs[q] * std::exp(-s.exps[q] * r2);
    w.radial[p] = r;
  }
  // Powers 0..L of dx, dy, dz, then each monomial times the radial part.
  double* const px[3] = {w.powers.data(), w.powers.data() + (kGridMaxL + 1) * B,
                         w.powers.data() + 2 * (kGridMaxL + 1) * B};
  const double* const d[3] = {w.dx.data(), w.dy.data(), w.dz.data()};
  for (int k = 0; k < 3; ++k) {
    std::fill(px[k], px[k] + n, 1.0);
    for (int l = 1; l <= s.L; ++l)
      for (int64_t p = 0; p < n; ++p) px[k][l * B + p] = px[k][(l - 1) * B + p] * d[k][p];
  }
  for (size_t q = 0; q < s.monomials.size(); ++q) {
    const double* x = px[0] + s.monomials[q][0] * B;
    const double* y = px[1] + s.monomials[q][1] * B;
    const double* z = px[2] + s.monomials[q][2] * B;
    double* v = w.mono.data() + q * B;
    for (int64_t p = 0; p < n; ++p) v[p] = w.radial[p] * x[p] * y[p] * z[p];
  }
  for (size_t f = 0; f < s.functions.size(); ++f) {
    double* row = rows + f * B;
    std::fill(row, row + n, 0.0);
    for (const GridShell::Term& t : s.functions[f]) {
      const double* v = w.mono.data() + t.monomial * B;
      for (int64_t p = 0; p < n; ++p) row[p] += t.weight * v[p];
    }
  }
}

}  // namespace

void PointValues::evaluate_block(int64_t n, GridWorkspace& w) const {
  const double* xyz = w.xyz.data();
  double lo[3], hi[3];
  for (int k = 0; k < 3; ++k) {
    lo[k] = hi[k] = xyz[k];
    for (int64_t p = 1; p < n; ++p)
      lo[k] = std::min(lo[k], xyz[3 * p + k]), hi[k] = std::max(hi[k], xyz[3 * p + k]);
  }
  int64_t nsig = 0;  // the functions of the shells within reach, in order
  for (const GridShell& s : shells_) {
    if (beyond_reach(s, lo, hi)) continue;
    shell_values(s, n, w, w.ao.data() + nsig * kGridBlock);
    for (size_t f = 0; f < s.functions.size(); ++f)
      w.sig[nsig++] = s.first_function + static_cast<int64_t>(f);
  }
  using RowMajor = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;
  Eigen::Map<RowMajor> result(w.result.data(), n, columns_);
  if (nsig == 0) {
    result.setZero();
    return;
  }
  for (int64_t j = 0; j < nsig; ++j) w.csub.row(j) = coef_.row(w.sig[j]);
  const Eigen::Map<const RowMajor, 0, Eigen::OuterStride<>> ao(w.ao.data(), nsig, n,
                                                                 Eigen::OuterStride<>(kGridBlock));
  const auto csub = w.csub.topRows(nsig);
  if (!density_) {
    result.noalias() = ao.transpose() * csub;
    return;
  }
  auto t = w.projected.leftCols(n);
  t.noalias() = csub.transpose() * ao;
  result.col(0).noalias() = (weights_.transpose() * t.array().square().matrix()).transpose();
}

void PointValues::evaluate(const PointSet& points, double* out, int threads) const {
  const int64_t nblocks = points.blocks();
  threads = static_cast<int>(std::max<int64_t>(1, std::min<int64_t>(threads, nblocks)));
  // Buffers first, in this thread: a thread that starts never allocates them.
  std::vector<GridWorkspace> spaces;
  for (int t = 0; t < threads; ++t) spaces.emplace_back(nbasis_, coef_.cols(), columns_);
  std::atomic<int64_t> next{0};
  run_parallel(threads, [&](int t) {
    GridWorkspace& w = spaces[t];
    try {
      for (int64_t b = next++; b < nblocks; b = next++) {
        const int64_t n = points.block(b, w.xyz.data(), w.rows.data());
        evaluate_block(n, w);
        for (int64_t p = 0; p < n; ++p)
          std::copy_n(w.result.data() + p * columns_, columns_, out + w.rows[p] * columns_);
      }
    } catch (...) {
      next = nblocks;  // the others stop at their next block
      throw;
    }
  });
}

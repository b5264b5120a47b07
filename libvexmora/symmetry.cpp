// Point groups: candidate symmetry elements from the geometry, each tested on
// the atoms, the ones that hold closed into a group, and the group named from
// its rotations and improper operations.
//
// Every rotation axis, improper axis and mirror normal of a molecule is a
// principal axis of its inertia tensor, so an asymmetric top needs no other
// candidates. A symmetric top has its unique axis and, perpendicular to it,
// axes and mirror normals that relate the atoms of one set of equivalent atoms
// (midpoints, differences); a spherical top has its axes through polygons of
// such atoms. The operations found generate the whole group.
#include "symmetry.h"

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <numeric>
#include <optional>
#include <string>

#include "Error.h"

namespace {

using Vec = Eigen::Vector3d;
using Mat = Eigen::Matrix3d;

constexpr double kPi = 3.14159265358979323846;
// Candidates closer than this (1 - |cos|) are one: only exact repeats, since
// a near-repeat kept in place of an axis would hide it.
constexpr double kSameAxis = 1e-12;
// Group elements differing by less than this (Frobenius norm) are the same.
constexpr double kSameOperation = 0.05;

// The atoms, centred, with each atom's class of equivalent atoms and, per
// class, its atoms sorted by distance from the centre (which no operation changes).
struct Atoms {
  std::vector<Vec> r;
  std::vector<double> radius;
  std::vector<int64_t> cls;
  std::vector<std::vector<int64_t>> members;
  std::vector<double> weight;
  double tol = kSymmetryTolerance;
};

Atoms classify(const std::vector<int64_t>& z, const std::vector<double>& masses, const std::vector<double>& xyz,
               double tol) {
  const auto n = static_cast<int64_t>(z.size());
  Atoms a;
  a.tol = tol;
  const auto mass = [&](int64_t i) { return masses.empty() ? 0.0 : masses[i]; };
  std::vector<int64_t> order(n);
  std::iota(order.begin(), order.end(), 0);
  std::sort(order.begin(), order.end(), [&](int64_t i, int64_t j) {
    return z[i] != z[j] ? z[i] < z[j] : mass(i) < mass(j);
  });
  a.cls.assign(n, 0);
  for (int64_t k = 0; k < n; ++k) {
    const int64_t i = order[k];
    const bool same = k > 0 && z[order[k - 1]] == z[i] && std::abs(mass(order[k - 1]) - mass(i)) <= 1e-6;
    if (!same) a.members.emplace_back();
    a.cls[i] = static_cast<int64_t>(a.members.size()) - 1;
    a.members.back().push_back(i);
  }
  // Any weight equal within a class leaves the centre and the inertia axes
  // invariant; the mass (or Z) keeps classes apart in the moments.
  a.weight.resize(n);
  Vec centre = Vec::Zero();
  double total = 0.0;
  for (int64_t i = 0; i < n; ++i) {
    a.weight[i] = masses.empty() ? static_cast<double>(std::max<int64_t>(z[i], 0)) + 1.0 : mass(i) + 1.0;
    centre += a.weight[i] * Vec(xyz[3 * i], xyz[3 * i + 1], xyz[3 * i + 2]);
    total += a.weight[i];
  }
  centre /= total;
  for (int64_t i = 0; i < n; ++i) {
    a.r.push_back(Vec(xyz[3 * i], xyz[3 * i + 1], xyz[3 * i + 2]) - centre);
    a.radius.push_back(a.r.back().norm());
  }
  for (auto& m : a.members)
    std::sort(m.begin(), m.end(), [&](int64_t i, int64_t j) { return a.radius[i] < a.radius[j]; });
  return a;
}

// The equivalent atom nearest to `p`, among those at radius r within `window`; -1 if none.
int64_t nearest(const Atoms& a, int64_t cls, const Vec& p, double r, double window) {
  const auto& m = a.members[cls];
  auto j = std::lower_bound(m.begin(), m.end(), r - window, [&](int64_t k, double v) { return a.radius[k] < v; });
  int64_t best = -1;
  double best_d = window;
  for (; j != m.end() && a.radius[*j] <= r + window; ++j) {
    const double d = (p - a.r[*j]).norm();
    if (d <= best_d) best = *j, best_d = d;
  }
  return best;
}

// The operation near `op` that holds, if any. A candidate axis from a geometry
// that is symmetric only to within the tolerance is itself a little off, so the
// atoms are paired within a wider window first and the orthogonal matrix that
// best maps the pairs (Kabsch, with the determinant of `op`) is then held to
// the tolerance.
std::optional<Mat> holds(const Atoms& a, const Mat& op) {
  const double window = 10.0 * a.tol;
  std::vector<int64_t> image(a.r.size());
  Mat h = Mat::Zero();
  for (size_t i = 0; i < a.r.size(); ++i) {
    const int64_t j = nearest(a, a.cls[i], op * a.r[i], a.radius[i], window);
    if (j < 0) return std::nullopt;
    image[i] = j;
    h += a.r[i] * a.r[j].transpose();
  }
  const Eigen::JacobiSVD<Mat> svd(h, Eigen::ComputeFullU | Eigen::ComputeFullV);
  Mat r = svd.matrixV() * svd.matrixU().transpose();
  if (r.determinant() * op.determinant() < 0.0) {
    Mat flip = Mat::Identity();
    flip(2, 2) = -1.0;
    r = svd.matrixV() * flip * svd.matrixU().transpose();
  }
  for (size_t i = 0; i < a.r.size(); ++i)
    if ((r * a.r[i] - a.r[image[i]]).norm() > a.tol) return std::nullopt;
  return r;
}

Mat rotation(const Vec& axis, int64_t n) { return Eigen::AngleAxisd(2.0 * kPi / n, axis).toRotationMatrix(); }
Mat reflection(const Vec& normal) { return Mat::Identity() - 2.0 * normal * normal.transpose(); }

bool on_axis(const Atoms& a, size_t i, const Vec& axis) { return (a.r[i] - a.r[i].dot(axis) * axis).norm() <= a.tol; }

// The highest n for which the rotation by 2 pi / n about `axis` holds, with
// that rotation (1 and the identity when none does): n divides the number of
// atoms off the axis in every class.
std::pair<int64_t, Mat> axis_order(const Atoms& a, const Vec& axis, int64_t highest) {
  int64_t g = 0;
  for (const auto& m : a.members) {
    int64_t off = 0;
    for (const int64_t i : m) off += on_axis(a, i, axis) ? 0 : 1;
    g = std::gcd(g, off);
  }
  for (int64_t n = std::min(g, highest); n >= 2; --n)
    if (g % n == 0) {
      if (auto r = holds(a, rotation(axis, n))) return {n, *r};
    }
  return {1, Mat::Identity()};
}

Mat inertia(const Atoms& a) {
  Mat t = Mat::Zero();
  for (size_t i = 0; i < a.r.size(); ++i)
    t += a.weight[i] * (a.r[i].squaredNorm() * Mat::Identity() - a.r[i] * a.r[i].transpose());
  return t;
}

// The smallest set of equivalent atoms at one distance from the centre, off
// `axis` when one is given: the fewest atoms that any operation permutes.
std::vector<int64_t> smallest_shell(const Atoms& a, const Vec* axis) {
  std::vector<int64_t> best;
  for (const auto& m : a.members) {
    for (size_t s = 0; s < m.size();) {
      size_t e = s;
      std::vector<int64_t> shell;
      for (; e < m.size() && a.radius[m[e]] <= a.radius[m[s]] + 2.0 * a.tol; ++e)
        if (a.radius[m[e]] > a.tol && (axis == nullptr || !on_axis(a, m[e], *axis))) shell.push_back(m[e]);
      if (!shell.empty() && (best.empty() || shell.size() < best.size())) best = shell;
      s = e;
    }
  }
  return best;
}

void add_axis(std::vector<Vec>& axes, const Vec& v, double scale) {
  if (v.norm() <= 1e-6 * scale) return;
  const Vec u = v.normalized();
  for (const Vec& w : axes)
    if (1.0 - std::abs(u.dot(w)) < kSameAxis) return;
  axes.push_back(u);
}

// Candidate axes and mirror normals (unit vectors, distinct).
std::vector<Vec> candidates(const Atoms& a, const Mat& frame, int degenerate, double scale) {
  std::vector<Vec> axes;
  for (int k = 0; k < 3; ++k) add_axis(axes, frame.col(k), 1.0);
  if (degenerate == 0) return axes;
  const Vec main = frame.col(2);  // the unique axis of a symmetric top
  const bool symmetric = degenerate == 1;
  const std::vector<int64_t> shell = smallest_shell(a, symmetric ? &main : nullptr);
  if (shell.empty()) return axes;
  const Vec& p = a.r[shell[0]];
  const auto add = [&](const Vec& v) {
    add_axis(axes, symmetric ? Vec(v - v.dot(main) * main) : v, scale);
  };
  add(p);
  if (symmetric) add(main.cross(p));
  for (size_t j = 1; j < shell.size(); ++j) {
    const Vec& q = a.r[shell[j]];
    add(p + q);
    add(p - q);
    add(p.cross(q));
    if (symmetric) continue;
    // An axis of order 3 or more passes through the centre of a regular polygon
    // of equivalent atoms, in which p's two neighbours are equally far from it.
    for (size_t k = j + 1; k < shell.size(); ++k) {
      const Vec& t = a.r[shell[k]];
      if (std::abs((q - p).norm() - (t - p).norm()) <= 2.0 * a.tol) add((q - p).cross(t - p));
    }
  }
  return axes;
}

bool contains(const std::vector<Mat>& ops, const Mat& m) {
  return std::any_of(ops.begin(), ops.end(), [&](const Mat& o) { return (o - m).norm() < kSameOperation; });
}

// The closure of `ops` under products, at most `limit` elements.
std::vector<Mat> close(std::vector<Mat> ops, size_t limit) {
  std::vector<Mat> group{Mat::Identity()};
  for (const Mat& o : ops)
    if (!contains(group, o)) group.push_back(o);
  for (size_t done = 0; done < group.size() && group.size() < limit; ++done)
    for (size_t j = 0; j <= done && group.size() < limit; ++j)
      for (const Mat& m : {Mat(group[done] * group[j]), Mat(group[j] * group[done])})
        if (!contains(group, m)) group.push_back(m);
  return group;
}

// The axis of a proper rotation (its eigenvector of eigenvalue 1) or the
// normal of a reflection (of eigenvalue -1).
Vec fixed_direction(const Mat& m, double eigenvalue) {
  const Mat d = m - eigenvalue * Mat::Identity();
  const Eigen::JacobiSVD<Mat> svd(d, Eigen::ComputeFullV);
  return svd.matrixV().col(2);
}

std::string name_of(const std::vector<Mat>& group, int64_t& sigma) {
  std::vector<Vec> axes;
  std::vector<int64_t> counts;
  bool inversion = false;
  std::vector<Vec> mirrors;
  for (const Mat& m : group) {
    if (m.determinant() < 0.0) {
      if ((m + Mat::Identity()).norm() < kSameOperation) inversion = true;
      if (std::abs(m.trace() - 1.0) < kSameOperation) mirrors.push_back(fixed_direction(m, -1.0));
      continue;
    }
    if ((m - Mat::Identity()).norm() < kSameOperation) continue;
    const Vec u = fixed_direction(m, 1.0);
    size_t k = 0;
    while (k < axes.size() && 1.0 - std::abs(u.dot(axes[k])) >= 0.01) ++k;
    if (k == axes.size()) {
      axes.push_back(u);
      counts.push_back(1);
    }
    ++counts[k];  // the identity, then each rotation about the axis
  }
  sigma = 1 + std::accumulate(counts.begin(), counts.end(), int64_t{0}, [](int64_t s, int64_t c) { return s + c - 1; });
  const bool improper = static_cast<int64_t>(group.size()) > sigma;
  const auto high = std::count_if(counts.begin(), counts.end(), [](int64_t c) { return c >= 3; });
  if (high >= 2) {
    const std::string base = sigma == 60 ? "I" : sigma == 24 ? "O" : "T";
    return base + (!improper ? "" : inversion ? "h" : "d");
  }
  if (axes.empty()) return !improper ? "C1" : inversion ? "Ci" : "Cs";
  if (axes.size() >= 2) {
    const int64_t n = sigma / 2;
    return "D" + std::to_string(n) + (!improper ? "" : ((n % 2 == 0) == inversion ? "h" : "d"));
  }
  const int64_t n = sigma;
  const std::string cn = "C" + std::to_string(n);
  if (!improper) return cn;
  const std::string s2n = "S" + std::to_string(2 * n);
  if (inversion) return n % 2 == 0 ? cn + "h" : s2n;
  const bool horizontal = std::any_of(mirrors.begin(), mirrors.end(),
                                      [&](const Vec& v) { return 1.0 - std::abs(v.dot(axes[0])) < 0.01; });
  return horizontal ? cn + "h" : !mirrors.empty() ? cn + "v" : s2n;
}

PointGroup linear_group(const Atoms& a) {
  PointGroup g;
  const bool inversion = holds(a, -Mat::Identity()).has_value();
  g.name = inversion ? "D*h" : "C*v";
  g.symmetry_number = inversion ? 2 : 1;
  g.order = 0;
  return g;
}

}  // namespace

PointGroup detect_point_group(const std::vector<int64_t>& z, const std::vector<double>& masses,
                              const std::vector<double>& xyz, double tol) {
  const auto n = static_cast<int64_t>(z.size());
  if (n == 0) VEX_THROW("No atoms: no point group");
  if (static_cast<int64_t>(xyz.size()) != 3 * n || (!masses.empty() && static_cast<int64_t>(masses.size()) != n))
    VEX_THROW("Atomic numbers, masses and coordinates differ in the number of atoms");
  if (!(tol > 0.0) || !std::isfinite(tol)) VEX_THROW("The symmetry tolerance must be a positive number of Angstrom");
  if (!std::all_of(xyz.begin(), xyz.end(), [](double v) { return std::isfinite(v); }))
    VEX_THROW("Coordinates that are not finite numbers: no point group");
  const Atoms a = classify(z, masses, xyz, tol);
  const double scale = std::max(1.0, *std::max_element(a.radius.begin(), a.radius.end()));
  if (n == 1 || *std::max_element(a.radius.begin(), a.radius.end()) <= tol)
    return PointGroup{"Kh", 1, 0};

  const Eigen::SelfAdjointEigenSolver<Mat> eig(inertia(a));
  const Vec moments = eig.eigenvalues();  // ascending
  Mat frame = eig.eigenvectors();
  const Vec line = frame.col(0);
  bool linear = true;
  for (int64_t i = 0; i < n && linear; ++i) linear = on_axis(a, static_cast<size_t>(i), line);
  if (linear) return linear_group(a);

  // Moments equal within what atoms moved by the tolerance can change.
  double spread = 0.0;
  for (int64_t i = 0; i < n; ++i) spread += 4.0 * a.weight[i] * a.radius[i] * tol;
  const bool low = moments(1) - moments(0) <= spread, high = moments(2) - moments(1) <= spread;
  const int degenerate = low && high ? 2 : (low || high) ? 1 : 0;
  if (degenerate == 1 && high) frame.col(0).swap(frame.col(2));  // the unique axis last

  std::vector<Mat> ops;
  const auto keep = [&ops](const std::optional<Mat>& r) {
    if (r) ops.push_back(*r);
  };
  for (const Vec& u : candidates(a, frame, degenerate, scale)) {
    const auto [k, r] = axis_order(a, u, n);
    if (k >= 2) {
      ops.push_back(r);
      keep(holds(a, reflection(u) * rotation(u, 2 * k)));
    }
    keep(holds(a, reflection(u)));
  }
  keep(holds(a, -Mat::Identity()));
  const std::vector<Mat> group = close(ops, static_cast<size_t>(4 * n + 120));
  PointGroup g;
  g.name = name_of(group, g.symmetry_number);
  g.order = static_cast<int64_t>(group.size());
  return g;
}

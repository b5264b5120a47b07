// Basis functions, orbitals and densities at points in space.
//
// Points are taken in blocks of kGridBlock: the basis functions of one block
// (a few hundred KiB for a thousand functions) are the only large buffer, so
// memory stays bounded however many points are asked for. Shells are screened
// per block by distance: a primitive counts as zero where its value, with its
// contraction coefficient and normalisation, falls below kPrimitiveCutoff
// (including the r^L of its angular part). An orbital or density value then
// misses at most n_basis * |largest coefficient| * kPrimitiveCutoff.
#pragma once

#include <Eigen/Dense>
#include <cstdint>
#include <functional>
#include <vector>

#include "ChkParams.h"
#include "shells.h"

constexpr int64_t kGridBlock = 128;
constexpr double kPrimitiveCutoff = 1e-14;
// Shells up to h, pure or Cartesian, as the reader accepts them.
constexpr int64_t kGridMaxL = 5;

// One shell ready for evaluation: primitives with their normalisation folded
// in, and its functions as combinations of Cartesian monomials.
struct GridShell {
  int64_t atom = 0;  // from 1
  double centre[3] = {0, 0, 0};
  int L = 0;
  int64_t first_function = 0;  // in Gaussian's order
  std::vector<double> exps, coefs, reach2;  // reach2: r^2 beyond which a primitive is negligible
  double extent2 = 0;                        // the largest reach2
  std::vector<CartesianPowers> monomials;
  // Function k = sum of weight * monomial over its terms.
  struct Term {
    int monomial;
    double weight;
  };
  std::vector<std::vector<Term>> functions;
};

// The shells of `m` ready for evaluation, refused as `limits` say; their
// functions add up to the checkpoint's count.
std::vector<GridShell> grid_shells(const ChkParams::Mol& m, const ShellLimits& limits);

// Points handed out in blocks of at most kGridBlock, each point with the row
// of the output its values go to.
class PointSet {
 public:
  virtual ~PointSet() = default;
  virtual int64_t blocks() const = 0;
  // Block b into xyz (Bohr, three per point) and rows; returns its size.
  virtual int64_t block(int64_t b, double* xyz, int64_t* rows) const = 0;
};

// Points given one after the other, n x 3: row p for point p.
class PointList : public PointSet {
 public:
  PointList(const double* xyz, int64_t n) : xyz_(xyz), n_(n) {}
  int64_t blocks() const override { return (n_ + kGridBlock - 1) / kGridBlock; }
  int64_t block(int64_t b, double* xyz, int64_t* rows) const override;

 private:
  const double* xyz_;
  int64_t n_;
};

// A box of points origin + i a + j b + k c, k fastest (a cube file's order).
struct GridBox {
  double origin[3] = {0, 0, 0};  // Bohr
  double axes[9] = {};           // the step vectors a, b, c, Bohr
  int64_t shape[3] = {0, 0, 0};
  int64_t points() const { return shape[0] * shape[1] * shape[2]; }
};

// Planes first .. first + count of a box's first axis, in tiles of
// kTile[0] x kTile[1] x kTile[2] points: a compact tile keeps far shells out
// of a block where a run along one axis would span the box. Rows count from
// the first plane.
class BoxPlanes : public PointSet {
 public:
  static constexpr int64_t kTile[3] = {4, 4, 8};
  BoxPlanes(const GridBox& box, int64_t first, int64_t count);
  int64_t blocks() const override { return tiles_[0] * tiles_[1] * tiles_[2]; }
  int64_t block(int64_t b, double* xyz, int64_t* rows) const override;

 private:
  GridBox box_;
  int64_t first_, count_, tiles_[3];
};

struct GridWorkspace;

class PointValues {
 public:
  // Orbitals `which` (0-based) of the alpha or beta set: one column each.
  static PointValues orbitals(const ChkParams::Mol& m, const std::vector<int64_t>& which,
                              bool beta);
  // The density of a packed lower triangle (row-wise), one column.
  static PointValues density(const ChkParams::Mol& m, const std::vector<double>& triangle);

  int64_t columns() const { return columns_; }
  // Values of the points into their rows of out (columns values each), over
  // `threads` threads (at least one).
  void evaluate(const PointSet& points, double* out, int threads) const;

 private:
  explicit PointValues(const ChkParams::Mol& m);
  void evaluate_block(int64_t n, GridWorkspace& w) const;

  std::vector<GridShell> shells_;
  int64_t nbasis_ = 0, columns_ = 0;
  // Orbitals: out = phi^T coef. Density: out = sum_k weight_k (phi^T coef_k)^2,
  // from the eigenvectors of the density matrix whose eigenvalues are not negligible.
  Eigen::MatrixXd coef_;  // nbasis x columns (orbitals) or x kept eigenvectors
  Eigen::VectorXd weights_;
  bool density_ = false;
};


// The parse result record and the program-wide tables.
#pragma once

#include <Eigen/Dense>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

constexpr double BOHR_TO_ANGSTROM = 0.529177249;

// Index = atomic number; 0 is a dummy or ghost centre.
extern const char* const element_symbols[112];

// Index = density kind = bit of the selection mask of record 603.
extern const char* const density_names[9];

// Symbol of atomic number z, clamped to the table.
const char* element_symbol(int64_t z);

using DensitySet = std::array<std::vector<double>, 9>;

struct ChkParams {
  struct Mol {
    int64_t molhdrlen = 0, natoms = 0, totchg = 0, multiplicity = 0;
    int64_t nae = 0, nbe = 0, ne = 0, nbasis = 0, nbsuse = 0, molhdr9 = 0, ndim = 0;
    int64_t molhdr11 = 0, molhdr12 = 0, molhdr13 = 0, molhdr14 = 0, molhdr15 = 0;
    int64_t NShell = 0, bhdr1 = 0, NPrim = 0, bhdr3 = 0, bhdr4 = 0, bhdr5 = 0;
    std::vector<int64_t> atomicnums, atomtypes;
    std::vector<double> nucchg, coords;
    std::vector<double> aoene, boene, amocoeff, bmocoeff, orthbasis;
    std::vector<double> concoeff, spconcoeff, cshell;
    std::vector<std::string> orblabels;
    DensitySet totdens, spindens;

    // The eighteen arrays of the basis record, in file order.
    struct Basis {
      std::vector<double> primexp, primconc, primspconc, hiconc1, hiconc2;
      std::vector<int64_t> shellhiptr;
      std::vector<double> shellx, shelly, shellz;
      std::vector<int64_t> shell2map, shellprimptr, shellnprim, shelltypes, shellcons, shellaux2,
          shellaux3;
      std::vector<double> shellaux4, shellaux5;
    } basis;

    int64_t orient_a = 0, orient_b = 0;
    std::array<int64_t, 24> orient_ints{};
    std::array<double, 9> orient_rot{};  // column after column: M(i, j) = orient_rot[i + 3 j]
    std::array<double, 3> orient_shift{};
    std::vector<double> hesstri;
    Eigen::MatrixXd hessian;
    Eigen::Matrix3d cell = Eigen::Matrix3d::Zero();  // row i is translation vector i + 1
  };

  Mol mol;
  std::string route, gauver, title, jobtype, method, baset;
  std::vector<double> genarr;
  std::vector<int64_t> info1_9;

  double viratio() const { return gen(0); }
  double scfene() const { return gen(31); }
  double totene() const { return gen(42); }
  double rmsdens() const { return gen(22); }

 private:
  double gen(size_t i) const { return i < genarr.size() ? genarr[i] : 0.0; }
};

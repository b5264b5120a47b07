// Gaussian's conventions that more than one writer or binding depends on,
// each stated here once: what the orbitals hold, the order of a Cartesian
// shell's functions and the layout of the stored quadrupole.
#pragma once

#include <Eigen/Dense>
#include <array>
#include <vector>

#include "ChkParams.h"

// Occupation numbers the checkpoint implies: restricted orbitals (ROHF
// included) hold [i < nae] + [i < nbe] electrons, unrestricted alpha ones
// [i < nae], beta ones [i < nbe]. Empty without orbitals of that spin.
std::vector<double> mo_occupations(const ChkParams::Mol& m, bool beta);

// Powers of x, y and z of a Cartesian function.
using CartesianPowers = std::array<int, 3>;

// Gaussian's order of the functions of a Cartesian shell of angular momentum
// L >= 0: p, d and f have their own, the others run from the highest power of
// z down (nx = 0..L, then ny = 0..L - nx).
std::vector<CartesianPowers> gaussian_cartesian(int L);

// The symmetric matrix of a quadrupole stored as XX, YY, ZZ, XY, XZ, YZ
// (q must hold six values), and back.
Eigen::Matrix3d quadrupole_matrix(const std::vector<double>& q);
std::vector<double> quadrupole_components(const Eigen::Matrix3d& Q);

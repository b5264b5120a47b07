// Primitive integrals, contraction normalisation, bit tests, bounded copy.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "Error.h"
#include "Utils.h"

namespace {

const double kPi = 4.0 * std::atan(1.0);

template <typename F>
std::string error_of(F action) {
  try {
    action();
  } catch (const _Error& e) {
    return e.what();
  }
  return "";
}

bool starts_with(const std::string& text, const std::string& head) {
  return text.rfind(head, 0) == 0;
}

void expect_rel(double got, double want) {
  EXPECT_NEAR(got, want, 1e-12 * std::fabs(want)) << "got " << got << " want " << want;
}

// Closed-form one-centre overlap of x^L e^{-a r^2} and x^L e^{-b r^2}.
double overlap(int L, double a, double b) {
  double dfact = 1.0;
  for (int k = 2 * L - 1; k > 1; k -= 2) dfact *= k;
  const double p = a + b;
  return std::pow(kPi / p, 1.5) * dfact / std::pow(2.0 * p, L);
}

TEST(PrmNrm, ListedValues) {
  EXPECT_EQ(PrmNrm(0, 20, 1.0, 1.0), 1.0);
  expect_rel(PrmNrm(1, 0, 1.0, 1.0), std::pow(kPi / 2.0, 1.5));
  expect_rel(PrmNrm(1, 0, 1.0, 1.0), 1.9687012432153);
  expect_rel(PrmNrm(1, 1, 1.0, 1.0), std::pow(kPi / 2.0, 1.5) / 4.0);
  expect_rel(PrmNrm(1, 2, 0.5, 0.5), std::pow(kPi, 1.5) * 0.75);
  expect_rel(PrmNrm(2, 0, 1.0, 1.0), 2.0 * std::pow(kPi, 2.5) / std::sqrt(2.0));
}

TEST(PrmNrm, OverlapMatchesClosedFormUpToLmax) {
  for (int L = 0; L <= 13; ++L) {
    expect_rel(PrmNrm(1, L, 0.7, 1.9), overlap(L, 0.7, 1.9));
    expect_rel(PrmNrm(1, L, 3.0, 3.0), overlap(L, 3.0, 3.0));
  }
}

TEST(PrmNrm, CoulombIsSymmetricAndPositive) {
  for (int L = 0; L <= 13; ++L) {
    const double ab = PrmNrm(2, L, 0.4, 2.5);
    EXPECT_GT(ab, 0.0) << L;
    expect_rel(PrmNrm(2, L, 2.5, 0.4), ab);
  }
}

TEST(PrmNrm, Rejections) {
  EXPECT_TRUE(starts_with(error_of([] { PrmNrm(1, 14, 1.0, 1.0); }),
                          "Error:  out of range in PrmNrm\n\n"));
  EXPECT_TRUE(starts_with(error_of([] { PrmNrm(2, 14, 1.0, 1.0); }),
                          "Error:  out of range in PrmNrm\n\n"));
  EXPECT_TRUE(starts_with(error_of([] { PrmNrm(3, 0, 1.0, 1.0); }),
                          "Error: Illegal IType in PrmNrm\n\n"));
  EXPECT_TRUE(starts_with(error_of([] { PrmNrm(-1, 0, 1.0, 1.0); }),
                          "Error: Illegal IType in PrmNrm\n\n"));
}

TEST(NormCC, ContractionGetsUnitNorm) {
  const int L = 2;
  const double exps[3] = {5.0, 1.2, 0.3};
  std::vector<double> c = {0.2, 0.5, 0.6, 9.0};
  std::vector<double> diag(4, 0.0);
  for (int j = 0; j < 3; ++j) diag[j] = overlap(L, exps[j], exps[j]);
  NormCC(1, L, 3, exps, c, diag);
  double s = 0.0;
  for (int j = 0; j < 3; ++j)
    for (int k = 0; k < 3; ++k) s += c[j] * c[k] * overlap(L, exps[j], exps[k]);
  expect_rel(s, 1.0);
  EXPECT_EQ(c[3], 9.0);  // past n: untouched
}

TEST(NormCC, SinglePrimitiveKeepsSignAndZeroIsRejected) {
  const double e[1] = {0.8};
  const std::vector<double> diag = {overlap(1, 0.8, 0.8)};
  for (const double stored : {-1e-5, 3.0}) {
    std::vector<double> c = {stored};
    NormCC(1, 1, 1, e, c, diag);
    expect_rel(c[0], std::copysign(1.0 / std::sqrt(diag[0]), stored));
  }
  std::vector<double> zero = {0.0};
  EXPECT_TRUE(starts_with(error_of([&] { NormCC(1, 1, 1, e, zero, diag); }),
                          "Error: Unable to normalize a contracted basis function\n\n"));
  EXPECT_TRUE(starts_with(error_of([&] { NormCC(1, 1, 0, e, zero, diag); }),
                          "Error: Unable to normalize a contracted basis function\n\n"));
}

TEST(LBit, BitsIncludingSign) {
  EXPECT_TRUE(LBit(1, 0));
  EXPECT_FALSE(LBit(1, 1));
  EXPECT_TRUE(LBit(0x20, 5));
  EXPECT_TRUE(LBit(-1, 63));
  EXPECT_FALSE(LBit(INT64_MAX, 63));
  EXPECT_TRUE(LBit(INT64_MAX, 62));
}

TEST(CopyVec, CopiesAndRefusesOverruns) {
  const std::vector<double> src = {1, 2, 3, 4};
  std::vector<double> dst(5, 0.0);
  copy_vec(src, dst, 3, 1, 2);
  EXPECT_EQ(dst, (std::vector<double>{0, 0, 2, 3, 4}));
  copy_vec(src, dst, 0, 4, 5);  // an empty copy at the very ends
  EXPECT_TRUE(starts_with(error_of([&] { copy_vec(src, dst, 0, 5, 0); }),
                          "Error: copy_vec: src out of range\n\n"));
  EXPECT_TRUE(starts_with(error_of([&] { copy_vec(src, dst, 0, 0, 6); }),
                          "Error: copy_vec: dst out of range\n\n"));
  EXPECT_TRUE(starts_with(error_of([&] { copy_vec(src, dst, 2, 3, 0); }),
                          "Error: copy_vec: src out of range\n\n"));
  EXPECT_TRUE(starts_with(error_of([&] { copy_vec(src, dst, 2, 0, 4); }),
                          "Error: copy_vec: dst out of range\n\n"));
  EXPECT_TRUE(starts_with(error_of([&] { copy_vec(src, dst, 1, -1, 0); }),
                          "Error: copy_vec: src out of range\n\n"));
  EXPECT_TRUE(starts_with(error_of([&] { copy_vec(src, dst, INT64_MAX, 0, 0); }),
                          "Error: copy_vec: src out of range\n\n"));
  EXPECT_EQ(dst, (std::vector<double>{0, 0, 2, 3, 4}));
}

}  // namespace
